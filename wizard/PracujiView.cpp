#include "wizard/PracujiView.h"

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QFileDialog>
#include <QFont>
#include <QLabel>
#include <QPalette>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QWidget>

#include "platform/qt/qt_strings.h"
#include "wizard/ShellUtils.h"

namespace pelvar {

namespace {

const QColor kTeal(0, 128, 128);

QLabel* BoldLabel(QWidget* parent, const QString& text) {
  auto* label = new QLabel(text, parent);
  QFont f = label->font();
  f.setBold(true);
  label->setFont(f);
  label->setAlignment(Qt::AlignCenter);
  return label;
}

class PracujiWindow : public TPracujiView {
 public:
  explicit PracujiWindow(const TPracujiForm& form)
      : window_(std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                                        Qt::Tool)) {
    window_->setObjectName(form.Kind() == TPracujiForm::TKind::Memo ? "frmPracujiMemo" : "frmPracuji");
    window_->setFixedSize(form.ClientWidth(), form.ClientHeight());
    window_->setWindowOpacity(form.AlphaBlendValue() / 255.0);
    window_->setAutoFillBackground(true);
    working_ = BoldLabel(window_.get(), AnsiToQString(TPracujiForm::WorkingText()));
    working_->setObjectName("LabelPracuji");
    working_->setGeometry(0, 20, form.ClientWidth(), 20);
    info_ = BoldLabel(window_.get(), QString());
    info_->setObjectName("LabelInfo");
    if (form.Kind() == TPracujiForm::TKind::Memo) {
      memo_ = new QPlainTextEdit(window_.get());
      memo_->setObjectName("MemoPracuji");
      memo_->setReadOnly(true);
      memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
      memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
      QPalette p = memo_->palette();
      p.setColor(QPalette::Base, kTeal);
      p.setColor(QPalette::Text, Qt::white);
      memo_->setPalette(p);
      memo_->setGeometry(0, form.ClientHeight() - 139, form.ClientWidth(), 139);
    } else {
      panel_ = new QWidget(window_.get());
      panel_->setObjectName("PanelStatus");
      panel_->setAutoFillBackground(true);
      QPalette p = panel_->palette();
      p.setColor(QPalette::Window, kTeal);
      panel_->setPalette(p);
      status_ = new QLabel(panel_);
      status_->setObjectName("StatusBarPracuji");
      bar_ = new QProgressBar(panel_);
      bar_->setObjectName("ProgressBarPracuji");
      bar_->setTextVisible(false);
    }
    Update(form);
  }

  void Update(const TPracujiForm& form) override {
    window_->move(form.Left(), form.Top());
    info_->setText(AnsiToQString(form.LabelInfo().Caption()));
    info_->setGeometry(0, form.LabelInfo().Top(), form.ClientWidth(), 18);
    if (const auto* plain = dynamic_cast<const TfrmPracuji*>(&form)) {
      const int panel_height = plain->PanelStatus().Height();
      panel_->setGeometry(0, form.ClientHeight() - panel_height, form.ClientWidth(), panel_height);
      const TPracujiStatusBar& sb = plain->StatusBarPracuji();
      status_->setText(AnsiToQString(sb.SimpleText()));
      status_->setEnabled(sb.Enabled());
      status_->setVisible(sb.Visible());
      status_->setGeometry(2, 0, form.ClientWidth() - 4, std::min(panel_height, 19));
      const TPracujiProgressBar& pb = plain->ProgressBarPracuji();
      bar_->setRange(0, std::max(pb.Max(), 0));
      bar_->setValue(pb.Position());
      bar_->setVisible(pb.Visible() && pb.Height() > 0);
      bar_->setGeometry(2, panel_height - pb.Height() - 1, form.ClientWidth() - 4, pb.Height());
    } else if (const auto* memo = dynamic_cast<const TfrmPracujiMemo*>(&form)) {
      const auto& lines = memo->MemoPracuji().Lines();
      if (lines.size() < shown_lines_) {
        memo_->clear();
        shown_lines_ = 0;
      }
      for (; shown_lines_ < lines.size(); ++shown_lines_)
        memo_->appendPlainText(AnsiToQString(lines[shown_lines_]));
    }
    if (form.Visible() != window_->isVisible()) window_->setVisible(form.Visible());
    if (form.Visible()) window_->repaint();
  }

