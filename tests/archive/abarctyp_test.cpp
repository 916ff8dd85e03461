// The archive model over a minimal format of its own: the item list with its name
// buckets, adding, freshening, replacing, moving, extracting, saving and loading,
// events, the log, and extraction paths that never leave the base directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "archive/abarctyp.h"
#include "archive/abconst.h"
#include "platform/codepage.h"
#include "platform/sysutils.h"
#include "support/process.h"

namespace pelvar {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// --- A minimal archive format ---
// "TST1", then per item: name length (2 bytes), name, data length (4 bytes), data;
// then "TEND" and the number of items (4 bytes).

class TTestItem : public TAbArchiveItem {
 public:
  std::string data;
};

void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
}
uint32_t GetU32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s.at(at + static_cast<size_t>(i)));
  return v;
}

std::string MakeTestArchive(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string out = "TST1";
  for (const auto& [name, data] : entries) {
    out += static_cast<char>(name.size() & 0xFF);
    out += static_cast<char>(name.size() >> 8);
    out += name;
    PutU32(out, static_cast<uint32_t>(data.size()));
    out += data;
  }
  out += "TEND";
  PutU32(out, static_cast<uint32_t>(entries.size()));
  return out;
}

struct ParsedArchive {
  std::vector<std::pair<std::string, std::string>> entries;
  uint32_t end_count = 0;
};

ParsedArchive ParseTestArchive(const std::string& s) {
  ParsedArchive out;
  if (s.compare(0, 4, "TST1") != 0) throw EAbException("not a test archive");
  size_t at = 4;
  while (s.compare(at, 4, "TEND") != 0) {
    const size_t len = static_cast<uint8_t>(s.at(at)) | (static_cast<size_t>(static_cast<uint8_t>(s.at(at + 1))) << 8);
    std::string name = s.substr(at + 2, len);
    at += 2 + len;
    const uint32_t size = GetU32(s, at);
    out.entries.emplace_back(name, s.substr(at + 4, size));
    at += 4 + size;
  }
  out.end_count = GetU32(s, at + 4);
  return out;
}

class TTestArchive : public TAbArchive {
 public:
  using TAbArchive::TAbArchive;

  int save_count = 0;
  TAbArchiveStatus status_in_save = asInvalid;
  std::set<std::string> failing;  // names whose extraction raises

  std::unique_ptr<TAbArchiveItem> CreateItem(const AnsiString& FileName) override {
    auto item = std::make_unique<TTestItem>();
    item->SetDiskFileName(ExpandFileName(AbDiskPath(FileName)));
    item->SetFileName(FixName(FileName));
    return item;
  }

  void ExtractItemAt(int32_t Index, const AnsiString& UseName) override {
    AnsiString name = UseName;
    if (!AbPrepareOutputPath(BaseDirectory(), name, ExtractOptions(), OnConfirmOverwrite)) return;
    WriteFile(name, static_cast<TTestItem*>(Items(Index))->data);
  }

  void ExtractItemToStreamAt(int32_t Index, TStream& Stream) override {
    auto* item = static_cast<TTestItem*>(Items(Index));
    if (failing.count(item->FileName())) throw EAbZipBadCRC();
    DoStreamProgress(50);
    Stream.WriteBuffer(item->data.data(), static_cast<int64_t>(item->data.size()));
  }

  void TestItemAt(int32_t) override {}

 protected:
  void LoadArchive() override {
    TStream& s = *Stream();
    std::string content(static_cast<size_t>(s.Size()), '\0');
    s.SetPosition(0);
    if (!content.empty()) s.ReadBuffer(content.data(), static_cast<int64_t>(content.size()));
    if (content.empty()) return;
    for (auto& [name, data] : ParseTestArchive(content).entries) {
      auto item = std::make_unique<TTestItem>();
      item->SetFileName(name);
      item->data = data;
      ItemList().Add(std::move(item));
    }
    SetIsDirty(false);
  }

