#include "platform/qt/qt_dialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <map>

#include "platform/codepage.h"
#include "platform/qt/qt_strings.h"

namespace pelvar {
namespace {

QMessageBox::Icon IconOf(TMsgDlgType type) {
  switch (type) {
    case mtWarning: return QMessageBox::Warning;
    case mtError: return QMessageBox::Critical;
    case mtInformation: return QMessageBox::Information;
    case mtConfirmation: return QMessageBox::Question;
    case mtCustom: break;
  }
  return QMessageBox::NoIcon;
}

// The caption with its keyboard accelerator, as the Czech framework has them.
QString ButtonText(const TDialogButton& b) {
  QString text = AnsiToQString(b.Caption);
  switch (b.Result) {
    case mrYes: case mrNo: case mrAbort: case mrRetry: case mrIgnore: case mrAll:
      return "&" + text;
    case mrNoToAll: return QString::fromUtf8("N&e všem");
    case mrYesToAll: return QString::fromUtf8("A&no všem");
    default: return text;
  }
}

}  // namespace

int QtShowDialog(const TDialogRequest& request) {
  QMessageBox box(QApplication::activeWindow());
  box.setWindowTitle(AnsiToQString(request.Caption));
  box.setText(AnsiToQString(request.Text));
  box.setIcon(IconOf(request.Type));
  std::map<QAbstractButton*, int> results;
  for (const TDialogButton& b : request.Buttons) {
    // One role for all keeps the buttons in the framework's order.
    QPushButton* button = box.addButton(ButtonText(b), QMessageBox::ActionRole);
    results[button] = b.Result;
    if (b.Result == request.DefaultResult) box.setDefaultButton(button);
    if (b.Result == request.CancelResult) box.setEscapeButton(button);
  }
  box.exec();
  auto it = results.find(box.clickedButton());
  if (it != results.end()) return it->second;
  return request.CancelResult != mrNone ? request.CancelResult : request.DefaultResult;
}

}  // namespace pelvar
