// The application object: the message loop, posted window messages, timers and the
// application-level exception handler.
//
// Everything runs on the main thread. Library code talks only to `Application()`;
// the loop behind it is headless by default (tests and tools) and the program installs
// the Qt loop at start (platform/qt/). Both give the same order of delivery:
//
//   ProcessMessages() first lets the installed loop handle its own (window-system)
//   events, then delivers
//     1. every posted message, in posting order, including messages posted by the
//        handlers that run during this call;
//     2. then the timers that are due, the earliest due first, each at most once per
//        call; messages a timer handler posts are delivered right after that handler;
//   and returns when nothing is left.
//
//   A message posted by a handler is never delivered inside that handler, unless the
//   handler itself calls ProcessMessages. A timer never fires re-entrantly: while its
//   OnTimer runs, nested ProcessMessages calls skip it. A timer's next period starts
//   when it fires; missed periods are not made up (one tick, not a burst).
//
// Timers measure time on the application clock, a monotonic millisecond count. Tests
// install a `TTestClock` and advance it by hand; nothing fires until the loop runs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "platform/classes.h"
#include "platform/exceptions.h"
#include "platform/types.h"

namespace pelvar {

// --- Window messages ----------------------------------------------------------

using HWND = uintptr_t;  // 0: no window
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

constexpr uint32_t WM_NULL = 0x0000;
constexpr uint32_t WM_TIMER = 0x0113;
constexpr uint32_t WM_USER = 0x0400;
constexpr uint32_t WM_APP = 0x8000;

struct TMessage {
  uint32_t Msg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  LRESULT Result = 0;
};

// What a window handle stands for: a receiver of messages. The handle is valid from
// construction to destruction; messages still queued for a destroyed target are
// dropped, never delivered to freed memory.
class TMessageTarget {
 public:
  TMessageTarget();
  virtual ~TMessageTarget();
  TMessageTarget(const TMessageTarget&) = delete;
  TMessageTarget& operator=(const TMessageTarget&) = delete;

  HWND Handle() const { return handle_; }
  virtual void WndProc(TMessage& message) = 0;

 private:
  HWND handle_;
};

// A hidden window whose messages go to a function.
class TMessageWindow : public TMessageTarget {
 public:
  using TWndMethod = std::function<void(TMessage&)>;
  explicit TMessageWindow(TWndMethod wnd_method) : wnd_method_(std::move(wnd_method)) {}
  void WndProc(TMessage& message) override {
    if (wnd_method_) wnd_method_(message);
  }

 private:
  TWndMethod wnd_method_;
};

// Queues the message for the window; delivered by the loop on the main thread.
// May be called from any thread. False when the handle names no window.
bool PostMessage(HWND window, uint32_t msg, WPARAM wparam, LPARAM lparam);
// Delivers the message at once (main thread) and returns its result; 0 when the
// handle names no window.
LRESULT SendMessage(HWND window, uint32_t msg, WPARAM wparam, LPARAM lparam);

// --- The loop behind the application object -------------------------------------

// What the headless loop and the Qt loop implement.
class TMessageLoop {
 public:
  virtual ~TMessageLoop() = default;
  // Work is pending: call Application()->DispatchPending() after delay_ms
  // milliseconds of the application clock (0: as soon as possible; may be called
  // from any thread when delay_ms is 0).
  virtual void Wake(int64_t delay_ms) = 0;
  // Handles the window system's own pending events (input, painting); may call
  // DispatchPending itself.
  virtual void ProcessNativeEvents() = 0;
  // Runs until the application is terminated.
  virtual void Run() = 0;
  // Ends Run.
  virtual void Quit() = 0;
};

// --- Timers ---------------------------------------------------------------------

// A timer that fires only from the message loop. It runs while Enabled, with an
// Interval above 0 and an OnTimer assigned; changing any of them starts the period
// afresh. OnTimer gets the timer as sender.
class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* owner = nullptr);
  ~TTimer() override;

  uint32_t Interval() const { return interval_; }
  void SetInterval(uint32_t ms);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  const TNotifyEvent& OnTimer() const { return on_timer_; }
  void SetOnTimer(TNotifyEvent handler);

 private:
  void Update();
  uint32_t interval_ = 1000;
  bool enabled_ = true;
  TNotifyEvent on_timer_;
  uint64_t id_;
};

// --- The application object ----------------------------------------------------

class TApplication {
 public:
  using TExceptionEvent = std::function<void(TObject* sender, const Exception& e)>;

  const AnsiString& Title() const { return title_; }
  void SetTitle(const AnsiString& title) { title_ = title; }
  // The running executable's full file name (Windows-1250).
  AnsiString ExeName() const;

  // Delivers what is pending (see the top of this file) and returns.
  void ProcessMessages();
  // Runs the loop until Terminate. The headless loop also returns when nothing can
  // happen any more (no message queued, no timer running); with a test clock it
  // advances the clock to the next due timer instead of waiting.
  void Run();
  void Terminate();
  bool Terminated() const { return terminated_; }

  // The application-level exception handler, to be called inside a catch block:
  // EAbort is ignored; otherwise OnException when assigned, else ShowException.
  void HandleException(TObject* sender);
  // Shows the message in an error box captioned with the title (a full stop is
  // added unless the text ends in '.', '!', '?' or ':').
  void ShowException(const std::exception& e);
  const TExceptionEvent& OnException() const { return on_exception_; }
  void SetOnException(TExceptionEvent handler) { on_exception_ = std::move(handler); }

  std::thread::id MainThreadId() const { return main_thread_; }

  // The loop implementation; nullptr restores the headless loop. Not owned.
  void InstallMessageLoop(TMessageLoop* loop);
  TMessageLoop& Loop();

  // The application clock in milliseconds (monotonic); replaced by TTestClock.
  uint64_t Now() const;
  bool HasCustomClock() const;

  // Called by the installed loop: delivers posted messages and due timers.
  void DispatchPending();
  // Milliseconds until the next timer is due (0 when one is due), -1 when no timer runs.
  int64_t NextTimerDelay() const;
  // True when a posted message is waiting.
  bool HasPostedMessages() const;

  static TApplication& Instance();

 private:
  TApplication();
  AnsiString title_;
  bool terminated_ = false;
  TExceptionEvent on_exception_;
  std::thread::id main_thread_;
  TMessageLoop* loop_ = nullptr;
  std::unique_ptr<TMessageLoop> headless_;
};

TApplication* Application();

// A clock for tests: installed on construction (starting at `start` ms), the real
// clock is back on destruction. Advance only moves time; timers fire when the loop
// runs next.
class TTestClock {
 public:
  explicit TTestClock(uint64_t start = 1000000);
  ~TTestClock();
  TTestClock(const TTestClock&) = delete;
  TTestClock& operator=(const TTestClock&) = delete;
  uint64_t Now() const { return *now_; }
  void Advance(uint64_t ms) { *now_ += ms; }

 private:
  std::shared_ptr<uint64_t> now_;
};

}  // namespace pelvar