  void SaveArchive() override {
    ++save_count;
    status_in_save = Status();
    std::vector<std::pair<std::string, std::string>> entries;
    for (int32_t i = 0; i < ItemCount(); ++i) {
      auto* item = static_cast<TTestItem*>(Items(i));
      switch (item->Action()) {
        case aaDelete: continue;
        case aaAdd:
        case aaFreshen:
        case aaReplace: item->data = ReadFile(item->DiskFileName()); break;
        default: break;
      }
      entries.emplace_back(item->FileName(), item->data);
    }
    std::string out = MakeTestArchive(entries);
    // The end record counts what the save keeps: never items marked for deletion.
    out.resize(out.size() - 4);
    PutU32(out, static_cast<uint32_t>(ActiveItemCount()));
    SetArchiveStream(nullptr, false);
    auto s = std::make_unique<TAbSpanStream>(ArchiveName(), 0, mtLocal, fmOpenWrite | fmShareDenyWrite);
    s->SetSize(0);
    s->WriteBuffer(out.data(), static_cast<int64_t>(out.size()));
    SetArchiveStream(std::move(s));
    for (int32_t i = ItemCount() - 1; i >= 0; --i) {
      if (Items(i)->Action() == aaDelete)
        ItemList().Delete(i);
      else
        Items(i)->SetAction(aaNone);
    }
  }
};

constexpr uint16_t kCreate = 0xFFFF;
constexpr uint16_t kOpen = fmOpenRead | fmShareDenyNone;

struct Failure {
  AnsiString name;
  TAbProcessType type;
  TAbErrorClass error_class;
  int32_t code;
  bool operator==(const Failure&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Failure& f) {
  return os << f.name << " " << int(f.type) << " " << int(f.error_class) << " " << f.code;
}

void RecordFailures(TAbArchive& a, std::vector<Failure>& out) {
  a.OnProcessItemFailure = [&out](TObject*, TAbArchiveItem* item, TAbProcessType type,
                                  TAbErrorClass error_class, int32_t code) {
    out.push_back({item->FileName(), type, error_class, code});
  };
}

std::vector<std::string> StoredNames(TAbArchive& a) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < a.ItemCount(); ++i) out.push_back(a.Items(i)->FileName());
  return out;
}

// --- The item list ---

TEST(AbArchiveListTest, HashBucketsIgnoreLetterCase) {
  struct Case {
    AnsiString name;
    int32_t bucket;
  };
  const Case cases[] = {
      {"abc", 406},
      {"ABC", 406},
      {"Pelvar.cb0", 237},
      {"Identifikace.txt", 1005},
      {"a/very/long/directory/name/that/exceeds/eight/characters.txt", 430},
      {CZ("žluťoučký kůň.txt"), 338},
      {CZ("ŽLUŤOUČKÝ KŮŇ.TXT"), 338},
  };
  for (const Case& c : cases) EXPECT_EQ(TAbArchiveList::HashOf(c.name), c.bucket) << c.name;

  TAbArchiveList list;
  auto item = std::make_unique<TAbArchiveItem>();
  item->SetFileName("Pelvar.cb0");
  list.Add(std::move(item));
  EXPECT_EQ(list.Find("PELVAR.CB0"), 0);
  EXPECT_EQ(list.Find("pelvar.cb0"), 0);
  EXPECT_EQ(list.Find("pelvar.cb1"), -1);
  EXPECT_TRUE(list.IsActiveDupe("PELVAR.cb0"));
  list.Get(0)->SetAction(aaDelete);
  EXPECT_FALSE(list.IsActiveDupe("PELVAR.cb0"));
  EXPECT_THROW(list.Get(1), EListError);
}

// Deleting an item unlinks that very item from its bucket, not the first one of
// the same name; a freed item left in a chain would be read after free here.
TEST(AbArchiveListTest, DeleteUnlinksTheItemAtTheIndex) {
  for (const int32_t victim : {0, 1, 2}) {
    TAbArchiveList list;
    std::vector<TAbArchiveItem*> items;
    for (const char* name : {"same.txt", "SAME.TXT", "Same.Txt"}) {
      auto item = std::make_unique<TAbArchiveItem>();
      item->SetFileName(name);
      items.push_back(item.get());
      list.Add(std::move(item));
    }
    list.Delete(victim);
    ASSERT_EQ(list.Count(), 2);
    // The bucket holds exactly the two items left, newest first.
    std::vector<TAbArchiveItem*> chain;
    for (TAbArchiveItem* p = list.BucketHead(TAbArchiveList::HashOf("same.txt")); p; p = p->NextItem())
      chain.push_back(p);
    std::vector<TAbArchiveItem*> expected;
    for (int32_t i = 2; i >= 0; --i) {
      if (i != victim) expected.push_back(items[static_cast<size_t>(i)]);
    }
    EXPECT_EQ(chain, expected) << "victim " << victim;
    EXPECT_EQ(list.Get(list.Find("same.txt")), expected.front());
    list.Delete(list.Find("same.txt"));
    EXPECT_EQ(list.Get(list.Find("SAME.txt")), expected.back());
    list.Delete(0);
    EXPECT_EQ(list.Find("same.txt"), -1);
    EXPECT_EQ(list.BucketHead(TAbArchiveList::HashOf("same.txt")), nullptr);
  }
}

