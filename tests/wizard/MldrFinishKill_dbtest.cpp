// Finishing killed with SIGKILL. A child process (this test program run again, told by
// the environment to finish a prepared practice) kills itself at one of three points,
// found through the progress the wizard shows: between the deliveries of two stations,
// while the harmonised backup is restored in place of the main database, and after the
// main database was replaced while the results take the places of the stations' files.
// Before the main database is replaced, the main database's content and every station's
// file (byte for byte) are as before finishing; the next start of the wizard removes the results
// left beside the stations' files and says so; finishing run again from the start
// succeeds. After it, the next start places the remaining results and ends finishing:
// the harmonised main database and every station with its result.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "dbclient/ClientLibraryName.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "platform/registry.h"
#include "support/practice.h"
#include "sync/DmMeld.h"
#include "sync/Pracuji.h"
#include "wizard/MldrMain.h"
#include "finish_fixture.h"
#include "wizard_env.h"

namespace pelvar::test {
namespace {

namespace fs = std::filesystem;

// Set for the child: "<point>|<practice directory>|<journal mark 1>|<journal mark 2>".
constexpr const char* kChildVariable = "PELVAR_FINISH_KILL";

enum KillPoint { kBetweenStations = 1, kReplacingMain = 2, kPlacingResults = 3 };

const char* const kOriginalPc1 = "original archive of PC1";
const char* const kOriginalPc2 = "original backup of PC2";

[[noreturn]] void KillThisProcess() {
  ::kill(::getpid(), SIGKILL);
  for (;;) ::pause();
}

// Kills the process when the form shows the given finishing step.
class KillAtStep : public TMldrMainView {
 public:
  explicit KillAtStep(std::string step) : step_(std::move(step)) {}
  void Update(const TFrmMldrMain& form) override {
    if (!step_.empty() && AnsiToUtf8(form.L_Dokonceni) == step_) KillThisProcess();
  }

 private:
  std::string step_;
};

// Kills the process halfway through the restore that replaces the main database, told
// by the restore's progress window.
class KillDuringMainRestore : public TPracujiView {
 public:
  void Update(const TPracujiForm& form) override {
    if (form.Kind() != TPracujiForm::TKind::Memo ||
        AnsiToUtf8(form.LabelInfo().Caption()) != "Rozbalení sehrané databáze...")
      return;
    // The window shows the lines of the earlier restore until this one starts.
    const auto& lines = static_cast<const TfrmPracujiMemo&>(form).MemoPracuji().Lines();
    if (lines.size() >= 30 &&
        std::any_of(lines.begin(), lines.end(), [](const AnsiString& l) {
          return l.find("created database") != AnsiString::npos && l.find("main.fdb.restoring") != AnsiString::npos;
        }))
      KillThisProcess();
  }
};

// The child: finishes the practice until it is killed. Exit 3: the point never came.
void RunChild(const std::string& order) {
  std::vector<std::string> parts;
  for (size_t from = 0;;) {
    const size_t bar = order.find('|', from);
    parts.push_back(order.substr(from, bar - from));
    if (bar == std::string::npos) break;
    from = bar + 1;
  }
  if (parts.size() != 4) std::_Exit(4);
  const int point = std::stoi(parts[0]);
  InstallClientLibraryNameProvider();
  DialogLog dialogs;
  // The progress windows get their views when the data module makes them.
  if (point == kReplacingMain) {
    SetPracujiViewFactory(
        [](const TPracujiForm&) -> std::unique_ptr<TPracujiView> { return std::make_unique<KillDuringMainRestore>(); });
  }
  auto w = PlayedWizard(parts[1], std::stoi(parts[2]), std::stoi(parts[3]));
  KillAtStep view(point == kBetweenStations ? "Kopírování zpět na média (2 z 2)"
                  : point == kPlacingResults ? "Ukládání výsledků na média (2 z 2)"
                                             : "");
  w->SetView(&view);
  w->Btn_FinallyClick();
  for (const std::string& t : dialogs.texts) fprintf(stderr, "dialog: %s\n", t.c_str());
  std::_Exit(3);
}

// Runs the child before any test when the program is started as one.
class KillChildEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (const char* order = std::getenv(kChildVariable)) {
      try {
        RunChild(order);
      } catch (const std::exception& e) {
        fprintf(stderr, "child failed: %s\n", e.what());
      }
      std::_Exit(4);
    }
  }
};
[[maybe_unused]] ::testing::Environment* const kKillChild =
    ::testing::AddGlobalTestEnvironment(new KillChildEnvironment);

class MldrFinishKillDb : public WizardEnv {
 protected:
  static void SetUpTestSuite() {
    InstallClientLibraryNameProvider();
    practice_ = MakeFinishPractice("pelvar-finishkill", marks_).release();
  }
  static void TearDownTestSuite() {
    delete practice_;
    practice_ = nullptr;
  }

