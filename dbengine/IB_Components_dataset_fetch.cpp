// Fetching rows from a dataset's open cursor: fetch limits, the deadlock retry, progress
// callbacks timed by the tick counter, the cancel-query dialog, aborting a fetch, and
// counting the records of the query.
#include <algorithm>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>

#include "dbclient/IB_Constants.h"
#include "dbengine/IB_Components_dataset.h"
#include "dbengine/IB_Parse.h"
#include "platform/application.h"
#include "platform/checked.h"
#include "platform/codepage.h"
#include "platform/oslayer.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

constexpr ISC_STATUS kEndOfData = 100;
constexpr ISC_STATUS kDeadlock = 335544336;

// Ends a callback fetch when the scope is left, also by an exception (which wins over
// one raised while ending).
class CallbackFetchScope {
 public:
  CallbackFetchScope(std::function<void()> Begin, std::function<void()> End) : end_(std::move(End)) {
    Begin();
  }
  ~CallbackFetchScope() noexcept(false) {
    if (std::uncaught_exceptions() > uncaught_) {
      try {
        end_();
      } catch (...) {
        // The first error is the one to report.
      }
    } else {
      end_();
    }
  }
  CallbackFetchScope(const CallbackFetchScope&) = delete;
  CallbackFetchScope& operator=(const CallbackFetchScope&) = delete;

 private:
  std::function<void()> end_;
  int uncaught_ = std::uncaught_exceptions();
};

}  // namespace

// --- Abort ---------------------------------------------------------------------------------

void TIB_Dataset::IncFetchAbortCount() {
  // Compared for change only: past the top it restarts at a fixed value, never 0 again
  // by accident of wrapping.
  if (fetch_abort_count_ == std::numeric_limits<int32_t>::max()) {
    fetch_abort_count_ = -2147483646;
  } else {
    ++fetch_abort_count_;
  }
}

void TIB_Dataset::AbortFetching() {
  if (!fetching_) return;
  IncFetchAbortCount();
  fetch_aborted_ = true;
}

void TIB_Dataset::BeginTimedFetch() { GetIB_Session()->BeginTimedFetch(); }
void TIB_Dataset::EndTimedFetch() { GetIB_Session()->EndTimedFetch(); }

bool TIB_Dataset::CallbacksEnabled() {
  return callback_inc_ >= 0 && GetIB_Session()->TimedFetchCount() == 0;
}

// --- Callback bracket ---------------------------------------------------------------------

void TIB_Dataset::BeginCallbackFetch() {
  const uint32_t now = GetTickCount();
  if (fetch_nesting_ == 0) fetch_start_ticks_ = now;
  if (!fetching_) {
    fetching_ = true;
    fetch_aborted_ = false;
    last_callback_ticks_ = now;
    const bool enabled = CallbacksEnabled();
    // The nesting counts before anything can raise, so the matching end always balances.
    CheckedInc(fetch_nesting_);
    if (enabled) DoCallback(csInit);
    BeginBusy(enabled);
    return;
  }
  CheckedInc(fetch_nesting_);
}

void TIB_Dataset::EndCallbackFetch() {
  if (fetch_nesting_ > 0) --fetch_nesting_;
  if (fetch_nesting_ != 0 || !fetching_) return;
  fetching_ = false;
  EndBusy();
  const bool aborted = fetch_aborted_;
  fetch_aborted_ = false;
  if (CallbacksEnabled()) DoCallback(csFinal);
  if (aborted) StateChanged();
}

void TIB_Dataset::SysFetchCallback() {
  if (!fetching_) return;
  if (callback_inc_ < 0 || GetIB_Session()->TimedFetchCount() > 0 || IsDestroying()) return;
  if (auto* owner = dynamic_cast<TIB_Dataset*>(Owner())) {
    if (owner->GetIB_Session()->TimedFetchCount() > 0) return;
  }
  if (callback_inc_ > 0) {
    if (row_num_ % callback_inc_ != 0) return;
    const uint32_t now = GetTickCount();
    // Unsigned differences stay right across the 49-day turn of the tick counter.
    // Start ticks of 0 are unset (after the end of data): no time has been measured,
    // so a short fetch does not flash the progress at its end.
    if (fetch_start_ticks_ != 0 && now - fetch_start_ticks_ > callback_init_int_ &&
        now - last_callback_ticks_ >= callback_refresh_int_) {
      last_callback_ticks_ = now;
      DoCallback(csRefresh);
    }
  }
  SysCheckFetchAbort();
}