// --- The archive ---

class AbArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = dir_.Path() + "/base";
    std::filesystem::create_directories(base_ + "/sub");
    WriteFile(base_ + "/a.txt", "alpha");
    WriteFile(base_ + "/b.txt", "bravo");
    WriteFile(base_ + "/sub/c.txt", "charlie");
    arc_ = base_ + "/archive.tst";
  }

  std::unique_ptr<TTestArchive> NewArchive(uint16_t mode = kCreate) {
    auto a = std::make_unique<TTestArchive>(arc_, mode);
    a->SetBaseDirectory(base_);
    if (mode != kCreate) a->Load();
    return a;
  }

  TempDir dir_{"abarc"};
  std::string base_;
  std::string arc_;
};

TEST_F(AbArchiveTest, NewArchiveStartsIdleInTheProgramDirectory) {
  TTestArchive a(arc_, kCreate);
  EXPECT_EQ(a.Status(), asIdle);
  EXPECT_EQ(a.ArchiveName(), arc_);
  EXPECT_EQ(a.Mode(), kCreate);
  EXPECT_EQ(a.BaseDirectory(), AbExecutableDirectory());
  EXPECT_TRUE(AbIsDirectory(a.BaseDirectory()));
  EXPECT_EQ(a.ItemCount(), 0);
  EXPECT_FALSE(a.IsDirty());
  EXPECT_TRUE(a.StoreOptions().Empty());
  EXPECT_TRUE(a.ExtractOptions().Empty());
  EXPECT_TRUE(Exists(arc_));
  EXPECT_THROW(TTestArchive("relative.tst", kCreate), EAbException);
}

TEST_F(AbArchiveTest, SetBaseDirectoryDropsATrailingSeparatorButNotARoot) {
  TTestArchive a(arc_, kCreate);
  struct Case {
    std::string given, stored;
  };
  for (const Case& c : {Case{base_ + "/", base_}, Case{base_, base_}, Case{"/", "/"}, Case{"", ""},
                        Case{base_ + "/sub/", base_ + "/sub"}}) {
    a.SetBaseDirectory(c.given);
    EXPECT_EQ(a.BaseDirectory(), c.stored) << c.given;
  }
  EXPECT_THROW(a.SetBaseDirectory(base_ + "/missing"), EAbNoSuchDirectory);
  EXPECT_THROW(a.SetBaseDirectory("C:\\Data\\"), EAbNoSuchDirectory);
  EXPECT_EQ(a.BaseDirectory(), base_ + "/sub");
}

TEST_F(AbArchiveTest, AddSaveAndLoadBack) {
  {
    auto a = NewArchive();
    std::vector<std::pair<std::string, int>> confirmed;
    a->OnConfirmProcessItem = [&](TObject* sender, TAbArchiveItem* item, TAbProcessType type, bool& confirm) {
      EXPECT_EQ(sender, a.get());
      confirmed.emplace_back(item->FileName(), type);
      confirm = item->FileName() != "b.txt";  // refused: not added
    };
    a->AddFiles("*.txt", 0);
    EXPECT_EQ(StoredNames(*a), (std::vector<std::string>{"a.txt"}));
    EXPECT_EQ(confirmed, (std::vector<std::pair<std::string, int>>{{"a.txt", ptAdd}, {"b.txt", ptAdd}}));
    EXPECT_EQ(a->Items(0)->Action(), aaAdd);
    EXPECT_EQ(a->Items(0)->DiskFileName(), base_ + "/a.txt");
    EXPECT_TRUE(a->IsDirty());
    int saved_events = 0;
    a->OnSave = [&](TObject*) { ++saved_events; };
    a->Save();
    EXPECT_EQ(a->save_count, 1);
    EXPECT_EQ(a->status_in_save, asBusy);
    EXPECT_EQ(a->Status(), asIdle);
    EXPECT_EQ(saved_events, 1);
    EXPECT_FALSE(a->IsDirty());
    EXPECT_EQ(a->Items(0)->Action(), aaNone);
    a->Save();  // clean and not empty: nothing to write
    EXPECT_EQ(a->save_count, 1);
  }
  const ParsedArchive parsed = ParseTestArchive(ReadFile(arc_));
  EXPECT_EQ(parsed.entries, (std::vector<std::pair<std::string, std::string>>{{"a.txt", "alpha"}}));
  auto b = NewArchive(kOpen);
  EXPECT_EQ(StoredNames(*b), (std::vector<std::string>{"a.txt"}));
  TStringStream out;
  b->ExtractToStream("A.TXT", out);
  EXPECT_EQ(out.DataString(), "alpha");
}

