// The two small "working..." windows that the data module owns and the wizard uses for
// its long steps: TfrmPracuji (a caption, and at the bottom a status bar or a progress
// bar) and TfrmPracujiMemo (a caption and a memo of the server's output).
//
// The windows' state and behaviour live here, headless. A view shows a window: it is
// told of the window's state whenever the window is shown, hidden, refreshed or
// repainted (not on every change of a control, the way a real window paints only when
// asked). The program installs the Qt views; tests install a TRecordingPracujiView;
// without either, the windows have no view.
//
// While a window is visible the whole screen shows the hour-glass cursor.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/classes.h"
#include "platform/types.h"

namespace pelvar {

class TPracujiForm;

// A control of a progress window: its changes reach the view when it (or its window)
// is refreshed or repainted.
class TPracujiControl {
 public:
  explicit TPracujiControl(TPracujiForm* form) : form_(form) {}
  void Refresh();
  void Repaint() { Refresh(); }

 protected:
  TPracujiForm* form_;
};

class TPracujiLabel : public TPracujiControl {
 public:
  TPracujiLabel(TPracujiForm* form, AnsiString caption, int32_t top)
      : TPracujiControl(form), caption_(std::move(caption)), top_(top) {}
  const AnsiString& Caption() const { return caption_; }
  void SetCaption(const AnsiString& v) { caption_ = v; }
  int32_t Top() const { return top_; }
  void SetTop(int32_t v) { top_ = v; }

 private:
  AnsiString caption_;
  int32_t top_;
};

// The teal panel at the bottom of TfrmPracuji that holds the status and progress bars.
class TPracujiPanel : public TPracujiControl {
 public:
  using TPracujiControl::TPracujiControl;
  int32_t Height() const { return height_; }
  void SetHeight(int32_t v) { height_ = v; }

 private:
  int32_t height_ = 19;
};

// A status bar with one simple panel.
class TPracujiStatusBar : public TPracujiControl {
 public:
  using TPracujiControl::TPracujiControl;
  bool Visible() const { return visible_; }
  void SetVisible(bool v) { visible_ = v; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v) { enabled_ = v; }
  const AnsiString& SimpleText() const { return simple_text_; }
  void SetSimpleText(const AnsiString& v) { simple_text_ = v; }

 private:
  bool visible_ = false;
  bool enabled_ = true;
  AnsiString simple_text_;
};

// A smooth progress bar from 0 to Max.
class TPracujiProgressBar : public TPracujiControl {
 public:
  using TPracujiControl::TPracujiControl;
  bool Visible() const { return visible_; }
  void SetVisible(bool v) { visible_ = v; }
  int32_t Height() const { return height_; }
  void SetHeight(int32_t v) { height_ = v; }
  int32_t Max() const { return max_; }
  // Keeps the position within 0 .. Max.
  void SetMax(int32_t v);
  int32_t Step() const { return step_; }
  void SetStep(int32_t v) { step_ = v; }
  int32_t Position() const { return position_; }
  // Clamped to 0 .. Max.
  void SetPosition(int32_t v);
  // Advances the position by Step; past Max it starts again from 0 (the way the
  // framework's bar wraps).
  void StepIt();

 private:
  bool visible_ = false;
  int32_t height_ = 0;
  int32_t max_ = 100;
  int32_t step_ = 10;
  int32_t position_ = 0;
};

// A memo: lines of text, newest last.
class TPracujiMemo : public TPracujiControl {
 public:
  using TPracujiControl::TPracujiControl;
  const std::vector<AnsiString>& Lines() const { return lines_; }
  void Clear() { lines_.clear(); }
  void Append(const AnsiString& line) { lines_.push_back(line); }

 private:
  std::vector<AnsiString> lines_;
};

// Shows a progress window's state: told when the window is shown, hidden, refreshed or
// repainted.
class TPracujiView {
 public:
  virtual ~TPracujiView() = default;
  virtual void Update(const TPracujiForm& form) = 0;
};

// Makes the view of a new window.
using TPracujiViewFactory = std::function<std::unique_ptr<TPracujiView>(const TPracujiForm& form)>;
// Installs a factory (empty: windows without a view) and returns the previous one.
TPracujiViewFactory SetPracujiViewFactory(TPracujiViewFactory factory);

// What both windows share: a borderless, always-on-top, translucent window with a
// picture, the bold text "Moment prosím, pracuji..." and the label of the current phase.
class TPracujiForm : public TComponent {
 public:
  enum class TKind { Plain, Memo };

