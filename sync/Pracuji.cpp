#include "sync/Pracuji.h"

#include <algorithm>

#include "platform/codepage.h"
#include "platform/screen.h"

namespace pelvar {

namespace {
TPracujiViewFactory& Factory() {
  static TPracujiViewFactory factory;
  return factory;
}
}  // namespace

TPracujiViewFactory SetPracujiViewFactory(TPracujiViewFactory factory) {
  TPracujiViewFactory previous = std::move(Factory());
  Factory() = std::move(factory);
  return previous;
}

void TPracujiControl::Refresh() { form_->Refresh(); }

void TPracujiProgressBar::SetMax(int32_t v) {
  max_ = std::max<int32_t>(v, 0);
  position_ = std::clamp(position_, 0, max_);
}

void TPracujiProgressBar::SetPosition(int32_t v) { position_ = std::clamp(v, 0, max_); }

void TPracujiProgressBar::StepIt() {
  // 64-bit so that a huge step cannot overflow.
  const int64_t next = static_cast<int64_t>(position_) + step_;
  position_ = next > max_ || next < 0 ? 0 : static_cast<int32_t>(next);
}

TPracujiForm::TPracujiForm(TComponent* owner, TKind kind, int32_t client_width,
                           int32_t client_height)
    : TComponent(owner),
      kind_(kind),
      client_width_(client_width),
      client_height_(client_height),
      label_info_(this, CZ("Fáze"), 125) {}

TPracujiForm::~TPracujiForm() {
  if (visible_) Screen()->SetCursor(crDefault);
}

AnsiString TPracujiForm::WorkingText() { return CZ("Moment prosím, pracuji..."); }

void TPracujiForm::MakeView() {
  if (Factory()) view_ = Factory()(*this);
}

void TPracujiForm::Show() {
  visible_ = true;
  Screen()->SetCursor(crHourGlass);
  Refresh();
}

void TPracujiForm::Hide() {
  const bool was_visible = visible_;
  visible_ = false;
  if (was_visible) Screen()->SetCursor(crDefault);
  Refresh();
}

void TPracujiForm::Refresh() {
  ++revision_;
  if (view_) view_->Update(*this);
}

TfrmPracuji::TfrmPracuji(TComponent* owner)
    : TPracujiForm(owner, TKind::Plain, 199, 163),
      panel_status_(this),
      status_bar_(this),
      progress_bar_(this) {
  MakeView();
}

TfrmPracujiMemo::TfrmPracujiMemo(TComponent* owner)
    : TPracujiForm(owner, TKind::Memo, 201, 243), memo_(this) {
  MakeView();
}

TPracujiSnapshot SnapshotOf(const TPracujiForm& form) {
  TPracujiSnapshot s;
  s.Kind = form.Kind();
  s.Visible = form.Visible();
  s.Left = form.Left();
  s.Top = form.Top();
  s.LabelInfo = form.LabelInfo().Caption();
  s.LabelInfoTop = form.LabelInfo().Top();
  if (const auto* plain = dynamic_cast<const TfrmPracuji*>(&form)) {
    s.StatusBarVisible = plain->StatusBarPracuji().Visible();
    s.StatusText = plain->StatusBarPracuji().SimpleText();
    s.ProgressBarVisible = plain->ProgressBarPracuji().Visible();
    s.ProgressMax = plain->ProgressBarPracuji().Max();
    s.ProgressPosition = plain->ProgressBarPracuji().Position();
  } else if (const auto* memo = dynamic_cast<const TfrmPracujiMemo*>(&form)) {
    s.MemoLineCount = memo->MemoPracuji().Lines().size();
    if (s.MemoLineCount) s.LastMemoLine = memo->MemoPracuji().Lines().back();
  }
  return s;
}

namespace {
class RecordingView : public TPracujiView {
 public:
  explicit RecordingView(std::shared_ptr<std::vector<TPracujiSnapshot>> updates)
      : updates_(std::move(updates)) {}
  void Update(const TPracujiForm& form) override { updates_->push_back(SnapshotOf(form)); }

 private:
  std::shared_ptr<std::vector<TPracujiSnapshot>> updates_;
};
}  // namespace

TRecordingPracujiView::TRecordingPracujiView()
    : updates_(std::make_shared<std::vector<TPracujiSnapshot>>()) {
  auto updates = updates_;
  previous_ = SetPracujiViewFactory([updates](const TPracujiForm&) -> std::unique_ptr<TPracujiView> {
    return std::make_unique<RecordingView>(updates);
  });
}

TRecordingPracujiView::~TRecordingPracujiView() { SetPracujiViewFactory(std::move(previous_)); }

bool TRecordingPracujiView::ShowedStatus(const AnsiString& text) const {
  return std::any_of(updates_->begin(), updates_->end(),
                     [&](const TPracujiSnapshot& s) { return s.StatusText == text; });
}

}  // namespace pelvar
