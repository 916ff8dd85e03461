// Transaction time-outs: an idle read-committed transaction older than its limit ends on
// the server (CheckOAT) so that the server's oldest active transaction can advance; the
// session timer visits every started transaction and, step by step, fetches its open
// cursors so that it can be committed (Attempt), asks the user (PromptUser) and finally
// closes it (ForceClosed). Limits are in time-out units of 1/88400 of a day, the unit the
// stored settings are written in.
#include <vector>

#include "dbclient/IB_Components.h"
#include "platform/application.h"
#include "platform/checked.h"
#include "platform/oslayer.h"

namespace pelvar {

namespace {

// The limit in days; a limit counts as passed only when the age is strictly greater.
double Units(double Limit) { return Limit / IB_TimeoutUnitsPerDay; }

uint16_t Add16(uint16_t A, uint16_t B) {
  const uint32_t r = static_cast<uint32_t>(A) + B;
  if (r > 0xFFFFu) RaiseIntOverflow();
  return static_cast<uint16_t>(r);
}

// Whether tick count Now has passed Deadline (the counter wraps every 49 days).
bool TicksPassed(uint32_t Now, uint32_t Deadline) {
  return static_cast<int32_t>(Now - Deadline) > 0;
}

}  // namespace

void TIB_Transaction::CheckOAT() {
  if (!GetStarted() || isolation_ != tiCommitted || open_cursors_ != 0 || row_locks_ != 0) {
    return;
  }
  if (state_ != tsNone && state_ != tsInactive && state_ != tsActivePending) {
    return;
  }
  if (!(GetTimeActive() > Units(timeout_props_->AllowCheckOAT)) ||
      timeout_props_->DisableCheckOATFromError) {
    return;
  }
  try {
    API_Commit();
  } catch (const EIB_ISCError& e) {
    // The server kept the transaction: it stays started as it is, further attempts wait
    // for the next start (DisableCheckOATFromError), and the failure is reported to the
    // connection's error handler and, unless that takes it, to the application's.
    TIB_Connection* c = IB_Connection();
    bool raise = true;
    if (c != nullptr) {
      c->HandleError(c, e.ERRCODE(), e.ErrorMessage(), e.ErrorCodes(), e.SQLCODE(),
                     e.SQLMessage(), e.SQL(), raise);
    }
    if (raise && Application() != nullptr) {
      Application()->HandleException(c != nullptr ? static_cast<TObject*>(c) : this);
    }
    return;
  }
  // An error handler may have waved a failed commit through: the transaction is still
  // what the server holds, so nothing is reported as ended.
  if (GetStarted()) return;
  try {
    ResetState(false);
    SysAfterEnd();
    DoStateChanged();
  } catch (const std::exception&) {
    // The handlers of the end's events do not stop the time-out handling.
  }
}

void TIB_Transaction::DoSessionTimer(bool& IsDone, bool& IsWaiting, bool& Terminate) {
  TIB_Component::DoSessionTimer(IsDone, IsWaiting, Terminate);
  if (GetStarted()) {
    TIB_TimeoutProps& p = *timeout_props_;
    if (GetTimeActive() > Units(p.AllowCheckOAT) && GetIB_Session()->BusyLevel() == 0) {
      bool done = true;
      CheckOAT();
      if (GetStarted() && p.Attempt != 0 && GetTimeActive() > Units(p.NextAttempt)) {
        p.NextAttempt = Add16(p.NextAttempt, p.AttemptRetry);
        SysTimeoutAttempt(done);
        CheckOAT();
      }
      if (GetStarted() && p.PromptUser != 0 && GetTimeActive() > Units(p.NextPromptUser)) {
        p.NextPromptUser = Add16(p.NextPromptUser, p.PromptUserRetry);
        SysTimeoutPromptUser();
        CheckOAT();
      }
      if (GetStarted() && p.ForceClosed != 0 && GetTimeActive() > Units(p.ForceClosed)) {
        Close();
      }
      if (IsDone) IsDone = done;
    }
  }
  if (!IsWaiting) IsWaiting = GetStarted();
}

void TIB_Transaction::SysTimeoutAttempt(bool& IsDone) {
  if (!GetStarted() || isolation_ != tiCommitted || open_cursors_ <= 0 || row_locks_ != 0) {
    return;
  }
  if (state_ != tsNone && state_ != tsInactive && state_ != tsActivePending) {
    return;
  }
  const TIB_TimeoutProps& p = *timeout_props_;
  bool can_commit = true;
  // Survey: the first dataset that cannot simply be left decides.
  for (IB_TransactionDataset* d : std::vector<IB_TransactionDataset*>(datasets_)) {
    bool stop = false;
    if (d->CursorIsOpen()) {
      if (d->GetUnidirectional() || d->FetchingWithCallbacks()) {
        can_commit = false;
        break;
      }
      if (d->CommitAction() == caClose) {
        if (d->BufferRowCount() < p.AttemptMaxRows) {
          can_commit = false;
          d->SysFetchAll(p.AttemptTicks);
          CheckOAT();
          if (IsDone && d->CursorIsOpen()) IsDone = d->BufferRowCount() >= p.AttemptMaxRows;
          break;
        }
        if (d->RefreshAction() == raOpen) can_commit = false;
      } else if (d->CommitAction() == caFetchAll) {
        can_commit = false;
        d->SysFetchAll(p.AttemptTicks);
        CheckOAT();
        if (IsDone) IsDone = !d->CursorIsOpen();
        break;
      }
    }
    if (d->RefreshAction() == raOpen) {
      const TIB_CommitAction a = d->CommitAction();
      if (a == caRefreshKeys || a == caRefresh || (a == caInvalidateCursor && d->CursorIsOpen())) {
        can_commit = false;
        stop = true;
      }
    }
    if (stop) break;
  }
  if (!GetStarted() || !can_commit) return;
  int32_t n = 2 * static_cast<int32_t>(datasets_.size());
  if (HasPendingWork()) {
    if (n > 4) n = 4;
  } else if (n > 6) {
    n = 6;
  }
  const uint32_t deadline = GetTickCount() + static_cast<uint32_t>(n) * p.AttemptTicks;
  for (IB_TransactionDataset* d : std::vector<IB_TransactionDataset*>(datasets_)) {
    if (d->CursorIsOpen() && d->CommitAction() != caClose && d->CommitAction() != caFetchAll &&
        d->BufferRowCount() < p.AttemptMaxRows) {
      d->SysFetchAll(3u * p.AttemptTicks);
    }
    if (TicksPassed(GetTickCount(), deadline)) break;
  }
  CheckOAT();
  if (!HasPendingWork() && GetStarted()) {
    const bool was_explicit = explicit_;
    attempt_commit_ = true;
    try {
      Commit();
    } catch (...) {
      attempt_commit_ = false;
      throw;
    }
    attempt_commit_ = false;
    if (was_explicit && !explicit_) StartTransaction();
  }
}

void TIB_Transaction::SysTimeoutPromptUser() {
  if (OnTimeoutPromptUser) {
    OnTimeoutPromptUser(this);
    return;
  }
  // (No audible beep on this platform.)
  if (!GetIB_Session()->IsBusy() && HasPendingWork()) ConfirmClose();
}

}  // namespace pelvar