  void SetUp() override {
    WizardEnv::SetUp();
    for (const char* d : {"data", "media1", "media2", "zaloha", "MAINDATA"}) fs::create_directories(dir_.File(d));
    WriteFile(dir_.File("Meldrun.ini"), "[DATABAZE]\r\nPath=" + dir_.File("data") +
                                            "\r\nDBFileName=main.fdb\r\nBkpPath=" + dir_.File("zaloha") +
                                            "\r\n");
    fs::copy_file(practice_->File("main.fdb"), dir_.File("data/main.fdb"));
    PlayAgain();
    WriteFile(Work("Stanice.fbk"), "unpacked backup of PC1");
    WriteFile(dir_.File("media1/Stanice.zip"), kOriginalPc1);
    WriteFile(dir_.File("media2/Pelvar.gbk"), kOriginalPc2);
    WriteFile(dir_.File("zaloha/Pelvar.cb0"), "earlier backup");
    main_before_ = PracticeChecksum(dir_.File("data/main.fdb"));
  }

  std::string Work(const std::string& name) const { return dir_.File("MAINDATA/" + name); }
  std::string Main() const { return dir_.File("data/main.fdb"); }

  // The working databases as preparation and the play-in make them again; whatever else
  // finishing left in the working directory stays.
  void PlayAgain() {
    const auto copy = [](const std::string& from, const std::string& to) {
      fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    };
    copy(practice_->File("harm.fdb"), Work("Main.fdb"));
    copy(practice_->File("st1.fdb"), Work("stanice.fdb"));
    copy(practice_->File("st2.fdb"), Work("pelvar.gdb"));
  }

  // Runs finishing in a child process that kills itself at the point.
  void KillAt(KillPoint point) {
    const std::string exe = fs::read_symlink("/proc/self/exe").string();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string order = std::to_string(point) + "|" + dir_.Path() + "|" + std::to_string(marks_[0]) +
                             "|" + std::to_string(marks_[1]);
    const CommandResult r = RunCommand({"env", std::string(kChildVariable) + "=" + order, exe,
                                        std::string("--gtest_filter=") + info->test_suite_name() + "." +
                                            info->name()});
    ASSERT_EQ(r.exit_code, 128 + SIGKILL) << "the child was not killed at the point:\n" << r.output;
  }

  // The main database and the stations' files as before finishing.
  void ExpectUntouched() {
    // Its content: the next start reads the main database to tell what it holds.
    EXPECT_EQ(PracticeChecksum(Main()), main_before_) << "the main database changed";
    EXPECT_TRUE(ReadFile(dir_.File("media1/Stanice.zip")) == kOriginalPc1) << "PC1's file changed";
    EXPECT_TRUE(ReadFile(dir_.File("media2/Pelvar.gbk")) == kOriginalPc2) << "PC2's file changed";
    EXPECT_FALSE(fs::exists(dir_.File("media1/Stanice.old")));
    EXPECT_FALSE(fs::exists(dir_.File("media2/Pelvar.old")));
  }
  static std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  static AnsiString Level() {
    return WizardRegText("Level");
  }
  // The next start of the wizard, with the messages it gives.
  std::vector<std::string> NextStart() {
    DialogLog dialogs;
    auto w = std::make_unique<FinishWizard>(AnsiString(dir_.Path() + "/"));
    w->Show();
    w.reset();
    return dialogs.texts;
  }
  // Killed before the main database was replaced: the next start removes the results
  // written beside the stations' files; finishing run again from the start succeeds.
  // The half restore left beside the main database (when there is one) is removed too.
  void ExpectTakenBackAndFinishedAgain(const std::string& leftover = {}) {
    std::vector<std::string> expected{
        "Předchozí dokončení sehrávání nebylo dokončeno.\rHlavní databáze ani soubory "
        "stanic nebyly změněny. Spusťte sehrávání znovu se stejnými soubory stanic."};
    if (!leftover.empty()) {
      expected.push_back(
          "Průvodce odstranil soubory, které po sobě zanechalo předchozí nedokončené sehrávání:\r" + leftover +
          "\r\n");
    }
    EXPECT_EQ(NextStart(), expected);
    if (!leftover.empty()) EXPECT_FALSE(fs::exists(leftover));
    ExpectUntouched();
    EXPECT_EQ(Names(dir_.File("media1")), std::vector<std::string>{"Stanice.zip"});
    EXPECT_EQ(Names(dir_.File("media2")), std::vector<std::string>{"Pelvar.gbk"});
    EXPECT_FALSE(fs::exists(Work("Dokonceni.txt")));
    EXPECT_EQ(NextStart(), std::vector<std::string>{}) << "the record is gone";

    PlayAgain();
    DialogLog dialogs;
    auto w = PlayedWizard(dir_.Path(), marks_[0], marks_[1]);
    w->Btn_FinallyClick();
    EXPECT_EQ(dialogs.texts, std::vector<std::string>{});
    EXPECT_EQ(w->PageIndex(), 5);
    w.reset();
    ExpectFinished();
  }
  // The harmonised main database, every station's result in its place with its original
  // file as ".old", the backups rotated.
  void ExpectFinished() {
    EXPECT_EQ(QueryOne(Main(), "select POHLAVI as V from POHLAVI where ID_POHLAVI = 999001;"), "sehraná");
    EXPECT_EQ(Names(dir_.File("media1")), (std::vector<std::string>{"Stanice.old", "Stanice.zip"}));
    EXPECT_EQ(Names(dir_.File("media2")), (std::vector<std::string>{"Pelvar.gbk", "Pelvar.old"}));
    EXPECT_EQ(ReadFile(dir_.File("media1/Stanice.old")), kOriginalPc1);
    EXPECT_EQ(ReadFile(dir_.File("media2/Pelvar.old")), kOriginalPc2);
    const CommandResult r = RunCommand({"unzip", "-Z1", dir_.File("media1/Stanice.zip")});
    EXPECT_EQ(r.output, "Identifikace.txt\nPelvar.cb0\n");
    const std::string pc2 = dir_.File("pc2.fdb");
    fs::remove(pc2);
    const CommandResult b = RunCommand({"gbak", "-c", "-user", kSysdbaUser, "-password", kSysdbaPassword,
                                        dir_.File("media2/Pelvar.gbk"), pc2});
    ASSERT_EQ(b.exit_code, 0) << b.output;
    EXPECT_EQ(QueryOne(pc2, "select POHLAVI as V from POHLAVI where ID_POHLAVI = 999001;"), "sehraná");
    EXPECT_EQ(ReadFile(dir_.File("zaloha/Pelvar.cb1")), "earlier backup");
    EXPECT_FALSE(fs::exists(Work("Dokonceni.txt")));
    EXPECT_EQ(Level(), "0");
  }

