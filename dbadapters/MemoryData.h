// TMemoryData: a dataset that keeps its rows in memory, one heap record per row, with
// bookmarks by record ID, locate, sorting, blob texts and optional change status.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/db.h"

namespace pelvar {

class TMemoryData;

enum TApplyMode { amNone, amAppend, amMerge };
enum TRecordStatus { rsOriginal, rsUpdated, rsInserted, rsDeleted };
using TApplyRecordEvent =
    std::function<void(TDataSet* dataset, TRecordStatus status, bool& found_apply)>;

// One row: its table, its ID, the record data (flag byte and value per non-blob field
// definition) and one text per blob field.
class TMemoryRecord : public TPersistent {
 public:
  // Appends the record to the table's list with ID := last ID + 1.
  explicit TMemoryRecord(TMemoryData* table);
  // Takes the record out of the table's list.
  ~TMemoryRecord() override;

  TMemoryData* MemoryData() const { return table_; }
  int32_t ID() const { return id_; }
  // The record's position in the list; setting it moves the record.
  int32_t Index() const;
  void SetIndex(int32_t index);
  // Writing through the non-const access tells the table that its records changed behind
  // its back (Locate's indexes are dropped); the table itself writes through the dataset.
  uint8_t* Data();
  const uint8_t* Data() const { return data_.data(); }
  std::vector<std::string>& Blobs() { return blobs_; }
  const std::vector<std::string>& Blobs() const { return blobs_; }
  std::vector<Variant>& Variants() { return variants_; }

 private:
  friend class TMemoryData;
  friend class TMemBlobStream;
  TMemoryData* table_;
  int32_t id_;
  std::vector<uint8_t> data_;
  std::vector<std::string> blobs_;
  std::vector<Variant> variants_;
};

class TMemoryData : public TDataSet {
 public:
  static constexpr int32_t kLowestID = std::numeric_limits<int32_t>::min();

  explicit TMemoryData(TComponent* owner);
  ~TMemoryData() override;

  // Frees every record (the table stays open).
  void EmptyTable();
  // Sorts the records on the ";"-separated fields (empty: KeyFieldNames).
  void SortRecords(const AnsiString& field_names, bool case_insensitive = true,
                   bool descending = false);
  // Copies the definitions of source (the table must be closed).
  void AssignStructure(TDataSet* source, bool auto_inc_as_integer = false);
  // Copies the rows of the published DataSet; the number of rows copied.
  int32_t CopyRows();
  // The values of KeyFieldNames of the current record.
  Variant GetKeyValues();

  TDataSet* DataSet() const { return source_; }
  void SetDataSet(TDataSet* v) { source_ = v; }
  bool DataSetClosed() const { return data_set_closed_; }
  void SetDataSetClosed(bool v) { data_set_closed_ = v; }
  const AnsiString& KeyFieldNames() const { return key_field_names_; }
  void SetKeyFieldNames(const AnsiString& v) { key_field_names_ = v; }
  bool LoadStructure() const { return load_structure_; }
  void SetLoadStructure(bool v) { load_structure_ = v; }
  bool LoadRecords() const { return load_records_; }
  void SetLoadRecords(bool v) { load_records_ = v; }
  TApplyMode ApplyMode() const { return apply_mode_; }
  void SetApplyMode(TApplyMode v);
  bool ExactApply() const { return exact_apply_; }
  void SetExactApply(bool v) { exact_apply_ = v; }
  bool AutoIncAsInteger() const { return auto_inc_as_integer_; }
  void SetAutoIncAsInteger(bool v) { auto_inc_as_integer_ = v; }
  int32_t Capacity() const { return static_cast<int32_t>(records_.capacity()); }
  void SetCapacity(int32_t v);
  const AnsiString& StatusName() const { return status_name_; }
  int32_t LoadedRowCount() const { return loaded_count_; }
  int32_t ChangedRowCount() const { return changed_count_; }
  int32_t MemoryRecordCount() const { return static_cast<int32_t>(records_.size()); }
  TMemoryRecord* Records(int32_t index) const { return records_[static_cast<size_t>(index)].get(); }

  // Stored, never used: nothing writes tracked changes back.
  TDataSetNotifyEvent BeforeApply, AfterApply;
  TApplyRecordEvent BeforeApplyRecord, AfterApplyRecord;

  // The framework's operations.
  bool Locate(const AnsiString& key_fields, const Variant& key_values,
              TLocateOptions options) override;
  int32_t RecordCount() override;
  int32_t RecNo() override;
  void SetRecNo(int32_t value) override;
  bool IsSequenced() override;
  bool GetCurrentRecord(TRecordBuffer buffer) override;
  bool BookmarkValid(const TBookmark& bookmark) override;
  int32_t CompareBookmarks(const TBookmark& bookmark1, const TBookmark& bookmark2) override;
  std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode) override;
  bool GetFieldData(TField* field, void* buffer) override;
  using TDataSet::GetFieldData;
  void SetFieldData(TField* field, const void* buffer) override;
  using TDataSet::SetFieldData;
  void SetFiltered(bool value) override;
  void SetOnFilterRecord(const TFilterRecordEvent& value) override;

 protected:
  friend class TMemBlobStream;
  friend class TMemoryRecord;

  // Virtual operations of the memory table.
  virtual int CompareFields(const uint8_t* data1, const uint8_t* data2, bool case_insensitive,
                            TFieldType type);
  virtual TRecordBuffer GetActiveRecBuf();
  virtual void SetMemoryRecordData(TRecordBuffer buffer, int32_t index);
  virtual void SetAutoIncFields(TRecordBuffer buffer);
  virtual int CompareRecords(const TMemoryRecord* r1, const TMemoryRecord* r2);