TEST_F(AbArchiveTest, AnEmptyArchiveIsWrittenEvenWhenClean) {
  auto a = NewArchive();
  EXPECT_FALSE(a->IsDirty());
  a->Save();
  EXPECT_EQ(a->save_count, 1);
  EXPECT_EQ(ReadFile(arc_), MakeTestArchive({}));
  bool confirm_asked = false;
  a->OnConfirmSave = [&](TObject*, bool& confirm) {
    confirm_asked = true;
    confirm = false;
  };
  a->Save();
  EXPECT_TRUE(confirm_asked);
  EXPECT_EQ(a->save_count, 1);
}

TEST_F(AbArchiveTest, DuplicateNameInOtherLetterCase) {
  struct Case {
    const char* name;
    TAbStoreOptions options;
    TAbArchiveAction action;  // of the existing item afterwards
    size_t failures;
  };
  const Case cases[] = {
      {"plain", {}, aaNone, 1},
      {"replace", {soReplace}, aaReplace, 0},
      {"freshen", {soFreshen}, aaFreshen, 0},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(arc_);
    WriteFile(arc_, MakeTestArchive({{"a.txt", "old"}}));
    auto a = NewArchive(kOpen);
    std::vector<Failure> failures;
    RecordFailures(*a, failures);
    a->SetStoreOptions(c.options);
    auto item = a->CreateItem("A.TXT");
    a->Add(std::move(item));
    EXPECT_EQ(a->ItemCount(), 1) << c.name;
    EXPECT_EQ(a->Items(0)->Action(), c.action) << c.name;
    ASSERT_EQ(failures.size(), c.failures) << c.name;
    if (c.failures) {
      EXPECT_EQ(failures[0], (Failure{"A.TXT", ptAdd, ecArchiveKit, 7}));
    }
  }
}

TEST_F(AbArchiveTest, WildcardNeverAddsTheArchiveItself) {
  WriteFile(arc_, MakeTestArchive({}));
  const std::vector<std::string> masks = {"*", "*.*", base_ + "/*", base_ + "/./*.*", "../base/*",
                                          "archive.tst"};
  for (const std::string& mask : masks) {
    auto a = NewArchive(kOpen);
    a->AddFiles(mask, 0);
    std::vector<std::string> names = StoredNames(*a);
    EXPECT_EQ(std::count_if(names.begin(), names.end(),
                            [](const std::string& n) { return n.find("archive.tst") != std::string::npos; }),
              0)
        << mask;
    if (mask != "archive.tst") {
      EXPECT_EQ(names.size(), 2u) << mask;
    }
  }
  // Recursing, with an exclusion mask.
  auto a = NewArchive(kOpen);
  a->SetStoreOptions({soRecurse});
  a->AddFilesEx("*.txt", "b.*", 0);
  std::vector<std::string> names = StoredNames(*a);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "sub/c.txt"}));
  // The current directory is back where it was.
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_NE(std::string(cwd), base_);
}

TEST_F(AbArchiveTest, ExtractToStream) {
  WriteFile(arc_, MakeTestArchive({{"good.txt", "fine"}, {"bad.txt", "broken"}}));
  auto a = NewArchive(kOpen);
  a->failing = {"bad.txt"};
  std::vector<Failure> failures;
  RecordFailures(*a, failures);
  std::vector<std::pair<std::string, int>> progress;
  a->OnArchiveItemProgress = [&](TObject*, TAbArchiveItem* item, uint8_t p, bool&) {
    progress.emplace_back(item ? item->FileName() : "(none)", p);
  };

  TStringStream untouched("keep");
  a->ExtractToStream("missing.txt", untouched);
  EXPECT_EQ(untouched.DataString(), "keep");
  EXPECT_EQ(untouched.Position(), 0);

  TStringStream out;
  a->ExtractToStream("GOOD.txt", out);
  EXPECT_EQ(out.DataString(), "fine");
  EXPECT_EQ(progress, (std::vector<std::pair<std::string, int>>{{"good.txt", 50}}));

  // A failing item is reported, not raised.
  TStringStream bad;
  a->ExtractToStream("bad.txt", bad);
  EXPECT_EQ(failures, (std::vector<Failure>{{"bad.txt", ptExtract, ecArchiveKit, 23}}));
  EXPECT_EQ(a->Status(), asIdle);

  // An abort answer from the progress event ends the item as a failure too.
  failures.clear();
  a->OnArchiveItemProgress = [](TObject*, TAbArchiveItem*, uint8_t, bool& abort) { abort = true; };
  TStringStream aborted;
  a->ExtractToStream("good.txt", aborted);
  EXPECT_EQ(aborted.DataString(), "");
  EXPECT_EQ(failures, (std::vector<Failure>{{"good.txt", ptExtract, ecOther, 0}}));

  // A pending change is saved before an item is extracted.
  a->OnArchiveItemProgress = nullptr;
  a->AddFiles("a.txt", 0);
  const int saves = a->save_count;
  TStringStream added;
  a->ExtractToStream("a.txt", added);
  EXPECT_EQ(a->save_count, saves + 1);
  EXPECT_EQ(added.DataString(), "alpha");
}

