// The memory table with the data module's field layouts.
#include "dbadapters/MemoryData.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "tests/dbadapters/memory_layouts.h"

using namespace pelvar;
using pelvar::testing::AddLayoutFields;

namespace {

int32_t IdOf(const TBookmark& b) {
  int32_t id;
  std::memcpy(&id, b.data(), 4);
  return id;
}

std::unique_ptr<TMemoryData> Doklady() {
  auto t = std::make_unique<TMemoryData>(nullptr);
  t->SetName("MemoryDoklad");
  AddLayoutFields(t.get(), pelvar::testing::kDokladLayout);
  t->SetKeyFieldNames("ID_DOKLAD;DOKLAD;ID_PREDEK");
  return t;
}

void AddDoklad(TMemoryData& t, int id, const char* doklad, const char* typ) {
  t.Append();
  t.FieldByName("ID_DOKLAD")->SetAsInteger(id);
  t.FieldByName("DOKLAD")->SetAsString(doklad);
  t.FieldByName("TYP_DOKLADU")->SetAsString(typ);
  t.Post();
}

std::vector<int> Ids(TMemoryData& t, const char* field = "ID_DOKLAD") {
  std::vector<int> ids;
  for (t.First(); !t.Eof(); t.Next()) ids.push_back(t.FieldByName(field)->AsInteger());
  return ids;
}

TEST(MemoryData, TheThreeLayoutsHoldThousandsOfRows) {
  struct Layout {
    const char* fields;
    int columns;
    const char* key;
  };
  const Layout layouts[] = {{pelvar::testing::kDokladLayout, 72, "ID_DOKLAD"},
                            {pelvar::testing::kDenZaznamLayout, 40, "ID_DENNI_ZAZNAM"},
                            {pelvar::testing::kDokladPolozkaLayout, 71, "ID_DOKLAD_POLOZKA"}};
  const int rows = 3000;
  for (const Layout& l : layouts) {
    TMemoryData t(nullptr);
    EXPECT_EQ(AddLayoutFields(&t, l.fields), l.columns);
    t.SetCapacity(rows);
    t.Open();
    EXPECT_EQ(t.FieldDefs().Count(), l.columns);
    TDateTime day = EncodeDate(2008, 3, 1);
    for (int i = 0; i < rows; ++i) {
      t.Append();
      for (TField* f : t.FieldList()) {
        switch (f->DataType()) {
          case ftInteger: f->SetAsInteger(i); break;
          case ftSmallint: f->SetAsInteger(i % 2); break;
          case ftString: f->SetAsString(AnsiString("v") + std::to_string(i).substr(0, f->Size() - 1)); break;
          case ftFloat: f->SetAsFloat(i * 0.5); break;
          case ftDate: f->SetAsDateTime(day + i); break;
          case ftTime: f->SetAsDateTime(EncodeTime(8, 5, 3, 120)); break;
          case ftMemo: f->SetAsString("memo " + std::to_string(i)); break;
          default: FAIL() << f->FieldName();
        }
      }
      t.Post();
    }
    EXPECT_EQ(t.RecordCount(), rows);
    int i = 0;
    bool all_equal = true;
    for (t.First(); !t.Eof(); t.Next(), ++i) {
      for (TField* f : t.FieldList()) {
        bool ok = true;
        switch (f->DataType()) {
          case ftInteger: ok = f->AsInteger() == i; break;
          case ftSmallint: ok = f->AsInteger() == i % 2; break;
          case ftFloat: ok = f->AsFloat() == i * 0.5; break;
          case ftDate: ok = f->AsDateTime() == day + i; break;
          case ftTime: ok = f->AsString() == "08:05:03"; break;
          case ftMemo: ok = f->AsString() == "memo " + std::to_string(i); break;
          default: break;
        }
        if (!ok) {
          all_equal = false;
          ADD_FAILURE() << f->FieldName() << " row " << i;
        }
      }
      if (!all_equal) break;
    }
    EXPECT_EQ(i, rows);
    EXPECT_TRUE(t.Locate(l.key, Variant(rows - 7), {}));
    EXPECT_EQ(t.RecNo(), rows - 6);
    t.Close();
    EXPECT_EQ(t.RecordCount(), 0) << "closing frees the rows";
  }
}

TEST(MemoryData, LocateOnTwoTextKeysIgnoresCase) {
  auto t = Doklady();
  t->Open();
  AddDoklad(*t, 1, "14", "FA");
  AddDoklad(*t, 2, "15", "pd");
  AddDoklad(*t, 3, "15", "fa");
  AddDoklad(*t, 4, "16", "FA");
  int scrolls = 0;
  t->AfterScroll = [&](TDataSet*) { ++scrolls; };
  t->First();
  EXPECT_TRUE(t->Locate("DOKLAD;TYP_DOKLADU", VarArrayOf({"15", "FA"}), {loCaseInsensitive}));
  EXPECT_EQ(t->FieldByName("ID_DOKLAD")->AsInteger(), 3);
  // The current record matches: nothing moves.
  TBookmark here = t->GetBookmark();
  EXPECT_TRUE(t->Locate("DOKLAD;TYP_DOKLADU", VarArrayOf({"15", "fa"}), {loCaseInsensitive}));
  EXPECT_EQ(t->GetBookmark(), here);
  // Case matters without the option; a failed search stays where it was.
  t->Last();
  EXPECT_FALSE(t->Locate("DOKLAD;TYP_DOKLADU", VarArrayOf({"15", "FA"}), {}));
  EXPECT_EQ(t->FieldByName("ID_DOKLAD")->AsInteger(), 4);
  EXPECT_TRUE(t->Locate("DOKLAD", Variant("1"), {loPartialKey}));
  EXPECT_EQ(t->FieldByName("ID_DOKLAD")->AsInteger(), 4) << "\"16\" cut to one character matches";
  EXPECT_TRUE(t->Locate("DOKLAD", Variant("14"), {loPartialKey}));
  EXPECT_EQ(t->FieldByName("ID_DOKLAD")->AsInteger(), 1);
  EXPECT_TRUE(t->Locate("ID_DOKLAD", Variant(2), {}));
  EXPECT_EQ(t->FieldByName("TYP_DOKLADU")->AsString(), "pd");
  EXPECT_TRUE(t->Locate("DOKLAD_PUVODNI", Null(), {})) << "Null finds a null text";
  EXPECT_GT(scrolls, 0);
  EXPECT_THROW(t->Locate("NEEXISTUJE", Variant(1), {}), EDatabaseError);
  t->EmptyTable();
  EXPECT_FALSE(t->Locate("DOKLAD", Variant("15"), {}));
}

// Locate compares the stored records directly when nothing watches the walk; a scroll
// handler makes it walk the table. Both must find the same record, sorted or not.
TEST(MemoryData, LocateFindsTheSameRecordWithOrWithoutWalking) {
  struct Case {
    const char* fields;
    Variant values;
    TLocateOptions options;
  };
  const std::vector<Case> cases = {
      {"ID_DOKLAD", Variant(3), {}},
      {"ID_DOKLAD", Variant(99), {}},
      {"DOKLAD", Variant("15"), {}},
      {"DOKLAD;TYP_DOKLADU", VarArrayOf({"15", "FA"}), {loCaseInsensitive}},
      {"DOKLAD;TYP_DOKLADU", VarArrayOf({"15", "FA"}), {}},
      {"TYP_DOKLADU", Variant(CZ("čR")), {loCaseInsensitive}},
      {"TYP_DOKLADU", Variant(CZ("ČR")), {}},
      {"DOKLAD_PUVODNI", Variant(""), {}},
      {"DOKLAD;ID_DOKLAD", VarArrayOf({"16", 4}), {}},
      {"ID_DOKLAD", Variant("3"), {}},
  };
  for (bool sorted : {false, true}) {
    for (const bool walk : {false, true}) {
      auto t = Doklady();
      t->Open();
      AddDoklad(*t, 1, "14", "FA");
      AddDoklad(*t, 2, "15", "pd");
      AddDoklad(*t, 3, "15", "fa");
      AddDoklad(*t, 4, "16", CZ("ČR").c_str());
      AddDoklad(*t, 5, "15", "FA");
      if (sorted) t->SortRecords("DOKLAD", true, true);
      if (walk) t->AfterScroll = [](TDataSet*) {};
      std::vector<int> found;
      for (const Case& c : cases) {
        t->First();
        found.push_back(t->Locate(c.fields, c.values, c.options) ? t->FieldByName("ID_DOKLAD")->AsInteger() : 0);
        found.push_back(t->RecNo());
      }
      const std::vector<int> expected =
          sorted ? std::vector<int>{3, 3, 0, 1, 5, 2, 5, 2, 5, 2, 4, 1, 4, 1, 4, 1, 4, 1, 3, 3}
                 : std::vector<int>{3, 3, 0, 1, 2, 2, 3, 3, 5, 5, 4, 4, 4, 4, 1, 1, 4, 4, 3, 3};
      EXPECT_EQ(found, expected) << (sorted ? "sorted" : "in order") << (walk ? ", walking" : "");
    }
  }
}

// A table of more than a few records is searched through an index kept with the records;
// a twin table that receives the same changes and walks (a scroll handler watches it) must
// find the same record at every step: after appends, posts that change an indexed key or
// leave it, inserts in the middle, deletes, a sort, emptying and reopening.
TEST(MemoryData, IndexedLocateFindsWhatTheWalkFinds) {
  auto indexed = Doklady();
  auto walked = Doklady();
  walked->AfterScroll = [](TDataSet*) {};
  TMemoryData* both[] = {indexed.get(), walked.get()};
  for (TMemoryData* t : both) t->Open();
  const char* const kinds[] = {"FA", "fa", "PD", nullptr};
  auto number = [](int i) { return std::to_string(i % 37); };
  auto add = [&](int i) {
    for (TMemoryData* t : both) {
      t->Append();
      t->FieldByName("ID_DOKLAD")->SetAsInteger(i % 53);
      t->FieldByName("DOKLAD")->SetAsString(number(i));
      if (const char* kind = kinds[i % 4]) t->FieldByName("TYP_DOKLADU")->SetAsString(kind);
      if (i % 5 != 0) t->FieldByName("ID_PREDEK")->SetAsInteger(i % 7);
      t->FieldByName("POZNAMKA")->SetAsString("row " + std::to_string(i));
      t->Post();
    }
  };
  // Every look-up from the first record and from the last: found or not, and where.
  int step = 0;
  auto compare = [&](const char* what) {
    ++step;
    for (int k = 0; k < 60; k += 3) {
      struct Case {
        const char* fields;
        Variant values;
        TLocateOptions options;
      };
      const Case cases[] = {
          {"ID_DOKLAD", Variant(k), {}},
          {"DOKLAD", Variant(number(k)), {loCaseInsensitive}},
          {"DOKLAD;TYP_DOKLADU", VarArrayOf({number(k), "FA"}), {loCaseInsensitive}},
          {"DOKLAD;TYP_DOKLADU", VarArrayOf({number(k), "fa"}), {}},
          {"DOKLAD;TYP_DOKLADU", VarArrayOf({number(k), ""}), {}},
          {"ID_PREDEK;DOKLAD", VarArrayOf({k % 7, number(k)}), {}},
      };
      for (const Case& c : cases) {
        for (bool from_last : {false, true}) {
          std::pair<bool, int> got[2];
          for (int i = 0; i < 2; ++i) {
            TMemoryData* t = both[i];
            if (from_last) t->Last(); else t->First();
            const bool found = t->Locate(c.fields, c.values, c.options);
            got[i] = {found, t->IsEmpty() ? 0 : t->RecNo()};
          }
          EXPECT_EQ(got[0], got[1]) << what << " (step " << step << "): " << c.fields << " = " << k;
        }
      }
    }
  };
  for (int i = 0; i < 120; ++i) add(i);
  compare("appended");
  for (int i = 120; i < 140; ++i) add(i);
  compare("appended after a look-up");
  for (TMemoryData* t : both) {
    t->RecNo();
    t->SetRecNo(10);
    t->Edit();
    t->FieldByName("POZNAMKA")->SetAsString("edited");
    t->Post();
  }
  compare("posted without a key change");
  for (int r : {3, 40, 139}) {
    for (TMemoryData* t : both) {
      t->SetRecNo(r);
      t->Edit();
      t->FieldByName("DOKLAD")->SetAsString(number(r + 1));
      t->FieldByName("ID_DOKLAD")->SetAsInteger(57);
      t->FieldByName("TYP_DOKLADU")->Clear();
      t->Post();
    }
    compare("posted with a new key");
  }
  for (TMemoryData* t : both) {
    t->SetRecNo(5);
    t->Insert();
    t->FieldByName("ID_DOKLAD")->SetAsInteger(0);
    t->FieldByName("DOKLAD")->SetAsString("0");
    t->FieldByName("TYP_DOKLADU")->SetAsString("fa");
    t->Post();
  }
  compare("inserted in the middle");
  for (TMemoryData* t : both) {
    t->SetRecNo(2);
    t->Delete();
    t->SetRecNo(60);
    t->Delete();
  }
  compare("deleted");
  for (TMemoryData* t : both) t->SortRecords("DOKLAD;TYP_DOKLADU", true, true);
  compare("sorted");
  for (TMemoryData* t : both) t->EmptyTable();
  compare("emptied");
  for (int i = 200; i < 230; ++i) add(i);
  compare("filled again");
  for (TMemoryData* t : both) {
    t->Close();
    t->Open();
  }
  for (int i = 300; i < 320; ++i) add(i);
  compare("reopened");
}

TEST(MemoryData, AnEmptyTextReadsAsNull) {
  auto t = Doklady();
  t->Open();
  t->Append();
  TField* doklad = t->FieldByName("DOKLAD");
  doklad->SetAsString("");
  EXPECT_TRUE(doklad->IsNull());
  EXPECT_TRUE(VarIsNull(doklad->AsVariant()));
  doklad->SetAsString("X");
  EXPECT_FALSE(doklad->IsNull());
  t->FieldByName("POZNAMKA")->SetAsString("");
  EXPECT_TRUE(t->FieldByName("POZNAMKA")->IsNull());
  t->Post();
  EXPECT_EQ(doklad->AsString(), "X");
  EXPECT_TRUE(t->FieldByName("ID_DOKLAD")->IsNull());
}

TEST(MemoryData, RecordIdsRestartAfterEmptyTable) {
  auto t = Doklady();
  t->Open();
  EXPECT_EQ(t->RecNo(), 0);
  AddDoklad(*t, 1, "1", "FA");
  EXPECT_EQ(IdOf(t->GetBookmark()), -2147483647);
  AddDoklad(*t, 2, "2", "FA");
  TBookmark second = t->GetBookmark();
  EXPECT_EQ(IdOf(second), -2147483646);
  EXPECT_TRUE(t->BookmarkValid(second));
  t->EmptyTable();
  EXPECT_TRUE(t->IsEmpty());
  EXPECT_EQ(t->RecordCount(), 0);
  EXPECT_FALSE(t->BookmarkValid(second));
  AddDoklad(*t, 3, "3", "FA");
  EXPECT_EQ(IdOf(t->GetBookmark()), -2147483647);
  // Deleting the last row gives the IDs back as well.
  t->Delete();
  AddDoklad(*t, 4, "4", "FA");
  EXPECT_EQ(IdOf(t->GetBookmark()), -2147483647);
  t->Close();
  t->Open();
  AddDoklad(*t, 5, "5", "FA");
  EXPECT_EQ(IdOf(t->GetBookmark()), -2147483647);
}

TEST(MemoryData, PositionAndRecNo) {
  auto t = Doklady();
  t->Open();
  for (int i = 1; i <= 5; ++i) AddDoklad(*t, i, "d", "FA");
  t->Close();
  t->Open();
  EXPECT_EQ(t->RecNo(), 0) << "reopened: empty";
  for (int i = 1; i <= 5; ++i) AddDoklad(*t, i, "d", "FA");
  t->First();
  EXPECT_EQ(t->RecNo(), 1);
  t->Next();
  EXPECT_EQ(t->RecNo(), 2);
  t->SetRecNo(4);
  EXPECT_EQ(t->FieldByName("ID_DOKLAD")->AsInteger(), 4);
  t->SetRecNo(40);
  EXPECT_EQ(t->FieldByName("ID_DOKLAD")->AsInteger(), 4);
  t->Insert();
  t->FieldByName("ID_DOKLAD")->SetAsInteger(35);
  t->Post();
  EXPECT_EQ(Ids(*t), (std::vector<int>{1, 2, 3, 35, 4, 5}));
  t->SetRecNo(2);
  t->Delete();
  EXPECT_EQ(t->FieldByName("ID_DOKLAD")->AsInteger(), 3);
  t->Last();
  t->Delete();
  EXPECT_EQ(t->FieldByName("ID_DOKLAD")->AsInteger(), 4);
  EXPECT_EQ(Ids(*t), (std::vector<int>{1, 3, 35, 4}));
}

TEST(MemoryData, EditsThroughBookmarks) {
  auto t = Doklady();
  t->Open();
  for (int i = 1; i <= 50; ++i) AddDoklad(*t, i, std::to_string(i).c_str(), "FA");
  int posts = 0;
  t->AfterPost = [&](TDataSet*) { ++posts; };
  t->SetRecNo(10);
  TBookmark mark = t->GetBookmark();
  t->First();
  t->Insert();
  t->FieldByName("ID_DOKLAD")->SetAsInteger(0);
  t->Post();
  t->Last();
  t->GotoBookmark(mark);
  EXPECT_EQ(t->FieldByName("ID_DOKLAD")->AsInteger(), 10);
  t->Edit();
  t->FieldByName("ID_PREDEK_NEW")->SetAsInteger(777);
  t->Post();
  EXPECT_EQ(posts, 2);
  t->First();
  ASSERT_TRUE(t->Locate("ID_PREDEK_NEW", Variant(777), {}));
  EXPECT_EQ(t->FieldByName("DOKLAD")->AsString(), "10");
  // OldValue has no record in the memory table.
  t->Edit();
  EXPECT_TRUE(VarIsNull(t->FieldByName("DOKLAD")->OldValue()));
  t->Cancel();
  EXPECT_LT(t->CompareBookmarks(TBookmark(), mark), 0);
  EXPECT_EQ(t->CompareBookmarks(TBookmark(), TBookmark()), 0);
}

TEST(MemoryData, SortingKeepsEqualKeysInIdOrder) {
  auto t = Doklady();
  t->Open();
  AddDoklad(*t, 5, "b", "x");
  AddDoklad(*t, 1, "B", "x");
  AddDoklad(*t, 3, "a", "x");
  AddDoklad(*t, 4, "c", "x");
  AddDoklad(*t, 2, "b", "x");
  t->Append();
  t->FieldByName("ID_DOKLAD")->SetAsInteger(6);  // DOKLAD null sorts first
  t->Post();
  t->Locate("ID_DOKLAD", Variant(4), {});
  t->SortRecords("DOKLAD", true, false);
  EXPECT_EQ(t->FieldByName("ID_DOKLAD")->AsInteger(), 4) << "the current row stays current";
  EXPECT_EQ(Ids(*t), (std::vector<int>{6, 3, 5, 1, 2, 4}));
  EXPECT_TRUE(t->FieldByName("DOKLAD")->IsIndexField());
  t->SortRecords("DOKLAD", true, true);
  EXPECT_EQ(Ids(*t), (std::vector<int>{4, 2, 1, 5, 3, 6}));
  t->SortRecords("", true, false);  // KeyFieldNames: ID_DOKLAD first
  EXPECT_EQ(Ids(*t), (std::vector<int>{1, 2, 3, 4, 5, 6}));
  // A pending edit is posted before the rows are reordered, not dropped.
  t->First();
  t->Edit();
  t->FieldByName("DOKLAD")->SetAsString("z");
  t->SortRecords("DOKLAD", true, false);
  EXPECT_EQ(t->State(), dsBrowse);
  EXPECT_EQ(t->FieldByName("ID_DOKLAD")->AsInteger(), 1);
  EXPECT_EQ(t->FieldByName("DOKLAD")->AsString(), "z");
  t->Last();
  EXPECT_EQ(t->FieldByName("ID_DOKLAD")->AsInteger(), 1);
  try {
    t->SortRecords("POZNAMKA", true, false);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), CZ("MemoryDoklad: Pole 'POZNAMKA' není očekávaného typu"));
  }
  EXPECT_FALSE(t->FieldByName("DOKLAD")->IsIndexField()) << "a failed sort drops the list";
}

