// Inserted controls painted into pictures, for printing them: a control that is a Qt
// widget paints itself and its children; any other control object is not painted.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/canvas.h"
#include "platform/classes.h"
#include "richtext/model/RVGraphics.h"

namespace pelvar {

// A new picture of the control's size (TRVControlSize, else the widget's) with the control
// painted at (0, 0); a control of no size gives an empty picture.
std::unique_ptr<TBitmap> DrawControlToBitmap(TObject* control);
// Paints the control with its top left corner at (x, y) of canvas.
void DrawControl(TObject* control, TCanvas& canvas, int32_t x, int32_t y);

}  // namespace pelvar
