// The wizard at the faults a practice meets, through the form as the administrator drives
// it, against real practice databases in the in-process engine: a main database put back
// as a copy after an interrupted finishing (recovery decides from the database's content,
// never from the file), a data directory too small for the harmonised database and one
// that fills up while the main database is restored (a small tmpfs mounted for the test),
// faults of a station named with the station and its file, the questions and refusals
// that must not end silently or loop, and leftovers of a killed run. Each checks the main
// database's content and the stations' media afterwards.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>

#include "dbclient/ClientLibraryName.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "platform/registry.h"
#include "support/practice.h"
#include "sync/DmMeld.h"
#include "sync/Meldrun.h"
#include "sync/Pracuji.h"
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

// Set for a child: "<practice directory>|<mark 1>|<mark 2>|<what to do>|<argument>".
constexpr const char* kChildVariable = "PELVAR_SAFE_CHILD";

std::vector<std::string> SplitBars(const std::string& text) {
  std::vector<std::string> parts;
  for (size_t from = 0;;) {
    const size_t bar = text.find('|', from);
    parts.push_back(text.substr(from, bar - from));
    if (bar == std::string::npos) break;
    from = bar + 1;
  }
  return parts;
}

[[noreturn]] void KillThisProcess() {
  ::kill(::getpid(), SIGKILL);
  for (;;) ::pause();
}

// Kills the process halfway through the restore that replaces the main database, told
// by the restore's progress window.
class KillDuringMainRestore : public TPracujiView {
 public:
  explicit KillDuringMainRestore(int sig = SIGKILL) : sig_(sig) {}
  void Update(const TPracujiForm& form) override {
    if (form.Kind() != TPracujiForm::TKind::Memo ||
        AnsiToUtf8(form.LabelInfo().Caption()) != "Rozbalení sehrané databáze...")
      return;
    // The window shows the lines of the earlier restore until this one starts.
    const auto& lines = static_cast<const TfrmPracujiMemo&>(form).MemoPracuji().Lines();
    if (lines.size() >= 30 && std::any_of(lines.begin(), lines.end(), [](const AnsiString& l) {
          return l.find("created database") != AnsiString::npos &&
                 l.find("main.fdb.restoring") != AnsiString::npos;
        })) {
      if (sig_ == SIGKILL) KillThisProcess();
      if (!sent_) ::kill(::getpid(), sig_);
      sent_ = true;
    }
  }

 private:
  int sig_;
  bool sent_ = false;
};

// The child: "kill": finishing killed while the main database is restored; "term":
// the same with SIGTERM;
// "full": finishing while the disk of the main database fills up at the
// restore, leaving <argument> bytes free.
void RunSafeChild(const std::string& order) {
  const std::vector<std::string> parts = SplitBars(order);
  if (parts.size() < 4) std::_Exit(4);
  const std::string& dir = parts[0];
  InstallClientLibraryNameProvider();
  DialogLog dialogs;
  if (parts[3] == "play") {
    // "play|<end>": prepares the two stations of the practice as the administrator does
    // and starts the first one's play-in; once the engine plays, the process is ended:
    // "kill" by SIGKILL, "term" by SIGTERM, "close" by the window's close box (the
    // question answered Yes). It should not come back from any of them.
    const std::string end = parts.at(4);
    const TDialogResponder answer_default = SetDialogResponder([](const TDialogRequest& r) {
      std::fprintf(stdout, "dialog: %s\n", AnsiToUtf8(r.Text).c_str());
      std::fflush(stdout);
      if (AnsiToUtf8(r.Text).find("Ukončit průvodce?") != std::string::npos) return int(mrYes);
      return r.DefaultResult != mrNone ? r.DefaultResult : int(mrOk);
    });
    auto w = std::make_unique<FinishWizard>(AnsiString(dir + "/"));
    w->MakeDataModule();
    w->Show();
    w->FillStationGrid(CZ("PC1|") + dir + "/media1/Stanice.zip" + CZ(";PC2|") + dir + "/media2/Pelvar.gbk");
    w->TimerTimer();
    w->Btn_NextClick();
    w->Btn_NextClick();
    if (w->PageIndex() != 2) std::_Exit(5);
    if (end == "wait") {
      // Holds the practice on the play-in page until the test says "go" (a file).
      WriteFile(dir + "/ready.part", std::to_string(::getpid()));
      fs::rename(dir + "/ready.part", dir + "/ready");
      for (int i = 0; i < 1200 && !fs::exists(dir + "/go"); ++i) ::usleep(100000);
    }
    class EndWhilePlaying : public TMldrMainView {
     public:
      EndWhilePlaying(TFrmMldrMain& form, std::string end) : form_(form), end_(std::move(end)) {}
      void Update(const TFrmMldrMain& form) override {
        if (done_ || form.PageIndex() != 2 || !form.Animate1Active || form.L_Action.empty()) return;
        done_ = true;
        if (end_ == "kill") KillThisProcess();
        if (end_ == "term") ::kill(::getpid(), SIGTERM);
        if (end_ == "close") form_.CloseRequested();
      }

     private:
      TFrmMldrMain& form_;
      std::string end_;
      bool done_ = false;
    } view(*w, end);
    w->SetView(&view);
    w->Btn_StartClick();
    w->SetView(nullptr);
    std::fprintf(stdout, "page: %d\n", w->PageIndex());
    std::fflush(stdout);
    std::_Exit(0);
  }
  if (parts[3] == "kill" || parts[3] == "term") {
    const int sig = parts[3] == "kill" ? SIGKILL : SIGTERM;
    SetPracujiViewFactory([sig](const TPracujiForm&) -> std::unique_ptr<TPracujiView> {
      return std::make_unique<KillDuringMainRestore>(sig);
    });
  }
  auto w = PlayedWizard(dir, std::stoi(parts[1]), std::stoi(parts[2]));
  StepView view;
  if (parts[3] == "full") {
    view.step = "Obnova hlavní databáze (0 z 1)";
    const uint64_t left = std::stoull(parts.at(4));
    view.action = [dir, left] {
      struct statvfs st {};
      ::statvfs((dir + "/data").c_str(), &st);
      const uint64_t free = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
      if (free > left) WriteFile(dir + "/data/filler", std::string(free - left, 'x'));
    };
  }
  w->SetView(&view);
  w->Btn_FinallyClick();
  w->SetView(nullptr);
  for (const std::string& t : dialogs.texts) std::fprintf(stdout, "dialog: %s\n", t.c_str());
  std::fprintf(stdout, "page: %d\n", w->PageIndex());
  std::fflush(stdout);
  w.reset();
  std::_Exit(0);
}

