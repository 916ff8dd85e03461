#include "wizard/DlgPravaView.h"

#include <QButtonGroup>
#include <QDialog>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "platform/codepage.h"
#include "platform/qt/qt_strings.h"

namespace pelvar {

namespace {

QDialog* g_active = nullptr;

class ActiveWindow {
 public:
  explicit ActiveWindow(QDialog* d) : previous_(g_active) { g_active = d; }
  ~ActiveWindow() { g_active = previous_; }

 private:
  QDialog* previous_;
};

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

QLabel* Bold(const QString& text, QWidget* parent) {
  auto* l = new QLabel(text, parent);
  QFont f = l->font();
  f.setBold(true);
  l->setFont(f);
  return l;
}

}  // namespace

QDialog* QtActiveConflictWindow() { return g_active; }

void QtRunDialogPrava(TFrmDialogPrava& d) {
  QDialog w;
  ActiveWindow active(&w);
  w.setObjectName("FrmDialogPrava");
  w.setWindowTitle(AnsiToQString(TFrmDialogPrava::CaptionText()));
  auto* layout = new QVBoxLayout(&w);
  auto* info = Bold(AnsiToQString(TFrmDialogPrava::InfoText()), &w);
  info->setWordWrap(true);
  QPalette p = info->palette();
  p.setColor(QPalette::WindowText, QColor(128, 0, 0));
  info->setPalette(p);
  layout->addWidget(info);

  auto* group = new QGroupBox(Q("Rozhodnutí o záznamu"), &w);
  auto* grid = new QGridLayout(group);
  grid->addWidget(Bold(Q("Přístupové právo v hlavní databázi:"), group), 0, 0, 1, 5);
  const char* captions[] = {"Název", "Admin", "Poznámka", "Nastavení", "Databáze"};
  auto edits = [&](const TFrmDialogPrava::TRightEdits& r, int row, const char* prefix) {
    const AnsiString values[] = {r.Nazev, r.Admin, r.Pozn, r.Nastav, r.Databaze};
    const char* names[] = {"Nazev", "Admin", "Pozn", "Nastav", "Databaze"};
    std::vector<QLineEdit*> list;
    for (int i = 0; i < 5; ++i) {
      grid->addWidget(new QLabel(Q(captions[i]), group), row, i);
      auto* e = new QLineEdit(AnsiToQString(values[i]), group);
      e->setObjectName(QString("LE") + names[i] + prefix);
      e->setEnabled(false);
      grid->addWidget(e, row + 1, i);
      list.push_back(e);
    }
    return list;
  };
  edits(d.MainRight(), 1, "");
  grid->addWidget(Bold(Q("koliduje s právem ze sehrávané databáze:"), group), 3, 0, 1, 5);
  QLineEdit* station_name = edits(d.StationRight(), 4, "S")[0];
  grid->addWidget(Bold(Q("Vyberte, co se se sehrávaným právem má udělat:"), group), 6, 0, 1, 5);
  auto* radios = new QButtonGroup(&w);
  for (int i = 0; i < 4; ++i) {
    auto* r = new QRadioButton(AnsiToQString(TFrmDialogPrava::OptionText(i)), group);
    r->setObjectName(QString("RadioGroupRozhodni%1").arg(i));
    radios->addButton(r, i);
    grid->addWidget(r, 7 + i, 0, 1, 5);
  }
  layout->addWidget(group);

  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  auto* ok = new QPushButton(Q("OK"), &w);
  ok->setObjectName("BtnOK");
  auto* add = new QPushButton(Q("Přidej"), &w);
  add->setObjectName("BtnPridej");
  auto* choose = new QPushButton(Q("Vyber"), &w);
  choose->setObjectName("BtnVyber");
  for (QPushButton* b : {ok, add, choose}) buttons->addWidget(b);
  layout->addLayout(buttons);

  auto update = [&] {
    radios->button(d.ItemIndex())->setChecked(true);
    station_name->setEnabled(d.StationNameEnabled());
    if (d.StationNameEnabled()) station_name->setFocus();
    ok->setVisible(d.BtnOKVisible());
    ok->setDefault(d.BtnOKVisible());
    add->setVisible(d.BtnPridejVisible());
    choose->setVisible(d.BtnVyberVisible());
  };
  update();
  QObject::connect(radios, &QButtonGroup::idClicked, &w, [&](int id) {
    d.RadioGroupRozhodniClick(id);
    update();
  });
  QObject::connect(station_name, &QLineEdit::textEdited, &w,
                   [&](const QString& text) { d.SetStationName(QStringToAnsi(text)); });
  auto click = [&](void (TFrmDialogPrava::*handler)()) {
    RunDialogAction([&] { (d.*handler)(); });
    if (d.Closed()) w.done(QDialog::Accepted);
  };
  QObject::connect(ok, &QPushButton::clicked, &w, [&] { click(&TFrmDialogPrava::BtnOKClick); });
  QObject::connect(add, &QPushButton::clicked, &w, [&] { click(&TFrmDialogPrava::BtnPridejClick); });
  QObject::connect(choose, &QPushButton::clicked, &w, [&] { click(&TFrmDialogPrava::BtnVyberClick); });
  if (w.exec() != QDialog::Accepted && !d.Closed()) d.CloseBox();
}

void QtRunVyberId(TFrmVyberId& v) {
  QDialog w;
  ActiveWindow active(&w);
  w.setObjectName("FrmVyberId");
  w.setWindowTitle(AnsiToQString(v.Caption()));
  auto* layout = new QVBoxLayout(&w);
  auto* group = new QGroupBox(Q("Info"), &w);
  auto* group_layout = new QVBoxLayout(group);
  auto* info = new QLabel(AnsiToQString(v.InfoText()), group);
  info->setObjectName("StaticTextInfo");
  info->setWordWrap(true);
  group_layout->addWidget(info);
  layout->addWidget(group);

  auto* grid = new QTableWidget(&w);
  grid->setObjectName("DBGridLines");
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  TDataSet* lines = v.Lines();
  if (lines != nullptr && lines->Active()) {
    grid->setColumnCount(lines->FieldCount());
    QStringList headers;
    for (int32_t c = 0; c < lines->FieldCount(); ++c) headers << AnsiToQString(lines->Fields(c)->FieldName());
    grid->setHorizontalHeaderLabels(headers);
    int row = 0;
    for (lines->First(); !lines->Eof(); lines->Next(), ++row) {
      grid->setRowCount(row + 1);
      for (int32_t c = 0; c < lines->FieldCount(); ++c)
        grid->setItem(row, c, new QTableWidgetItem(AnsiToQString(lines->Fields(c)->AsString())));
    }
    lines->First();
    if (row > 0) grid->selectRow(0);
  }
  layout->addWidget(grid);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  auto* cancel = new QPushButton(Q("Zpět"), &w);
  cancel->setObjectName("ButtonCancel");
  auto* ok = new QPushButton(Q("&OK"), &w);
  ok->setObjectName("ButtonOK");
  ok->setDefault(true);
  buttons->addWidget(cancel);
  buttons->addWidget(ok);
  layout->addLayout(buttons);

  auto take = [&] {
    // The grid's current row becomes the dataset's current row.
    if (lines != nullptr && lines->Active()) {
      lines->First();
      const int row = grid->currentRow();
      if (row > 0) lines->MoveBy(row);
    }
    v.ButtonOKClick();
    w.done(QDialog::Accepted);
  };
  QObject::connect(ok, &QPushButton::clicked, &w, take);
  QObject::connect(grid, &QTableWidget::cellDoubleClicked, &w, [&](int, int) { take(); });
  QObject::connect(cancel, &QPushButton::clicked, &w, [&] {
    v.ButtonCancelClick();
    w.done(QDialog::Rejected);
  });
  if (w.exec() != QDialog::Accepted && !v.Closed()) v.ButtonCancelClick();
}

}  // namespace pelvar
