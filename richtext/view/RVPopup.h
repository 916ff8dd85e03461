// The look and behaviour of the smart-popup button a viewer shows next to an item: its
// colours, image, menu, hint, shortcut and kind. Changing a visual property repaints the
// button shown at the time.
#pragma once

#include <QMenu>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>

#include "platform/classes.h"
#include "platform/exceptions.h"
#include "platform/graphics.h"

namespace pelvar {

// A context menu: it pops up by itself on a right click only while AutoPopup is on, and
// PopupComponent tells its handlers over which control it was opened.
class TPopupMenu : public QMenu {
 public:
  using QMenu::QMenu;
  bool AutoPopup = true;
  QWidget* PopupComponent = nullptr;
  // Shows the menu with its top left corner at the screen point.
  void Popup(int32_t x, int32_t y) { popup(QPoint(x, y)); }
};

enum TRVSmartPopupType : uint8_t { rvsptDropDown, rvsptShowDialog, rvsptSimple };
using TShortCut = uint16_t;

class TRVSmartPopupProperties {
 public:
  // The button shown now: told to repaint, and given the hint.
  struct Button {
    std::function<void()> Invalidate;
    std::function<void(const AnsiString&)> SetHint;
  };

  int32_t ImageIndex() const { return image_index_; }
  void SetImageIndex(int32_t v) { image_index_ = v, Changed(); }
  TObject* ImageList() const { return image_list_; }
  void SetImageList(TObject* v) { image_list_ = v, Changed(); }
  TColor Color() const { return color_; }
  void SetColor(TColor v) { color_ = v, Changed(); }
  TColor HoverColor() const { return hover_color_; }
  void SetHoverColor(TColor v) { hover_color_ = v, Changed(); }
  TColor LineColor() const { return line_color_; }
  void SetLineColor(TColor v) { line_color_ = v, Changed(); }
  TColor HoverLineColor() const { return hover_line_color_; }
  void SetHoverLineColor(TColor v) { hover_line_color_ = v, Changed(); }
  const AnsiString& Hint() const { return hint_; }
  void SetHint(const AnsiString& v) {
    hint_ = v;
    if (button_ && button_->SetHint) button_->SetHint(v);
  }
  bool IsHintStored() const { return !hint_.empty(); }
  QPointer<TPopupMenu> Menu;
  TShortCut ShortCut = 24616;  // Ctrl+Shift+Down
  TRVSmartPopupType ButtonType = rvsptDropDown;

  void SetButton(Button* button) { button_ = button; }
  Button* GetButton() const { return button_; }

  void Assign(const TRVSmartPopupProperties& source) {
    image_list_ = source.image_list_;
    image_index_ = source.image_index_;
    color_ = source.color_;
    hover_color_ = source.hover_color_;
    line_color_ = source.line_color_;
    hover_line_color_ = source.hover_line_color_;
    ShortCut = source.ShortCut;
    ButtonType = source.ButtonType;
    hint_ = source.hint_;
    Menu = source.Menu;
  }

 private:
  void Changed() {
    if (button_ && button_->Invalidate) button_->Invalidate();
  }
  int32_t image_index_ = 0;
  TObject* image_list_ = nullptr;
  TColor color_ = clWindow;
  TColor hover_color_ = clInfoBk;
  TColor line_color_ = clHighlight;
  TColor hover_line_color_ = clInfoText;
  AnsiString hint_;
  Button* button_ = nullptr;
};

class TCustomRVFormattedData;
class TCustomRVItemInfo;

// The smart-popup button: a small button next to an item of a document (the item's
// document, its index and the item itself, so that it can be found again after edits). It
// paints with the colours of its properties (the hover colours while the mouse is over
// it) and a click runs OnClick.
class TRVSmartPopupButton : public QWidget {
 public:
  TRVSmartPopupButton(QWidget* parent, TRVSmartPopupProperties* properties);
  ~TRVSmartPopupButton() override;
  TCustomRVFormattedData* RVData = nullptr;
  int32_t ItemNo = -1;
  TCustomRVItemInfo* Item = nullptr;
  TRVSmartPopupProperties* Properties() const { return properties_; }
  bool Hovered() const { return hovered_; }
  std::function<void(TRVSmartPopupButton*)> OnClick;
  void Click();

 protected:
  void paintEvent(QPaintEvent* e) override;
  void enterEvent(QEnterEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;

 private:
  TRVSmartPopupProperties* properties_;
  TRVSmartPopupProperties::Button link_;
  bool hovered_ = false;
};

}  // namespace pelvar
