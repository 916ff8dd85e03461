#include "richtext/view/RVThread.h"

#include <algorithm>
#include <chrono>

#include "richtext/model/RVFuncs.h"
#include "richtext/view/CRVFData.h"
#include "richtext/view/DocView.h"

namespace pelvar {

TRVWordEnumThreadFactory RVWordEnumThreadClass = [] { return std::make_unique<TRVWordEnumThread>(); };

TRVWordEnumThread::TRVWordEnumThread(bool run_worker) : run_worker_(run_worker) {
  if (run_worker_)
    window_ = std::make_unique<TMessageWindow>([this](TMessage& m) {
      if (m.Msg == WM_RVSYNCHRONIZE) CheckSynchronize();
    });
}

TRVWordEnumThread::~TRVWordEnumThread() { Finish(); }

bool TRVWordEnumThread::OnWorker() const { return worker_.joinable() && std::this_thread::get_id() == worker_.get_id(); }

void TRVWordEnumThread::WakeLocked() {
  if (run_worker_ && !worker_.joinable() && !terminated_) worker_ = std::jthread([this] { Execute(); });
  cv_.notify_all();
}

bool TRVWordEnumThread::IsDelimiter(char ch) const { return delimiters_.find(ch) != AnsiString::npos; }

bool TRVWordEnumThread::HasMarks(TCustomRVItemInfo* item) {
  const TRVWordPainterList* list = item->WordPaintList();
  if (!list) return false;
  return std::any_of(list->begin(), list->end(), [](const std::unique_ptr<TRVWordPainter>& p) {
    return dynamic_cast<const TRVWordMisspellPainter*>(p.get()) != nullptr;
  });
}

// ---- Accessors -------------------------------------------------------------------------------

TRVSpellingHost* TRVWordEnumThread::Control() {
  std::lock_guard g(mu_);
  return control_;
}
TCustomRVData* TRVWordEnumThread::CurData() {
  std::lock_guard g(mu_);
  return cur_data_;
}
int32_t TRVWordEnumThread::CurItem() {
  std::lock_guard g(mu_);
  return cur_item_;
}
bool TRVWordEnumThread::Suspended() {
  std::lock_guard g(mu_);
  return suspended_;
}
bool TRVWordEnumThread::DelayMode() {
  std::lock_guard g(mu_);
  return delay_mode_;
}
bool TRVWordEnumThread::WordModified() {
  std::lock_guard g(mu_);
  return word_modified_;
}
void TRVWordEnumThread::SetWordModified(bool value) {
  std::lock_guard g(mu_);
  word_modified_ = value;
}
void TRVWordEnumThread::SetSkipMarkedWords(bool value) {
  std::lock_guard g(mu_);
  skip_marked_words_ = value;
}
TRVThreadPriority TRVWordEnumThread::Priority() {
  std::lock_guard g(mu_);
  return priority_;
}
// The priority is kept for the hand-shake's sake only: an unprivileged Linux thread that
// lowers its priority cannot raise it again, and the walk works in small steps anyway.
void TRVWordEnumThread::SetPriority(TRVThreadPriority value) {
  std::lock_guard g(mu_);
  priority_ = value;
}

// ---- GUI-thread operations -----------------------------------------------------------------------

void TRVWordEnumThread::ResetWalk() {
  cur_data_ = control_ ? control_->SpellingRootData() : nullptr;
  cur_item_ = 0;
  item_started_ = jump_back_requested_ = skip_marked_words_ = word_modified_ = false;
  pending_data_ = nullptr;
  pending_item_ = -1;
}

void TRVWordEnumThread::SetControl(TRVSpellingHost* control) {
  Lock lk(mu_);
  control_ = control;
  if (control_) {
    TCustomRVData* root = control_->SpellingRootData();
    delimiters_ = root ? root->GetDelimiters() : AnsiString();
    ResetWalk();
  }
}

void TRVWordEnumThread::Resume() {
  Lock lk(mu_);
  if (terminated_) return;
  if (run_state_ == rvwsStopRequested || run_state_ == rvwsStopAcknowledged) run_state_ = rvwsRunning;
  suspended_ = false;
  WakeLocked();
}

void TRVWordEnumThread::CheckSynchronize() {
  Lock lk(mu_);
  while (!queue_.empty()) {
    std::shared_ptr<SyncCall> call = queue_.front();
    queue_.pop_front();
    lk.unlock();
    try {
      call->Call();
    } catch (...) {
      lk.lock();
      call->Done = true;
      cv_.notify_all();
      throw;
    }
    lk.lock();
    call->Done = true;
    cv_.notify_all();
  }
}

void TRVWordEnumThread::Stop(bool reset_pending) {
  if (run_state_ == rvwsFinished) return;
  Lock lk(mu_);
  if (reset_pending) {
    pending_data_ = nullptr;
    pending_item_ = -1;
    pending_offs_ = -1;
  }
  if (suspended_) return;
  run_state_ = rvwsStopRequested;
  if (worker_.joinable()) {
    // Also while delaying: the worker is woken and acknowledges at its next safe point.
    priority_ = tpNormal;
    cv_.notify_all();
    for (;;) {
      if (!queue_.empty()) {
        lk.unlock();
        CheckSynchronize();
        lk.lock();
        continue;
      }
      if (run_state_ != rvwsStopRequested || suspended_) break;
      cv_.wait(lk, [&] { return !queue_.empty() || run_state_ != rvwsStopRequested || suspended_; });
    }
  } else {
    run_state_ = rvwsStopAcknowledged;
  }
  suspended_ = true;
  if (reset_pending && cur_data_ && cur_item_ >= 0 && cur_item_ < cur_data_->ItemCount())
    cur_data_->GetItem(cur_item_)->ClearLiveSpellingResult();
  item_started_ = false;
  priority_ = tpLowest;
}

void TRVWordEnumThread::RunDelayed() {
  Lock lk(mu_);
  if (terminated_) return;
  ApplyPending();
  delay_mode_ = true;
  edited_during_delay_ = true;
  run_state_ = rvwsRunning;
  if (suspended_) {
    suspended_ = false;
    WakeLocked();
  }
  cv_.notify_all();
}

void TRVWordEnumThread::Finish() {
  {
    Lock lk(mu_);
    terminated_ = true;
    cv_.notify_all();
    if (worker_.joinable()) {
      while (run_state_ != rvwsFinished) {
        if (!queue_.empty()) {
          lk.unlock();
          CheckSynchronize();
          lk.lock();
          continue;
        }
        cv_.wait(lk, [&] { return !queue_.empty() || run_state_ == rvwsFinished; });
      }
    } else {
      run_state_ = rvwsFinished;
      item_text_.clear();
    }
  }
  if (worker_.joinable()) worker_.join();
}

void TRVWordEnumThread::SetPending(TCustomRVData* data, int32_t item_no, int32_t offs) {
  Lock lk(mu_);
  if (pending_item_ >= 0 && pending_data_ == data &&
      !(item_no < pending_item_ || (item_no == pending_item_ && offs < pending_offs_)))
    return;
  pending_data_ = data;
  pending_item_ = item_no;
  pending_offs_ = offs;
}

bool TRVWordEnumThread::IsCheckedPosition(TCustomRVData* data, int32_t item_no) {
  Lock lk(mu_);
  return cur_data_ && cur_data_->ComparePositions(cur_item_, data, item_no) >= 0;
}

void TRVWordEnumThread::ContinueAfterEdit(TCustomRVData* data, int32_t item_no) {
  Lock lk(mu_);
  if (!word_modified_) return;
  word_modified_ = false;
  const int32_t cmp = cur_data_ ? cur_data_->ComparePositions(cur_item_, data, item_no) : 1;
  if (cmp < 0) return;
  if (cmp > 0 && item_no >= 0 && item_no < data->ItemCount()) data->GetItem(item_no)->ClearLiveSpellingResult();
  pending_data_ = data;
  pending_item_ = item_no;
  pending_offs_ = 0;
  skip_marked_words_ = false;
  ApplyPending();
}

void TRVWordEnumThread::NotifyCellDeleted(TCustomRVData* cell) {
  Lock lk(mu_);
  if (cell && (cell == cur_data_ || cell->GetRVData() == cur_data_)) jump_back_requested_ = true;
}

void TRVWordEnumThread::ApplyPending() {
  if (pending_item_ >= 0 && pending_data_) {
    TCustomRVData* data = pending_data_;
    const int32_t item_no = pending_item_, offs = pending_offs_;
    pending_data_ = nullptr;
    pending_item_ = -1;
    pending_offs_ = -1;
    int32_t cmp = 1;
    if (!jump_back_requested_ && cur_data_) {
      try {
        cmp = cur_data_->ComparePositions(cur_item_, data, item_no);
      } catch (const EDocViewError&) {
        cmp = 1;  // the walk stood in a document that is no longer part of the tree
      }
    }
    if (cmp >= 0 && item_no < data->ItemCount()) {
      cur_data_ = data;
      cur_item_ = item_no;
      if (cmp > 0) {
        item_started_ = offs > 1;
        if (item_started_) {
          // Back to the first character of the word around the offset.
          item_text_ = data->GetItemTextA(item_no);
          text_start_ = 0;
          size_t p = std::min(static_cast<size_t>(offs - 1), item_text_.size());
          if (p > 0) --p;
          while (p > 0 && p < item_text_.size() && !IsDelimiter(item_text_[p])) --p;
          scan_pos_ = p;
        }
      } else {
        if (!skip_marked_words_) data->GetItem(item_no)->ClearLiveSpellingResult();
        item_started_ = false;
      }
    }
    jump_back_requested_ = false;
  } else if (jump_back_requested_) {
    ResetWalk();
  }
}

// ---- The worker ------------------------------------------------------------------------------------

void TRVWordEnumThread::Execute() {
  Lock lk(mu_);
  while (!terminated_) Pass(lk, false);
  run_state_ = rvwsFinished;
  item_text_.clear();
  parked_ = true;
  cv_.notify_all();
}

bool TRVWordEnumThread::Step() {
  Lock lk(mu_);
  return Pass(lk, true);
}

bool TRVWordEnumThread::Pass(Lock& lk, bool by_hand) {
  if (terminated_ || run_state_ == rvwsFinished) return false;
  if (suspended_ || run_state_ == rvwsStopAcknowledged) {
    if (by_hand) return false;
    parked_ = true;
    cv_.notify_all();
    cv_.wait(lk, [&] { return terminated_ || (!suspended_ && run_state_ != rvwsStopAcknowledged); });
    parked_ = false;
    return true;
  }
  if (run_state_ == rvwsStopRequested) {
    run_state_ = rvwsStopAcknowledged;
    cv_.notify_all();
    return true;
  }
  if (delay_mode_) {
    // Waits until 50 ms pass without an edit; a stop request ends the wait at once.
    edited_during_delay_ = false;
    if (!by_hand) {
      parked_ = true;
      const bool interrupted = cv_.wait_for(lk, std::chrono::milliseconds(50),
                                            [&] { return terminated_ || run_state_ == rvwsStopRequested; });
      parked_ = false;
      if (interrupted) return true;
    }
    delay_mode_ = edited_during_delay_;
    return true;
  }
  if (!control_ || !cur_data_) {
    suspended_ = true;
    return false;
  }
  WalkStep(lk);
  return !suspended_;
}

void TRVWordEnumThread::Synchronize(Lock& lk, std::function<void()> call) {
  lk.unlock();
  if (!OnWorker()) {
    call();
    lk.lock();
    return;
  }
  auto sc = std::make_shared<SyncCall>();
  sc->Call = std::move(call);
  {
    std::lock_guard g(mu_);
    queue_.push_back(sc);
    cv_.notify_all();
  }
  PostMessage(window_ ? window_->Handle() : 0, WM_RVSYNCHRONIZE, 0, 0);
  lk.lock();
  cv_.wait(lk, [&] { return sc->Done; });
}

void TRVWordEnumThread::ClearMarks(Lock& lk, TCustomRVItemInfo* item) {
  if (!HasMarks(item)) {
    item->ItemState.Exclude(rvisSpellChecked);
    return;
  }
  Synchronize(lk, [item] { item->ClearLiveSpellingResult(); });
}

bool TRVWordEnumThread::StartItem(Lock& lk, TCustomRVData* data, int32_t item_no) {
  TCustomRVItemInfo* item = data->GetItem(item_no);
  item_text_ = data->GetItemTextA(item_no);
  TRVStyle* style = data->GetRVStyle();
  const int32_t style_no = data->GetActualStyle(item);
  TFontInfo* fi = style ? style->TextStyles()->Items(style_no) : nullptr;
  const bool no_words =
      fi && ((fi->Jump && (RV_IsURL(item_text_) || RV_IsEmail(item_text_))) || fi->Charset == SYMBOL_CHARSET);
  if (no_words) {
    ClearMarks(lk, item);
    item_text_.clear();
  } else if (!skip_marked_words_) {
    ClearMarks(lk, item);
  }
  // The GUI thread may have moved the walk while it cleared the marks.
  if (cur_data_ != data || cur_item_ != item_no) return false;
  text_start_ = scan_pos_ = 0;
  item_started_ = true;
  return true;
}

bool TRVWordEnumThread::NextWord(TCustomRVItemInfo* item) {
  const size_t n = item_text_.size();
  for (;;) {
    while (scan_pos_ < n && (IsDelimiter(item_text_[scan_pos_]) || item_text_[scan_pos_] == '\'')) ++scan_pos_;
    if (scan_pos_ >= n) {
      skip_marked_words_ = false;
      return false;
    }
    const size_t start = scan_pos_;
    while (scan_pos_ < n && (item_text_[scan_pos_] == '\'' || !IsDelimiter(item_text_[scan_pos_]))) ++scan_pos_;
    size_t end = scan_pos_;
    while (end > start && item_text_[end - 1] == '\'') --end;
    const int32_t offs = static_cast<int32_t>(start - text_start_) + 1;
    if (skip_marked_words_ && item->IsMisspelled(offs)) continue;
    word_offs_ = offs;
    word_len_ = static_cast<int32_t>(end - start);
    return true;
  }
}

void TRVWordEnumThread::WalkStep(Lock& lk) {
  TCustomRVData* data = cur_data_;
  if (cur_item_ < data->ItemCount()) {
    TCustomRVItemInfo* item = data->GetItem(cur_item_);
    const int32_t style_no = data->GetActualStyle(item);
    if (style_no < 0) {
      // Sub-documents (the cells of a table) are walked in their item's own order.
      std::unique_ptr<TRVStoreSubRVData> state;
      if (TCustomRVData* sub = item->GetSubRVData(state, rvdFirst)) {
        cur_data_ = sub->GetRVData();
        cur_item_ = 0;
      } else {
        ++cur_item_;
      }
      item_started_ = false;
      return;
    }
    if (item->ItemState.Contains(rvisSpellChecked) && !skip_marked_words_) {
      ++cur_item_;
      item_started_ = false;
      return;
    }
    if (!item_started_ && !StartItem(lk, data, cur_item_)) return;
    if (NextWord(item)) {
      const AnsiString word = item_text_.substr(static_cast<size_t>(word_offs_ - 1), static_cast<size_t>(word_len_));
      bool misspelled = false;
      if (control_->IsSpellingCheckAssigned()) control_->DoSpellingCheck(word, style_no, misspelled);
      if (misspelled) {
        const int32_t item_no = cur_item_, offs = word_offs_, len = word_len_;
        Synchronize(lk, [data, item, item_no, offs, len] {
          if (item_no >= data->ItemCount() || data->GetItem(item_no) != item) return;
          item->AddMisspelling(offs, len);
          auto* f = dynamic_cast<TCustomRVFormattedData*>(data);
          if (!f || f->DrawLines.Count() == 0) return;
          int32_t d1 = -1, d2 = -1, o = 0;
          f->ItemPosToDrawItemPos(item_no, offs, d1, o);
          f->ItemPosToDrawItemPos(item_no, offs + len, d2, o);
          if (d1 < 0) return;
          if (d2 < d1) d2 = d1;
          for (int32_t d = d1; d <= d2 && d < f->DrawLines.Count(); ++d) f->InvalidateDrawItem(d, 3);
        });
      }
    } else {
      item->ItemState.Include(rvisSpellChecked);
      ++cur_item_;
      item_started_ = false;
    }
    return;
  }
  // Past the last item: a cell goes on with its table's next cell, then after the table.
  TCustomRVData* source = data->GetSourceRVData();
  TCustomRVData* root = control_->SpellingRootData();
  int32_t parent_item = -1;
  std::unique_ptr<TRVStoreSubRVData> location;
  TCustomRVData* parent = nullptr;
  if (root && source != root->GetSourceRVData()) {
    source->GetParentInfo(parent_item, location);
    parent = source->GetAbsoluteParentData();
  }
  if (parent && parent_item >= 0 && parent_item < parent->ItemCount()) {
    if (TCustomRVData* next = parent->GetItem(parent_item)->GetSubRVData(location, rvdNext)) {
      cur_data_ = next->GetRVData();
      cur_item_ = 0;
    } else {
      cur_data_ = parent->GetRVData();
      cur_item_ = parent_item + 1;
    }
    item_started_ = false;
    return;
  }
  if (root && source != root->GetSourceRVData()) {
    // A document cut off from the tree: start again from the top.
    ResetWalk();
    return;
  }
  // The whole document is checked: meet the GUI thread once, then wait for edits (unless
  // the GUI thread gave the walk more to do meanwhile).
  const int32_t at = cur_item_;
  if (!terminated_) Synchronize(lk, [] {});
  if (run_state_ == rvwsRunning && cur_data_ == data && cur_item_ == at && !delay_mode_) suspended_ = true;
}

}  // namespace pelvar

