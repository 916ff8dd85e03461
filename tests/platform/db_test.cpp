// The dataset model tested through a small dataset over an array of rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "platform/db.h"
#include "platform/sysutils.h"

using namespace pelvar;

namespace {

// A dataset over a vector of rows. Each row holds a flag byte and the native value of each
// field definition; the bookmark is the row's ID. In the old-value state it shows the row as
// it was when the edit began.
class TArrayDataSet : public TDataSet {
 public:
  struct Row {
    int32_t id;
    std::vector<uint8_t> data;
  };

  explicit TArrayDataSet(TComponent* owner = nullptr) : TDataSet(owner) {}
  ~TArrayDataSet() override { Close(); }

  std::vector<Row> rows;
  int32_t next_id = 1;
  int32_t pos = -1;

  void AddRow(std::initializer_list<Variant> values) {
    bool was_open = Active();
    if (!was_open) Open();
    Append();
    int i = 0;
    for (const Variant& v : values) Fields(i++)->SetAsVariant(v);
    Post();
    if (!was_open) Close();
  }

 protected:
  static int32_t Length(const TFieldDef* d) {
    switch (d->DataType()) {
      case ftString: return d->Size() + 1;
      case ftSmallint: case ftWord: case ftBoolean: return 2;
      case ftInteger: case ftDate: case ftTime: case ftAutoInc: return 4;
      case ftBCD: return static_cast<int32_t>(sizeof(TBcd));
      default: return 8;
    }
  }
  TRecordBuffer AllocRecordBuffer() override { return new uint8_t[static_cast<size_t>(buf_size_)](); }
  void FreeRecordBuffer(TRecordBuffer& b) override {
    delete[] b;
    b = nullptr;
  }
  void GetBookmarkData(TRecordBuffer b, void* data) override { std::memcpy(data, b + bm_, 4); }
  void SetBookmarkData(TRecordBuffer b, const void* data) override { std::memcpy(b + bm_, data, 4); }
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer b) override { return TBookmarkFlag(b[bm_ + 4]); }
  void SetBookmarkFlag(TRecordBuffer b, TBookmarkFlag f) override { b[bm_ + 4] = uint8_t(f); }
  TGetResult GetRecord(TRecordBuffer b, TGetMode mode, bool do_check) override {
    int32_t last = int32_t(rows.size()) - 1;
    switch (mode) {
      case gmCurrent:
        if (pos < 0 || pos > last) {
          if (do_check) DatabaseError("no current row");
          return grError;
        }
        break;
      case gmNext:
        if (pos >= last) {
          pos = last + 1;
          return grEOF;
        }
        ++pos;
        break;
      case gmPrior:
        if (pos <= 0) {
          pos = -1;
          return grBOF;
        }
        --pos;
        break;
    }
    Load(pos, b);
    GetCalcFields(b);
    return grOK;
  }
  void Load(int32_t index, TRecordBuffer b) {
    std::memcpy(b, rows[size_t(index)].data.data(), size_t(data_size_));
    std::memcpy(b + bm_, &rows[size_t(index)].id, 4);
    b[bm_ + 4] = bfCurrent;
  }
  void InternalAddRecord(const void*, bool) override {}
  void InternalClose() override {
    BindFields(false);
    if (DefaultFields()) DestroyFields();
    open_ = false;
  }
  void InternalDelete() override {
    rows.erase(rows.begin() + pos);
    if (pos >= int32_t(rows.size())) pos = int32_t(rows.size()) - 1;
  }
  void InternalEdit() override { old_ = rows[size_t(pos)].data; }
  void InternalFirst() override { pos = -1; }
  void InternalLast() override { pos = int32_t(rows.size()); }
  int32_t IndexOfId(int32_t id) const {
    for (size_t i = 0; i < rows.size(); ++i)
      if (rows[i].id == id) return int32_t(i);
    return -1;
  }
  void InternalGotoBookmark(const void* bookmark) override {
    int32_t id;
    std::memcpy(&id, bookmark, 4);
    int32_t i = IndexOfId(id);
    if (i >= 0) pos = i;
  }
  void InternalInitFieldDefs() override {}
  void InternalInitRecord(TRecordBuffer b) override { std::memset(b, 0, size_t(buf_size_)); }
  void InternalOpen() override {
    SetBookmarkSize(4);
    if (DefaultFields()) CreateFields();
    BindFields(true);
    offsets_.clear();
    int32_t off = 0;
    for (int32_t i = 0; i < FieldDefs().Count(); ++i) {
      offsets_.push_back(off);
      off += 1 + Length(FieldDefs().Items(i));
    }
    data_size_ = off;
    bm_ = data_size_ + CalcFieldsSize();
    buf_size_ = bm_ + 8;
    pos = -1;
    open_ = true;
    for (Row& r : rows) r.data.resize(size_t(data_size_));
  }
  void InternalPost() override {
    TDataSet::InternalPost();
    if (State() == dsEdit) {
      std::memcpy(rows[size_t(pos)].data.data(), ActiveBuffer(), size_t(data_size_));
      return;
    }
    Row r{next_id++, std::vector<uint8_t>(ActiveBuffer(), ActiveBuffer() + data_size_)};
    if (pos >= 0 && pos < int32_t(rows.size())) {
      rows.insert(rows.begin() + pos, r);
    } else {
      rows.push_back(r);
      pos = int32_t(rows.size()) - 1;
    }
  }
  void InternalSetToRecord(TRecordBuffer b) override { InternalGotoBookmark(b + bm_); }
  bool IsCursorOpen() override { return open_; }

