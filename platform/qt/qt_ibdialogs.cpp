#include "platform/qt/qt_ibdialogs.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>
#include <map>

#include "platform/dialogs.h"
#include "platform/qt/qt_strings.h"

namespace pelvar {
namespace {

// A framework colour ($00BBGGRR) as Qt's; system colours (top byte set) are not plain.
QColor ToQColor(int32_t color) {
  const auto c = static_cast<uint32_t>(color);
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                static_cast<int>((c >> 16) & 0xFF));
}

bool IsSystemColor(int32_t color) { return (static_cast<uint32_t>(color) & 0xFF000000u) != 0; }

void CentreOnScreen(QWidget* w) {
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect r = w->frameGeometry();
    r.moveCenter(screen->availableGeometry().center());
    w->move(r.topLeft());
  }
}

Qt::WindowFlags DialogFlags(bool always_on_top) {
  Qt::WindowFlags flags = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint;
  if (always_on_top) flags |= Qt::WindowStaysOnTopHint;
  return flags;
}

// --- Login dialog ---------------------------------------------------------------------

class LoginDialog : public QDialog {
 public:
  explicit LoginDialog(const TLoginDialogForm& form)
      : QDialog(nullptr, DialogFlags(form.AlwaysOnTop)) {
    setObjectName("dlgLogin");
    setWindowTitle(AnsiToQString(form.Caption));
    setModal(true);

    auto* bevel = new QFrame(this);
    bevel->setObjectName("Bevel1");
    bevel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto* image = new QLabel(bevel);
    image->setObjectName("Image1");
    image->setFixedSize(form.ImageSize, form.ImageSize);
    image->setAlignment(Qt::AlignCenter);
    image->setScaledContents(true);
    image->setPixmap(style()->standardIcon(QStyle::SP_DriveHDIcon).pixmap(form.ImageSize));
    auto* bevel_layout = new QVBoxLayout(bevel);
    bevel_layout->setContentsMargins(4, 4, 4, 4);
    bevel_layout->addWidget(image);

    auto* grid = new QGridLayout;
    int row = 0;
    auto add_row = [&](const char* label_name, const AnsiString& text, QWidget* field) {
      auto* label = new QLabel(AnsiToQString(text), this);
      label->setObjectName(label_name);
      label->setBuddy(field);
      grid->addWidget(label, row, 0);
      grid->addWidget(field, row, 1);
      ++row;
    };
    database_ = new QLineEdit(AnsiToQString(form.Database), this);
    database_->setObjectName("edDatabase");
    database_->setReadOnly(form.DatabaseReadOnly);
    if (!IsSystemColor(form.DatabaseColor)) {
      QPalette p = database_->palette();
      p.setColor(QPalette::Base, ToQColor(form.DatabaseColor));
      database_->setPalette(p);
    }
    add_row("lbDatabase", form.DatabaseLabel, database_);

    user_ = new QLineEdit(AnsiToQString(form.UserName).toUpper(), this);
    user_->setObjectName("edUserName");
    // The field converts what is typed to upper case.
    connect(user_, &QLineEdit::textEdited, user_, [this](const QString& text) {
      const QString upper = text.toUpper();
      if (upper != text) {
        const int pos = user_->cursorPosition();
        user_->setText(upper);
        user_->setCursorPosition(pos);
      }
    });
    add_row("lbUser", form.UserLabel, user_);

    password_ = new QLineEdit(AnsiToQString(form.Password), this);
    password_->setObjectName("edPassword");
    password_->setEchoMode(QLineEdit::Password);
    password_->setStyleSheet("QLineEdit { lineedit-password-character: 42; }");
    add_row("lbPassword", form.PasswordLabel, password_);

    role_ = new QComboBox(this);
    role_->setObjectName("cbSQLRole");
    role_->setEditable(true);
    for (const AnsiString& r : form.SQLRoles) role_->addItem(AnsiToQString(r));
    role_->setEditText(AnsiToQString(form.SQLRole));
    add_row("lbSQLRole", form.SQLRoleLabel, role_);

    ok_ = new QPushButton(AnsiToQString(form.OKCaption), this);
    ok_->setObjectName("OKBtn");
    ok_->setDefault(true);
    cancel_ = new QPushButton(AnsiToQString(form.CancelCaption), this);
    cancel_->setObjectName("CancelBtn");
    help_ = new QPushButton(AnsiToQString(form.HelpCaption), this);
    help_->setObjectName("HelpBtn");
    help_->setVisible(form.HelpVisible);
    ok_->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    cancel_->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    help_->setIcon(style()->standardIcon(QStyle::SP_DialogHelpButton));
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    buttons->addWidget(help_);
    buttons->addStretch();

    auto* main = new QHBoxLayout(this);
    main->addWidget(bevel, 0, Qt::AlignTop);
    main->addLayout(grid, 1);
    main->addLayout(buttons);
    resize(form.ClientWidth, form.ClientHeight);

    std::map<TLoginControl, QWidget*> controls = {
        {TLoginControl::edDatabase, database_}, {TLoginControl::edUserName, user_},
        {TLoginControl::edPassword, password_}, {TLoginControl::cbSQLRole, role_},
        {TLoginControl::OKBtn, ok_},            {TLoginControl::CancelBtn, cancel_},
        {TLoginControl::HelpBtn, help_}};
    for (size_t i = 1; i < form.TabOrder.size(); ++i) {
      QWidget::setTabOrder(controls[form.TabOrder[i - 1]], controls[form.TabOrder[i]]);
    }
    active_ = controls[form.ActiveControl];
  }