// Runs the child before any test when the program is started as one.
class SafeChildEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (const char* order = std::getenv(kChildVariable)) {
      try {
        RunSafeChild(order);
      } catch (const std::exception& e) {
        std::fprintf(stdout, "child failed: %s\n", e.what());
      }
      std::_Exit(4);
    }
  }
};
[[maybe_unused]] ::testing::Environment* const kSafeChild =
    ::testing::AddGlobalTestEnvironment(new SafeChildEnvironment);

class MldrSafeDb : public WizardEnv {
 public:
  static void SetUpTestSuite() {
    InstallClientLibraryNameProvider();
    practice_ = MakeFinishPractice("pelvar-safe", marks_).release();
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
    return test::PlayedWizard(dir_.Path(), marks_[0], marks_[1]);
  }

  // Runs this test in a child process (this program again) that drives the wizard as the
  // order says; its output carries "dialog: " and "page: " lines.
  CommandResult RunChild(const std::string& order, const std::vector<std::string>& environment = {}) {
    return RunCommand(ChildCommand(order, environment));
  }
  std::vector<std::string> ChildCommand(const std::string& order, const std::vector<std::string>& environment = {}) {
    const std::string exe = fs::read_symlink("/proc/self/exe").string();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::vector<std::string> argv = {"env", std::string(kChildVariable) + "=" + dir_.Path() + "|" +
                                                std::to_string(marks_[0]) + "|" +
                                                std::to_string(marks_[1]) + "|" + order};
    for (const std::string& e : environment) argv.push_back(e);
    argv.push_back(exe);
    argv.push_back(std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name());
    return argv;
  }