 public:
  int32_t RecordCount() override { return int32_t(rows.size()); }
  int32_t RecNo() override {
    UpdateCursorPos();
    return pos + 1;
  }
  bool IsSequenced() override { return true; }
  bool BookmarkValid(const TBookmark& b) override {
    if (b.size() != 4) return false;
    int32_t id;
    std::memcpy(&id, b.data(), 4);
    return IndexOfId(id) >= 0;
  }
  int32_t CompareBookmarks(const TBookmark& a, const TBookmark& b) override {
    int32_t ia, ib;
    std::memcpy(&ia, a.data(), 4);
    std::memcpy(&ib, b.data(), 4);
    int32_t pa = IndexOfId(ia), pb = IndexOfId(ib);
    return pa < pb ? -1 : (pa > pb ? 1 : 0);
  }

  TRecordBuffer RecordBuffer() {
    switch (State()) {
      case dsBrowse: return IsEmpty() ? nullptr : ActiveBuffer();
      case dsEdit: case dsInsert: return ActiveBuffer();
      case dsCalcFields: return CalcBuffer();
      case dsOldValue: return State() == dsOldValue && !old_.empty() ? old_.data() : nullptr;
      default: return nullptr;
    }
  }
  uint8_t* Place(TRecordBuffer b, TField* f) {
    if (f->FieldNo() <= 0) return b + data_size_ + f->Offset();
    return b + offsets_[size_t(f->FieldNo() - 1)];
  }
  bool GetFieldData(TField* f, void* buffer) override {
    TRecordBuffer b = RecordBuffer();
    if (b == nullptr) return false;
    uint8_t* p = Place(b, f);
    if (p[0] == 0) return false;
    if (buffer != nullptr) std::memcpy(buffer, p + 1, size_t(f->DataSize()));
    return true;
  }
  using TDataSet::GetFieldData;
  void SetFieldData(TField* f, const void* buffer) override {
    if (State() != dsEdit && State() != dsInsert && State() != dsCalcFields)
      DatabaseError(dbmsg::NotEditing(), this);
    if (f->ReadOnly() && State() != dsCalcFields)
      DatabaseErrorFmt(dbmsg::FieldReadOnly(), {f->DisplayName()}, this);
    f->Validate(buffer);
    uint8_t* p = Place(RecordBuffer(), f);
    p[0] = buffer != nullptr;
    if (buffer != nullptr)
      std::memcpy(p + 1, buffer, size_t(f->DataSize()));
    else
      std::memset(p + 1, 0, size_t(f->DataSize()));
    if (State() != dsCalcFields) DataEvent(deFieldChange, reinterpret_cast<intptr_t>(f));
  }
  using TDataSet::SetFieldData;
  void ClearCalcFields(TRecordBuffer b) override {
    std::memset(b + data_size_, 0, size_t(CalcFieldsSize()));
  }

 private:
  std::vector<int32_t> offsets_;
  std::vector<uint8_t> old_;
  int32_t data_size_ = 0, bm_ = 0, buf_size_ = 0;
  bool open_ = false;
};

// Counts what a data link is told.
class TCountingLink : public TDataLink {
 public:
  int active_changed = 0, dataset_changed = 0, scrolled = 0, record_changed = 0, editing = 0;
  int check_browse = 0;

