#include "platform/application.h"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <unordered_map>

#include "platform/codepage.h"
#include "platform/dialogs.h"

namespace pelvar {
namespace {

struct PostedMessage {
  HWND window;
  TMessage message;
};

struct TimerState {
  TTimer* timer = nullptr;
  uint32_t interval = 0;
  uint64_t due = 0;
  std::function<void(TObject*)> handler;
};

// The state shared by the application object, the message targets and the timers.
// The queue and the target table may be reached from any thread (PostMessage);
// timers belong to the main thread but share the lock for simplicity.
struct LoopState {
  std::mutex mutex;
  std::condition_variable posted;
  std::deque<PostedMessage> queue;
  std::unordered_map<HWND, TMessageTarget*> targets;
  HWND next_handle = 0x1000;
  std::map<uint64_t, TimerState> timers;  // running timers by id
  std::set<uint64_t> firing;              // timers whose OnTimer is running
  uint64_t next_timer_id = 1;
};

LoopState& State() {
  static LoopState* state = new LoopState;  // outlives every static object
  return *state;
}

uint64_t RealClock() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// The loop of tests and tools: nothing but the application's own queue and timers.
class HeadlessLoop : public TMessageLoop {
 public:
  void Wake(int64_t delay_ms) override {
    if (delay_ms == 0) State().posted.notify_all();
  }
  void ProcessNativeEvents() override {}
  void Run() override {
    TApplication& app = *Application();
    while (!app.Terminated()) {
      app.ProcessMessages();
      if (app.Terminated() || app.HasPostedMessages()) continue;
      const int64_t delay = app.NextTimerDelay();
      if (delay < 0) return;  // nothing can happen any more
      if (delay == 0) continue;
      if (app.HasCustomClock()) {
        advance_(static_cast<uint64_t>(delay));
      } else {
        std::unique_lock lock(State().mutex);
        State().posted.wait_for(lock, std::chrono::milliseconds(delay),
                                [] { return !State().queue.empty(); });
      }
    }
  }
  void Quit() override { State().posted.notify_all(); }

  std::function<void(uint64_t)> advance_;
};

std::shared_ptr<uint64_t>& TestNow() {
  static std::shared_ptr<uint64_t> now;
  return now;
}

AnsiString ExeFileName() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return Utf8ToAnsi(std::string(buf, static_cast<size_t>(n)));
}

}  // namespace

// --- Message targets -------------------------------------------------------------

TMessageTarget::TMessageTarget() {
  LoopState& s = State();
  std::lock_guard lock(s.mutex);
  handle_ = s.next_handle++;
  s.targets[handle_] = this;
}

TMessageTarget::~TMessageTarget() {
  LoopState& s = State();
  std::lock_guard lock(s.mutex);
  s.targets.erase(handle_);
  std::erase_if(s.queue, [this](const PostedMessage& m) { return m.window == handle_; });
}

bool PostMessage(HWND window, uint32_t msg, WPARAM wparam, LPARAM lparam) {
  LoopState& s = State();
  {
    std::lock_guard lock(s.mutex);
    if (!s.targets.count(window)) return false;
    s.queue.push_back({window, TMessage{msg, wparam, lparam, 0}});
  }
  Application()->Loop().Wake(0);
  return true;
}

LRESULT SendMessage(HWND window, uint32_t msg, WPARAM wparam, LPARAM lparam) {
  TMessageTarget* target = nullptr;
  {
    LoopState& s = State();
    std::lock_guard lock(s.mutex);
    auto it = s.targets.find(window);
    if (it == s.targets.end()) return 0;
    target = it->second;
  }
  TMessage m{msg, wparam, lparam, 0};
  target->WndProc(m);
  return m.Result;
}

// --- Timers ------------------------------------------------------------------------

TTimer::TTimer(TComponent* owner) : TComponent(owner) {
  std::lock_guard lock(State().mutex);
  id_ = State().next_timer_id++;
}

TTimer::~TTimer() {
  std::lock_guard lock(State().mutex);
  State().timers.erase(id_);
}

void TTimer::SetInterval(uint32_t ms) {
  if (ms == interval_) return;
  interval_ = ms;
  Update();
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Update();
}

void TTimer::SetOnTimer(TNotifyEvent handler) {
  on_timer_ = std::move(handler);
  Update();
}

void TTimer::Update() {
  TApplication& app = *Application();
  const bool run = enabled_ && interval_ > 0 && on_timer_;
  {
    LoopState& s = State();
    std::lock_guard lock(s.mutex);
    if (run)
      s.timers[id_] = TimerState{this, interval_, app.Now() + interval_, on_timer_};
    else
      s.timers.erase(id_);
  }
  const int64_t delay = app.NextTimerDelay();
  if (delay >= 0) app.Loop().Wake(delay);
}

// --- The application object --------------------------------------------------------

TApplication::TApplication() : main_thread_(std::this_thread::get_id()) {
  auto headless = std::make_unique<HeadlessLoop>();
  headless->advance_ = [](uint64_t ms) {
    if (TestNow()) *TestNow() += ms;
  };
  headless_ = std::move(headless);
  AnsiString exe = ExeFileName();
  const auto slash = exe.find_last_of('/');
  if (slash != AnsiString::npos) exe.erase(0, slash + 1);
  const auto dot = exe.find_last_of('.');
  if (dot != AnsiString::npos && dot > 0) exe.erase(dot);
  title_ = exe;
}