TEST(MemoryData, BlobTexts) {
  auto t = Doklady();
  t->Open();
  std::string big(100000, 'x');
  big[5] = '\0';
  t->Append();
  t->FieldByName("POZNAMKA")->SetAsString(big);
  t->FieldByName("TEXT1")->SetAsString(CZ("Příliš žluťoučký kůň"));
  t->Post();
  AddDoklad(*t, 2, "2", "FA");
  t->First();
  EXPECT_EQ(t->FieldByName("POZNAMKA")->AsString(), big);
  EXPECT_EQ(t->FieldByName("TEXT1")->AsString(), CZ("Příliš žluťoučký kůň"));
  EXPECT_TRUE(t->FieldByName("TEXT2")->IsNull());
  EXPECT_EQ(t->FieldByName("POZNAMKA")->DisplayText(), "(MEMO)");
  // Writing outside edit or insert fails; an edit that is cancelled leaves the text.
  EXPECT_THROW(t->FieldByName("TEXT1")->SetAsString("no"), EDatabaseError);
  t->Edit();
  t->FieldByName("TEXT1")->SetAsString("changed");
  EXPECT_EQ(t->FieldByName("TEXT1")->AsString(), "changed");
  t->Cancel();
  EXPECT_EQ(t->FieldByName("TEXT1")->AsString(), CZ("Příliš žluťoučký kůň"));
  t->Edit();
  {
    auto s = t->CreateBlobStream(t->FieldByName("TEXT2"), bmWrite);
    s->WriteBuffer("abc", 3);
    s->Seek(1, TSeekOrigin::soBeginning);
    s->WriteBuffer("XY", 2);
    s->Seek(-10, TSeekOrigin::soBeginning);
    char c;
    EXPECT_EQ(s->Read(&c, 1), 0) << "a position before the start reads nothing";
  }
  t->Post();
  EXPECT_EQ(t->FieldByName("TEXT2")->AsString(), "aXY");
  t->Next();
  EXPECT_TRUE(t->FieldByName("POZNAMKA")->IsNull());
  t->FieldByName("TEXT1")->SetReadOnly(true);
  t->Edit();
  EXPECT_THROW(t->FieldByName("TEXT1")->SetAsString("ro"), EDatabaseError);
  t->Cancel();
}