 protected:
  void ActiveChanged() override { ++active_changed; }
  void DataSetChanged() override { ++dataset_changed; }
  void DataSetScrolled(int32_t) override { ++scrolled; }
  void RecordChanged(TField*) override { ++record_changed; }
  void EditingChanged() override { ++editing; }
  void CheckBrowseMode() override { ++check_browse; }
};

std::unique_ptr<TArrayDataSet> People(int rows) {
  auto ds = std::make_unique<TArrayDataSet>();
  ds->FieldDefs().Add("ID", ftInteger);
  ds->FieldDefs().Add("NAME", ftString, 20);
  ds->FieldDefs().Add("CODE", ftString, 10);
  ds->FieldDefs().Add("AMOUNT", ftFloat);
  ds->Open();
  for (int i = 1; i <= rows; ++i) {
    ds->Append();
    ds->FieldByName("ID")->SetAsInteger(i);
    ds->FieldByName("NAME")->SetAsString("name" + std::to_string(i));
    ds->FieldByName("CODE")->SetAsString(i % 2 ? "fa" : "pd");
    ds->FieldByName("AMOUNT")->SetAsFloat(i * 1.5);
    ds->Post();
  }
  ds->First();
  return ds;
}

std::vector<int> Walk(TDataSet& ds) {
  std::vector<int> ids;
  for (ds.First(); !ds.Eof(); ds.Next()) ids.push_back(ds.FieldByName("ID")->AsInteger());
  return ids;
}

TEST(DataSet, NavigationVisitsEveryRowInBothDirections) {
  for (int buffers : {1, 3, 7}) {
    auto ds = People(5);
    TDataSource src(nullptr);
    TCountingLink link;
    link.SetBufferCount(buffers);
    src.SetDataSet(ds.get());
    link.SetDataSource(&src);
    EXPECT_EQ(Walk(*ds), (std::vector<int>{1, 2, 3, 4, 5})) << buffers;
    std::vector<int> back;
    for (ds->Last(); !ds->Bof(); ds->Prior()) back.push_back(ds->FieldByName("ID")->AsInteger());
    EXPECT_EQ(back, (std::vector<int>{5, 4, 3, 2, 1})) << buffers;
    ds->First();
    EXPECT_TRUE(ds->Bof());
    EXPECT_EQ(ds->MoveBy(3), 3);
    EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 4);
    EXPECT_EQ(ds->MoveBy(10), 1);
    EXPECT_TRUE(ds->Eof());
    EXPECT_EQ(ds->MoveBy(-2), -2);
    EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 3);
    EXPECT_EQ(ds->RecNo(), 3);
    EXPECT_LE(link.ActiveRecord(), buffers - 1);
    link.SetDataSource(nullptr);
  }
}

