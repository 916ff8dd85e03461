// Live spelling: a worker thread that walks a control's document word by word, from the
// first item to the last and into the documents of sub-document items (table cells), asks
// the control's spelling handler about each word and marks the misspelt ones with
// misspelling painters.
//
// Threads. The worker reads the document without locks; the GUI thread stops it (Stop)
// before it changes the document and lets it go on afterwards (RunDelayed). The thread's
// own state (walk position, pending position, flags) is kept under one mutex: the worker
// holds it while it takes a step and releases it only while it waits (parked, delayed, or
// waiting for a synchronized call), so the GUI thread touches that state only at such safe
// points. Every change of the document's marks and every repaint is a synchronized call:
// the worker queues it, posts a message to the GUI thread's queue and waits until the GUI
// thread has run it (from its message loop, or from Stop and Finish while they wait).
//
// A thread made with run_worker false never starts a worker: tests drive the walk on the
// calling thread with Step, and synchronized calls run at once.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/application.h"
#include "richtext/model/CRVData.h"

namespace pelvar {

// What the thread asks of the control whose document it checks.
class TRVSpellingHost {
 public:
  virtual ~TRVSpellingHost() = default;
  // The control's root document.
  virtual TCustomRVData* SpellingRootData() = 0;
  virtual bool IsSpellingCheckAssigned() = 0;
  // Runs in the worker thread: a handler must not touch the GUI.
  virtual void DoSpellingCheck(const AnsiString& word, int32_t style_no, bool& misspelled) = 0;
};

enum TRVThreadPriority : uint8_t { tpLowest, tpNormal };

// RunState values.
constexpr int32_t rvwsRunning = 0, rvwsStopRequested = 1, rvwsStopAcknowledged = 2, rvwsFinished = 3;

// Posted to the thread's message window: synchronized calls wait.
constexpr uint32_t WM_RVSYNCHRONIZE = WM_USER + 20;

class TRVWordEnumThread {
 public:
  explicit TRVWordEnumThread(bool run_worker = true);
  virtual ~TRVWordEnumThread();
  TRVWordEnumThread(const TRVWordEnumThread&) = delete;
  TRVWordEnumThread& operator=(const TRVWordEnumThread&) = delete;

  // ---- GUI thread ----
  // Binds the thread to a control and starts the walk at its first item (nullptr: detached).
  void SetControl(TRVSpellingHost* control);
  // Lets a suspended thread run (starting the worker the first time); an acknowledged stop
  // is lifted, so that a thread stopped and resumed walks again.
  void Resume();
  // Hand-shake: when it returns, the worker is parked at a safe point and stays there.
  void Stop(bool reset_pending);
  // After an edit: applies the pending position, waits until 50 ms pass without an edit,
  // then walks on.
  void RunDelayed();
  // Ends the worker and waits for it (the destructor does the same).
  void Finish();
  void SetPending(TCustomRVData* data, int32_t item_no, int32_t offs);
  bool IsCheckedPosition(TCustomRVData* data, int32_t item_no);
  void ContinueAfterEdit(TCustomRVData* data, int32_t item_no);
  void NotifyCellDeleted(TCustomRVData* cell);
  void SetPriority(TRVThreadPriority value);
  // Runs the synchronized calls the worker waits on.
  void CheckSynchronize();
  // One pass of the worker's loop on the calling thread (a thread made with run_worker
  // false); False once the walk is over (the thread suspended itself) or finished.
  bool Step();

  // ---- Read by the control and by tests (under the lock) ----
  TRVSpellingHost* Control();
  TCustomRVData* CurData();
  int32_t CurItem();
  int32_t RunState() const { return run_state_.load(); }
  bool Suspended();
  bool DelayMode();
  bool WordModified();
  void SetWordModified(bool value);
  void SetSkipMarkedWords(bool value);
  TRVThreadPriority Priority();

 protected:
  // The worker's loop.
  void Execute();

 private:
  using Lock = std::unique_lock<std::mutex>;
  // One pass of the loop body with the lock held; False when nothing is left to do.
  bool Pass(Lock& lk, bool by_hand);
  void WalkStep(Lock& lk);
  bool NextWord(TCustomRVItemInfo* item);
  bool StartItem(Lock& lk, TCustomRVData* data, int32_t item_no);
  void ApplyPending();
  void ResetWalk();
  void Synchronize(Lock& lk, std::function<void()> call);
  // Clears the marks of an item in the GUI thread (when it has any).
  void ClearMarks(Lock& lk, TCustomRVItemInfo* item);
  bool OnWorker() const;
  void WakeLocked();
  bool IsDelimiter(char ch) const;
  static bool HasMarks(TCustomRVItemInfo* item);

  struct SyncCall {
    std::function<void()> Call;
    bool Done = false;
  };

  std::mutex mu_;
  std::condition_variable cv_;
  bool run_worker_;
  std::jthread worker_;
  std::unique_ptr<TMessageWindow> window_;
  std::deque<std::shared_ptr<SyncCall>> queue_;

  // Under mu_.
  TRVSpellingHost* control_ = nullptr;
  AnsiString delimiters_;
  TCustomRVData* cur_data_ = nullptr;
  int32_t cur_item_ = 0;
  bool item_started_ = false;
  AnsiString item_text_;
  size_t text_start_ = 0, scan_pos_ = 0;
  int32_t word_offs_ = 0, word_len_ = 0;
  TCustomRVData* pending_data_ = nullptr;
  int32_t pending_item_ = -1, pending_offs_ = -1;
  bool jump_back_requested_ = false;
  bool delay_mode_ = false, edited_during_delay_ = false;
  bool word_modified_ = false;
  bool skip_marked_words_ = false;
  bool suspended_ = true;  // created suspended
  bool parked_ = false;    // the worker waits at a safe point
  bool terminated_ = false;
  TRVThreadPriority priority_ = tpLowest;
  std::atomic<int32_t> run_state_{rvwsRunning};
};

// The class the control creates for live spelling (replaceable by the program).
using TRVWordEnumThreadFactory = std::function<std::unique_ptr<TRVWordEnumThread>()>;
extern TRVWordEnumThreadFactory RVWordEnumThreadClass;

}  // namespace pelvar