TEST(MemoryData, FilterAndAutoIncrement) {
  TMemoryData t(nullptr);
  auto* id = new TAutoIncField(&t);
  id->SetFieldName("ID");
  id->SetDataSet(&t);
  auto* name = new TStringField(&t);
  name->SetFieldName("NAME");
  name->SetSize(10);
  name->SetDataSet(&t);
  t.Open();
  for (const char* n : {"a", "b", "c", "d"}) {
    t.Append();
    name->SetAsString(n);
    t.Post();
  }
  EXPECT_EQ(Ids(t, "ID"), (std::vector<int>{1, 2, 3, 4}));
  t.SetOnFilterRecord([&](TDataSet*, bool& accept) { accept = id->AsInteger() % 2 == 0; });
  t.SetFiltered(true);
  EXPECT_EQ(Ids(t, "ID"), (std::vector<int>{2, 4}));
  EXPECT_FALSE(t.IsSequenced());
  EXPECT_EQ(t.RecordCount(), 4) << "the count ignores the filter";
  t.Last();
  t.Delete();
  EXPECT_EQ(id->AsInteger(), 2) << "delete moves back to an accepted row";
  t.SetFiltered(false);
  EXPECT_EQ(Ids(t, "ID"), (std::vector<int>{1, 2, 3}));
  t.Close();
  t.Open();
  t.Append();
  t.Post();
  EXPECT_EQ(id->AsInteger(), 1) << "closing resets the auto-increment value";
}