  ~TPracujiForm() override;

  TKind Kind() const { return kind_; }
  int32_t Left() const { return left_; }
  int32_t Top() const { return top_; }
  void SetLeft(int32_t v) { left_ = v; }
  void SetTop(int32_t v) { top_ = v; }
  int32_t ClientWidth() const { return client_width_; }
  int32_t ClientHeight() const { return client_height_; }
  uint8_t AlphaBlendValue() const { return 220; }
  // The fixed text above the phase label.
  static AnsiString WorkingText();

  // The caption of the current phase ("Fáze" until set).
  TPracujiLabel& LabelInfo() { return label_info_; }
  const TPracujiLabel& LabelInfo() const { return label_info_; }

  bool Visible() const { return visible_; }
  // Shows the window (the hour-glass cursor for the whole screen) and tells the view.
  void Show();
  // Hides it (the default cursor again) and tells the view.
  void Hide();
  // Tells the view the current state.
  void Refresh();
  void Repaint() { Refresh(); }

  // How often the view was told (for tests and for the views themselves).
  uint64_t Revision() const { return revision_; }

 protected:
  TPracujiForm(TComponent* owner, TKind kind, int32_t client_width, int32_t client_height);
  // Makes the view; called by the derived constructor once the controls exist.
  void MakeView();

 private:
  TKind kind_;
  int32_t left_ = 0;
  int32_t top_ = 0;
  int32_t client_width_;
  int32_t client_height_;
  bool visible_ = false;
  uint64_t revision_ = 0;
  TPracujiLabel label_info_;
  std::unique_ptr<TPracujiView> view_;
};

// Client area 199 x 163; the phase label at top 125; the status bar and the progress bar
// (both hidden at first, the bar 0 high) in the teal panel (19 high) at the bottom.
class TfrmPracuji : public TPracujiForm {
 public:
  explicit TfrmPracuji(TComponent* owner);

  TPracujiPanel& PanelStatus() { return panel_status_; }
  const TPracujiPanel& PanelStatus() const { return panel_status_; }
  TPracujiStatusBar& StatusBarPracuji() { return status_bar_; }
  const TPracujiStatusBar& StatusBarPracuji() const { return status_bar_; }
  TPracujiProgressBar& ProgressBarPracuji() { return progress_bar_; }
  const TPracujiProgressBar& ProgressBarPracuji() const { return progress_bar_; }

 private:
  TPracujiPanel panel_status_;
  TPracujiStatusBar status_bar_;
  TPracujiProgressBar progress_bar_;
};

// Client area 201 x 243; the memo (139 high, teal with white text, a vertical scroll
// bar, no word wrap) at the bottom.
class TfrmPracujiMemo : public TPracujiForm {
 public:
  explicit TfrmPracujiMemo(TComponent* owner);

  TPracujiMemo& MemoPracuji() { return memo_; }
  const TPracujiMemo& MemoPracuji() const { return memo_; }

 private:
  TPracujiMemo memo_;
};

// What a view was told at one update.
struct TPracujiSnapshot {
  TPracujiForm::TKind Kind = TPracujiForm::TKind::Plain;
  bool Visible = false;
  int32_t Left = 0;
  int32_t Top = 0;
  AnsiString LabelInfo;
  int32_t LabelInfoTop = 0;
  bool StatusBarVisible = false;
  AnsiString StatusText;
  bool ProgressBarVisible = false;
  int32_t ProgressMax = 0;
  int32_t ProgressPosition = 0;
  size_t MemoLineCount = 0;
  AnsiString LastMemoLine;
};
TPracujiSnapshot SnapshotOf(const TPracujiForm& form);

// A view for tests, installed (as the factory) for its lifetime: keeps every update of
// every window made meanwhile.
class TRecordingPracujiView {
 public:
  TRecordingPracujiView();
  ~TRecordingPracujiView();
  TRecordingPracujiView(const TRecordingPracujiView&) = delete;
  TRecordingPracujiView& operator=(const TRecordingPracujiView&) = delete;

  const std::vector<TPracujiSnapshot>& Updates() const { return *updates_; }
  void Clear() { updates_->clear(); }
  // True when some update showed a status text equal to text.
  bool ShowedStatus(const AnsiString& text) const;

 private:
  std::shared_ptr<std::vector<TPracujiSnapshot>> updates_;
  TPracujiViewFactory previous_;
};

}  // namespace pelvar
