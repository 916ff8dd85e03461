// The screen object: the application-wide mouse cursor.
//
// Library code sets `Screen()->SetCursor(crSQLWait)` around busy sections; the Qt
// implementation (platform/qt/) turns the value into an override cursor. Headless, the
// value is only kept.
#pragma once

#include <cstdint>
#include <functional>

namespace pelvar {

using TCursor = int16_t;

constexpr TCursor crDefault = 0;
constexpr TCursor crNone = -1;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crIBeam = -4;
constexpr TCursor crSizeNESW = -6;
constexpr TCursor crSizeNS = -7;
constexpr TCursor crSizeNWSE = -8;
constexpr TCursor crSizeWE = -9;
constexpr TCursor crUpArrow = -10;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crDrag = -12;
constexpr TCursor crNoDrop = -13;
constexpr TCursor crHSplit = -14;
constexpr TCursor crVSplit = -15;
constexpr TCursor crMultiDrag = -16;
constexpr TCursor crSQLWait = -17;
constexpr TCursor crNo = -18;
constexpr TCursor crAppStart = -19;
constexpr TCursor crHelp = -20;
constexpr TCursor crHandPoint = -21;
constexpr TCursor crSizeAll = -22;
constexpr TCursor crSize = -22;

class TScreen {
 public:
  TCursor Cursor() const { return cursor_; }
  // Changes the cursor of the whole application; crDefault gives every window its
  // own cursor back.
  void SetCursor(TCursor cursor);

  // What shows the cursor (the Qt implementation); called on every change. Returns
  // the previous one.
  using TCursorHandler = std::function<void(TCursor)>;
  TCursorHandler SetCursorHandler(TCursorHandler handler);

  static TScreen& Instance();

 private:
  TCursor cursor_ = crDefault;
  TCursorHandler handler_;
};

TScreen* Screen();

}  // namespace pelvar