TEST_F(AbArchiveTest, CodecProgressAbortRaisesTheUserAbortText) {
  auto a = NewArchive();
  a->OnArchiveItemProgress = [](TObject*, TAbArchiveItem*, uint8_t p, bool& abort) { abort = p >= 60; };
  EXPECT_NO_THROW(a->DoCodecProgress(10));
  try {
    a->DoCodecProgress(70);
    FAIL();
  } catch (const EAbAbortProgress& e) {
    EXPECT_EQ(e.Message(), "Process aborted by user");
  }
}

TEST_F(AbArchiveTest, DeletedItemsLeaveTheListAndTheEndRecordCount) {
  WriteFile(arc_, MakeTestArchive({{"one", "1"}, {"two", "2"}, {"three", "3"}}));
  {
    auto a = NewArchive(kOpen);
    a->Items(1)->SetAction(aaDelete);
    // A new item of the deleted one's name, in other letters.
    auto item = a->CreateItem(base_ + "/a.txt");
    item->SetFileName("TWO");
    a->Add(std::move(item));
    EXPECT_EQ(a->ItemCount(), 4);
    EXPECT_EQ(a->ActiveItemCount(), 3);
    a->Save();
    EXPECT_EQ(StoredNames(*a), (std::vector<std::string>{"one", "three", "TWO"}));
    EXPECT_EQ(a->FindFile("two"), 2);
    a->Items(0)->SetAction(aaDelete);
    a->SetIsDirty(true);
    a->Save();
    EXPECT_EQ(StoredNames(*a), (std::vector<std::string>{"three", "TWO"}));
    EXPECT_EQ(a->FindFile("one"), -1);
  }
  const ParsedArchive parsed = ParseTestArchive(ReadFile(arc_));
  EXPECT_EQ(parsed.entries, (std::vector<std::pair<std::string, std::string>>{{"three", "3"}, {"TWO", "alpha"}}));
  EXPECT_EQ(parsed.end_count, 2u);
}

TEST_F(AbArchiveTest, MoveRenamesWithinTheNameBuckets) {
  WriteFile(arc_, MakeTestArchive({{"one", "1"}, {"two", "2"}}));
  auto a = NewArchive(kOpen);
  std::vector<Failure> failures;
  RecordFailures(*a, failures);
  TAbArchiveItem* one = a->Items(0);
  a->Move(one, "TWO");
  EXPECT_EQ(failures, (std::vector<Failure>{{"one", ptMove, ecArchiveKit, 7}}));
  EXPECT_EQ(one->Action(), aaNone);

  a->Move(one, "renamed");
  EXPECT_EQ(one->FileName(), "renamed");
  EXPECT_EQ(one->Action(), aaMove);
  EXPECT_EQ(a->FindFile("RENAMED"), 0);
  EXPECT_EQ(a->FindFile("one"), -1);
  EXPECT_TRUE(a->ItemList().IsActiveDupe("renamed"));
  a->Move(one, "Renamed");  // another spelling of its own name
  EXPECT_EQ(one->FileName(), "Renamed");
  EXPECT_EQ(failures.size(), 1u);
  a->Save();
  EXPECT_EQ(ParseTestArchive(ReadFile(arc_)).entries,
            (std::vector<std::pair<std::string, std::string>>{{"Renamed", "1"}, {"two", "2"}}));
}

