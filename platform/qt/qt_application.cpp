#include "platform/qt/qt_application.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QTimer>
#include <atomic>

#include "platform/application.h"
#include "platform/qt/qt_dialogs.h"

namespace pelvar {
namespace {

// The application's queue and timers driven from Qt's event loop: a custom posted
// event wakes it for posted messages, one single-shot QTimer for the next due timer.
class QtLoop : public TMessageLoop {
 public:
  QtLoop() : wake_type_(static_cast<QEvent::Type>(QEvent::registerEventType())), receiver_(this) {
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [] { Application()->DispatchPending(); });
  }

  void Wake(int64_t delay_ms) override {
    if (delay_ms <= 0) {
      if (!wake_posted_.exchange(true))
        QCoreApplication::postEvent(&receiver_, new QEvent(wake_type_));
      return;
    }
    timer_.start(static_cast<int>(std::min<int64_t>(delay_ms, 24 * 3600 * 1000)));
  }

  void ProcessNativeEvents() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }

  void Run() override {
    Application()->DispatchPending();  // what was posted before the loop started
    if (!Application()->Terminated()) QCoreApplication::exec();
  }

  void Quit() override { QCoreApplication::quit(); }

 private:
  class Receiver : public QObject {
   public:
    explicit Receiver(QtLoop* loop) : loop_(loop) {}
    bool event(QEvent* e) override {
      if (e->type() != loop_->wake_type_) return QObject::event(e);
      loop_->wake_posted_ = false;
      Application()->DispatchPending();
      return true;
    }

   private:
    QtLoop* loop_;
  };

  QEvent::Type wake_type_;
  std::atomic<bool> wake_posted_{false};
  Receiver receiver_;
  QTimer timer_;
};

}  // namespace

int QtCursorShape(TCursor cursor) {
  switch (cursor) {
    case crNone: return Qt::BlankCursor;
    case crCross: return Qt::CrossCursor;
    case crIBeam: return Qt::IBeamCursor;
    case crSizeNESW: return Qt::SizeBDiagCursor;
    case crSizeNS: return Qt::SizeVerCursor;
    case crSizeNWSE: return Qt::SizeFDiagCursor;
    case crSizeWE: return Qt::SizeHorCursor;
    case crUpArrow: return Qt::UpArrowCursor;
    case crHourGlass: return Qt::WaitCursor;
    case crDrag: return Qt::DragMoveCursor;
    case crNoDrop: return Qt::ForbiddenCursor;
    case crHSplit: return Qt::SplitHCursor;
    case crVSplit: return Qt::SplitVCursor;
    case crMultiDrag: return Qt::DragCopyCursor;
    case crSQLWait: return Qt::WaitCursor;
    case crNo: return Qt::ForbiddenCursor;
    case crAppStart: return Qt::BusyCursor;
    case crHelp: return Qt::WhatsThisCursor;
    case crHandPoint: return Qt::PointingHandCursor;
    case crSizeAll: return Qt::SizeAllCursor;
    default: return Qt::ArrowCursor;
  }
}

struct TQtApplication::Impl {
  std::unique_ptr<QApplication> own_app;
  QApplication* app = nullptr;
  QtLoop loop;
  TDialogResponder previous_responder;
  TScreen::TCursorHandler previous_cursor;
  bool override_set = false;
};

TQtApplication::TQtApplication(int& argc, char** argv) {
  auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance());
  std::unique_ptr<QApplication> own;
  if (!existing) own = std::make_unique<QApplication>(argc, argv);
  impl_ = std::make_unique<Impl>();
  impl_->app = existing ? existing : own.get();
  impl_->own_app = std::move(own);
  Application()->InstallMessageLoop(&impl_->loop);
  impl_->previous_responder = SetDialogResponder(&QtShowDialog);
  Impl* impl = impl_.get();
  impl_->previous_cursor = Screen()->SetCursorHandler([impl](TCursor cursor) {
    if (cursor == crDefault) {
      if (impl->override_set) QApplication::restoreOverrideCursor();
      impl->override_set = false;
      return;
    }
    const QCursor shape(static_cast<Qt::CursorShape>(QtCursorShape(cursor)));
    if (impl->override_set) {
      QApplication::changeOverrideCursor(shape);
    } else {
      QApplication::setOverrideCursor(shape);
      impl->override_set = true;
    }
  });
  if (Screen()->Cursor() != crDefault) {
    const TCursor current = Screen()->Cursor();
    Screen()->SetCursor(crDefault);
    Screen()->SetCursor(current);
  }
  // Messages posted before the loop existed.
  if (Application()->HasPostedMessages()) impl_->loop.Wake(0);
}

TQtApplication::~TQtApplication() {
  if (impl_->override_set) QApplication::restoreOverrideCursor();
  Screen()->SetCursorHandler(std::move(impl_->previous_cursor));
  SetDialogResponder(std::move(impl_->previous_responder));
  Application()->InstallMessageLoop(nullptr);
}

QApplication* TQtApplication::QtApp() const { return impl_->app; }

}  // namespace pelvar
