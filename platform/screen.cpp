#include "platform/screen.h"

namespace pelvar {

void TScreen::SetCursor(TCursor cursor) {
  if (cursor == cursor_) return;
  cursor_ = cursor;
  if (handler_) handler_(cursor);
}

TScreen::TCursorHandler TScreen::SetCursorHandler(TCursorHandler handler) {
  TCursorHandler previous = std::move(handler_);
  handler_ = std::move(handler);
  return previous;
}

TScreen& TScreen::Instance() {
  static TScreen* screen = new TScreen;  // used until exit
  return *screen;
}

TScreen* Screen() { return &TScreen::Instance(); }

}  // namespace pelvar