TEST_F(AbArchiveTest, FreshenOnlyANewerFileReplaceAlways) {
  WriteFile(arc_, MakeTestArchive({{"a.txt", "old"}, {"gone.txt", "x"}}));
  auto a = NewArchive(kOpen);
  std::vector<Failure> failures;
  RecordFailures(*a, failures);
  TAbArchiveItem* item = a->Items(0);
  const int32_t age = AbFileAge(base_ + "/a.txt");
  item->SetLastModFileDate(static_cast<uint16_t>(static_cast<uint32_t>(age) >> 16));
  item->SetLastModFileTime(static_cast<uint16_t>(age & 0xFFFF));
  a->Freshen(item);
  EXPECT_EQ(item->Action(), aaNone);  // same date and time: not newer
  EXPECT_EQ(item->DiskFileName(), base_ + "/a.txt");
  item->SetLastModFileTime(static_cast<uint16_t>((age & 0xFFFF) ^ 1));
  a->Freshen(item);
  EXPECT_EQ(item->Action(), aaFreshen);

  // A missing disk file is an item failure, not newer.
  a->FreshenAt(1);
  EXPECT_EQ(a->Items(1)->Action(), aaNone);
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].type, ptFreshen);
  EXPECT_EQ(failures[0].error_class, ecFileOpenError);

  a->ReplaceAt(1);
  EXPECT_EQ(a->Items(1)->Action(), aaReplace);

  // With recursion a bare name is looked for below the base directory.
  WriteFile(arc_ + ".2", MakeTestArchive({{"c.txt", "old"}}));
  TTestArchive b(arc_ + ".2", kOpen);
  b.SetBaseDirectory(base_);
  b.Load();
  b.SetStoreOptions({soRecurse});
  b.ReplaceAt(0);
  EXPECT_EQ(b.Items(0)->DiskFileName(), base_ + "/sub/c.txt");
  b.Save();
  EXPECT_EQ(ParseTestArchive(ReadFile(arc_ + ".2")).entries,
            (std::vector<std::pair<std::string, std::string>>{{"c.txt", "charlie"}}));
}

TEST_F(AbArchiveTest, AFailedLoadLeavesAnInvalidArchiveThatIsNeverWritten) {
  WriteFile(arc_, "garbage that is not an archive");
  TTestArchive a(arc_, kOpen);
  bool loaded_event = false;
  a.OnLoad = [&](TObject*) { loaded_event = true; };
  EXPECT_THROW(a.Load(), EAbException);
  EXPECT_TRUE(loaded_event);
  EXPECT_EQ(a.Status(), asInvalid);
  EXPECT_FALSE(a.PadLock().Locked());
  a.Save();
  EXPECT_EQ(a.save_count, 0);
  EXPECT_EQ(ReadFile(arc_), "garbage that is not an archive");
  TStringStream out;
  EXPECT_THROW(a.ExtractToStream("x", out), EAbNoArchive);
  EXPECT_THROW(a.AddFiles("*", 0), EAbNoArchive);
  try {
    a.CheckValid();
  } catch (const EAbNoArchive& e) {
    EXPECT_EQ(e.Message(), "Archive does not exist - FileName is blank");
  }
}

TEST_F(AbArchiveTest, AutoSaveWritesEveryChange) {
  auto a = NewArchive();
  a->SetAutoSave(true);
  a->AddFiles("a.txt", 0);
  EXPECT_EQ(a->save_count, 1);
  EXPECT_EQ(ParseTestArchive(ReadFile(arc_)).entries.size(), 1u);
  a->AddFiles("b.txt", 0);
  EXPECT_EQ(a->save_count, 2);
  EXPECT_EQ(ParseTestArchive(ReadFile(arc_)).entries.size(), 2u);
}

TEST_F(AbArchiveTest, OperationLog) {
  const std::string log = dir_.File("arc.log");
  auto a = NewArchive();
  a->SetLogFile(log);
  a->SetLogging(true);
  a->AddFiles("a.txt", 0);
  a->SetLogging(false);
  const std::string text = ReadFile(log);
  EXPECT_EQ(text.rfind(arc_ + " logging ", 0), 0u) << text;
  EXPECT_NE(text.find("\r\na.txt added "), std::string::npos) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);

  // Lines longer than 255 characters are cut.
  a->SetLogging(true);
  a->MakeLogEntry(std::string(400, 'n'), ltExtract);
  a->SetLogging(false);
  const std::string longer = ReadFile(log);
  const size_t second = longer.find("\r\n") + 2;
  EXPECT_EQ(longer.substr(second), std::string(255, 'n') + "\r\n");

  a->SetLogFile(dir_.File("missing/arc.log"));
  try {
    a->SetLogging(true);
    FAIL();
  } catch (const EAbException& e) {
    EXPECT_EQ(e.Message(), "Error creating Log File");
  }
}

