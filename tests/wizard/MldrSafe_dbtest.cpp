// The wizard at the faults a practice meets, through the form as the administrator drives
// it, against real practice databases in the in-process engine: a main database put back
// as a copy after an interrupted finishing (recovery decides from the database's content,
// never from the file), a data directory too small for the harmonised database and one
// that fills up while the main database is restored (a small tmpfs mounted for the test),
// faults of a station named with the station and its file, the questions and refusals
// that must not end silently or loop, and leftovers of a killed run. Each checks the main
// database's content and the stations' media afterwards.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>

#include "dbclient/ClientLibraryName.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "platform/registry.h"
#include "support/practice.h"
#include "sync/DmMeld.h"
#include "wizard/MldrMain.h"
#include "finish_fixture.h"
#include "wizard_env.h"

namespace pelvar::test {
namespace {

namespace fs = std::filesystem;

const char* const kOriginalPc1 = "original archive of PC1";
const char* const kOriginalPc2 = "original backup of PC2";
const char* const kHarmonisedRow = "select POHLAVI as V from POHLAVI where ID_POHLAVI = 999001;";

// Acts when the form shows a given finishing step.
class StepView : public TMldrMainView {
 public:
  std::string step;
  std::function<void()> action;
  void Update(const TFrmMldrMain& form) override {
    if (action && AnsiToUtf8(form.L_Dokonceni) == step) {
      auto a = std::move(action);
      action = nullptr;
      a();
    }
  }
};

// A small tmpfs of its own for the main database's directory; unmounted at the end.
class SmallDisk {
 public:
  SmallDisk(const std::string& dir, uint64_t bytes) : dir_(dir) {
    fs::create_directories(dir);
    const std::string options = "size=" + std::to_string(bytes);
    mounted_ = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }
  uint64_t Free() const {
    struct statvfs st {};
    ::statvfs(dir_.c_str(), &st);
    return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
  }
  // Leaves about `left` bytes free.
  void FillUpTo(uint64_t left) {
    const uint64_t free = Free();
    if (free <= left) return;
    WriteFile(dir_ + "/filler", std::string(free - left, 'x'));
  }

 private:
  std::string dir_;
  bool mounted_ = false;
};

class MldrSafeDb : public WizardEnv {
 protected:
  // The practice, made once: the main database, the harmonised working database (told
  // apart by a row of its own) and two played station databases.
  static void SetUpTestSuite() {
    InstallClientLibraryNameProvider();
    practice_ = new TempDir("pelvar-safe");
    const CommandResult r = GeneratePractice({"--seed", "finish", "--size", "small", "--main",
                                              practice_->File("main.fdb"), "--station",
                                              practice_->File("st1.fdb"), "--station",
                                              practice_->File("st2.fdb")});
    ASSERT_EQ(r.exit_code, 0) << r.output;
    fs::copy_file(practice_->File("main.fdb"), practice_->File("harm.fdb"));
    Query(practice_->File("harm.fdb"),
          "insert into POHLAVI (ID_POHLAVI, POHLAVI) values (999001, 'sehraná');\ncommit;");
    for (int i = 0; i < 2; ++i) {
      marks_[i] = std::stoi(QueryOne(practice_->File(i == 0 ? "st1.fdb" : "st2.fdb"),
                                     "select max(ID_ZURNAL) as V from ZURNAL;"));
    }
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
    WriteFile(dir_.File("media1/Stanice.zip"), kOriginalPc1);
    WriteFile(dir_.File("media2/Pelvar.gbk"), kOriginalPc2);
  }
  void TearDown() override {
    disk_.reset();
    WizardEnv::TearDown();
  }

  // The main database in place (on a small disk of `disk_bytes` when not 0).
  bool PutMain(uint64_t disk_bytes = 0) {
    if (disk_bytes != 0) {
      disk_ = std::make_unique<SmallDisk>(dir_.File("data"), disk_bytes);
      if (!disk_->Mounted()) return false;
    }
    fs::copy_file(practice_->File("main.fdb"), Main());
    return true;
  }
  // The working databases as preparation and the play-in leave them.
  void PlayAgain() {
    const auto copy = [](const std::string& from, const std::string& to) {
      fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    };
    copy(practice_->File("harm.fdb"), Work("Main.fdb"));
    copy(practice_->File("st1.fdb"), Work("stanice.fdb"));
    copy(practice_->File("st2.fdb"), Work("pelvar.gdb"));
    WriteFile(Work("Stanice.fbk"), "unpacked backup of PC1");
  }
  // The wizard on page 4, its two stations played.
  std::unique_ptr<FinishWizard> PlayedWizard() {
    PlayAgain();
    auto w = std::make_unique<FinishWizard>(AnsiString(dir_.Path() + "/"));
    TDMMeldrun* dm = w->MakeDataModule();
    w->AddPreparedStation(Work("Stanice.fbk"), dir_.File("media1/Stanice.zip"), "PC1");
    w->AddPreparedStation(dir_.File("media2/Pelvar.gbk"), dir_.File("media2/Pelvar.gbk"), "PC2");
    w->SetJournalMark(0, marks_[0]);
    w->SetJournalMark(1, marks_[1]);
    dm->InitStationLists(2);
    w->SetStationIndex(0);
    dm->OpenDst(Work("Main.fdb"), AdministratorUser, AdministratorPassword);
    w->SetTriggerState(dm->SetJournalTriggers(0));
    w->Show();
    w->SetPageIndex(4);
    w->CB_VerifyZaloha.Checked = false;
    return w;
  }

