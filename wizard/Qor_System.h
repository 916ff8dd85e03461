// The form manager of the product's forms: form placement kept in the registry by
// default, with a default position applied before the stored one, a window that never
// comes back off screen, and optional move prevention.
#pragma once

#include "wizard/FormPlacement.h"

namespace pelvar {

// Where the window goes before the stored placement is applied.
enum TDefaultPosition { dpScreenCenter, dpDesigned, dpTopLeft };
enum TPreventMove { pmNo, pmYes, pmIfMaximized };

class TQorFormManager : public TFormStorage {
 public:
  explicit TQorFormManager(TComponent* owner);

  TDefaultPosition DefaultPosition() const { return default_position_; }
  void SetDefaultPosition(TDefaultPosition v) { default_position_ = v; }
  TPreventMove PreventMove() const { return prevent_move_; }
  void SetPreventMove(TPreventMove v) { prevent_move_ = v; }

  // The default position first (centred on the screen, or the top-left corner), then
  // the stored placement; a top or left outside the screen is then set to 0.
  void RestoreFormPlacement() override;

 protected:
  // With PreventMove (pmYes, or pmIfMaximized while maximised) the sizing borders of
  // the hit test become "nowhere"; everything else as the placement does.
  void AfterWndMessage(TMessage& msg) override;

 private:
  TDefaultPosition default_position_ = dpScreenCenter;
  TPreventMove prevent_move_ = pmNo;
};

}  // namespace pelvar