// ---- The control's side -----------------------------------------------------------------------------

namespace pelvar {

void TCustomDocView::StartLiveSpelling() {
  if (!(Flags & rvflRoot) || !OnSpellingCheck || !Style()) return;
  if (WordEnumThread)
    WordEnumThread->Stop(true);
  else
    WordEnumThread = RVWordEnumThreadClass();
  ClearLiveSpellingResults();
  WordEnumThread->SetControl(this);
  WordEnumThread->SetPriority(tpLowest);
  WordEnumThread->Resume();
}

void TCustomDocView::StopLiveSpelling() {
  if (!WordEnumThread) return;
  WordEnumThread->Finish();
  WordEnumThread->SetControl(nullptr);
  WordEnumThread.reset();
  ClearLiveSpellingResults();
  if (!Destroying) RVData->InvalidateControl();
}

void TCustomDocView::ClearLiveSpellingResults() {
  RVData->EnumItems([](TCustomRVData* d, int32_t i, bool&, void*) { d->GetItem(i)->ClearLiveSpellingResult(); },
                    nullptr);
}

void TCustomDocView::LiveSpellingScheduleFrom(TCustomRVData* rvdata, int32_t item_no, int32_t offs) {
  if (WordEnumThread) WordEnumThread->SetPending(rvdata, item_no, offs);
}

void TCustomDocView::LiveSpellingForgetData(TCustomRVData* cell_data) {
  if (WordEnumThread) WordEnumThread->NotifyCellDeleted(cell_data);
}

// An item that lies ahead of the walk may still carry the checked state of an earlier pass
// (the walk went back to an earlier edit): its text changed, so the walk must check it
// again when it gets there; its marks keep to their words until then.
static void ForgetCheckedAhead(TCustomRVItemInfo* item) { item->ItemState.Exclude(rvisSpellChecked); }

void TCustomDocView::LiveSpellingCharInserted(TCustomRVData* rvdata, int32_t item_no, int32_t offs, char16_t ch) {
  if (!WordEnumThread) return;
  TCustomRVItemInfo* item = rvdata->GetItem(item_no);
  if (!WordEnumThread->IsCheckedPosition(rvdata, item_no)) {
    item->AdjustWordPaintersOnInsert(offs, ch, rvdata);
    ForgetCheckedAhead(item);
    return;
  }
  if (item->AdjustWordPaintersOnInsert(offs, ch, rvdata)) {
    WordEnumThread->SetWordModified(false);
    WordEnumThread->SetSkipMarkedWords(true);
    WordEnumThread->SetPending(rvdata, item_no, 0);
  } else {
    WordEnumThread->SetWordModified(true);
  }
}

void TCustomDocView::LiveSpellingTextDeleted(TCustomRVData* rvdata, int32_t item_no, int32_t offs, int32_t count) {
  if (!WordEnumThread) return;
  TCustomRVItemInfo* item = rvdata->GetItem(item_no);
  if (!WordEnumThread->IsCheckedPosition(rvdata, item_no)) {
    item->AdjustWordPaintersOnDelete(offs, count);
    ForgetCheckedAhead(item);
    return;
  }
  if (item->AdjustWordPaintersOnDelete(offs, count)) {
    WordEnumThread->SetWordModified(false);
    WordEnumThread->SetSkipMarkedWords(true);
    WordEnumThread->SetPending(rvdata, item_no, 0);
  } else {
    WordEnumThread->SetWordModified(true);
  }
}

void TCustomDocView::LiveSpellingRestartDelayed() {
  if (!WordEnumThread) return;
  WordEnumThread->Stop(false);
  WordEnumThread->RunDelayed();
}

void TCustomDocView::LiveSpellingRecheckModifiedWord(TCustomRVData* rvdata, int32_t item_no) {
  if (!WordEnumThread || !WordEnumThread->WordModified()) return;
  WordEnumThread->Stop(true);
  WordEnumThread->SetWordModified(false);
  WordEnumThread->SetSkipMarkedWords(true);
  WordEnumThread->SetPending(rvdata, item_no, 0);
  WordEnumThread->RunDelayed();
}

}  // namespace pelvar