void TIB_Dataset::SysCheckFetchAbort() {
  if (callback_inc_ < 0 || GetIB_Session()->TimedFetchCount() > 0 || fetch_aborted_ ||
      IsDestroying()) {
    return;
  }
  if (!GetIB_Session()->ProcessMessages()) AbortFetching();
}

void TIB_Dataset::DoCallback(TIB_CallbackStatus Status) {
  if (OnCallback) {
    bool abort = fetch_aborted_;
    OnCallback(this, Status, row_num_, abort);
    if (abort && !fetch_aborted_) {
      fetch_aborted_ = true;
      IncFetchAbortCount();
    }
  } else {
    ShowCallbackDialog(Status);
  }
}

// --- Cancel-query dialog ------------------------------------------------------------------

void TIB_Dataset::ShowCallbackDialog(TIB_CallbackStatus Status) {
  if (Status == csRefresh) {
    if (!callback_dialog_) {
      callback_dialog_ = std::make_unique<TdlgCancelQuery>();
      callback_dialog_->SetDataset(this);
      callback_dialog_->SetCaption(callback_caption_.empty() ? Application()->Title()
                                                             : callback_caption_);
      callback_dialog_->SetWindowState(TCancelQueryWindowState::Normal);
    }
    callback_dialog_->SetRowNumber(row_num_);
    callback_dialog_->Show();
  } else if (Status == csFinal && callback_dialog_) {
    callback_dialog_->SetWindowState(TCancelQueryWindowState::Normal);
    callback_dialog_->Hide();
  }
}

void TIB_Dataset::SetCallbackCaption(const AnsiString& Value) {
  if (Value == callback_caption_) return;
  callback_caption_ = Value;
  if (callback_dialog_) {
    callback_dialog_->SetCaption(Value.empty() ? Application()->Title() : Value);
  }
}

// --- Fetching -----------------------------------------------------------------------------

void TIB_Dataset::SysFetchEof() {
  eof_ = true;
  fetch_start_ticks_ = 0;
  // The cursor goes first, so that a failing event cannot leave it open.
  SysCloseCursor();
  if (TIB_Transaction* tr = IB_Transaction()) tr->CheckOAT();
  DoAfterFetchEof();
}

void TIB_Dataset::SysFetchRow() {
  if (!cursor_declared_ || eof_) return;
  TIB_Session* session = GetIB_Session();
  while (!fetch_aborted_) {
    const uint32_t now = GetTickCount();
    if (fetch_start_ticks_ == 0 || fetch_start_ticks_ > now) fetch_start_ticks_ = now;
    ISC_STATUS result;
    if ((max_rows_ > 0 && row_num_ >= max_rows_) ||
        (max_ticks_ > 0 && now - fetch_start_ticks_ >= max_ticks_) ||
        Fields()->ColumnCount() == 0) {
      result = kEndOfData;
    } else {
      result = CallClient(ClientCallTable.isc_dsql_fetch, session->StatusVector(),
                          GetStmtHandlePtr(), static_cast<unsigned short>(GetSQLDialect()),
                          Fields()->PSQLDA());
      session->SetLastResult(result);
    }
    if (result == 0) {
      CheckedInc(row_num_);
      Fields()->SetRowLoaded(true, true, true);
      if (fetch_aborted_) {
        SysFetchCallback();
        return;
      }
      if (DoAfterFetchRow()) {
        if (!IsBufferedDataset() && link_events_disabled_ > 0) {
          ProcessLinkEvent(dsetDataChange, 0);
        }
        SysFetchCallback();
        return;
      }
      // The row is rejected: it does not count, and the next one is fetched.
      --row_num_;
      SysFetchCallback();
      if (eof_ || !cursor_declared_) return;
      continue;
    }
    if (result == kEndOfData) {
      SysFetchEof();
      SysFetchCallback();
      return;
    }
    if (result == kDeadlock) {
      try {
        session->HandleException(this);
      } catch (...) {
        SysFetchEof();
        throw;
      }
      // The error handler let the deadlock pass: the cursor is still open, try again.
      SysFetchCallback();
      continue;
    }
    // Any other error ends the result set before it is reported. Should the handler let
    // it pass, the fetch ends as at end of data rather than reading a closed cursor.
    // Closing the cursor writes the status vector: the error is kept across it.
    ISC_STATUS saved[ISC_STATUS_LENGTH];
    std::copy_n(session->StatusVector(), ISC_STATUS_LENGTH, saved);
    SysFetchEof();
    std::copy_n(saved, ISC_STATUS_LENGTH, session->StatusVector());
    session->SetLastResult(result);
    session->HandleException(this);
    return;
  }
}