  QWidget* Window() const { return window_.get(); }

 private:
  std::unique_ptr<QWidget> window_;
  QLabel* working_ = nullptr;
  QLabel* info_ = nullptr;
  QWidget* panel_ = nullptr;
  QLabel* status_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QPlainTextEdit* memo_ = nullptr;
  size_t shown_lines_ = 0;
};

// "Description|*.ext|..." as Qt's "Description (*.ext);;...".
QString QtFilter(const AnsiString& filter) {
  QStringList parts;
  int32_t n = 1;
  for (;;) {
    const AnsiString text = GetToken(filter, "|", n);
    const AnsiString mask = GetToken(filter, "|", n + 1);
    if (text.empty()) break;
    QString description = AnsiToQString(text);
    const int paren = description.indexOf('(');
    if (paren > 0) description = description.left(paren).trimmed();
    parts << description + " (" + AnsiToQString(mask).replace(';', ' ') + ")";
    n += 2;
  }
  return parts.join(";;");
}

}  // namespace

std::unique_ptr<TPracujiView> QtMakePracujiView(const TPracujiForm& form) {
  return std::make_unique<PracujiWindow>(form);
}

QWidget* QtPracujiWindow(TPracujiView* view) {
  auto* w = dynamic_cast<PracujiWindow*>(view);
  return w ? w->Window() : nullptr;
}

bool QtShowOpenDialog(TOpenDialog& dialog) {
  QFileDialog box(nullptr, AnsiToQString(dialog.Title));
  box.setFileMode(QFileDialog::ExistingFile);
  box.setAcceptMode(QFileDialog::AcceptOpen);
  box.setNameFilter(QtFilter(dialog.Filter));
  box.setDefaultSuffix(AnsiToQString(dialog.DefaultExt));
  if (!dialog.InitialDir.empty()) box.setDirectory(AnsiToQString(dialog.InitialDir));
  if (!dialog.FileName.empty()) box.selectFile(AnsiToQString(dialog.FileName));
  if (box.exec() != QDialog::Accepted || box.selectedFiles().isEmpty()) return false;
  dialog.FileName = QStringToAnsi(box.selectedFiles().first());
  return true;
}

bool QtChooseFolder(const TFolderBrowseRequest& request, AnsiString& chosen) {
  // Owned by the active window (the wizard's main form), so that it stays above it.
  QFileDialog box(QApplication::activeWindow(), AnsiToQString(request.Caption.empty() ? request.Title : request.Caption));
  box.setFileMode(QFileDialog::Directory);
  box.setOption(QFileDialog::ShowDirsOnly, !request.Options.Contains(bfIncludeFiles));
  box.setAcceptMode(QFileDialog::AcceptOpen);
  if (!request.Title.empty()) box.setLabelText(QFileDialog::LookIn, AnsiToQString(request.Title));
  // The desktop of the shell is the user's home directory here.
  const QString root = request.Root.empty() ? QDir::homePath() : AnsiToQString(request.Root);
  box.setDirectory(request.Selection.empty() ? root : AnsiToQString(request.Selection));
  if (request.SelChanged)
    QObject::connect(&box, &QFileDialog::currentChanged,
                     [&](const QString& path) { request.SelChanged(QStringToAnsi(QDir::toNativeSeparators(path))); });
  if (request.Center) {
    // Centred on the screen rather than on its owner.
    box.adjustSize();
    QScreen* screen = box.screen() ? box.screen() : QGuiApplication::primaryScreen();
    if (screen) {
      const QRect area = screen->availableGeometry();
      box.move(area.center() - QPoint(box.width() / 2, box.height() / 2));
    }
  }
  if (box.exec() != QDialog::Accepted || box.selectedFiles().isEmpty()) return false;
  chosen = QStringToAnsi(QDir::toNativeSeparators(box.selectedFiles().first()));
  return true;
}

}  // namespace pelvar