TEST(MemoryData, ApplyModeAppendKeepsLoadedRows) {
  TMemoryData source(nullptr);
  AddLayoutFields(&source, "ID:I NAME:S10");
  source.Open();
  for (int i = 1; i <= 3; ++i) {
    source.Append();
    source.FieldByName("ID")->SetAsInteger(i);
    source.FieldByName("NAME")->SetAsString("n" + std::to_string(i));
    source.Post();
  }
  for (TApplyMode mode : {amAppend, amMerge}) {
    TMemoryData t(nullptr);
    t.SetDataSet(&source);
    t.SetLoadStructure(true);
    t.SetLoadRecords(true);
    t.SetDataSetClosed(false);
    t.SetApplyMode(mode);
    t.SetKeyFieldNames("ID");
    t.Open();
    ASSERT_EQ(t.RecordCount(), 3);
    EXPECT_EQ(t.Eof(), mode == amAppend) << "amAppend positions on the last row after loading";
    EXPECT_EQ(t.LoadedRowCount(), 3);
    EXPECT_FALSE(t.FieldByName(t.StatusName())->Visible());
    t.First();
    t.Edit();
    t.FieldByName("NAME")->SetAsString("edited");
    t.Post();
    t.First();
    if (mode == amAppend) {
      EXPECT_EQ(t.FieldByName("NAME")->AsString(), "n1") << "an edit of a loaded row is cancelled";
      t.Delete();
      EXPECT_EQ(t.RecordCount(), 3) << "a loaded row is not deleted";
      EXPECT_EQ(t.ChangedRowCount(), 0);
    } else {
      EXPECT_EQ(t.FieldByName("NAME")->AsString(), "edited");
      EXPECT_EQ(t.FieldByName(t.StatusName())->AsInteger(), 1);
      t.Delete();
      EXPECT_EQ(t.RecordCount(), 2);
      EXPECT_EQ(t.ChangedRowCount(), 1) << "the edited row was counted once";
    }
    t.Append();
    t.FieldByName("ID")->SetAsInteger(9);
    t.Post();
    EXPECT_EQ(t.FieldByName(t.StatusName())->AsInteger(), 2);
  }
  EXPECT_TRUE(source.Active()) << "DataSetClosed off leaves the source open";
}