TEST_F(AbArchiveTest, StoredNames) {
  TTestArchive a(arc_, kCreate);
  struct Case {
    TAbStoreOptions options;
    const char* name;
    const char* stored;
  };
  const Case cases[] = {
      {{}, "dir\\file.txt", "dir\\file.txt"},
      {{}, "\\dir\\file.txt", "dir\\file.txt"},
      {{soStripDrive}, "C:\\dir\\file.txt", "dir\\file.txt"},
      {{soStripDrive}, "\\\\server\\share\\dir\\file.txt", "dir\\file.txt"},
      {{soStripDrive}, "/home/user/file.txt", "home\\user\\file.txt"},
      {{soStripPath}, "C:\\dir\\file.txt", "file.txt"},
      {{soStripPath}, "dir/sub/file.txt", "file.txt"},
      {{soRemoveDots}, "..\\..\\file.txt", "file.txt"},
      {{soRemoveDots}, "../x/file.txt", "x\\file.txt"},
      {{soStripDrive, soStripPath, soRemoveDots}, "/tmp/MAINDATA/Pelvar.cb0", "Pelvar.cb0"},
  };
  for (const Case& c : cases) {
    a.SetStoreOptions(c.options);
    EXPECT_EQ(a.FixName(c.name), c.stored) << c.name;
  }
}

TEST_F(AbArchiveTest, SpanningIsNotSupportedByTheBaseArchive) {
  TTestArchive a(arc_, kCreate);
  AnsiString name;
  bool abort = false;
  EXPECT_THROW(a.DoSpanningMediaRequest(&a, 1, name, abort), EAbSpanningNotSupported);
  // The archive stream asks the archive when it must start a new volume.
  a.SetSpanningThreshold(10);
  EXPECT_EQ(a.GetSpanningThreshold(), 10);
  auto* span = dynamic_cast<TAbSpanStream*>(a.Stream());
  ASSERT_NE(span, nullptr);
  ASSERT_TRUE(span->OnRequestImage);
  bool cancelled = false;
  EXPECT_THROW(span->OnRequestImage(span, 1, cancelled, name), EAbSpanningNotSupported);
}

TEST(AbArchiveStreamHelperTest, NeedsAStream) {
  struct THelper : TAbArchiveStreamHelper {
    using TAbArchiveStreamHelper::TAbArchiveStreamHelper;
    void CopyItemData(TStream&) override {}
    bool SeekFirstItem() override { return false; }
    bool SeekNextItem() override { return false; }
    void LoadHeader() override {}
    void LoadTail() override {}
    bool SeekItem(int32_t) override { return false; }
    void StoreHeader() override {}
    void StoreItemData(TStream&) override {}
    void StoreTail() override {}
    int32_t CountItems() override { return 0; }
  };
  try {
    THelper h(nullptr);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "nil stream");
  }
  TStringStream s;
  EXPECT_NO_THROW(THelper{&s});
}

// --- Extraction never leaves the base directory ---

TEST(AbPrepareOutputPathTest, HostileNamesAreConfinedOrRefused) {
  TempDir dir("about");
  const std::string base = dir.Path() + "/base";
  std::filesystem::create_directories(base);
  const std::string hostile[] = {
      "../../x",           "..\\..\\x",      "/etc/x",        "C:\\x",          "C:x",
      "a/../../x",         "a\\..\\..\\x",   "\\\\server\\share\\x", "//server/share/../x",
      "./../x",            "a/./../../x",    "..",            "a/..",           "/",
      "",                  "dir/",           "x/../..//..",   std::string("a\0/../x", 7),
  };
  const TAbExtractOptions option_sets[] = {{}, {eoCreateDirs}, {eoRestorePath}, {eoCreateDirs, eoRestorePath}};
  for (const std::string& name : hostile) {
    for (const TAbExtractOptions options : option_sets) {
      AnsiString out = name;
      try {
        const bool ok = AbPrepareOutputPath(base, out, options, nullptr);
        ASSERT_TRUE(ok);
        const AnsiString full = ExpandFileName(out);
        EXPECT_EQ(full.rfind(base + "/", 0), 0u) << name << " -> " << out;
        EXPECT_GT(full.size(), base.size() + 1) << name;
      } catch (const EAbNoSuchDirectory&) {
        // A confined directory that does not exist, without eoCreateDirs.
        EXPECT_FALSE(options.Contains(eoCreateDirs)) << name;
      } catch (const EAbUnsafeName& e) {
        // Refused as unsafe: a name that leads outside or holds a control character.
        EXPECT_EQ(e.ErrorCode(), AbUnsafeName) << name;
      } catch (const EAbException& e) {
        // A name that names no file (a folder, the base directory itself).
        EXPECT_EQ(e.ErrorCode(), 0) << name;
      }
    }
  }
  // Nothing was made outside the base directory.
  std::vector<std::string> outside;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path())) outside.push_back(e.path().filename());
  EXPECT_EQ(outside, (std::vector<std::string>{"base"}));
}