// Random operations against a plain vector model, with rings of several sizes: the record
// shown, RecNo and a full walk must always agree with the model.
TEST(DataSet, RandomOperationsAgreeWithAModel) {
  for (int buffers : {1, 2, 5}) {
    auto ds = People(0);
    TDataSource src(nullptr);
    TCountingLink link;
    link.SetBufferCount(buffers);
    src.SetDataSet(ds.get());
    link.SetDataSource(&src);
    TField* id = ds->FieldByName("ID");
    std::vector<int> model;
    int cur = -1, next_id = 1;
    TBookmark mark;
    int mark_id = 0;
    uint32_t seed = 12345;
    auto rnd = [&](int n) {
      seed = seed * 1103515245u + 12345u;
      return static_cast<int>((seed >> 16) % static_cast<uint32_t>(n));
    };
    for (int step = 0; step < 1500; ++step) {
      int n = static_cast<int>(model.size());
      int op = rnd(11);
      std::string what = std::to_string(op);
      switch (op) {
        case 0: case 1:
          ds->Append();
          id->SetAsInteger(next_id);
          ds->Post();
          model.push_back(next_id++);
          cur = static_cast<int>(model.size()) - 1;
          break;
        case 2:
          ds->Insert();
          id->SetAsInteger(next_id);
          ds->Post();
          if (n == 0) cur = 0;
          model.insert(model.begin() + cur, next_id++);
          break;
        case 3:
          if (n == 0) break;
          ds->Delete();
          model.erase(model.begin() + cur);
          if (cur >= static_cast<int>(model.size())) cur = static_cast<int>(model.size()) - 1;
          break;
        case 4: ds->First(); if (n) cur = 0; break;
        case 5: ds->Last(); if (n) cur = n - 1; break;
        case 6: ds->Next(); if (n) cur = std::min(cur + 1, n - 1); break;
        case 7: ds->Prior(); if (n) cur = std::max(cur - 1, 0); break;
        case 8: {
          int d = rnd(7) - 3;
          ds->MoveBy(d);
          if (n) cur = std::clamp(cur + d, 0, n - 1);
          break;
        }
        case 9:
          if (n == 0) break;
          if (rnd(2) == 0) {
            mark = ds->GetBookmark();
            mark_id = model[static_cast<size_t>(cur)];
          } else if (!mark.empty() && ds->BookmarkValid(mark)) {
            ds->GotoBookmark(mark);
            cur = static_cast<int>(std::find(model.begin(), model.end(), mark_id) - model.begin());
          }
          break;
        case 10:
          if (n == 0) break;
          {
            int target = model[static_cast<size_t>(rnd(n))];
            ASSERT_TRUE(ds->Locate("ID", Variant(target), {}));
            cur = static_cast<int>(std::find(model.begin(), model.end(), target) - model.begin());
            ds->Edit();
            ds->FieldByName("NAME")->SetAsString("e" + std::to_string(target));
            ds->Post();
          }
          break;
      }
      ASSERT_EQ(ds->IsEmpty(), model.empty()) << "step " << step << " op " << what;
      if (!model.empty()) {
        ASSERT_EQ(id->AsInteger(), model[static_cast<size_t>(cur)])
            << "buffers " << buffers << " step " << step << " op " << what;
        ASSERT_EQ(ds->RecNo(), cur + 1) << "step " << step;
        ASSERT_GE(link.ActiveRecord(), 0);
        ASSERT_LT(link.ActiveRecord(), buffers);
        ASSERT_LE(link.RecordCount(), buffers);
      }
      if (step % 50 == 49) {
        ASSERT_EQ(Walk(*ds), model) << "step " << step;
        if (!model.empty()) cur = static_cast<int>(model.size()) - 1;
      }
    }
    link.SetDataSource(nullptr);
  }
}

TEST(DataSet, EmptyDataSetIsBofAndEof) {
  auto ds = People(0);
  EXPECT_TRUE(ds->IsEmpty());
  EXPECT_TRUE(ds->Bof());
  EXPECT_TRUE(ds->Eof());
  EXPECT_TRUE(ds->FieldByName("ID")->IsNull());
  EXPECT_THROW(ds->Delete(), EDatabaseError);
  ds->Next();
  EXPECT_TRUE(ds->Eof());
}

TEST(DataSet, AppendPostCancelAndAfterPostOncePerPost) {
  auto ds = People(3);
  int after_post = 0, before_post = 0, after_cancel = 0;
  ds->AfterPost = [&](TDataSet*) { ++after_post; };
  ds->BeforePost = [&](TDataSet*) { ++before_post; };
  ds->AfterCancel = [&](TDataSet*) { ++after_cancel; };
  ds->Append();
  EXPECT_EQ(ds->State(), dsInsert);
  EXPECT_TRUE(ds->FieldByName("ID")->IsNull());
  ds->FieldByName("ID")->SetAsInteger(10);
  EXPECT_TRUE(ds->Modified());
  ds->Post();
  EXPECT_EQ(after_post, 1);
  EXPECT_EQ(before_post, 1);
  EXPECT_EQ(ds->State(), dsBrowse);
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 10);
  ds->Append();
  ds->FieldByName("ID")->SetAsInteger(11);
  ds->Cancel();
  EXPECT_EQ(after_cancel, 1);
  EXPECT_EQ(after_post, 1);
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 10);
  EXPECT_EQ(Walk(*ds), (std::vector<int>{1, 2, 3, 10}));
  // Moving away from an unmodified insert cancels it; a modified one is posted.
  ds->Append();
  ds->Next();
  EXPECT_EQ(Walk(*ds), (std::vector<int>{1, 2, 3, 10}));
  ds->Append();
  ds->FieldByName("ID")->SetAsInteger(12);
  ds->First();
  EXPECT_EQ(after_post, 2);
  EXPECT_EQ(Walk(*ds), (std::vector<int>{1, 2, 3, 10, 12}));
}