TEST(MemoryData, CopyRowsNeedsMoreThanOneDefinition) {
  TMemoryData source(nullptr);
  AddLayoutFields(&source, "ID:I NAME:S10");
  source.Open();
  source.Append();
  source.FieldByName("ID")->SetAsInteger(1);
  source.Post();
  struct Case {
    const char* layout;
    TApplyMode mode;
    int copied;
  };
  const Case cases[] = {{"ID:I", amNone, 0}, {"ID:I NAME:S10", amNone, 1}, {"ID:I", amMerge, 0}};
  for (const Case& c : cases) {
    TMemoryData t(nullptr);
    AddLayoutFields(&t, c.layout);
    t.SetApplyMode(c.mode);
    t.Open();
    t.SetDataSet(&source);
    EXPECT_EQ(t.CopyRows(), c.copied) << c.layout;
    EXPECT_EQ(t.RecordCount(), c.copied) << c.layout;
  }
}

TEST(MemoryData, CalculatedFieldsAndKeyValues) {
  auto t = Doklady();
  auto* calc = new TStringField(t.get());
  calc->SetFieldName("LABEL");
  calc->SetSize(40);
  calc->SetFieldKind(fkCalculated);
  calc->SetDataSet(t.get());
  t->OnCalcFields = [&](TDataSet* ds) {
    calc->SetAsString(ds->FieldByName("DOKLAD")->AsString() + "/" +
                      ds->FieldByName("TYP_DOKLADU")->AsString());
  };
  t->Open();
  AddDoklad(*t, 1, "15", "FA");
  AddDoklad(*t, 2, "16", "PD");
  t->First();
  EXPECT_EQ(calc->AsString(), "15/FA");
  t->Next();
  EXPECT_EQ(calc->AsString(), "16/PD");
  Variant key = t->GetKeyValues();
  EXPECT_EQ(VarArrayHighBound(key, 1), 3);
  EXPECT_EQ(key.GetElement({0}).AsInteger(), 2);
  EXPECT_EQ(VarToStr(key.GetElement({1})), "16");
  EXPECT_TRUE(VarIsNull(key.GetElement({2})));
  EXPECT_TRUE(VarIsEmpty(key.GetElement({3})));
}

}  // namespace

