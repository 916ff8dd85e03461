#include "wizard/MldrMainView.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>
#include <map>

#include "dbclient/ClientLibraryName.h"
#include "platform/codepage.h"
#include "platform/qt/qt_application.h"
#include "platform/qt/qt_ibdialogs.h"
#include "platform/qt/qt_strings.h"
#include "sync/DmMeld.h"
#include "wizard/DlgPravaView.h"
#include "wizard/MakerUnits.h"
#include "wizard/PracujiView.h"

namespace pelvar {

namespace {

QColor ToQColor(TColor color) {
  const auto c = static_cast<uint32_t>(color);
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                static_cast<int>((c >> 16) & 0xFF));
}

// Runs a handler the way the framework runs an event handler: a failure goes to the
// application's exception handler.
void Call(const std::function<void()>& handler) {
  try {
    handler();
  } catch (...) {
    Application()->HandleException(nullptr);
  }
}

class MainWindow : public QWidget {
 public:
  std::function<bool()> on_close;

 protected:
  void closeEvent(QCloseEvent* e) override {
    bool may_close = true;
    if (on_close) Call([&] { may_close = on_close(); });
    if (may_close) {
      e->accept();
    } else {
      e->ignore();
    }
  }
};

class MarkerLabel : public QLabel {
 public:
  using QLabel::QLabel;
  std::function<void()> down, up;

 protected:
  void mousePressEvent(QMouseEvent*) override {
    if (down) Call(down);
  }
  void mouseReleaseEvent(QMouseEvent*) override {
    if (up) Call(up);
  }
};

// Keys and focus of the grid go to the form's grid handlers first.
class GridFilter : public QObject {
 public:
  std::function<bool(int key, bool shift)> key;
  std::function<void(bool in)> focus;

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (e->type() == QEvent::KeyPress && key) {
      auto* k = static_cast<QKeyEvent*>(e);
      if (k->key() == Qt::Key_Up || k->key() == Qt::Key_Down) {
        bool handled = false;
        Call([&] { handled = key(k->key(), (k->modifiers() & Qt::ShiftModifier) != 0); });
        if (handled) return true;
      }
    } else if ((e->type() == QEvent::FocusIn || e->type() == QEvent::FocusOut) && focus) {
      Call([&] { focus(e->type() == QEvent::FocusIn); });
    }
    return QObject::eventFilter(watched, e);
  }
};

QLabel* MakeLabel(QWidget* parent, const QString& text, QRect where, bool bold = false,
                  bool wrap = false) {
  auto* l = new QLabel(text, parent);
  l->setGeometry(where);
  l->setWordWrap(wrap);
  if (bold) {
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
  }
  return l;
}

}  // namespace

struct TMldrMainQtView::Impl {
  explicit Impl(TFrmMldrMain& f) : form(f) {}

  TFrmMldrMain& form;
  std::unique_ptr<MainWindow> window;
  QStackedWidget* notebook = nullptr;
  std::map<const TButtonModel*, QPushButton*> buttons;
  std::map<TCheckBoxModel*, QCheckBox*> boxes;
  std::array<QLabel*, 5> steps{};
  std::array<const TLabelModel*, 5> step_models{};
  std::array<MarkerLabel*, 6> markers{};
  QWidget* pnl_left = nullptr;
  QLineEdit* le_time = nullptr;
  QLabel* le_time_label = nullptr;
  QTableWidget* grid = nullptr;
  QPushButton* btn_folder = nullptr;
  GridFilter* grid_filter = nullptr;
  QLabel* label11 = nullptr;
  QLabel* l_count = nullptr;
  QLabel* label10 = nullptr;
  QLabel* journal = nullptr;
  QLabel* done = nullptr;
  QLabel* left_out = nullptr;
  QLineEdit* me_dny = nullptr;
  QLabel* dni = nullptr;
  QLabel* finish_ident = nullptr;
  QLabel* finish_step = nullptr;
  QProgressBar* finish_bar = nullptr;
  QProgressBar* bar = nullptr;
  QProgressBar* bar2 = nullptr;
  QLabel* l_action = nullptr;
  QProgressBar* animate1 = nullptr;
  std::array<QLabel*, 7> results{};