TEST(DataSet, InsertGoesBeforeTheCurrentRow) {
  auto ds = People(3);
  ds->Next();
  ds->Insert();
  ds->FieldByName("ID")->SetAsInteger(99);
  ds->Post();
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 99);
  EXPECT_EQ(Walk(*ds), (std::vector<int>{1, 99, 2, 3}));
}

TEST(DataSet, EditKeepsOldValueAndCancelRestores) {
  auto ds = People(3);
  ds->Next();
  TField* name = ds->FieldByName("NAME");
  ds->Edit();
  EXPECT_EQ(ds->State(), dsEdit);
  name->SetAsString("changed");
  EXPECT_EQ(VarToStr(name->OldValue()), "name2");
  EXPECT_EQ(name->AsString(), "changed");
  ds->Cancel();
  EXPECT_EQ(name->AsString(), "name2");
  ds->Edit();
  name->SetAsString("posted");
  ds->Post();
  ds->First();
  ds->Next();
  EXPECT_EQ(name->AsString(), "posted");
}

TEST(DataSet, DeleteMovesToTheFollowingRow) {
  auto ds = People(3);
  ds->Next();
  ds->Delete();
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 3);
  ds->Delete();
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 1);
  ds->Delete();
  EXPECT_TRUE(ds->IsEmpty());
}

TEST(DataSet, LocateAndLookup) {
  auto ds = People(6);
  ds->Last();
  EXPECT_TRUE(ds->Locate("NAME;CODE", VarArrayOf({"NAME3", "FA"}), {loCaseInsensitive}));
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 3);
  EXPECT_FALSE(ds->Locate("NAME;CODE", VarArrayOf({"NAME3", "FA"}), {}));
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 3) << "a failed locate stays";
  EXPECT_TRUE(ds->Locate("NAME", Variant("name5"), {loPartialKey}) );
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 5);
  EXPECT_TRUE(ds->Locate("ID", Variant(2), {}));
  EXPECT_EQ(ds->FieldByName("NAME")->AsString(), "name2");
  Variant v = ds->Lookup("ID", Variant(4), "NAME;CODE");
  EXPECT_EQ(VarToStr(v.GetElement({0})), "name4");
  EXPECT_EQ(VarToStr(v.GetElement({1})), "pd");
  EXPECT_TRUE(VarIsNull(ds->Lookup("ID", Variant(40), "NAME")));
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 2) << "lookup does not move";
  EXPECT_THROW(ds->Locate("NOPE", Variant(1), {}), EDatabaseError);
}

TEST(DataSet, BookmarksSurviveInsertsElsewhere) {
  auto ds = People(5);
  ds->MoveBy(2);
  TBookmark mark = ds->GetBookmark();
  ds->First();
  ds->Insert();
  ds->FieldByName("ID")->SetAsInteger(100);
  ds->Post();
  ds->Append();
  ds->FieldByName("ID")->SetAsInteger(101);
  ds->Post();
  ASSERT_TRUE(ds->BookmarkValid(mark));
  ds->GotoBookmark(mark);
  EXPECT_EQ(ds->FieldByName("ID")->AsInteger(), 3);
  TBookmark last = ds->GetBookmark();
  ds->First();
  EXPECT_LT(ds->CompareBookmarks(ds->GetBookmark(), last), 0);
  ds->Locate("ID", Variant(3), {});
  ds->Delete();
  EXPECT_FALSE(ds->BookmarkValid(mark));
}

TEST(DataSet, DisableControlsSuppressesLinkEvents) {
  auto ds = People(5);
  TDataSource src(nullptr);
  src.SetDataSet(ds.get());
  TCountingLink link;
  link.SetDataSource(&src);
  EXPECT_TRUE(link.Active());
  int data_changes = 0;
  src.OnDataChange = [&](TObject*, TField*) { ++data_changes; };
  ds->Next();
  EXPECT_GT(link.scrolled + link.dataset_changed, 0);
  link.scrolled = link.dataset_changed = 0;
  data_changes = 0;
  ds->DisableControls();
  ds->DisableControls();
  EXPECT_TRUE(ds->ControlsDisabled());
  Walk(*ds);
  ds->Edit();
  ds->FieldByName("NAME")->SetAsString("x");
  ds->Post();
  EXPECT_EQ(link.scrolled + link.dataset_changed + link.record_changed, 0);
  EXPECT_EQ(data_changes, 0);
  ds->EnableControls();
  EXPECT_EQ(link.dataset_changed, 0);
  ds->EnableControls();
  EXPECT_EQ(link.dataset_changed, 1);
  EXPECT_EQ(data_changes, 1);
  // Editing state reaches the link.
  ds->Edit();
  EXPECT_TRUE(link.Editing());
  ds->Cancel();
  EXPECT_FALSE(link.Editing());
  ds->Close();
  EXPECT_FALSE(link.Active());
}

