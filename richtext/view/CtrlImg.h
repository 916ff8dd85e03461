// Inserted controls painted into pictures, for printing them: a control that is a Qt
// widget paints itself and its children; any other control object is not painted. And the
// windowing of control items whose controls are Qt widgets: they live in the viewer's
// window at their item's place.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/canvas.h"
#include "platform/classes.h"
#include "richtext/model/RVGraphics.h"

class QWidget;

namespace pelvar {

// A new picture of the control's size (TRVControlSize, else the widget's) with the control
// painted at (0, 0); a control of no size gives an empty picture.
std::unique_ptr<TBitmap> DrawControlToBitmap(TObject* control);
// Paints the control with its top left corner at (x, y) of canvas.
void DrawControl(TObject* control, TCanvas& canvas, int32_t x, int32_t y);

// The window a viewer's document gives its controls as parent (GetParentControl).
class TRVWidgetParent : public TObject {
 public:
  explicit TRVWidgetParent(QWidget* widget) : Widget(widget) {}
  QWidget* Widget;
};

// Installs (once) the windowing of control items for controls that are widgets: parented
// to the viewer (its scroll bars stay above them), placed and shown by their items.
void RVInstallWidgetControlWindowing();

}  // namespace pelvar