  // The dataset contract.
  TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(TRecordBuffer& buffer) override;
  void GetBookmarkData(TRecordBuffer buffer, void* data) override;
  void SetBookmarkData(TRecordBuffer buffer, const void* data) override;
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) override;
  void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag value) override;
  TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) override;
  uint16_t GetRecordSize() override;
  void InternalAddRecord(const void* buffer, bool append) override;
  void InternalClose() override;
  void InternalDelete() override;
  void InternalFirst() override;
  void InternalGotoBookmark(const void* bookmark) override;
  void InternalHandleException() override;
  void InternalInitFieldDefs() override;
  void InternalInitRecord(TRecordBuffer buffer) override;
  void InternalLast() override;
  void InternalOpen() override;
  void InternalPost() override;
  void InternalSetToRecord(TRecordBuffer buffer) override;
  bool IsCursorOpen() override { return open_; }
  bool GetIsIndexField(TField* field) override;
  void CloseBlob(TField* field) override;
  void InitRecord(TRecordBuffer buffer) override;
  void ClearCalcFields(TRecordBuffer buffer) override;
  void OpenCursor(bool info_query) override;
  void DoAfterOpen() override;

 private:
  TMemoryRecord* AddRecord();
  TMemoryRecord* InsertRecord(int32_t index);
  void FreeRecord(int32_t index);
  void ClearRecords();
  int32_t FindRecordID(int32_t id) const;
  bool RecordFilter();
  void CopyRecordToBuffer(int32_t index, TRecordBuffer buffer);
  std::string* BlobTexts(TRecordBuffer buffer) const;
  Variant* VariantSlots(TRecordBuffer buffer) const;
  // The variant slot of a variant field, or -1.
  int32_t VariantSlotOf(const TField* field) const;
  int32_t DefIndexOf(const TField* field) const;
  // The data of a non-blob field (flag byte then value) in buffer, or nullptr.
  uint8_t* FieldPtr(TRecordBuffer buffer, const TField* field) const;
  bool FieldHasValue(const uint8_t* p, TFieldType type) const;
  void InitFieldDefsFromFields();
  void CalcRecordSizes();
  void CreateFieldObjects(bool auto_inc_as_integer);
  void EnsureStatusField();
  int32_t StatusOf(TRecordBuffer buffer) const;
  void SetStatus(TRecordBuffer buffer, int32_t status);
  bool KeyIsDeleted(const Variant& key, bool remove);
  void BuildSortList(const AnsiString& field_names);
  void Sort();
  void QuickSort(int32_t l, int32_t r);
  bool MatchesLocate(const std::vector<TField*>& fields, const Variant& key_values,
                     TLocateOptions options);
  // The index of the first stored record that matches, -1 when none does, -2 when the
  // match must be made by walking the table.
  int32_t FindStoredMatch(const std::vector<TField*>& fields, const Variant& key_values,
                          TLocateOptions options);

  // Locate's index of one list of key fields (integer and text fields, one case rule): the
  // first record index of every key met in the first `covered` records. Appended records
  // are added when the next look-up comes; a post that changes an indexed key of a covered
  // record, and every insert, delete, move, sort, empty or close, drops the indexes, which
  // the next look-up rebuilds.
  struct TLocateIndex {
    std::vector<const TField*> fields;
    bool ignore_case = false;
    size_t covered = 0;
    std::unordered_map<std::string, int32_t> first;
  };
  // The key that record data has under the index's fields.
  std::string LocateKeyOf(const TLocateIndex& index, const uint8_t* data) const;
  TLocateIndex& LocateIndexFor(const std::vector<const TField*>& fields, bool ignore_case);
  void DropLocateIndexes() { locate_indexes_.clear(); }
  const uint8_t* StoredData(size_t index) const { return records_[index]->data_.data(); }

  std::vector<std::unique_ptr<TMemoryRecord>> records_;
  std::vector<int32_t> offsets_;         // per field definition: its place in the record data
  std::vector<int32_t> def_by_field_no_; // field number -> definition index
  std::vector<int32_t> variant_slots_;   // per field definition: its variant slot or -1
  std::vector<TField*> sort_fields_;
  std::vector<Variant> deleted_keys_;
  std::vector<std::unique_ptr<TLocateIndex>> locate_indexes_;
  TRecordBuffer filter_buffer_ = nullptr;
  TDataSet* source_ = nullptr;
  AnsiString key_field_names_;
  AnsiString status_name_ = "C67F70Z90";
  int32_t pos_ = -1;
  int32_t data_size_ = 0;
  int32_t bookmark_offset_ = 0;
  int32_t blob_offset_ = 0;
  int32_t variant_offset_ = 0;
  int32_t variant_count_ = 0;
  int32_t record_buffer_size_ = 0;
  int32_t last_id_ = kLowestID;
  int32_t auto_inc_ = 1;
  int32_t loaded_count_ = 0;
  int32_t changed_count_ = 0;
  TApplyMode apply_mode_ = amNone;
  bool open_ = false;
  bool loading_ = false;
  bool case_insensitive_sort_ = false;
  bool descending_sort_ = false;
  bool data_set_closed_ = true;
  bool load_structure_ = false;
  bool load_records_ = false;
  bool exact_apply_ = false;
  bool auto_inc_as_integer_ = false;
};

// A stream over the blob text of a memory-table field.
class TMemBlobStream : public TStream {
 public:
  TMemBlobStream(TField* field, TBlobStreamMode mode);
  ~TMemBlobStream() override;
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;

 private:
  std::string* Text();
  int64_t BlobSize();
  TField* field_;
  TMemoryData* dataset_;
  TRecordBuffer buffer_ = nullptr;
  TBlobStreamMode mode_;
  int64_t position_ = 0;
  bool opened_ = false;
  bool modified_ = false;
  bool cached_ = false;
};

}  // namespace pelvar