TEST(DataSet, StateErrors) {
  auto ds = People(2);
  TField* id = ds->FieldByName("ID");
  try {
    id->SetAsInteger(5);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), CZ("Dataset není v editovacím nebo vkládacím módu"));
  }
  EXPECT_THROW(ds->Post(), EDatabaseError);
  id->SetReadOnly(true);
  ds->Edit();
  try {
    id->SetAsInteger(5);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), CZ("Pole 'ID' nelze modifikovat"));
  }
  ds->Cancel();
  id->SetReadOnly(false);
  ds->FieldByName("NAME")->SetRequired(true);
  ds->Append();
  EXPECT_THROW(ds->Post(), EDatabaseError);
  ds->Cancel();
  // OnPostError may turn the failure into a silent abort.
  ds->OnPostError = [](TDataSet*, EDatabaseError&, TDataAction& a) { a = daAbort; };
  ds->Append();
  EXPECT_THROW(ds->Post(), EAbort);
  ds->Cancel();
  EXPECT_THROW(ds->FieldByName("MISSING"), EDatabaseError);
  ds->SetName("Tbl");
  try {
    ds->FieldByName("MISSING");
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), CZ("Tbl: Pole 'MISSING' nenalezeno"));
  }
  ds->Close();
  EXPECT_THROW(ds->Edit(), EDatabaseError);
  EXPECT_THROW(ds->First(), EDatabaseError);
}

TEST(DataSet, CalculatedFieldsFollowTheRecord) {
  auto ds = std::make_unique<TArrayDataSet>();
  ds->FieldDefs().Add("ID", ftInteger);
  auto* id = new TIntegerField(ds.get());
  id->SetFieldName("ID");
  id->SetDataSet(ds.get());
  auto* twice = new TIntegerField(ds.get());
  twice->SetFieldName("TWICE");
  twice->SetFieldKind(fkCalculated);
  twice->SetDataSet(ds.get());
  ds->OnCalcFields = [&](TDataSet*) { twice->SetAsInteger(id->AsInteger() * 2); };
  ds->Open();
  EXPECT_FALSE(ds->DefaultFields());
  for (int i = 1; i <= 3; ++i) {
    ds->Append();
    id->SetAsInteger(i);
    ds->Post();
  }
  std::vector<int> got;
  for (ds->First(); !ds->Eof(); ds->Next()) got.push_back(twice->AsInteger());
  EXPECT_EQ(got, (std::vector<int>{2, 4, 6}));
  ds->Edit();
  id->SetAsInteger(7);
  EXPECT_EQ(twice->AsInteger(), 14) << "recalculated when a data field changes";
  ds->Cancel();
}

TEST(DataSet, DefaultFieldsAreMadeAndFreedWithTheCursor) {
  auto ds = People(1);
  EXPECT_TRUE(ds->DefaultFields());
  EXPECT_EQ(ds->FieldCount(), 4);
  EXPECT_EQ(ds->FieldByName("name")->DataType(), ftString);
  EXPECT_EQ(ds->FieldByName("NAME")->Size(), 20);
  ds->Close();
  EXPECT_EQ(ds->FieldCount(), 0);
}

// ---------------------------------------------------------------------------------------------
// Field values

class FieldValues : public ::testing::Test {
 protected:
  void SetUp() override {
    ds.FieldDefs().Add("S", ftString, 5);
    ds.FieldDefs().Add("I", ftInteger);
    ds.FieldDefs().Add("SI", ftSmallint);
    ds.FieldDefs().Add("W", ftWord);
    ds.FieldDefs().Add("L", ftLargeint);
    ds.FieldDefs().Add("F", ftFloat);
    ds.FieldDefs().Add("C", ftCurrency);
    ds.FieldDefs().Add("B", ftBoolean);
    ds.FieldDefs().Add("D", ftDate);
    ds.FieldDefs().Add("T", ftTime);
    ds.FieldDefs().Add("DT", ftDateTime);
    ds.FieldDefs().Add("N", ftBCD, 4);
    ds.Open();
    ds.Append();
  }
  void TearDown() override { ds.Cancel(); }
  TField* F(const char* name) { return ds.FieldByName(name); }
  TArrayDataSet ds;
};