TEST(AbPrepareOutputPathTest, OrdinaryNames) {
  TempDir dir("about");
  const std::string base = dir.Path();
  struct Case {
    AnsiString name;
    TAbExtractOptions options;
    std::string expected;  // empty: EAbNoSuchDirectory
  };
  const Case cases[] = {
      {"file.txt", {}, base + "/file.txt"},
      {"dir\\sub\\file.txt", {}, base + "/file.txt"},
      {"dir/sub/file.txt", {eoRestorePath}, ""},
      {"dir/sub/file.txt", {eoRestorePath, eoCreateDirs}, base + "/dir/sub/file.txt"},
      {"dir\\sub\\file.txt", {eoRestorePath}, base + "/dir/sub/file.txt"},  // made just above
      {"C:\\dir\\file.txt", {eoRestorePath, eoCreateDirs}, base + "/dir/file.txt"},
      {"/abs/file.txt", {eoRestorePath, eoCreateDirs}, base + "/abs/file.txt"},
      {"a/./b/file.txt", {eoRestorePath, eoCreateDirs}, base + "/a/b/file.txt"},
      {CZ("složka/soubor.txt"), {eoRestorePath, eoCreateDirs}, base + "/" + CZ("složka/soubor.txt")},
  };
  for (const Case& c : cases) {
    AnsiString out = c.name;
    if (c.expected.empty()) {
      EXPECT_THROW(AbPrepareOutputPath(base, out, c.options, nullptr), EAbNoSuchDirectory) << c.name;
      continue;
    }
    EXPECT_TRUE(AbPrepareOutputPath(base, out, c.options, nullptr)) << c.name;
    EXPECT_EQ(out, c.expected) << c.name;
  }
  EXPECT_TRUE(std::filesystem::is_directory(SysFileName(base + "/" + CZ("složka"))));

  // An existing file asks the confirm handler, which may change the name or refuse.
  WriteFile(base + "/file.txt", "x");
  AnsiString name = "file.txt";
  int asked = 0;
  EXPECT_FALSE(AbPrepareOutputPath(base, name, {}, [&](AnsiString& n, bool& confirm) {
    ++asked;
    EXPECT_EQ(n, base + "/file.txt");
    confirm = false;
  }));
  EXPECT_EQ(name, "file.txt");
  EXPECT_TRUE(AbPrepareOutputPath(base, name, {}, [&](AnsiString& n, bool&) { n = base + "/other.txt"; }));
  EXPECT_EQ(name, base + "/other.txt");
  name = "new.txt";
  EXPECT_TRUE(AbPrepareOutputPath(base, name, {}, [&](AnsiString&, bool&) { ++asked; }));
  EXPECT_EQ(asked, 1);
}

// Through an archive: hostile stored names extract inside the base directory or not
// at all, and every refusal is reported as a failure of that item.
TEST_F(AbArchiveTest, HostileStoredNamesNeverEscapeOnExtraction) {
  const std::string sandbox = dir_.Path();
  const std::vector<std::string> names = {"../escape1", "../../escape2", sandbox + "/escape3",
                                          "sub/../../escape4", "..\\escape5", "C:\\" + sandbox.substr(1) + "\\escape6"};
  std::vector<std::pair<std::string, std::string>> entries;
  for (const std::string& n : names) entries.emplace_back(n, "payload");
  WriteFile(arc_, MakeTestArchive(entries));
  const std::string out_dir = dir_.Path() + "/base/out";
  std::filesystem::create_directories(out_dir);
  for (const TAbExtractOptions options : {TAbExtractOptions{}, TAbExtractOptions{eoRestorePath, eoCreateDirs}}) {
    auto a = NewArchive(kOpen);
    a->SetBaseDirectory(out_dir);
    a->SetExtractOptions(options);
    for (int32_t i = 0; i < a->ItemCount(); ++i) {
      try {
        a->ExtractItemAt(i, a->Items(i)->FileName());
      } catch (const EAbException&) {
        // refused
      }
    }
  }
  for (int i = 1; i <= 6; ++i) {
    const std::string file = "escape" + std::to_string(i);
    EXPECT_FALSE(Exists(sandbox + "/" + file)) << file;
    EXPECT_FALSE(Exists(sandbox + "/base/" + file)) << file;
  }
  EXPECT_FALSE(Exists("/escape1"));
  EXPECT_TRUE(Exists(out_dir + "/escape1"));  // the file name part alone is harmless
}

}  // namespace
}  // namespace pelvar
