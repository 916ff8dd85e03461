#include "dbclient/IBD_CancelQuery.h"

#include <utility>

#include "dbclient/IB_Constants.h"
#include "platform/application.h"
#include "platform/dialogs.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

TCancelQueryViewFactory& Factory() {
  static TCancelQueryViewFactory factory;
  return factory;
}

}  // namespace

TCancelQueryViewFactory SetCancelQueryViewFactory(TCancelQueryViewFactory factory) {
  return std::exchange(Factory(), std::move(factory));
}

TdlgCancelQuery::TdlgCancelQuery() : alive_(std::make_shared<bool>(true)) {
  form_.FetchingMessage = IB_Message(TIB_Msg::FetchingResults);
  form_.CancelCaption = IB_Message(TIB_Msg::AbortFetch);
  if (Factory()) {
    std::weak_ptr<bool> alive = alive_;
    view_ = Factory()([this, alive] {
      if (auto a = alive.lock(); a && *a) CancelBtnClick();
    });
  }
  Changed();
}

TdlgCancelQuery::~TdlgCancelQuery() {
  *alive_ = false;
  view_.reset();
}

void TdlgCancelQuery::Changed() {
  if (view_) view_->Update(form_);
}

void TdlgCancelQuery::SetCaption(const AnsiString& Value) {
  form_.Caption = Value;
  Changed();
}

void TdlgCancelQuery::SetRowNum(const AnsiString& Value) {
  form_.RowNum = Value;
  Changed();
}

void TdlgCancelQuery::SetRowNumber(int32_t RowNumber) {
  SetRowNum(Format(IB_Message(TIB_Msg::RowNumber), {RowNumber}));
}

void TdlgCancelQuery::SetWindowState(TCancelQueryWindowState Value) {
  form_.WindowState = Value;
  Changed();
}

void TdlgCancelQuery::Show() {
  form_.Visible = true;
  Changed();
}

void TdlgCancelQuery::Hide() {
  form_.Visible = false;
  Changed();
}

void TdlgCancelQuery::CancelBtnClick() {
  if (dataset_ == nullptr) return;
  Hide();
  // The question is modal and pumps messages: the dialog may be freed meanwhile.
  const std::shared_ptr<bool> alive = alive_;
  const int answer =
      MessageDlg(IB_Message(TIB_Msg::ConfirmQuit), mtConfirmation, TMsgDlgButtons{mbOK, mbCancel});
  if (!*alive) return;
  if (answer == mrOk && dataset_ != nullptr) dataset_->AbortFetching();
}

// --- Scripted view ----------------------------------------------------------------------

struct TScriptedCancelQueryView::Impl {
  // Cleared when the scripted view goes first: views of dialogs that outlive it stay
  // harmless.
  std::shared_ptr<TScriptedCancelQueryView*> owner;
  std::unique_ptr<TMessageWindow> window;
};

class TScriptedCancelQueryView::View : public TCancelQueryView {
 public:
  View(std::shared_ptr<TScriptedCancelQueryView*> owner, std::shared_ptr<bool> alive, size_t index)
      : owner_(std::move(owner)), alive_(std::move(alive)), index_(index) {}
  ~View() override { *alive_ = false; }
  void Update(const TCancelQueryForm& form) override {
    TScriptedCancelQueryView* owner = *owner_;
    if (owner == nullptr) return;
    owner->updates_.push_back(form);
    if (form.Visible && owner->press_when_shown_) {
      owner->press_when_shown_ = false;
      PostMessage(owner->impl_->window->Handle(), WM_USER, index_, 0);
    }
  }

 private:
  std::shared_ptr<TScriptedCancelQueryView*> owner_;
  std::shared_ptr<bool> alive_;
  size_t index_;
};

TScriptedCancelQueryView::TScriptedCancelQueryView() : impl_(std::make_unique<Impl>()) {
  impl_->owner = std::make_shared<TScriptedCancelQueryView*>(this);
  impl_->window = std::make_unique<TMessageWindow>([this](TMessage& m) {
    const size_t index = m.WParam;
    if (index < clicks_.size() && !views_alive_[index].expired()) clicks_[index]();
  });
  previous_ = SetCancelQueryViewFactory([this](std::function<void()> on_click) {
    auto alive = std::make_shared<bool>(true);
    const size_t index = clicks_.size();
    clicks_.push_back(std::move(on_click));
    views_alive_.push_back(alive);
    return std::make_unique<View>(impl_->owner, std::move(alive), index);
  });
}

TScriptedCancelQueryView::~TScriptedCancelQueryView() {
  SetCancelQueryViewFactory(std::move(previous_));
  *impl_->owner = nullptr;
}

bool TScriptedCancelQueryView::Press() {
  for (size_t i = clicks_.size(); i-- > 0;) {
    if (!views_alive_[i].expired()) {
      clicks_[i]();
      return true;
    }
  }
  return false;
}

}  // namespace pelvar