namespace {

TEST(MemoryData, VariantFieldsKeepTheirValues) {
  TMemoryData t(nullptr);
  AddLayoutFields(&t, "ID:I");
  auto* v = new TVariantField(&t);
  v->SetFieldName("V");
  v->SetDataSet(&t);
  t.Open();
  const Variant values[] = {Variant(42), Variant(CZ("žluť")), Variant(2.5), Null(),
                            VarArrayOf({Variant(1), Variant("a")})};
  int id = 0;
  for (const Variant& value : values) {
    t.Append();
    t.FieldByName("ID")->SetAsInteger(id++);
    v->SetAsVariant(value);
    t.Post();
  }
  t.SortRecords("ID", false, true);
  t.Last();
  EXPECT_EQ(v->AsVariant().AsInteger(), 42);
  t.Prior();
  EXPECT_EQ(v->AsString(), CZ("žluť"));
  t.Prior();
  EXPECT_DOUBLE_EQ(v->AsFloat(), 2.5);
  t.Prior();
  EXPECT_TRUE(v->IsNull());
  t.Prior();
  EXPECT_EQ(VarToStr(v->AsVariant().GetElement({1})), "a");
  t.Edit();
  v->Clear();
  t.Post();
  EXPECT_TRUE(VarIsNull(v->AsVariant()));
}

}  // namespace