TApplication& TApplication::Instance() {
  static TApplication* app = new TApplication;  // never destroyed: used until exit
  return *app;
}

TApplication* Application() { return &TApplication::Instance(); }

AnsiString TApplication::ExeName() const { return ExeFileName(); }

void TApplication::InstallMessageLoop(TMessageLoop* loop) { loop_ = loop; }

TMessageLoop& TApplication::Loop() { return loop_ ? *loop_ : *headless_; }

uint64_t TApplication::Now() const {
  const auto& test_now = TestNow();
  return test_now ? *test_now : RealClock();
}

bool TApplication::HasCustomClock() const { return static_cast<bool>(TestNow()); }

void TApplication::ProcessMessages() {
  Loop().ProcessNativeEvents();
  DispatchPending();
}

void TApplication::Run() {
  if (terminated_) return;
  Loop().Run();
}

void TApplication::Terminate() {
  terminated_ = true;
  Loop().Quit();
}

bool TApplication::HasPostedMessages() const {
  LoopState& s = State();
  std::lock_guard lock(s.mutex);
  return !s.queue.empty();
}

int64_t TApplication::NextTimerDelay() const {
  const uint64_t now = Now();
  LoopState& s = State();
  std::lock_guard lock(s.mutex);
  int64_t best = -1;
  for (const auto& [id, t] : s.timers) {
    if (s.firing.count(id)) continue;
    const int64_t d = t.due <= now ? 0 : static_cast<int64_t>(t.due - now);
    if (best < 0 || d < best) best = d;
  }
  return best;
}

void TApplication::DispatchPending() {
  LoopState& s = State();
  std::set<uint64_t> fired;  // each timer at most once per call
  for (;;) {
    // 1. Posted messages, oldest first.
    TMessageTarget* target = nullptr;
    TMessage message;
    {
      std::lock_guard lock(s.mutex);
      while (!s.queue.empty() && !target) {
        PostedMessage m = s.queue.front();
        s.queue.pop_front();
        auto it = s.targets.find(m.window);
        if (it != s.targets.end()) {
          target = it->second;
          message = m.message;
        }
      }
    }
    if (target) {
      try {
        target->WndProc(message);
      } catch (...) {
        HandleException(nullptr);
      }
      continue;
    }

    // 2. The earliest due timer that is not running and has not fired in this call.
    std::function<void(TObject*)> handler;
    TTimer* sender = nullptr;
    uint64_t timer_id = 0;
    {
      const uint64_t now = Now();
      std::lock_guard lock(s.mutex);
      TimerState* best = nullptr;
      for (auto& [id, t] : s.timers) {
        if (t.due > now || s.firing.count(id) || fired.count(id)) continue;
        if (!best || t.due < best->due) {
          best = &t;
          timer_id = id;
        }
      }
      if (!best) break;
      best->due = now + best->interval;
      handler = best->handler;  // a copy: the timer may go away while it runs
      sender = best->timer;
      s.firing.insert(timer_id);
      fired.insert(timer_id);
    }
    try {
      handler(sender);
    } catch (...) {
      HandleException(nullptr);
    }
    std::lock_guard lock(s.mutex);
    s.firing.erase(timer_id);
  }
  const int64_t delay = NextTimerDelay();
  if (delay >= 0) Loop().Wake(delay);
}

void TApplication::HandleException(TObject* sender) {
  const std::exception_ptr current = std::current_exception();
  if (!current) return;
  auto handle = [&](const Exception& e) {
    if (on_exception_) {
      try {
        on_exception_(sender, e);
        return;
      } catch (const EAbort&) {
        return;
      } catch (const std::exception& inner) {
        ShowException(inner);  // the handler itself failed: show that failure
        return;
      } catch (...) {
        return;
      }
    }
    ShowException(e);
  };
  try {
    std::rethrow_exception(current);
  } catch (const EAbort&) {
    // the silent abort
  } catch (const Exception& e) {
    handle(e);
  } catch (const std::exception& e) {
    handle(Exception(e.what()));
  } catch (...) {
    handle(Exception(CZ("Neznámá výjimka")));
  }
}

void TApplication::ShowException(const std::exception& e) {
  const auto* framework = dynamic_cast<const Exception*>(&e);
  AnsiString text = framework ? framework->Message() : AnsiString(e.what());
  // Closed with a full stop unless the text ends in a sentence mark already.
  if (!text.empty() && static_cast<unsigned char>(text.back()) > ' ' &&
      AnsiString(".!?:").find(text.back()) == AnsiString::npos)
    text += '.';
  MessageBox(text, title_, MB_OK | MB_ICONSTOP);
}

// --- Test clock ----------------------------------------------------------------------

TTestClock::TTestClock(uint64_t start) : now_(std::make_shared<uint64_t>(start)) {
  TestNow() = now_;
}

TTestClock::~TTestClock() {
  if (TestNow() == now_) TestNow().reset();
}

}  // namespace pelvar