void TIB_Dataset::SysFetchAll(uint32_t Ticks) {
  if (GetUnidirectional() && !GetCanScroll()) return;
  if (GetUnidirectional() && GetIsEditing()) CheckBrowseMode();
  const int32_t abort_count = fetch_abort_count_;
  if (Ticks == 0) {
    CallbackFetchScope scope([this] { BeginCallbackFetch(); }, [this] { EndCallbackFetch(); });
    while (Active() && cursor_declared_ && !eof_ && abort_count == fetch_abort_count_) {
      SysFetchRow();
    }
    return;
  }
  CallbackFetchScope scope([this] { BeginTimedFetch(); }, [this] { EndTimedFetch(); });
  const uint32_t start = GetTickCount();
  while (Active() && cursor_declared_ && !eof_ && abort_count == fetch_abort_count_ &&
         GetTickCount() - start < Ticks) {
    SysFetchRow();
  }
}

void TIB_Dataset::FetchAll() {
  TIB_BusyBracket busy(*this, true);
  SysOpenCursor();
  SysFetchAll(0);
}

// --- Record count -------------------------------------------------------------------------

int32_t TIB_Dataset::GetRecordCount() {
  if (!Prepared() && !Active()) Prepare();
  if (!Prepared()) return -1;
  // A detail that searches with its searching master counts what the master's search finds.
  TIB_Dataset* master = master_search_ ? GetMasterDataset() : nullptr;
  if (GetState() == dstSearch && master != nullptr && master->GetState() == dstSearch) {
    record_count_ = master->GetRecordCount();
    return record_count_;
  }
  record_count_ = SysGetRecordCount();
  return record_count_;
}

int32_t TIB_Dataset::GetRecordCountBusy() {
  TIB_BusyBracket busy(*this, false);
  return GetRecordCount();
}

int32_t TIB_Dataset::SysGetRecordCount() {
  if (!Prepared()) return -1;
  CheckTransaction(true);
  DoBeforeExecute();
  // In search state the links write their criteria into the SQL that is counted.
  if (GetState() == dstSearch) ExecuteSearch(false);
  int32_t count = -1;
  if (OnGetRecordCount) {
    OnGetRecordCount(this, count);
    return count;
  }
  const AnsiString sql = MakeCountSQL(ServerSQL());
  if (sql.empty()) return -1;
  ISC_LONG value = 0;
  ISC_SHORT null_ind = -1;
  XSQLDA out{};
  out.version = SQLDA_VERSION1;
  out.sqln = 1;
  out.sqld = 1;
  out.sqlvar[0].sqltype = SQL_LONG + 1;
  out.sqlvar[0].sqlscale = 0;
  out.sqlvar[0].sqllen = sizeof(ISC_LONG);
  out.sqlvar[0].sqldata = reinterpret_cast<ISC_SCHAR*>(&value);
  out.sqlvar[0].sqlind = &null_ind;
  XSQLDA* in = Params()->ColumnCount() > 0 ? Params()->PSQLDA() : nullptr;
  TIB_Session* session = GetIB_Session();
  const ISC_STATUS result = CallClient(
      ClientCallTable.isc_dsql_exec_immed2, session->StatusVector(), GetDbHandlePtr(),
      GetTrHandlePtr(), static_cast<unsigned short>(0), sql.c_str(),
      static_cast<unsigned short>(GetSQLDialect()), in, &out);
  session->SetLastResult(result);
  if (result != 0) {
    session->HandleException(this);
    return -1;
  }
  if (null_ind == 0) count = value;
  return count;
}

}  // namespace pelvar