  std::string Work(const std::string& name) const { return dir_.File("MAINDATA/" + name); }
  std::string Main() const { return dir_.File("data/main.fdb"); }
  static std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  // The main database still holds the data finishing began with, and every station keeps
  // its file untouched with nothing beside it.
  void ExpectPracticeAsBefore() {
    EXPECT_EQ(QueryOne(Main(), "select count(*) as V from POHLAVI where ID_POHLAVI = 999001;"), "0");
    EXPECT_EQ(QueryOne(Main(), "select count(*) as V from RDB$DATABASE;"), "1");
    EXPECT_EQ(Names(dir_.File("media1")), std::vector<std::string>{"Stanice.zip"});
    EXPECT_EQ(Names(dir_.File("media2")), std::vector<std::string>{"Pelvar.gbk"});
    EXPECT_EQ(ReadFile(dir_.File("media1/Stanice.zip")), kOriginalPc1);
    EXPECT_EQ(ReadFile(dir_.File("media2/Pelvar.gbk")), kOriginalPc2);
  }
  static bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }

  static TempDir* practice_;
  static int marks_[2];
  std::unique_ptr<SmallDisk> disk_;
};

TempDir* MldrSafeDb::practice_ = nullptr;
int MldrSafeDb::marks_[2] = {0, 0};

// --- A full data directory ---------------------------------------------------------------

// The data directory fills up (another program writes there) while the harmonised backup
// is restored beside the main database: finishing ends with its error box, the wizard goes
// on running, the main database and the stations' files stay as they were.
TEST_F(MldrSafeDb, DiskFullWhileTheMainDatabaseIsRestoredChangesNothing) {
  const uint64_t size = fs::file_size(practice_->File("harm.fdb"));
  if (!PutMain(size * 4)) GTEST_SKIP() << "no tmpfs can be mounted here";
  if (std::getenv("EXPERIMENT")) {
    fs::create_directories(dir_.File("data/tmp"));
    fs::create_directories(dir_.File("data/lock"));
    ::setenv("FIREBIRD_TMP", dir_.File("data/tmp").c_str(), 1);
    ::setenv("FIREBIRD_LOCK", dir_.File("data/lock").c_str(), 1);
  }
  DialogLog dialogs;
  auto w = PlayedWizard();
  StepView view;
  view.step = "Obnova hlavní databáze (0 z 1)";
  view.action = [&] { disk_->FillUpTo(size / 3); };
  w->SetView(&view);
  w->Btn_FinallyClick();
  w->SetView(nullptr);
  EXPECT_EQ(w->PageIndex(), 4);
  ASSERT_EQ(dialogs.texts.size(), 1u) << ::testing::PrintToString(dialogs.texts);
  EXPECT_TRUE(Contains(dialogs.texts[0], "Dokončení sehrávání bylo přerušeno při obnově hlavní databáze"))
      << dialogs.texts[0];
  EXPECT_TRUE(Contains(dialogs.texts[0], "Hlavní databáze ani soubory stanic nebyly změněny")) << dialogs.texts[0];
  w.reset();
  fs::remove(dir_.File("data/filler"));
  ExpectPracticeAsBefore();
  EXPECT_EQ(Names(dir_.File("data")), std::vector<std::string>{"main.fdb"});
}

// Too little room beside the main database for the harmonised one: said before anything
// is changed.
TEST_F(MldrSafeDb, TooLittleRoomForTheMainDatabaseIsSaidBeforeAnythingChanges) {
  const uint64_t size = fs::file_size(practice_->File("main.fdb"));
  if (!PutMain(size + size / 3)) GTEST_SKIP() << "no tmpfs can be mounted here";
  DialogLog dialogs;
  auto w = PlayedWizard();
  w->Btn_FinallyClick();
  EXPECT_EQ(w->PageIndex(), 4);
  ASSERT_EQ(dialogs.texts.size(), 1u) << ::testing::PrintToString(dialogs.texts);
  EXPECT_TRUE(Contains(dialogs.texts[0], "Na disku s hlavní databází " + dir_.File("data") + " je volných"))
      << dialogs.texts[0];
  w.reset();
  ExpectPracticeAsBefore();
  EXPECT_EQ(Names(dir_.File("data")), std::vector<std::string>{"main.fdb"});
  EXPECT_FALSE(fs::exists(Work("Dokonceni.txt")));
  EXPECT_TRUE(fs::exists(Work("stanice.fdb")));
}

}  // namespace
}  // namespace pelvar::test