  void TakeBack(TLoginDialogForm& form) const {
    form.Database = QStringToAnsi(database_->text());
    form.UserName = QStringToAnsi(user_->text().toUpper());
    form.Password = QStringToAnsi(password_->text());
    form.SQLRole = QStringToAnsi(role_->currentText());
  }

 protected:
  void showEvent(QShowEvent* e) override {
    QDialog::showEvent(e);
    if (!centred_) {
      centred_ = true;
      CentreOnScreen(this);
    }
    // Comes to the foreground, with the focus as the form says.
    raise();
    activateWindow();
    if (active_ != nullptr) active_->setFocus(Qt::OtherFocusReason);
  }

 private:
  QLineEdit* database_;
  QLineEdit* user_;
  QLineEdit* password_;
  QComboBox* role_;
  QPushButton* ok_;
  QPushButton* cancel_;
  QPushButton* help_;
  QWidget* active_ = nullptr;
  bool centred_ = false;
};

// --- Cancel-query dialog --------------------------------------------------------------------

class CancelQueryDialog : public QDialog {
 public:
  explicit CancelQueryDialog(std::function<void()> on_click)
      : QDialog(nullptr, DialogFlags(true)), on_click_(std::move(on_click)) {
    setObjectName("dlgCancelQuery");
    setModal(false);
    bevel_ = new QFrame(this);
    bevel_->setObjectName("Bevel1");
    bevel_->setFrameStyle(QFrame::Box | QFrame::Sunken);
    fetching_ = new QLabel(bevel_);
    fetching_->setObjectName("lbFetchingMessage");
    fetching_->setAlignment(Qt::AlignCenter);
    row_ = new QLabel(bevel_);
    row_->setObjectName("lbRowNum");
    row_->setAlignment(Qt::AlignCenter);
    auto* bevel_layout = new QVBoxLayout(bevel_);
    bevel_layout->addWidget(fetching_);
    bevel_layout->addWidget(row_);
    button_ = new QPushButton(this);
    button_->setObjectName("CancelBtn");
    button_->setCursor(Qt::ArrowCursor);
    connect(button_, &QPushButton::clicked, this, [this] { Press(); });
    auto* main = new QVBoxLayout(this);
    main->addWidget(bevel_, 1);
    main->addWidget(button_, 0, Qt::AlignHCenter);
  }

  void Apply(const TCancelQueryForm& form) {
    setWindowTitle(AnsiToQString(form.Caption));
    QFont f1 = fetching_->font();
    f1.setPixelSize(form.FetchingMessageFontHeight);
    fetching_->setFont(f1);
    fetching_->setText(AnsiToQString(form.FetchingMessage));
    QFont f2 = row_->font();
    f2.setPixelSize(form.RowNumFontHeight);
    row_->setFont(f2);
    row_->setText(AnsiToQString(form.RowNum));
    button_->setText(AnsiToQString(form.CancelCaption));
    if (!sized_) {
      sized_ = true;
      resize(form.ClientWidth, form.ClientHeight);
      setWindowFlags(DialogFlags(form.AlwaysOnTop));
    }
    Qt::WindowStates state = windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
    if (form.WindowState == TCancelQueryWindowState::Minimized) state |= Qt::WindowMinimized;
    if (form.WindowState == TCancelQueryWindowState::Maximized) state |= Qt::WindowMaximized;
    setWindowState(state);
    if (form.Visible && !isVisible()) {
      show();
      if (!centred_) {
        centred_ = true;
        CentreOnScreen(this);
      }
    } else if (!form.Visible && isVisible()) {
      hide();
    }
  }

  // Escape and the window's close button press the button, as the button is the
  // dialog's cancel button; the window itself stays as the dialog's model says.
  void reject() override { Press(); }

 protected:
  void closeEvent(QCloseEvent* e) override {
    e->ignore();
    Press();
  }

 private:
  void Press() {
    if (on_click_) on_click_();
  }

  std::function<void()> on_click_;
  QFrame* bevel_;
  QLabel* fetching_;
  QLabel* row_;
  QPushButton* button_;
  bool sized_ = false;
  bool centred_ = false;
};

class QtCancelQueryView : public TCancelQueryView {
 public:
  explicit QtCancelQueryView(std::function<void()> on_click)
      : dialog_(std::make_unique<CancelQueryDialog>(std::move(on_click))) {}
  void Update(const TCancelQueryForm& form) override { dialog_->Apply(form); }
  QDialog* Dialog() const { return dialog_.get(); }

 private:
  std::unique_ptr<CancelQueryDialog> dialog_;
};

}  // namespace

int QtShowLoginDialog(TLoginDialogForm& Form) {
  LoginDialog dialog(Form);
  const int result = dialog.exec();
  if (result != QDialog::Accepted) return mrCancel;
  dialog.TakeBack(Form);
  return mrOk;
}

std::unique_ptr<TCancelQueryView> QtMakeCancelQueryView(std::function<void()> OnCancelClick) {
  return std::make_unique<QtCancelQueryView>(std::move(OnCancelClick));
}

QDialog* QtCancelQueryDialog(TCancelQueryView* View) {
  auto* view = dynamic_cast<QtCancelQueryView*>(View);
  return view != nullptr ? view->Dialog() : nullptr;
}

}  // namespace pelvar
