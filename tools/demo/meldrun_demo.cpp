// The wizard run on a demo practice, with a user at the keyboard simulated: the program
// (MeldrunMain, exactly as `meldrun` runs it) reads its settings file and registry from
// the practice directory; the simulated user waits until the first page is valid, lets
// the wizard prepare, goes on to the play-in page, ticks "Automaticky pokračovat s daty
// dalších počítačů" and presses Start once. From there the wizard goes through every
// station and finishing by itself (its automatic continuation); the user answers every
// message box with its default button, as pressing Enter would, and closes the last page
// with OK. Buttons are pressed through the wizard's own private message (Next, Start) or
// the OK button's click.
//
// Usage: meldrun_demo <practice directory>
// Prints where the results are and one line per station; exits 0 when the wizard reached
// its last page and every station's medium holds its new file.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QtGlobal>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/application.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "platform/sysutils.h"
#include "wizard/MldrMain.h"
#include "wizard/MldrMainView.h"

namespace {

namespace fs = std::filesystem;
using namespace pelvar;

std::string U(const AnsiString& text) { return AnsiToUtf8(text); }

struct StationSummary {
  std::string ident, source;
  std::string counters[7];
};

// Passes every change on to the window and keeps what the results page shows.
class Recorder : public TMldrMainView {
 public:
  TMldrMainView* window = nullptr;
  std::map<int32_t, StationSummary> stations;
  std::string last_action;