namespace {

class TWindowLink : public TDataLink {};

// Random operations against a vector model, with rings of several sizes.
TEST(MemoryData, RandomOperationsAgreeWithAModel) {
  for (int buffers : {1, 4}) {
    TMemoryData t(nullptr);
    AddLayoutFields(&t, "ID:I NAME:S10 NOTE:B");
    TDataSource src(nullptr);
    TWindowLink link;
    link.SetBufferCount(buffers);
    src.SetDataSet(&t);
    link.SetDataSource(&src);
    t.Open();
    TField* id = t.FieldByName("ID");
    std::vector<int> model;
    int cur = -1, next_id = 1;
    uint32_t seed = 777;
    auto rnd = [&](int n) {
      seed = seed * 1103515245u + 12345u;
      return static_cast<int>((seed >> 16) % static_cast<uint32_t>(n));
    };
    for (int step = 0; step < 1500; ++step) {
      int n = static_cast<int>(model.size());
      int op = rnd(10);
      switch (op) {
        case 0: case 1:
          t.Append();
          id->SetAsInteger(next_id);
          t.FieldByName("NOTE")->SetAsString("note " + std::to_string(next_id));
          t.Post();
          model.push_back(next_id++);
          cur = static_cast<int>(model.size()) - 1;
          break;
        case 2:
          t.Insert();
          id->SetAsInteger(next_id);
          t.Post();
          if (n == 0) cur = 0;
          model.insert(model.begin() + cur, next_id++);
          break;
        case 3:
          if (n == 0) break;
          t.Delete();
          model.erase(model.begin() + cur);
          if (cur >= static_cast<int>(model.size())) cur = static_cast<int>(model.size()) - 1;
          break;
        case 4: t.First(); if (n) cur = 0; break;
        case 5: t.Last(); if (n) cur = n - 1; break;
        case 6: t.Next(); if (n) cur = std::min(cur + 1, n - 1); break;
        case 7: t.Prior(); if (n) cur = std::max(cur - 1, 0); break;
        case 8:
          if (n == 0) break;
          {
            int target = model[static_cast<size_t>(rnd(n))];
            ASSERT_TRUE(t.Locate("ID", Variant(target), {}));
            cur = static_cast<int>(std::find(model.begin(), model.end(), target) - model.begin());
            t.Edit();
            t.FieldByName("NAME")->SetAsString(std::to_string(target));
            t.Post();
          }
          break;
        case 9:
          if (rnd(20) == 0) {
            t.EmptyTable();
            model.clear();
            cur = -1;
          }
          break;
      }
      ASSERT_EQ(t.IsEmpty(), model.empty()) << "step " << step << " op " << op;
      ASSERT_EQ(t.RecordCount(), static_cast<int>(model.size()));
      if (!model.empty()) {
        ASSERT_EQ(id->AsInteger(), model[static_cast<size_t>(cur)])
            << "buffers " << buffers << " step " << step << " op " << op;
        ASSERT_EQ(t.RecNo(), cur + 1) << "step " << step;
      }
      if (step % 50 == 49) {
        ASSERT_EQ(Ids(t, "ID"), model) << "step " << step;
        if (!model.empty()) cur = static_cast<int>(model.size()) - 1;
      }
    }
    link.SetDataSource(nullptr);
  }
}

}  // namespace

namespace {

TEST(MemoryData, LoadingDefersOpenAndDestroyingClosesQuietly) {
  int closes = 0;
  TDataSource src(nullptr);
  TWindowLink link;
  {
    TMemoryData t(nullptr);
    AddLayoutFields(&t, "ID:I");
    t.BeginLoading();
    t.Open();
    EXPECT_FALSE(t.Active()) << "not while loading";
    t.EndLoading();
    EXPECT_TRUE(t.Active());
    t.AfterClose = [&](TDataSet*) { ++closes; };
    src.SetDataSet(&t);
    link.SetDataSource(&src);
    t.Append();
    t.FieldByName("ID")->SetAsInteger(1);
    t.Post();
    EXPECT_TRUE(link.Active());
  }
  EXPECT_EQ(closes, 0);
  EXPECT_EQ(src.DataSet(), nullptr);
  EXPECT_FALSE(link.Active());
}

}  // namespace
