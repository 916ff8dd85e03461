// Start-up of the Qt application: the Qt message loop behind Application(), real
// message boxes behind the dialogs and the override cursor behind Screen(), installed
// for the lifetime of one TQtApplication (created first thing in main()).
#pragma once

#include <memory>

#include "platform/dialogs.h"
#include "platform/screen.h"

class QApplication;

namespace pelvar {

class TQtApplication {
 public:
  // Creates the QApplication unless one exists already.
  TQtApplication(int& argc, char** argv);
  ~TQtApplication();
  TQtApplication(const TQtApplication&) = delete;
  TQtApplication& operator=(const TQtApplication&) = delete;

  QApplication* QtApp() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The Qt cursor shape that stands for a framework cursor (as an int: Qt::CursorShape).
int QtCursorShape(TCursor cursor);

}  // namespace pelvar