  void Update(const TFrmMldrMain& form) override {
    if (window) window->Update(form);
    const int32_t i = form.StationIndex();
    if (form.PageIndex() == 2 && form.Animate1Active && U(form.L_Action) != last_action) {
      last_action = U(form.L_Action);
      if (!last_action.empty())
        std::printf("  [%s] %s\n", U(form.StationIdents().Strings(i)).c_str(), last_action.c_str());
    }
    if (form.PageIndex() == 3 && i < form.StationIdents().Count() && !stations.count(i)) {
      StationSummary& s = stations[i];
      s.ident = U(form.StationIdents().Strings(i));
      s.source = U(form.StationSources().Strings(i));
      const AnsiString* c[7] = {&form.L_RC, &form.L_SDC, &form.L_CRC, &form.L_IEC,
                                &form.L_SC, &form.L_CEC, &form.L_DEC};
      for (int k = 0; k < 7; ++k) s.counters[k] = U(*c[k]);
      std::printf("Stanice %s sehrána: %s záznamů ke zpracování.\n", s.ident.c_str(), s.counters[0].c_str());
      last_action.clear();
    }
    std::fflush(stdout);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: meldrun_demo <practice directory>\n");
    return 2;
  }
  // The offscreen platform's notes on what it cannot do say nothing about the run.
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtDebugMsg || text.startsWith("This plugin does not support") ||
        text.startsWith("QStandardPaths:"))
      return;
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
  });
  const std::string dir = fs::absolute(argv[1]).lexically_normal().string();
  const AnsiString exe_dir = Utf8ToAnsi(dir.back() == '/' ? dir : dir + "/");

  Recorder recorder;
  bool started = false;
  bool finished = false;
  std::string data_path, db_file, bkp_path, work_dir, archive_dir;
  int last_page = -1;
  int posted_page = -1;
  auto last_change = std::chrono::steady_clock::now();

  char name[] = "meldrun";
  char* args[] = {name, nullptr};
  int qt_argc = 1;
  const int rc = MeldrunMain(qt_argc, args, exe_dir, [&](TFrmMldrMain& form, TMldrMainQtView& view) {
    recorder.window = &view;
    form.SetView(&recorder);
    data_path = U(form.Settings().DataPath());
    db_file = U(form.Settings().DBFileName());
    bkp_path = U(form.Settings().BkpPath());
    work_dir = U(form.Settings().WorkDir());
    archive_dir = U(form.Settings().ReadArchiveDir());
    std::printf("Průvodce sehráváním dat: %d stanic(e) z registru, nastavení %sMeldrun.ini\n",
                static_cast<int>(form.SG_DataPaths.size()) - 1, U(exe_dir).c_str());
    auto* user = new QTimer(view.Window());
    QObject::connect(user, &QTimer::timeout, [&form, &view, &started, &finished, &last_page, &posted_page, &last_change] {
      // A message box: read it and press its default button.
      QWidget* modal = QApplication::activeModalWidget();
      if (modal && !qobject_cast<QMessageBox*>(modal)) {
        // Another window of the wizard's (a conflict or selection window): its default
        // button, else its close box.
        std::printf("  Okno: %s\n", modal->windowTitle().toStdString().c_str());
        std::fflush(stdout);
        for (auto* b : modal->findChildren<QPushButton*>()) {
          if (b->isDefault() && b->isVisible() && b->isEnabled()) {
            b->click();
            return;
          }
        }
        modal->close();
        return;
      }
      if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        std::printf("  Dialog: %s\n", box->text().replace('\r', ' ').replace('\n', ' ').toStdString().c_str());
        std::fflush(stdout);
        QAbstractButton* button = box->defaultButton();
        if (!button && !box->buttons().isEmpty()) button = box->buttons().first();
        if (button) button->click();
        return;
      }
      const auto now = std::chrono::steady_clock::now();
      if (form.StepRunning()) {
        last_change = now;
        return;
      }
      if (form.PageIndex() != last_page) {
        last_page = form.PageIndex();
        last_change = now;
      }
      switch (form.PageIndex()) {
        case 0:
        case 1:
          // Next once per page: a second press would land on the page after.
          if (posted_page != form.PageIndex() && form.Btn_Next.Enabled && form.PageValid()) {
            posted_page = form.PageIndex();
            PostMessage(form.Handle(), WM_AUTOSTEP, 2, 0);
          }
          break;
        case 2:
          if (!started && form.Btn_Start.Visible && form.Btn_Start.Enabled) {
            auto* auto_run = view.Window()->findChild<QCheckBox*>("CB_AutoRun");
            if (auto_run && !auto_run->isChecked()) auto_run->click();
            started = true;
            PostMessage(form.Handle(), WM_AUTOSTEP, 3, 0);
          }
          break;
        case 5:
          finished = true;
          if (auto* ok = view.Window()->findChild<QPushButton*>("Btn_OK")) ok->click();
          return;
        default:
          break;
      }
      // The wizard stopped where it cannot go on by itself: end the demo.
      if (now - last_change > std::chrono::seconds(30)) {
        std::printf("Průvodce se zastavil na stránce %d.\n", last_page);
        form.SetModalResult(mrCancel);
        Application()->Terminate();
      }
    });
    user->start(100);
  });

  std::printf("\nVýsledky:\n");
  std::printf("  hlavní databáze (sehraná): %s/%s\n", data_path.c_str(), db_file.c_str());
  std::printf("  zálohy hlavní databáze:    %s/Pelvar.cb0 ... Pelvar.cb4\n", bkp_path.c_str());
  std::printf("  pracovní soubory:          %s\n", archive_dir.c_str());
  std::printf("  protokol sehrávání:        %s/Import.txt\n", fs::current_path().string().c_str());
  bool delivered = true;
  for (const auto& [index, s] : recorder.stations) {
    const fs::path medium = s.source;
    fs::path old = medium;
    old.replace_extension(".old");
    const bool ok = fs::exists(medium) && fs::exists(old);
    delivered = delivered && ok;
    std::printf(
        "  %s: %s záznamů, uloženo %s, změněno %s, přeskočeno %s, chyby %s/%s/%s -> %s%s (původní %s)\n",
        s.ident.c_str(), s.counters[0].c_str(), s.counters[1].c_str(), s.counters[2].c_str(),
        s.counters[4].c_str(), s.counters[3].c_str(), s.counters[5].c_str(), s.counters[6].c_str(),
        medium.string().c_str(), ok ? "" : " CHYBÍ", old.filename().string().c_str());
  }
  const bool ok = rc == 0 && finished && !recorder.stations.empty() && delivered;
  std::printf("%s\n", ok ? "Sehrávání dat bylo úspěšně dokončeno." : "Sehrávání dat nebylo dokončeno.");
  return ok ? 0 : 1;
}