  std::string Dir(const std::string& name) const { return dir_.File(name); }
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
  // As ExpectPracticeAsBefore, for the stations' media of the station-fault tests (PC2's
  // medium holds a real backup, compared by the test itself).
  void ExpectPracticeAsBefore2() {
    EXPECT_EQ(QueryOne(Main(), "select count(*) as V from POHLAVI where ID_POHLAVI in (999001, 999002);"), "0");
    EXPECT_EQ(QueryOne(Main(), "select count(*) as V from RDB$DATABASE where RDB$DESCRIPTION is null;"), "1");
    EXPECT_EQ(Names(dir_.File("media1")), std::vector<std::string>{"Stanice.zip"});
    EXPECT_EQ(Names(dir_.File("media2")), std::vector<std::string>{"Pelvar.gbk"});
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
// is restored beside the main database. The disk also holds the engine's lock and
// temporary files, as on a machine with one disk, where the engine ends the process it
// runs in. The wizard runs in a child process (this test program again): finishing ends
// with its error box, the wizard's process goes on to its end, the main database and the
// stations' files stay as they were.
TEST_F(MldrSafeDb, DiskFullWhileTheMainDatabaseIsRestoredChangesNothing) {
  const uint64_t size = fs::file_size(practice_->File("harm.fdb"));
  if (!PutMain(size * 4)) GTEST_SKIP() << "no tmpfs can be mounted here";
  PlayAgain();
  fs::create_directories(dir_.File("data/fbtmp"));
  fs::create_directories(dir_.File("data/fblock"));
  const CommandResult r =
      RunChild("full|" + std::to_string(size / 3),
               {"FIREBIRD_TMP=" + dir_.File("data/fbtmp"), "FIREBIRD_LOCK=" + dir_.File("data/fblock")});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_TRUE(Contains(r.output, "dialog: Dokončení sehrávání bylo přerušeno při obnově hlavní databáze"))
      << r.output;
  EXPECT_TRUE(Contains(r.output, "Hlavní databáze ani soubory stanic nebyly změněny")) << r.output;
  EXPECT_TRUE(Contains(r.output, "page: 4")) << r.output;
  fs::remove(dir_.File("data/filler"));
  fs::remove_all(dir_.File("data/fbtmp"));
  fs::remove_all(dir_.File("data/fblock"));
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

// --- Recovery from an interrupted finishing ---------------------------------------------

// Finishing killed while the harmonised backup replaced the main database; then the main
// database is handled as an administrator would before the next start. The next start
// tells from the main database's content what to do: its old data, also as a copy under
// a new file, take the results back; the harmonised data, also as a copy, get the results
// placed; a main database that cannot be read changes nothing and says where everything
// is.
TEST_F(MldrSafeDb, RecoveryDecidesFromTheMainDatabasesContent) {
  struct Case {
    const char* name;
    std::function<void(MldrSafeDb&)> after_kill;
    enum { kTakenBack, kPlaced, kUnclear } outcome;
  };
  const auto copy_in_place = [](const std::string& file) {
    fs::copy_file(file, file + ".copy");
    fs::rename(file + ".copy", file);
  };
  const Case cases[] = {
      {"old data copied in place", [&](MldrSafeDb& t) { copy_in_place(t.Main()); }, Case::kTakenBack},
      {"harmonised data copied in place",
       [&](MldrSafeDb& t) {
         // The administrator restored the harmonised backup himself and copied it in.
         const std::string restored = t.Dir("restored.fdb");
         const CommandResult b = RunCommand({"gbak", "-c", "-user", kSysdbaUser, "-password", kSysdbaPassword,
                                             t.Work("Pelvar.gbk"), restored});
         ASSERT_EQ(b.exit_code, 0) << b.output;
         fs::copy_file(restored, t.Main(), fs::copy_options::overwrite_existing);
         copy_in_place(t.Main());
       },
       Case::kPlaced},
      {"main database missing", [&](MldrSafeDb& t) { fs::rename(t.Main(), t.Dir("elsewhere.fdb")); },
       Case::kUnclear},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    for (const char* d : {"data", "media1", "media2", "MAINDATA", "zaloha"}) fs::remove_all(dir_.File(d));
    fs::remove(dir_.File("restored.fdb"));
    fs::remove(dir_.File("elsewhere.fdb"));
    SetUp();
    PutMain();
    PlayAgain();
    const CommandResult r = RunChild("kill");
    ASSERT_EQ(r.exit_code, 128 + SIGKILL) << "the child was not killed during the restore:\n" << r.output;
    ASSERT_TRUE(fs::exists(Work("Dokonceni.txt")));
    c.after_kill(*this);
    std::vector<std::string> texts;
    {
      DialogLog dialogs;
      auto w = std::make_unique<FinishWizard>(AnsiString(dir_.Path() + "/"));
      w->Show();
      w.reset();
      texts = dialogs.texts;
    }
    ASSERT_FALSE(texts.empty());
    switch (c.outcome) {
      case Case::kTakenBack:
        EXPECT_TRUE(Contains(texts[0], "Hlavní databáze ani soubory stanic nebyly změněny")) << texts[0];
        ExpectPracticeAsBefore();
        EXPECT_FALSE(fs::exists(Work("Dokonceni.txt")));
        break;
      case Case::kPlaced:
        EXPECT_TRUE(Contains(texts[0], "Hlavní databáze již obsahuje sehraná data")) << texts[0];
        EXPECT_EQ(QueryOne(Main(), kHarmonisedRow), "sehraná");
        EXPECT_EQ(Names(dir_.File("media1")), (std::vector<std::string>{"Stanice.old", "Stanice.zip"}));
        EXPECT_EQ(Names(dir_.File("media2")), (std::vector<std::string>{"Pelvar.gbk", "Pelvar.old"}));
        EXPECT_EQ(ReadFile(dir_.File("media2/Pelvar.old")), kOriginalPc2);
        break;
      case Case::kUnclear:
        EXPECT_TRUE(Contains(texts[0], "Nelze zjistit, zda hlavní databáze " + Main() + " obsahuje sehraná data"))
            << texts[0];
        EXPECT_TRUE(Contains(texts[0], dir_.File("media1/Stanice.new.zip"))) << texts[0];
        EXPECT_TRUE(Contains(texts[0], dir_.File("media2/Pelvar.new.gbk"))) << texts[0];
        // Nothing changed: the results beside the stations' files, the record kept.
        EXPECT_EQ(Names(dir_.File("media1")), (std::vector<std::string>{"Stanice.new.zip", "Stanice.zip"}));
        EXPECT_EQ(Names(dir_.File("media2")), (std::vector<std::string>{"Pelvar.gbk", "Pelvar.new.gbk"}));
        EXPECT_TRUE(fs::exists(Work("Dokonceni.txt")));
        EXPECT_TRUE(fs::exists(Work("Main.fdb")));
        fs::rename(dir_.File("elsewhere.fdb"), Main());
        EXPECT_EQ(QueryOne(Main(), "select count(*) as V from POHLAVI where ID_POHLAVI = 999001;"), "0");
        break;
    }
  }
}

// SIGTERM while the harmonised backup replaces the main database: the wizard and its
// restore end at once, as after a kill; the next start takes the results back and
// removes the half restore; the main database holds its old data.
TEST_F(MldrSafeDb, SigtermWhileTheMainDatabaseIsRestoredEndsLikeAKill) {
  PutMain();
  PlayAgain();
  const CommandResult r = RunChild("term");
  ASSERT_EQ(r.exit_code, 128 + SIGTERM) << r.output;
  EXPECT_FALSE(Contains(r.output, "page: ")) << r.output;
  EXPECT_TRUE(fs::exists(Dir("data/main.fdb.restoring")));
  std::vector<std::string> texts;
  {
    DialogLog dialogs;
    auto w = std::make_unique<FinishWizard>(AnsiString(dir_.Path() + "/"));
    w->Show();
    w.reset();
    texts = dialogs.texts;
  }
  ASSERT_EQ(texts.size(), 2u) << ::testing::PrintToString(texts);
  EXPECT_TRUE(Contains(texts[0], "Hlavní databáze ani soubory stanic nebyly změněny")) << texts[0];
  EXPECT_TRUE(Contains(texts[1], Dir("data/main.fdb.restoring"))) << texts[1];
  ExpectPracticeAsBefore();
  EXPECT_EQ(Names(Dir("data")), std::vector<std::string>{"main.fdb"});
}

// --- Questions and refusals with a visible outcome ----------------------------------------

// Answers every dialog: "Ne" to the questions whose text holds `no_to`, the default
// button otherwise; after `limit` dialogs always "Ne" (a question asked again and again
// ends instead of hanging the test).
class Answers {
 public:
  Answers(std::string no_to, size_t limit = 20) : no_to_(std::move(no_to)), limit_(limit) {
    previous_ = SetDialogResponder([this](const TDialogRequest& r) {
      texts.push_back(AnsiToUtf8(r.Text));
      if (texts.back().find(no_to_) != std::string::npos || texts.size() > limit_) return int(mrNo);
      return r.DefaultResult != mrNone ? r.DefaultResult : int(mrOk);
    });
  }
  ~Answers() { SetDialogResponder(previous_); }
  size_t Count(const std::string& part) const {
    return static_cast<size_t>(std::count_if(texts.begin(), texts.end(), [&](const std::string& t) {
      return t.find(part) != std::string::npos;
    }));
  }
  std::vector<std::string> texts;

 private:
  std::string no_to_;
  size_t limit_;
  TDialogResponder previous_;
};

// Preparation: an archive whose identification is refused is left out with a word; a
// main database that is not there is searched for once and Enter ends the search.
TEST_F(MldrSafeDb, RefusedArchiveAndMissingMainDatabaseAreSaid) {
  PutMain();
  // PC1 hands in an archive of another station, PC2 its backup.
  const CommandResult b = RunCommand({"gbak", "-b", "-user", kSysdbaUser, "-password", kSysdbaPassword,
                                      practice_->File("st2.fdb"), dir_.File("media2/Pelvar.gbk")});
  ASSERT_EQ(b.exit_code, 0) << b.output;
  const std::string zip = dir_.File("media1/Stanice.zip");
  fs::remove(zip);
  WriteFile(dir_.File("Identifikace.txt"), "Jiná stanice\r\n");
  fs::copy_file(dir_.File("media2/Pelvar.gbk"), dir_.File("Pelvar.cb0"));
  const CommandResult z = RunCommand({"zip", "-q", "-j", zip, dir_.File("Identifikace.txt"), dir_.File("Pelvar.cb0")});
  ASSERT_EQ(z.exit_code, 0) << z.output;
  {
    Answers answers("Přejete si přesto sehrát tento archiv?");
    auto w = std::make_unique<FinishWizard>(AnsiString(dir_.Path() + "/"));
    w->MakeDataModule();
    w->Show();
    w->FillStationGrid(CZ("PC1|") + zip + CZ(";PC2|") + dir_.File("media2/Pelvar.gbk"));
    ASSERT_TRUE(w->PrepareSources());
    EXPECT_EQ(w->StationIdents().Count(), 1);
    EXPECT_EQ(answers.Count("Archiv \"" + zip + "\" stanice \"PC1\" nebude sehrán a stanice nedostane sehraná data."), 1u)
        << ::testing::PrintToString(answers.texts);
  }
  EXPECT_EQ(QueryOne(Main(), "select count(*) as V from POHLAVI where ID_POHLAVI = 999001;"), "0");
  EXPECT_EQ(Names(dir_.File("media1")), std::vector<std::string>{"Stanice.zip"});

  // The main database is not where the settings say.
  fs::rename(Main(), dir_.File("elsewhere.fdb"));
  {
    Answers answers("(none)");
    auto w = std::make_unique<FinishWizard>(AnsiString(dir_.Path() + "/"));
    w->MakeDataModule();
    w->Show();
    w->FillStationGrid(CZ("PC2|") + dir_.File("media2/Pelvar.gbk"));
    EXPECT_FALSE(w->PrepareSources());
    EXPECT_TRUE(w->Busy());
    EXPECT_EQ(answers.Count("Soubor hlavní databáze nebyl nalezen!"), 1u) << ::testing::PrintToString(answers.texts);
    EXPECT_EQ(answers.Count("Příprava sehrávání byla zastavena: hlavní databáze " + Main() + " nebyla nalezena."), 1u)
        << ::testing::PrintToString(answers.texts);
  }
  fs::rename(dir_.File("elsewhere.fdb"), Main());
  EXPECT_EQ(QueryOne(Main(), "select count(*) as V from POHLAVI where ID_POHLAVI = 999001;"), "0");
}

// Finishing: Storno pressed while it works is answered; a backup rotation that fails
// changes the last page's sentence; the harmonised data are in place all the same.
TEST_F(MldrSafeDb, StornoDuringFinishingAndAFailedRotationAreSaid) {
  PutMain();
  // The backup directory is a file: the rotation cannot copy into it.
  fs::remove_all(dir_.File("zaloha"));
  WriteFile(dir_.File("zaloha"), "a file, not a directory");
  Answers answers("(none)");
  auto w = PlayedWizard();
  StepView view;
  view.step = "Zipování zpět na média (2 z 2)";
  view.action = [&] { w->Btn_StornoClick(); };
  w->SetView(&view);
  w->Btn_FinallyClick();
  w->SetView(nullptr);
  EXPECT_EQ(answers.Count("Probíhající krok sehrávání nelze přerušit. Počkejte prosím, až skončí."), 1u)
      << ::testing::PrintToString(answers.texts);
  EXPECT_EQ(answers.Count("Nepodařilo se zkopírovat sehranou zálohu mezi ostatní zálohy!"), 1u);
  ASSERT_EQ(w->PageIndex(), 5);
  EXPECT_EQ(AnsiToUtf8(w->L_Hotovo),
            "Sehrávání dat bylo dokončeno, ale sehraná záloha nebyla zařazena mezi zálohy hlavní databáze.");
  w.reset();
  EXPECT_EQ(QueryOne(Main(), kHarmonisedRow), "sehraná");
  EXPECT_EQ(Names(dir_.File("media1")), (std::vector<std::string>{"Stanice.old", "Stanice.zip"}));
  EXPECT_EQ(Names(dir_.File("media2")), (std::vector<std::string>{"Pelvar.gbk", "Pelvar.old"}));
  EXPECT_EQ(WizardRegText("Level"), "0");
}

// --- Faults of a station ------------------------------------------------------------------

// The wizard whose steps the tests drive, with an engine that fails once it has written
// into the working database when told to.
class FaultWizard : public FinishWizard {
 public:
  using FinishWizard::FinishWizard;
  ~FaultWizard() override { BeforeDestruction(); }
  bool engine_fails = false;

 protected:
  std::unique_ptr<TMeldrun> NewEngine() override {
    class Failing : public TMeldrun {
     public:
      void Execute() override {
        DMMeldrun()->ExecDst("insert into POHLAVI (ID_POHLAVI, POHLAVI) values (999002, 'polovina')");
        throw EDatabaseError("engine stopped halfway");
      }
    };
    if (engine_fails) return std::make_unique<Failing>();
    return FinishWizard::NewEngine();
  }
};

// Holds a database open in another process (isql-fb waiting on its input), as a program
// of the practice would: the in-process engine cannot open it then. Held once isql-fb
// has answered a query on it; an attach that lost the race against another process
// (the engine lets one process hold a database at a time) is tried again.
class HeldDatabase {
 public:
  explicit HeldDatabase(const std::string& db) {
    for (int attempt = 0; attempt < 20 && !held_; ++attempt) {
      if (attempt > 0) {
        Release();
        ::usleep(200000);
      }
      held_ = Attach(db);
    }
    EXPECT_TRUE(held_) << "isql-fb could not hold " << db;
  }
  ~HeldDatabase() { Release(); }

 private:
  bool Attach(const std::string& db) {
    int in[2], out[2];
    if (::pipe(in) != 0) return false;
    if (::pipe(out) != 0) {
      ::close(in[0]);
      ::close(in[1]);
      return false;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::dup2(out[1], 2);
      ::close(in[1]);
      ::close(out[0]);
      ::execlp("isql-fb", "isql-fb", "-q", "-user", kSysdbaUser, "-password", kSysdbaPassword, db.c_str(),
               static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    in_ = in[1];
    // The answer is spelled by the query, so an echo of the query cannot pass for it. The
    // file is held only by an attachment of isql-fb's own engine: one that fell back to the
    // server (the file still being closed by another engine as isql-fb opened it) leaves the
    // server free to share the database, and is tried again.
    const std::string query =
        "select case when mon$remote_protocol is null then 'HE' || 'LD' || '-' || 'OK' "
        "else 'HE' || 'LD' || '-' || 'NO' end from mon$attachments "
        "where mon$attachment_id = current_connection;\n";
    if (::write(in_, query.data(), query.size()) != static_cast<ssize_t>(query.size())) {
      ::close(out[0]);
      return false;
    }
    std::string output;
    char buf[512];
    for (;;) {
      pollfd p{out[0], POLLIN, 0};
      if (::poll(&p, 1, 60000) <= 0) break;
      const ssize_t n = ::read(out[0], buf, sizeof buf);
      if (n <= 0) break;
      output.append(buf, static_cast<size_t>(n));
      if (output.find("HELD-OK") != std::string::npos || output.find("HELD-NO") != std::string::npos) break;
      // A failed attach: isql-fb reports it and waits for input without a database.
      if (output.find("Statement failed") != std::string::npos || output.find("rror") != std::string::npos) break;
    }
    ::close(out[0]);
    return output.find("HELD-OK") != std::string::npos;
  }
  void Release() {
    if (in_ >= 0) ::close(in_);
    in_ = -1;
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }

  pid_t pid_ = -1;
  int in_ = -1;
  bool held_ = false;
};

class MldrStationFaultDb : public MldrSafeDb {
 protected:
  // The stations' media: PC1 "Stanice.zip", PC2 "Pelvar.gbk" (a real backup of station 2).
  void SetUp() override {
    MldrSafeDb::SetUp();
    if (!fs::exists(practice_->File("st2.gbk"))) {
      const CommandResult b = RunCommand({"gbak", "-b", "-user", kSysdbaUser, "-password", kSysdbaPassword,
                                          practice_->File("st2.fdb"), practice_->File("st2.gbk")});
      ASSERT_EQ(b.exit_code, 0) << b.output;
    }
    if (!fs::exists(practice_->File("st1.zip"))) {
      const CommandResult b = RunCommand({"gbak", "-b", "-user", kSysdbaUser, "-password", kSysdbaPassword,
                                          practice_->File("st1.fdb"), practice_->File("Pelvar.cb0")});
      ASSERT_EQ(b.exit_code, 0) << b.output;
      WriteFile(practice_->File("Identifikace.txt"), "PC1\r\n");
      const CommandResult z = RunCommand({"zip", "-q", "-j", practice_->File("st1.zip"),
                                          practice_->File("Identifikace.txt"), practice_->File("Pelvar.cb0")});
      ASSERT_EQ(z.exit_code, 0) << z.output;
    }
    fs::copy_file(practice_->File("st2.gbk"), Dir("media2/Pelvar.gbk"), fs::copy_options::overwrite_existing);
    pc2_before_ = ReadFile(Dir("media2/Pelvar.gbk"));
  }
  // The wizard on the play-in page of the first station, prepared as preparation leaves
  // it: PC1 from its unpacked archive, PC2 from its medium.
  std::unique_ptr<FaultWizard> OnPlayPage() {
    fs::copy_file(practice_->File("main.fdb"), Work("Main.fdb"));
    auto w = std::make_unique<FaultWizard>(AnsiString(dir_.Path() + "/"));
    TDMMeldrun* dm = w->MakeDataModule();
    w->AddPreparedStation(Work("Stanice.fbk"), Dir("media1/Stanice.zip"), "PC1");
    w->AddPreparedStation(Dir("media2/Pelvar.gbk"), Dir("media2/Pelvar.gbk"), "PC2");
    dm->InitStationLists(2);
    dm->OpenDst(Work("Main.fdb"), AdministratorUser, AdministratorPassword);
    w->SetTriggerState(dm->SetJournalTriggers(0));
    w->Show();
    w->SetPageIndex(1);
    w->Btn_NextClick();
    return w;
  }
  std::string pc2_before_;
};

// A station whose backup does not restore (no backup at all; an empty file): the
// box names the station and its file in Czech with the restore's own text below;
// Storno and Next are usable; Next goes on with the other station, and finishing
// delivers to that station only: the failed station keeps its file as it was.
TEST_F(MldrStationFaultDb, AStationThatDoesNotRestoreIsNamedAndTheOthersGoOn) {
  struct Case {
    const char* name;
    std::function<std::string()> backup;  // PC1's unpacked backup (none: no file)
    const char* restore_text;             // the start of what the restore says
    bool finish;                          // goes on with PC2 and finishes
  };
  const Case cases[] = {
      {"no backup", [] { return std::string("this is no backup of a database\n"); },
       "Soubor není záloha databáze, nebo je záloha poškozená. Vytvořte na stanici novou zálohu. (expected backup "
       "description record",
       true},
      {"empty file", [] { return std::string(); }, "", false},
      {"no file", nullptr,
       "Soubor zálohy nelze otevřít: neexistuje, nebo k němu průvodce nemá přístup. (cannot open backup file", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    for (const char* d : {"data", "media1", "media2", "MAINDATA", "zaloha"}) fs::remove_all(dir_.File(d));
    SetUp();
    PutMain();
    if (c.backup) WriteFile(Work("Stanice.fbk"), c.backup());
    Answers answers("(none)");
    auto w = OnPlayPage();
    ASSERT_EQ(w->PageIndex(), 2);
    w->Btn_StartClick();
    ASSERT_EQ(answers.texts.size(), 1u) << ::testing::PrintToString(answers.texts);
    const std::string& box = answers.texts[0];
    EXPECT_TRUE(Contains(box, "Při importu nastala závažná chyba.")) << box;
    EXPECT_TRUE(Contains(box, "Stanici \"PC1\" se nepodařilo sehrát: zálohu " + Work("Stanice.fbk") +
                                  " nelze obnovit.")) << box;
    EXPECT_TRUE(Contains(box, "Stanice nedostane sehraná data a její soubor zůstane beze změny.")) << box;
    // What the restore said, below.
    EXPECT_TRUE(Contains(box, "nelze obnovit.\r" + std::string(c.restore_text))) << box;
    EXPECT_EQ(w->PageIndex(), 2);
    EXPECT_TRUE(w->Btn_Storno.Enabled);
    EXPECT_TRUE(w->Btn_Prev.Enabled);
    w->TimerTimer();
    EXPECT_TRUE(w->Btn_Next.Visible);
    EXPECT_TRUE(w->Btn_Next.Enabled);
    if (!c.finish) continue;
    // Next: the other station.
    w->Btn_NextClick();
    ASSERT_EQ(w->PageIndex(), 2);
    EXPECT_EQ(w->StationIndex(), 1);
    EXPECT_EQ(AnsiToUtf8(w->Label11), "Start sehrávání dat pro 'PC2'");
    w->Btn_StartClick();
    ASSERT_EQ(w->PageIndex(), 3) << ::testing::PrintToString(answers.texts);
    w->Btn_NextClick();
    ASSERT_EQ(w->PageIndex(), 4);
    w->CB_VerifyZaloha.Checked = false;
    w->Btn_FinallyClick();
    ASSERT_EQ(w->PageIndex(), 5) << ::testing::PrintToString(answers.texts);
    // The last page names the station left out, why, and that its file stays.
    EXPECT_EQ(AnsiToUtf8(w->L_Hotovo), "Sehrávání dat bylo dokončeno bez některých stanic.");
    EXPECT_TRUE(Contains(AnsiToUtf8(w->L_Vynechane),
                         "jejich soubory zůstaly beze změny:\nPC1 (" + Work("Stanice.fbk") +
                             "): sehrání selhalo: " + c.restore_text))
        << AnsiToUtf8(w->L_Vynechane);
    w.reset();
    // Main holds the harmonised data of this run; PC2 has its result, PC1 its file.
    EXPECT_EQ(QueryOne(Main(), "select count(*) as V from RDB$DATABASE where cast(RDB$DESCRIPTION as "
                               "varchar(250)) starting with 'Pelvar harmonised';"),
              "1");
    EXPECT_EQ(Names(Dir("media1")), std::vector<std::string>{"Stanice.zip"});
    EXPECT_EQ(ReadFile(Dir("media1/Stanice.zip")), kOriginalPc1);
    EXPECT_EQ(Names(Dir("media2")), (std::vector<std::string>{"Pelvar.gbk", "Pelvar.old"}));
    EXPECT_TRUE(ReadFile(Dir("media2/Pelvar.old")) == pc2_before_);
  }
}

// A main database that another program holds is named with the engine's text, and
// preparation stops; the main database and the stations' files stay as they were.
TEST_F(MldrStationFaultDb, AMainDatabaseHeldByAnotherProgramStopsPreparation) {
  PutMain();
  {
    HeldDatabase held(Main());
    Answers answers("(none)");
    auto w = std::make_unique<FaultWizard>(AnsiString(dir_.Path() + "/"));
    w->MakeDataModule();
    w->Show();
    w->FillStationGrid(CZ("PC2|") + Dir("media2/Pelvar.gbk"));
    w->TimerTimer();
    w->Btn_NextClick();
    EXPECT_EQ(w->PageIndex(), 0);
    EXPECT_TRUE(w->Busy());
    EXPECT_EQ(answers.Count("Hlavní databázi " + Main() + " se nepodařilo zazálohovat:"), 1u)
        << ::testing::PrintToString(answers.texts);
    EXPECT_EQ(answers.Count("Database already opened"), 1u) << ::testing::PrintToString(answers.texts);
    EXPECT_EQ(answers.Count("Příprava sehrávání byla zastavena."), 1u) << ::testing::PrintToString(answers.texts);
  }
  ExpectPracticeAsBefore2();
}

// The working directory is full when the station's backup is restored there: the box
// names the station and its file, the station is left out, the program goes on.
TEST_F(MldrStationFaultDb, AFullWorkingDirectoryIsNamedWithTheStation) {
  PutMain();
  const uint64_t size = fs::file_size(practice_->File("st2.fdb"));
  SmallDisk work(Dir("MAINDATA"), 4 * (fs::file_size(practice_->File("main.fdb")) + size));
  if (!work.Mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
  fs::copy_file(practice_->File("st2.gbk"), Work("Stanice.fbk"));
  Answers answers("(none)");
  auto w = OnPlayPage();
  work.FillUpTo(size / 3);
  w->Btn_StartClick();
  ASSERT_EQ(answers.texts.size(), 1u) << ::testing::PrintToString(answers.texts);
  EXPECT_TRUE(Contains(answers.texts[0], "Stanici \"PC1\" se nepodařilo sehrát: zálohu " + Work("Stanice.fbk") +
                                             " nelze obnovit.")) << answers.texts[0];
  EXPECT_TRUE(Contains(answers.texts[0], "Stanice nedostane sehraná data")) << answers.texts[0];
  EXPECT_TRUE(w->StationLeftOut(0));
  EXPECT_FALSE(fs::exists(Work("stanice.fdb")));
  w.reset();
  ExpectPracticeAsBefore2();
}

// The play-in fails after it wrote into the working database: nothing can be finished
// from that database; the box says so and only Storno is left. The main database and
// the stations' files stay as they were.
TEST_F(MldrStationFaultDb, AFailureInsideThePlayInLeavesOnlyStop) {
  PutMain();
  fs::copy_file(practice_->File("st2.gbk"), Work("Stanice.fbk"));
  Answers answers("(none)");
  auto w = OnPlayPage();
  w->engine_fails = true;
  w->Btn_StartClick();
  ASSERT_EQ(answers.texts.size(), 1u) << ::testing::PrintToString(answers.texts);
  const std::string& box = answers.texts[0];
  EXPECT_TRUE(Contains(box, "Při importu nastala závažná chyba.")) << box;
  EXPECT_TRUE(Contains(box, "Stanici \"PC1\" se nepodařilo sehrát (záloha " + Work("Stanice.fbk") + "):")) << box;
  EXPECT_TRUE(Contains(box, "engine stopped halfway")) << box;
  EXPECT_TRUE(Contains(box, "Ukončete průvodce tlačítkem Storno")) << box;
  w->TimerTimer();
  EXPECT_TRUE(w->Btn_Storno.Enabled);
  EXPECT_FALSE(w->Btn_Next.Enabled && w->Btn_Next.Visible);
  EXPECT_FALSE(w->Btn_Prev.Enabled);
  EXPECT_FALSE(w->Btn_Start.Enabled && w->Btn_Start.Visible);
  w->PMouseDown(0);
  w->PMouseUp(0);
  EXPECT_EQ(w->PageIndex(), 2);
  w->Btn_StornoClick();
  w.reset();
  ExpectPracticeAsBefore2();
}

// Preparation: an archive that cannot be unpacked (cut short, a wrong CRC) is named with
// its station and the zip's own text; the administrator goes on without that station or
// stops. The main database and the stations' files stay as they were.
TEST_F(MldrStationFaultDb, PreparationFaultsNameTheStationAndTheFile) {
  PutMain();
  // PC1's archive: made by zip from a good backup, then damaged.
  const std::string zip = Dir("media1/Stanice.zip");
  WriteFile(Dir("Identifikace.txt"), "PC1\r\n");
  fs::copy_file(practice_->File("st2.gbk"), Dir("Pelvar.cb0"));
  fs::remove(zip);
  const CommandResult z = RunCommand({"zip", "-q", "-j", zip, Dir("Identifikace.txt"), Dir("Pelvar.cb0")});
  ASSERT_EQ(z.exit_code, 0) << z.output;
  const std::string good = ReadFile(zip);
  struct Case {
    const char* name;
    std::string archive;
    const char* zip_text;  // what the question says of it
  };
  std::string crc = good;
  {
    // The stored CRC of "Pelvar.cb0" made wrong, in its local header (offset 14) and in
    // the central directory (offset 16).
    const size_t local = crc.find("PK\x03\x04", 1);
    const size_t central = crc.rfind("PK\x01\x02");
    ASSERT_NE(local, std::string::npos);
    ASSERT_NE(central, std::string::npos);
    crc[local + 14] = static_cast<char>(crc[local + 14] ^ 0x5a);
    crc[central + 16] = static_cast<char>(crc[central + 16] ^ 0x5a);
  }
  // An archive without the backup entry.
  const std::string bare = Dir("bare.zip");
  const CommandResult zb = RunCommand({"zip", "-q", "-j", bare, Dir("Identifikace.txt")});
  ASSERT_EQ(zb.exit_code, 0) << zb.output;
  const Case cases[] = {
      {"cut short", good.substr(0, good.size() / 2),
       "Archiv je poškozený nebo neúplný (nejspíš nebyl celý zkopírován). Vytvořte na stanici nový archiv. (Damaged "
       "archive - the end of the central directory is missing"},
      {"wrong CRC", crc,
       "Soubor Pelvar.cb0 v archivu je poškozený (nesouhlasí jeho kontrolní součet). Vytvořte na stanici nový "
       "archiv. (Failed CRC Check (23))"},
      {"no backup inside", ReadFile(bare),
       "V archivu chybí soubor Pelvar.cb0: archiv nevytvořil průvodce stanice, nebo je neúplný. Vytvořte na "
       "stanici nový archiv. (File not found (25))"},
  };
  for (const Case& c : cases) {
    for (const bool go_on : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (go_on ? ", going on" : ", stopping"));
      WriteFile(zip, c.archive);
      fs::remove_all(Dir("MAINDATA"));
      fs::create_directories(Dir("MAINDATA"));
      Answers answers(go_on ? "(none)" : "Pokračovat v přípravě bez této stanice?");
      auto w = std::make_unique<FaultWizard>(AnsiString(dir_.Path() + "/"));
      w->MakeDataModule();
      w->Show();
      w->FillStationGrid(CZ("PC1|") + zip + CZ(";PC2|") + Dir("media2/Pelvar.gbk"));
      w->TimerTimer();
      w->Btn_NextClick();
      const auto question = std::find_if(answers.texts.begin(), answers.texts.end(), [&](const std::string& t) {
        return Contains(t, "Archiv \"" + zip + "\" stanice \"PC1\" se nepodařilo rozbalit");
      });
      ASSERT_NE(question, answers.texts.end()) << ::testing::PrintToString(answers.texts);
      EXPECT_TRUE(Contains(*question, "Pokračovat v přípravě bez této stanice?")) << *question;
      // The zip's reason in Czech inside the question, with no box of its own before it.
      EXPECT_TRUE(Contains(*question, "se nepodařilo rozbalit:\r" + std::string(c.zip_text))) << *question;
      EXPECT_EQ(answers.Count("Při dekomprimování"), 0u) << ::testing::PrintToString(answers.texts);
      if (go_on) {
        EXPECT_EQ(w->PageIndex(), 1) << ::testing::PrintToString(answers.texts);
        EXPECT_EQ(w->StationIdents().Count(), 1);
      } else {
        EXPECT_EQ(w->PageIndex(), 0);
        EXPECT_TRUE(w->Busy());
      }
      w.reset();
      EXPECT_EQ(ReadFile(zip), c.archive);
      ExpectPracticeAsBefore2();
    }
  }
  ExpectPracticeAsBefore2();
}

// A medium that takes no writes: a tmpfs of its own remounted read-only (as root), else a
// directory without write permission.
class ReadOnlyMedium {
 public:
  ReadOnlyMedium(const std::string& dir, const std::string& file, const std::string& data) : dir_(dir) {
    fs::create_directories(dir);
    if (::geteuid() == 0) {
      mounted_ = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=16m") == 0;
      if (!mounted_) return;
      WriteFile(dir + "/" + file, data);
      ready_ = ::mount("tmpfs", dir.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    } else {
      WriteFile(dir + "/" + file, data);
      fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
      ready_ = true;
    }
  }
  ~ReadOnlyMedium() {
    if (mounted_) {
      ::umount2(dir_.c_str(), MNT_DETACH);
    } else {
      fs::permissions(dir_, fs::perms::owner_all);
    }
  }
  bool Ready() const { return ready_; }

 private:
  std::string dir_;
  bool mounted_ = false;
  bool ready_ = false;
};

// Stations left out by preparation, the damaged archive of PC1 (the question answered
// Yes) and PC3 whose medium takes no writes, are named on the last page with why, their
// files as they were. The medium is found at preparation, naming station and medium; No
// there stops preparation.
TEST_F(MldrStationFaultDb, StationsLeftOutAtPreparationAreNamedOnTheLastPage) {
  PutMain();
  const std::string zip = Dir("media1/Stanice.zip");
  const std::string good = ReadFile(practice_->File("st1.zip"));
  WriteFile(zip, good.substr(0, good.size() / 2));
  const std::string pc1_before = ReadFile(zip);
  ReadOnlyMedium medium(Dir("media3"), "Pelvar.gbk", ReadFile(practice_->File("st2.gbk")));
  if (!medium.Ready()) GTEST_SKIP() << "no read-only medium can be made here";
  const std::string pc3 = Dir("media3/Pelvar.gbk");
  const std::string grid = "PC1|" + zip + ";PC2|" + Dir("media2/Pelvar.gbk") + ";PC3|" + pc3;
  const std::string refusal = "Na médium stanice \"PC3\" nelze uložit její sehraná data (soubor " + pc3 + "):\r" +
                              "médium s adresářem " + Dir("media3") +
                              " je chráněno proti zápisu (připojeno jen pro čtení).";
  {
    Answers answers("nelze uložit její sehraná data");
    auto w = std::make_unique<FaultWizard>(AnsiString(dir_.Path() + "/"));
    w->MakeDataModule();
    w->Show();
    w->FillStationGrid(CZ(grid));
    w->TimerTimer();
    w->Btn_NextClick();
    EXPECT_EQ(w->PageIndex(), 0);
    EXPECT_TRUE(w->Busy());
    EXPECT_EQ(answers.Count(refusal), 1u) << ::testing::PrintToString(answers.texts);
    EXPECT_FALSE(fs::exists(Work("Main.fdb")));
  }
  Answers answers("(none)");
  auto w = std::make_unique<FaultWizard>(AnsiString(dir_.Path() + "/"));
  w->MakeDataModule();
  w->Show();
  w->FillStationGrid(CZ(grid));
  w->TimerTimer();
  w->Btn_NextClick();
  ASSERT_EQ(w->PageIndex(), 1) << ::testing::PrintToString(answers.texts);
  EXPECT_EQ(w->StationIdents().Count(), 1);
  EXPECT_EQ(answers.Count(refusal), 1u) << ::testing::PrintToString(answers.texts);
  // The zip kit's reason is in the question, in Czech, with no box of its own before it.
  EXPECT_EQ(answers.Count("Archiv \"" + zip + "\" stanice \"PC1\" se nepodařilo rozbalit:\rArchiv je poškozený "
                          "nebo neúplný (nejspíš nebyl celý zkopírován). Vytvořte na stanici nový archiv. (Damaged "
                          "archive"),
            1u)
      << ::testing::PrintToString(answers.texts);
  EXPECT_EQ(answers.Count("Při dekomprimování"), 0u) << ::testing::PrintToString(answers.texts);
  w->Btn_NextClick();
  w->Btn_StartClick();
  ASSERT_EQ(w->PageIndex(), 3) << ::testing::PrintToString(answers.texts);
  w->Btn_NextClick();
  ASSERT_EQ(w->PageIndex(), 4);
  w->CB_VerifyZaloha.Checked = false;
  w->Btn_FinallyClick();
  ASSERT_EQ(w->PageIndex(), 5) << ::testing::PrintToString(answers.texts);
  EXPECT_EQ(AnsiToUtf8(w->L_Hotovo), "Sehrávání dat bylo dokončeno bez některých stanic.");
  const std::string left = AnsiToUtf8(w->L_Vynechane);
  EXPECT_TRUE(Contains(left, "Tyto stanice nebyly sehrány a nedostaly sehraná data; jejich soubory zůstaly beze "
                             "změny:\nPC1 (" + zip + "): archiv se nepodařilo rozbalit: Archiv je poškozený"))
      << left;
  EXPECT_TRUE(Contains(left, "\nPC3 (" + pc3 + "): na médium nelze uložit sehraná data: médium s adresářem " +
                                 Dir("media3") + " je chráněno proti zápisu"))
      << left;
  EXPECT_FALSE(Contains(left, "PC2")) << left;
  w.reset();
  EXPECT_TRUE(ReadFile(zip) == pc1_before);
  EXPECT_EQ(Names(Dir("media1")), std::vector<std::string>{"Stanice.zip"});
  EXPECT_EQ(Names(Dir("media3")), std::vector<std::string>{"Pelvar.gbk"});
  EXPECT_EQ(Names(Dir("media2")), (std::vector<std::string>{"Pelvar.gbk", "Pelvar.old"}));
}

// --- A run ended midway ---------------------------------------------------------------------

class MldrEndedRunDb : public MldrStationFaultDb {
 protected:
  void SetUp() override {
    MldrStationFaultDb::SetUp();
    fs::copy_file(practice_->File("st1.zip"), Dir("media1/Stanice.zip"), fs::copy_options::overwrite_existing);
    pc1_before_ = ReadFile(Dir("media1/Stanice.zip"));
  }
  // The wizard run in a child until the first station plays, then ended as `end` says;
  // the child's exit code must be `exit_code`. Then the next start: it removes the work
  // files the run made and says so; the main database and the stations' files are as
  // before.
  void EndPlayInAndStartAgain(const std::string& end, int exit_code) {
    SCOPED_TRACE(end);
    PutMain();
    const CommandResult r = RunChild("play|" + end);
    ASSERT_EQ(r.exit_code, exit_code) << r.output;
    EXPECT_FALSE(Contains(r.output, "page: ")) << "the run went on:\n" << r.output;
    EXPECT_FALSE(Contains(r.output, "Při importu")) << r.output;
    ASSERT_TRUE(fs::exists(Work("Main.fdb")));
    std::vector<std::string> texts;
    {
      DialogLog dialogs;
      auto w = std::make_unique<FinishWizard>(AnsiString(dir_.Path() + "/"));
      w->Show();
      w.reset();
      texts = dialogs.texts;
    }
    ASSERT_EQ(texts.size(), 1u) << ::testing::PrintToString(texts);
    EXPECT_TRUE(Contains(texts[0], "Průvodce odstranil soubory, které po sobě zanechalo předchozí nedokončené "
                                   "sehrávání:")) << texts[0];
    for (const char* made : {"Stanice.fbk", "Pelvar.gbk", "Main.fdb", "stanice.fdb"})
      EXPECT_TRUE(Contains(texts[0], Work(made))) << made << " in " << texts[0];
    for (const auto& e : fs::directory_iterator(Dir("MAINDATA")))
      EXPECT_TRUE(e.is_directory()) << "left in the working directory: " << e.path();
    ExpectPracticeAsBefore2();
    EXPECT_TRUE(ReadFile(Dir("media1/Stanice.zip")) == pc1_before_);
    EXPECT_TRUE(ReadFile(Dir("media2/Pelvar.gbk")) == pc2_before_);
  }
  std::string pc1_before_;
};

// Killed while the first station plays: the next start removes the unpacked archive,
// the main backup, the working database and the restored station, recorded before they
// were made.
TEST_F(MldrEndedRunDb, KilledPlayInLeavesNoWorkFilesAfterTheNextStart) { EndPlayInAndStartAgain("kill", 128 + SIGKILL); }

// SIGTERM, and the window closed while the first station plays: the wizard ends at once
// as a kill would, without going on; the next start cleans up as after a kill.
TEST_F(MldrEndedRunDb, SigtermAndClosingTheWindowEndThePlayInLikeAKill) {
  EndPlayInAndStartAgain("term", 128 + SIGTERM);
  TearDown();
  for (const char* d : {"data", "media1", "media2", "MAINDATA", "zaloha"}) fs::remove_all(dir_.File(d));
  SetUp();
  EndPlayInAndStartAgain("close", 0);
}

// Two wizards on one practice: a second one started while the first waits on its play-in
// page says which run holds the practice, removes nothing and closes; the first then
// plays its station from the files it made.
TEST_F(MldrEndedRunDb, ASecondWizardOnThePracticeSaysWhoRunsAndTouchesNothing) {
  PutMain();
  auto first = std::async(std::launch::async, [argv = ChildCommand("play|wait")] { return RunCommand(argv); });
  for (int i = 0; i < 1800 && !fs::exists(Dir("ready")); ++i) {
    if (first.wait_for(std::chrono::milliseconds(100)) == std::future_status::ready) break;
  }
  if (!fs::exists(Dir("ready"))) {
    WriteFile(Dir("go"), "");
    FAIL() << "the first wizard did not reach its play-in page:\n" << first.get().output;
  }
  const std::string pid = ReadFile(Dir("ready"));
  const std::vector<std::string> made = Names(Dir("MAINDATA"));
  std::vector<std::string> texts;
  {
    DialogLog dialogs;
    auto w = std::make_unique<FinishWizard>(AnsiString(dir_.Path() + "/"));
    w->Show();
    EXPECT_TRUE(w->RunRefused());
    w->FillStationGrid(CZ("PC2|") + Dir("media2/Pelvar.gbk"));
    w->TimerTimer();
    EXPECT_FALSE(w->Btn_Next.Enabled);
    w->Btn_NextClick();
    EXPECT_EQ(w->PageIndex(), 0);
    w.reset();
    texts = dialogs.texts;
  }
  EXPECT_EQ(Names(Dir("MAINDATA")), made);
  WriteFile(Dir("go"), "");
  const CommandResult r = first.get();
  ASSERT_EQ(texts.size(), 1u) << ::testing::PrintToString(texts);
  EXPECT_TRUE(Contains(texts[0], "Na této praxi již běží jiný průvodce sehráváním dat: spustil jej uživatel "))
      << texts[0];
  EXPECT_TRUE(Contains(texts[0], "(proces " + pid + ").")) << texts[0];
  EXPECT_TRUE(Contains(texts[0], "Tento průvodce se nyní ukončí a nic nezmění.")) << texts[0];
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_TRUE(Contains(r.output, "page: 3")) << "the first run did not play its station:\n" << r.output;
  EXPECT_FALSE(Contains(r.output, "Při importu")) << r.output;
}

}  // namespace
}  // namespace pelvar::test