TEST_F(FieldValues, TextRoundTrips) {
  struct Case {
    const char* field;
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"S", "abcdefg", "abcde"},    {"I", "-12", "-12"},        {"SI", "32767", "32767"},
      {"W", "65535", "65535"},      {"L", "9000000000", "9000000000"},
      {"F", "1,5", "1,5"},          {"B", "t", "True"},         {"B", "False", "False"},
      {"D", "24.12.2008", "24.12.2008"}, {"T", "8:05:03", "08:05:03"},
      {"DT", "1.2.2008 13:45:00", "01.02.2008 13:45:00"},      {"DT", "1.2.2008", "01.02.2008"},
      {"N", "123,4567", "123,4567"},
  };
  for (const Case& c : cases) {
    F(c.field)->SetAsString(c.in);
    EXPECT_EQ(F(c.field)->AsString(), c.out) << c.field << " " << c.in;
    F(c.field)->Clear();
    EXPECT_TRUE(F(c.field)->IsNull()) << c.field;
    if (std::string(c.field) != "S") {
      F(c.field)->SetAsString(c.in);
      F(c.field)->SetAsString("");
      EXPECT_TRUE(F(c.field)->IsNull()) << "an empty text clears " << c.field;
    }
  }
}

TEST_F(FieldValues, BadValuesRaise) {
  struct Case {
    const char* field;
    const char* in;
  };
  const Case cases[] = {{"I", "x"}, {"SI", "40000"}, {"W", "-1"}, {"F", "1.5.5"},
                        {"B", "maybe"}, {"D", "31.02.2008"}, {"N", "abc"}};
  for (const Case& c : cases) {
    EXPECT_THROW(F(c.field)->SetAsString(c.in), Exception) << c.field << " " << c.in;
    EXPECT_TRUE(F(c.field)->IsNull()) << c.field;
  }
  EXPECT_THROW(F("B")->AsDateTime(), EDatabaseError);
}

TEST_F(FieldValues, NumbersDatesAndVariants) {
  F("I")->SetAsFloat(2.5);
  EXPECT_EQ(F("I")->AsInteger(), 2) << "halves round to even";
  F("F")->SetAsVariant(Variant("2,25"));
  EXPECT_DOUBLE_EQ(F("F")->AsFloat(), 2.25);
  F("C")->SetAsCurrency(Currency::FromRaw(12345));
  EXPECT_EQ(F("C")->AsCurrency().Raw(), 12345);
  F("N")->SetAsCurrency(Currency::FromRaw(-98765432));
  EXPECT_EQ(F("N")->AsCurrency().Raw(), -98765432);
  EXPECT_EQ(F("N")->AsString(), "-9876,5432");
  TDateTime d = EncodeDate(1858, 11, 17);
  F("D")->SetAsDateTime(d - 0.75);  // before 1899 the fraction is the time: 18:00
  EXPECT_DOUBLE_EQ(F("D")->AsDateTime(), d) << "a date field keeps the day only";
  EXPECT_EQ(F("D")->DisplayText(), "17.11.1858");
  TDateTime t = EncodeTime(8, 5, 3, 120);
  F("T")->SetAsDateTime(t);
  EXPECT_NEAR(F("T")->AsDateTime(), t, 1e-9);
  TDateTime before = EncodeDate(1899, 12, 29) - 0.25;  // 29.12.1899 06:00
  F("DT")->SetAsDateTime(before);
  EXPECT_NEAR(F("DT")->AsDateTime(), before, 1e-9);
  EXPECT_EQ(F("DT")->AsString(), "29.12.1899 06:00:00");
  F("L")->SetAsVariant(Variant(static_cast<long long>(-5000000000LL)));
  EXPECT_EQ(F("L")->AsLargeInt(), -5000000000LL);
  EXPECT_THROW(F("L")->AsInteger(), EDatabaseError);
  F("B")->SetAsBoolean(true);
  EXPECT_TRUE(F("B")->AsVariant().AsBoolean());
  F("I")->Clear();
  EXPECT_TRUE(VarIsNull(F("I")->AsVariant()));
  EXPECT_EQ(F("I")->AsInteger(), 0);
}