  static TempDir* practice_;
  static int marks_[2];
  std::string main_before_;
};

TempDir* MldrFinishKillDb::practice_ = nullptr;
int MldrFinishKillDb::marks_[2] = {0, 0};

// The first station's archive is written beside its file, the second station's copy
// about to start.
TEST_F(MldrFinishKillDb, KilledBetweenTwoStationDeliveriesChangesNothing) {
  KillAt(kBetweenStations);
  ExpectUntouched();
  EXPECT_EQ(Names(dir_.File("media1")), (std::vector<std::string>{"Stanice.new.zip", "Stanice.zip"}));
  EXPECT_EQ(Names(dir_.File("media2")), std::vector<std::string>{"Pelvar.gbk"});
  EXPECT_TRUE(fs::exists(Work("Dokonceni.txt")));
  ExpectTakenBackAndFinishedAgain();
}

// Every result is written; the harmonised backup is half restored beside the main
// database.
TEST_F(MldrFinishKillDb, KilledWhileTheMainDatabaseIsReplacedChangesNothing) {
  KillAt(kReplacingMain);
  EXPECT_TRUE(fs::exists(dir_.File("data/main.fdb.restoring"))) << "the restore was not under way: " << ::testing::PrintToString(Names(dir_.File("data")));
  ExpectUntouched();
  EXPECT_EQ(Names(dir_.File("media1")), (std::vector<std::string>{"Stanice.new.zip", "Stanice.zip"}));
  EXPECT_EQ(Names(dir_.File("media2")), (std::vector<std::string>{"Pelvar.gbk", "Pelvar.new.gbk"}));
  EXPECT_EQ(Level(), "10");
  ExpectTakenBackAndFinishedAgain(dir_.File("data/main.fdb.restoring"));
}

// The main database holds the harmonised data, the first station has its result, the
// second station's result lies beside its file: the next start places it and ends
// finishing.
TEST_F(MldrFinishKillDb, KilledWhileTheResultsArePlacedIsFinishedAtTheNextStart) {
  KillAt(kPlacingResults);
  EXPECT_EQ(QueryOne(Main(), "select POHLAVI as V from POHLAVI where ID_POHLAVI = 999001;"), "sehraná");
  EXPECT_EQ(Names(dir_.File("media1")), (std::vector<std::string>{"Stanice.old", "Stanice.zip"}));
  EXPECT_EQ(ReadFile(dir_.File("media1/Stanice.old")), kOriginalPc1);
  EXPECT_EQ(Names(dir_.File("media2")), (std::vector<std::string>{"Pelvar.gbk", "Pelvar.new.gbk"}));
  EXPECT_TRUE(ReadFile(dir_.File("media2/Pelvar.gbk")) == kOriginalPc2) << "PC2's file changed";
  EXPECT_EQ(Level(), "10");

  EXPECT_EQ(NextStart(),
            std::vector<std::string>{"Předchozí dokončení sehrávání nebylo dokončeno.\rHlavní databáze již "
                                     "obsahuje sehraná data; výsledky stanic byly nyní uloženy na místo jejich "
                                     "souborů (původní soubory mají příponu \".old\")."});
  ExpectFinished();
  for (const auto& e : fs::directory_iterator(dir_.File("MAINDATA")))
    EXPECT_TRUE(e.is_directory()) << "left in the working directory: " << e.path();
}

}  // namespace
}  // namespace pelvar::test