  QPushButton* Button(QWidget* parent, const char* name, const TButtonModel& model, QRect where,
                      std::function<void()> click) {
    auto* b = new QPushButton(AnsiToQString(model.Caption), parent);
    b->setObjectName(name);
    b->setGeometry(where);
    QObject::connect(b, &QPushButton::clicked, [click] { Call(click); });
    buttons[&model] = b;
    return b;
  }

  QCheckBox* Box(QWidget* parent, const char* name, TCheckBoxModel& model, QRect where) {
    auto* c = new QCheckBox(AnsiToQString(model.Caption), parent);
    c->setObjectName(name);
    c->setGeometry(where);
    QObject::connect(c, &QCheckBox::clicked, [this, &model] {
      Call([&] { form.ClickCheckBox(model); });
      form.Changed();
    });
    boxes[&model] = c;
    return c;
  }

  void Build();
  void BuildFirstPage(QWidget* page);
  void BuildGroupsPage(QWidget* page);
};

void TMldrMainQtView::Impl::Build() {
  window = std::make_unique<MainWindow>();
  window->setObjectName("FrmMldrMain");
  window->setWindowTitle(AnsiToQString(CZ("Průvodce sehráváním dat programu Pelvar")));
  window->setFixedSize(560, 420);
  window->on_close = [this] { return form.CloseRequested(); };

  // The left panel: the steps and their markers.
  pnl_left = new QWidget(window.get());
  pnl_left->setObjectName("PnlLeft");
  pnl_left->setGeometry(0, 0, 130, 370);
  pnl_left->setAutoFillBackground(true);
  const char* step_names[] = {"LaPriprava", "LaNastaveni", "LaMeld", "LaVysledky", "LaDokonceni"};
  const TLabelModel* models[] = {&form.LaPriprava, &form.LaNastaveni, &form.LaMeld, &form.LaVysledky,
                                 &form.LaDokonceni};
  for (int i = 0; i < 6; ++i) {
    auto* m = new MarkerLabel(pnl_left);
    m->setObjectName(QString("P%1").arg(i + 1));
    m->setGeometry(12, 40 + i * 40, 14, 14);
    m->setAutoFillBackground(true);
    if (i < 5) {
      m->down = [this, i] { form.PMouseDown(i); };
      m->up = [this, i] { form.PMouseUp(i); };
      steps[i] = MakeLabel(pnl_left, AnsiToQString(models[i]->Caption), QRect(34, 38 + i * 40, 92, 18));
      steps[i]->setObjectName(step_names[i]);
      step_models[i] = models[i];
    }
    markers[i] = m;
  }

  notebook = new QStackedWidget(window.get());
  notebook->setObjectName("Notebook");
  notebook->setGeometry(136, 0, 420, 370);
  QWidget* pages[6];
  for (QWidget*& p : pages) {
    p = new QWidget;
    notebook->addWidget(p);
  }
  BuildFirstPage(pages[0]);
  BuildGroupsPage(pages[1]);

  label11 = MakeLabel(pages[2], QString(), QRect(8, 8, 400, 20), true);
  label11->setObjectName("Label11");
  l_count = MakeLabel(pages[2], QString(), QRect(8, 120, 400, 18));
  l_count->setObjectName("L_Count");
  bar = new QProgressBar(pages[2]);
  bar->setObjectName("ProgressBar");
  bar->setGeometry(8, 140, 400, 16);
  bar2 = new QProgressBar(pages[2]);
  bar2->setObjectName("ProgressBar2");
  bar2->setGeometry(8, 164, 400, 16);
  Box(pages[2], "CB_AutoChange", form.CB_AutoChange, QRect(8, 260, 400, 20));
  Box(pages[2], "CB_AutoRun", form.CB_AutoRun, QRect(8, 284, 400, 20));

  l_action = MakeLabel(pages[2], QString(), QRect(8, 96, 400, 18));
  l_action->setObjectName("L_Action");
  // The copy animation: a busy bar while the engine plays.
  animate1 = new QProgressBar(pages[2]);
  animate1->setObjectName("Animate1");
  animate1->setGeometry(8, 40, 400, 12);
  animate1->setTextVisible(false);

  label10 = MakeLabel(pages[3], QString(), QRect(8, 8, 400, 20), true);
  label10->setObjectName("Label10");
  MakeLabel(pages[3], AnsiToQString(CZ("Výsledek sehrávání dat")), QRect(8, 30, 400, 18));
  const char* result_names[] = {"L_RC", "L_SDC", "L_CRC", "L_IEC", "L_SC", "L_CEC", "L_DEC"};
  const char* result_captions[] = {"Záznamů ke zpracování", "Uloženo záznamů", "Změněno záznamů",
                                   "Chyb při inicializaci", "Přeskočeno záznamů", "Chyb při konverzi",
                                   "Chyb při uložení dat"};
  for (int i = 0; i < 7; ++i) {
    MakeLabel(pages[3], AnsiToQString(CZ(result_captions[i])), QRect(24, 64 + i * 26, 220, 18));
    results[i] = MakeLabel(pages[3], QString(), QRect(250, 64 + i * 26, 120, 18), true);
    results[i]->setObjectName(result_names[i]);
    results[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  }
  auto* detail = new QPushButton(AnsiToQString(CZ("Detail...")), pages[3]);
  detail->setObjectName("BtnDetail");
  detail->setGeometry(296, 260, 100, 26);
  QObject::connect(detail, &QPushButton::clicked, [this] { Call([this] { form.BtnDetailClick(); }); });

  MakeLabel(pages[4], AnsiToQString(CZ("Dokončení sehrávání dat")), QRect(8, 8, 400, 20), true);
  Box(pages[4], "CB_PonechatData", form.CB_PonechatData, QRect(8, 40, 400, 20));
  auto* group = new QGroupBox(AnsiToQString(CZ("Historie změn (Žurnál) do sehrané databáze")), pages[4]);
  group->setGeometry(8, 70, 400, 80);
  Box(group, "CB_KopieZurnal", form.CB_KopieZurnal, QRect(10, 22, 380, 20));
  Box(group, "CB_VerifyZaloha", form.CB_VerifyZaloha, QRect(10, 46, 200, 20));
  me_dny = new QLineEdit(group);
  me_dny->setObjectName("ME_DnyZurnal");
  me_dny->setInputMask("99");
  me_dny->setGeometry(214, 45, 30, 22);
  QObject::connect(me_dny, &QLineEdit::textEdited,
                   [this](const QString& text) { form.ME_DnyZurnal.Text = QStringToAnsi(text); });
  dni = MakeLabel(group, AnsiToQString(CZ("dní")), QRect(250, 48, 40, 18));
  finish_ident = MakeLabel(pages[4], QString(), QRect(8, 170, 400, 18), true);
  finish_ident->setObjectName("L_DokonceniIdent");
  finish_step = MakeLabel(pages[4], QString(), QRect(8, 194, 400, 18));
  finish_step->setObjectName("L_Dokonceni");
  finish_bar = new QProgressBar(pages[4]);
  finish_bar->setObjectName("ProgressBarDokonceni");
  finish_bar->setGeometry(8, 216, 400, 16);
  journal = MakeLabel(pnl_left, QString(), QRect(6, 300, 120, 18));
  journal->setObjectName("LaZurnalTrigSwich");

  done = MakeLabel(pages[5], QString(), QRect(8, 140, 400, 40), true, true);
  done->setObjectName("L_Hotovo");
  done->setAlignment(Qt::AlignCenter);
  left_out = MakeLabel(pages[5], QString(), QRect(8, 186, 400, 170), false, true);
  left_out->setObjectName("L_Vynechane");
  left_out->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  // The bottom row.
  le_time_label = MakeLabel(window.get(), QString(), QRect(8, 388, 100, 20));
  le_time = new QLineEdit(window.get());
  le_time->setObjectName("LE_Time");
  le_time->setReadOnly(true);
  le_time->setGeometry(110, 386, 70, 22);
  Button(window.get(), "Btn_Storno", form.Btn_Storno, QRect(190, 384, 70, 26), [this] { form.Btn_StornoClick(); });
  Button(window.get(), "Btn_Prev", form.Btn_Prev, QRect(270, 384, 90, 26), [this] { form.Btn_PrevClick(); });
  Button(window.get(), "Btn_Next", form.Btn_Next, QRect(370, 384, 90, 26), [this] { form.Btn_NextClick(); });
  Button(window.get(), "Btn_Start", form.Btn_Start, QRect(370, 384, 90, 26), [this] { form.Btn_StartClick(); });
  Button(window.get(), "Btn_Finally", form.Btn_Finally, QRect(470, 384, 80, 26),
         [this] { form.Btn_FinallyClick(); });
  Button(window.get(), "Btn_OK", form.Btn_OK, QRect(470, 384, 80, 26), [this] { form.Btn_OKClick(); });
}

void TMldrMainQtView::Impl::BuildFirstPage(QWidget* page) {
  MakeLabel(page, AnsiToQString(CZ("Cesta k datovým souborům")), QRect(8, 4, 400, 18), true);
  MakeLabel(page,
            AnsiToQString(CZ("Zadejte identifikaci každé stanice a cestu k jejím datům: archiv "
                             "stanice (.zip) nebo zálohu databáze (.gbk, .fbk).")),
            QRect(8, 22, 400, 34), false, true);
  auto* pozor = MakeLabel(page, "POZOR", QRect(8, 58, 400, 18), true);
  QPalette p = pozor->palette();
  p.setColor(QPalette::WindowText, Qt::red);
  pozor->setPalette(p);
  auto* warning = new QPlainTextEdit(page);
  warning->setReadOnly(true);
  warning->setGeometry(8, 78, 400, 96);
  warning->setPlainText(AnsiToQString(CZ(
      "Před sehráváním zazálohujte data všech stanic. Během sehrávání nezadávejte na žádné "
      "stanici ani v hlavní databázi žádná data. Sehrávání, které nedojde až k obnově hlavní "
      "databáze (\"Obnova hlavní databáze\"), ponechá hlavní databázi beze změny.")));

  grid = new QTableWidget(page);
  grid->setObjectName("SG_DataPaths");
  grid->setGeometry(8, 180, 400, 180);
  grid->setColumnCount(2);
  grid->verticalHeader()->setVisible(false);
  grid->verticalHeader()->setDefaultSectionSize(20);
  // The first column takes the width its header needs ("Identifikace stanice" in the
  // header's bold font is wider than the 100 pixels of the design), the path the rest.
  grid->setHorizontalHeaderLabels({AnsiToQString(CZ("Identifikace stanice")), AnsiToQString(CZ("Cesta k datům"))});
  {
    QFont bold = grid->horizontalHeader()->font();
    bold.setBold(true);
    const int text = QFontMetrics(bold).horizontalAdvance(AnsiToQString(CZ("Identifikace stanice")));
    grid->setColumnWidth(0, std::max(120, text + 24));
  }
  grid->horizontalHeader()->setStretchLastSection(true);
  QObject::connect(grid, &QTableWidget::itemChanged, [this](QTableWidgetItem* item) {
    form.SetCell(item->column(), item->row() + 1, QStringToAnsi(item->text()));
  });
  QObject::connect(grid, &QTableWidget::currentCellChanged, [this](int row, int col, int, int) {
    if (row < 0) return;
    bool can = true;
    Call([&] { form.SG_DataPathsSelectCell(col, row + 1, can); });
  });
  grid_filter = new GridFilter;
  grid_filter->setParent(grid);
  grid_filter->key = [this](int key, bool shift) {
    return form.SG_DataPathsKeyDown(key == Qt::Key_Up ? VK_UP : VK_DOWN, shift);
  };
  grid_filter->focus = [this](bool in) {
    if (in) {
      form.SG_DataPathsEnter();
    } else {
      form.SG_DataPathsExit(QApplication::focusWidget() == btn_folder);
    }
  };
  grid->installEventFilter(grid_filter);
  btn_folder = new QPushButton("...", page);
  btn_folder->setObjectName("BtnFolder");
  btn_folder->setGeometry(384, 200, 22, 20);
  QObject::connect(btn_folder, &QPushButton::clicked, [this] {
    Call([this] { form.BtnFolderClick(); });
    grid->setFocus();
  });
}

void TMldrMainQtView::Impl::BuildGroupsPage(QWidget* page) {
  MakeLabel(page, AnsiToQString(CZ("Sehrát tyto tabulky")), QRect(8, 4, 400, 18), true);
  struct Group {
    const char* name;
    TCheckBoxModel* box;
    const char* text;
  } groups[] = {
      {"CB_Zaklad", &form.CB_Zaklad,
       "Partner, pacient, psč, farma, katastr, pohlaví, typ ustájení, druh, plemeno, vakcinace, "
       "vyšetření trusu, odčervení, případ, denní záznam, diagnóza, hodnocení"},
      {"CB_ExPartner", &form.CB_ExPartner, "Banka, kontakt"},
      {"CB_ExPacient", &form.CB_ExPacient,
       "Trias, recepty, vyšetření - vzteklina, novotvary mléčné žlázy, histologické vyšetření, "
       "revers, přiložené dokumenty, laboratorní výsledky"},
      {"CB_Karty", &form.CB_Karty, "Karta, měrná jednotka, ceník, sklad"},
      {"CB_Doklady", &form.CB_Doklady, "Doklad, položka dokladu, pohledávka, kniha jízd"},
      {"CB_Uzaverky", &form.CB_Uzaverky, ""},
      {"CB_Ciselniky", &form.CB_Ciselniky, "Fráze, receptář, šablony výkonů, text"},
      {"CB_OrgStruktura", &form.CB_OrgStruktura, "Zařízení, oddělení, pracoviště, přístupová práva"},
  };
  int y = 28;
  for (const Group& g : groups) {
    const bool wide = g.text[0] == '\0';
    Box(page, g.name, *g.box, QRect(wide ? 24 : 8, y, wide ? 390 : 170, 20));
    if (!wide) {
      QLabel* text = MakeLabel(page, AnsiToQString(CZ(g.text)), QRect(180, y + 2, 232, 46), false, true);
      text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      QFont f = text->font();
      f.setPointSize(7);
      text->setFont(f);
    }
    y += wide ? 26 : 42;
  }
}

TMldrMainQtView::TMldrMainQtView(TFrmMldrMain& form) : impl_(std::make_unique<Impl>(form)) {
  impl_->Build();
  form.SetView(this);
}

TMldrMainQtView::~TMldrMainQtView() { impl_->form.SetView(nullptr); }

QWidget* TMldrMainQtView::Window() const { return impl_->window.get(); }

void TMldrMainQtView::Update(const TFrmMldrMain& form) {
  Impl& v = *impl_;
  v.window->move(form.Left(), form.Top());
  QPalette panel = v.pnl_left->palette();
  panel.setColor(QPalette::Window, ToQColor(form.PnlLeftColor));
  v.pnl_left->setPalette(panel);
  for (int i = 0; i < 6; ++i) {
    QPalette p = v.markers[i]->palette();
    p.setColor(QPalette::Window, ToQColor(form.Markers[i]));
    v.markers[i]->setPalette(p);
    if (i < 5) {
      QFont f = v.steps[i]->font();
      f.setBold(v.step_models[i]->Bold);
      v.steps[i]->setFont(f);
    }
  }
  v.notebook->setCurrentIndex(form.PageIndex());
  for (auto& [model, button] : v.buttons) {
    button->setText(AnsiToQString(model->Caption));
    button->setVisible(model->Visible);
    button->setEnabled(model->Enabled);
  }
  for (auto& [model, box] : v.boxes) {
    const QSignalBlocker block(box);
    box->setChecked(model->Checked);
    box->setEnabled(model->Enabled);
  }
  v.le_time->setText(AnsiToQString(form.LE_Time));
  v.le_time_label->setText(AnsiToQString(form.LE_TimeLabel));
  v.label11->setText(AnsiToQString(form.Label11));
  v.label10->setText(AnsiToQString(form.Label10));
  v.l_count->setText(AnsiToQString(form.L_Count));
  v.l_action->setText(AnsiToQString(form.L_Action));
  if (form.Animate1Active) {
    v.animate1->setRange(0, 0);
  } else {
    v.animate1->setRange(0, 1);
    v.animate1->setValue(0);
  }
  const AnsiString* counters[] = {&form.L_RC, &form.L_SDC, &form.L_CRC, &form.L_IEC,
                                  &form.L_SC, &form.L_CEC, &form.L_DEC};
  for (int i = 0; i < 7; ++i) v.results[i]->setText(AnsiToQString(*counters[i]));
  v.bar->setRange(0, std::max(form.ProgressBar.Max, 0));
  v.bar->setValue(form.ProgressBar.Position);
  v.bar2->setRange(0, std::max(form.ProgressBar2.Max, 0));
  v.bar2->setValue(form.ProgressBar2.Position);
  v.journal->setText(AnsiToQString(form.LaZurnalTrigSwich));
  v.done->setText(AnsiToQString(form.L_Hotovo));
  v.left_out->setText(AnsiToQString(form.L_Vynechane));
  if (v.me_dny->text() != AnsiToQString(form.ME_DnyZurnal.Text))
    v.me_dny->setText(AnsiToQString(form.ME_DnyZurnal.Text));
  v.me_dny->setEnabled(form.ME_DnyZurnal.Enabled);
  v.dni->setEnabled(form.ME_DnyZurnal.Enabled);
  v.finish_ident->setText(AnsiToQString(form.L_DokonceniIdent));
  v.finish_step->setText(AnsiToQString(form.L_Dokonceni));
  v.finish_bar->setRange(0, std::max(form.ProgressBarDokonceni.Max, 0));
  v.finish_bar->setValue(form.ProgressBarDokonceni.Position);

  {
    const QSignalBlocker block(v.grid);
    const auto& rows = form.SG_DataPaths;
    if (!rows.empty())
      v.grid->setHorizontalHeaderLabels({AnsiToQString(rows[0][0]), AnsiToQString(rows[0][1])});
    const int count = static_cast<int>(rows.size()) - 1;
    if (v.grid->rowCount() != count) v.grid->setRowCount(count);
    for (int r = 0; r < count; ++r) {
      for (int c = 0; c < 2; ++c) {
        const QString text = AnsiToQString(rows[r + 1][c]);
        QTableWidgetItem* item = v.grid->item(r, c);
        if (!item) {
          v.grid->setItem(r, c, new QTableWidgetItem(text));
        } else if (item->text() != text) {
          item->setText(text);
        }
      }
    }
    if (form.GridRow >= 1 && form.GridRow <= count && v.grid->currentRow() != form.GridRow - 1)
      v.grid->setCurrentCell(form.GridRow - 1, form.GridCol);
  }
  v.btn_folder->setVisible(form.BtnFolderVisible);
  v.btn_folder->move(v.btn_folder->x(), 180 + (form.BtnFolderTop - 279));

  if (form.Visible() != v.window->isVisible()) v.window->setVisible(form.Visible());
}

int MeldrunMain(int& argc, char** argv, const AnsiString& exe_dir,
                std::function<void(TFrmMldrMain&, TMldrMainQtView&)> started) {
  TMakerUnits units;
  TQtApplication app(argc, argv);
  InstallQtIBDialogs();
  InstallQtWizardDialogs();
  InstallQtConflictDialogs();
  Application()->SetTitle(CZ("Sehrávání dat Pelvar 2008"));
  std::unique_ptr<TFrmMldrMain> form;
  std::unique_ptr<TMldrMainQtView> view;
  try {
    form = std::make_unique<TFrmMldrMain>(exe_dir);
    form->MakeDataModule();
    view = std::make_unique<TMldrMainQtView>(*form);
    form->OnClosed = [](TObject*) { Application()->Terminate(); };
    form->Show();
  } catch (...) {
    Application()->HandleException(nullptr);
    return 1;
  }
  if (started) {
    QTimer::singleShot(0, [&] { Call([&] { started(*form, *view); }); });
  }
  Application()->Run();
  view.reset();
  form.reset();
  SetPracujiViewFactory({});
  SetOpenDialogResponder({});
  SetFolderChooser({});
  return 0;
}

}  // namespace pelvar