TEST_F(FieldValues, ValidateSeesThePendingValue) {
  int32_t seen = 0;
  F("I")->OnValidate = [&](TField* f) {
    seen = f->AsInteger();
    if (seen < 0) throw EDatabaseError("negative");
  };
  F("I")->SetAsInteger(5);
  F("I")->SetAsInteger(7);
  EXPECT_EQ(seen, 7);
  EXPECT_THROW(F("I")->SetAsInteger(-1), EDatabaseError);
  EXPECT_EQ(F("I")->AsInteger(), 7) << "a rejected value is not stored";
}

TEST(Bcd, CurrencyRoundTrips) {
  for (int64_t raw : {int64_t(0), int64_t(1), int64_t(-1), int64_t(12345678),
                      std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::min()}) {
    TBcd bcd = CurrToBCD(Currency::FromRaw(raw));
    EXPECT_EQ(BCDToCurr(bcd).Raw(), raw);
  }
  TBcd two = CurrToBCD(Currency::FromRaw(12355), 32, 2);  // 1.2355 -> 1.24
  EXPECT_EQ(BCDToCurr(two).Raw(), 12400);
  TBcd bad;
  bad.Precision = 30;
  bad.Fraction[0] = 0x99;
  EXPECT_THROW(BCDToCurr(bad), EOverflow);
}

// ---------------------------------------------------------------------------------------------
// Parameters, sources, links

TEST(Params, ValuesTypesAndNames) {
  TParams params;
  TParam* id = params.CreateParam(ftUnknown, "ID", ptInput);
  TParam* st = params.CreateParam(ftUnknown, "ST", ptInput);
  EXPECT_FALSE(id->Bound());
  id->SetValue(Variant(15));
  EXPECT_TRUE(id->Bound());
  EXPECT_EQ(id->DataType(), ftInteger);
  st->SetAsString("FA");
  EXPECT_EQ(st->DataType(), ftString);
  EXPECT_EQ(params.ParamByName("st")->AsString(), "FA");
  EXPECT_THROW(params.ParamByName("NOPE"), EDatabaseError);
  st->SetIndex(0);
  EXPECT_EQ(params.Items(0), st);
  EXPECT_EQ(id->Index(), 1);
  id->SetDataType(ftString);
  EXPECT_EQ(id->AsString(), "15");
  TParams copy;
  copy.Assign(params);
  EXPECT_EQ(copy.Count(), 2);
  EXPECT_EQ(copy.ParamByName("ID")->AsInteger(), 15);
  id->Clear();
  EXPECT_TRUE(id->IsNull());
  copy.AssignValues(params);
  EXPECT_TRUE(copy.ParamByName("ID")->IsNull());
}

class TDetailDataSet : public TArrayDataSet {
 public:
  TDataSource* master = nullptr;
  TDataSource* GetDataSource() const override { return master; }
};

TEST(DataSource, CircularLinksAreRefused) {
  TDetailDataSet a, b;
  TDataSource sa(nullptr), sb(nullptr);
  sa.SetDataSet(&a);
  b.master = &sa;  // b follows a
  a.master = &sb;  // a follows sb
  try {
    sb.SetDataSet(&b);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), CZ("Kruhové datalinky nejsou povoleny"));
  }
  a.master = b.master = nullptr;
}

TEST(MasterDataLink, FollowsTheMasterRecord) {
  auto master = People(3);
  auto detail = People(1);
  TDataSource src(nullptr);
  src.SetDataSet(master.get());
  TMasterDataLink link(detail.get());
  int changes = 0, disables = 0;
  link.OnMasterChange = [&](TObject*) { ++changes; };
  link.OnMasterDisable = [&](TObject*) { ++disables; };
  link.SetFieldNames("ID");
  link.SetDataSource(&src);
  ASSERT_EQ(link.Fields().size(), 1u);
  int before = changes;
  master->Next();
  EXPECT_GT(changes, before);
  master->Close();
  EXPECT_GT(disables, 0);
  EXPECT_EQ(link.GetDetailDataSet(), detail.get());
}

TEST(DataSet, DestroyingALinkedDataSetDetachesItsSources) {
  TDataSource src(nullptr);
  TCountingLink link;
  {
    auto ds = People(2);
    src.SetDataSet(ds.get());
    link.SetDataSource(&src);
    EXPECT_TRUE(link.Active());
    ds->Close();
  }
  EXPECT_EQ(src.DataSet(), nullptr);
  EXPECT_FALSE(link.Active());
}

}  // namespace
