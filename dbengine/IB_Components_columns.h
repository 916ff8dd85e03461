// The typed column classes: one per SQL storage, chosen by the row's factory
// (TIB_Row::CreateColumnForVar). Each reads and writes its storage in place in the row
// buffer and overrides the text access and the typed access of its own type.
//
// BOOLEAN: the server's BOOLEAN (SQL type 32764, one byte 0/1) and the older 16-bit
// BOOLEAN (590) both become TIB_ColumnBoolean. SQL_NULL (32766, the type of a parameter
// the server can only test for null, as in "? IS NULL") becomes a zero-length
// TIB_ColumnText: its only value is its null state.
#pragma once

#include "dbengine/IB_Components_rows.h"

namespace pelvar {

// --- Numbers -------------------------------------------------------------------------------

class TIB_ColumnNumBase : public TIB_Column {
 public:
  TIB_ColumnNumBase(TIB_Row* Row, XSQLVAR* Var, int16_t FieldNo);
};

// Scaled values: SHORT, LONG, INT64, QUAD, DOUBLE with a non-zero scale.
class TIB_ColumnNumeric : public TIB_ColumnNumBase {
 public:
  TIB_ColumnNumeric(TIB_Row* Row, XSQLVAR* Var, int16_t FieldNo);
  AnsiString GetAsString() override;
  void SetAsString(const AnsiString& Value) override;
  int32_t GetAsInteger() override;
  void SetAsInteger(int32_t Value) override;
  Currency GetAsCurrency() override;
  void SetAsCurrency(Currency Value) override;
  long double GetAsExtended() override;
  void SetAsExtended(long double Value) override;
  int64_t GetAsInt64() override;

 private:
  // The stored integer of SHORT, LONG, INT64 and QUAD storage.
  int64_t StoredInt() const;
  void StoreInt(int64_t Value);
  AnsiString float_pattern_;
};

class TIB_ColumnFloat : public TIB_ColumnNumBase {
 public:
  using TIB_ColumnNumBase::TIB_ColumnNumBase;
  AnsiString GetAsString() override;
  void SetAsString(const AnsiString& Value) override;
  double GetAsFloat() override;
  void SetAsFloat(double Value) override;
};

class TIB_ColumnDouble : public TIB_ColumnNumBase {
 public:
  using TIB_ColumnNumBase::TIB_ColumnNumBase;
  AnsiString GetAsString() override;
  void SetAsString(const AnsiString& Value) override;
  double GetAsDouble() override;
  void SetAsDouble(double Value) override;
};

class TIB_ColumnSmallInt : public TIB_ColumnNumBase {
 public:
  using TIB_ColumnNumBase::TIB_ColumnNumBase;
  AnsiString GetAsString() override;
  void SetAsString(const AnsiString& Value) override;
  int16_t GetAsSmallint() override;
  void SetAsSmallint(int16_t Value) override;
};

class TIB_ColumnInteger : public TIB_ColumnNumBase {
 public:
  using TIB_ColumnNumBase::TIB_ColumnNumBase;
  AnsiString GetAsString() override;
  void SetAsString(const AnsiString& Value) override;
  int32_t GetAsInteger() override;
  void SetAsInteger(int32_t Value) override;
};

class TIB_ColumnInt64 : public TIB_ColumnNumBase {
 public:
  using TIB_ColumnNumBase::TIB_ColumnNumBase;
  AnsiString GetAsString() override;
  void SetAsString(const AnsiString& Value) override;
  int32_t GetAsInteger() override;
  void SetAsInteger(int32_t Value) override;
  int64_t GetAsInt64() override;
  void SetAsInt64(int64_t Value) override;

 protected:
  virtual int64_t Stored() const;
  virtual void Store(int64_t Value);
};

// INT64 storage as ISC_QUAD: the high 32-bit word first.
class TIB_ColumnQuad : public TIB_ColumnInt64 {
 public:
  using TIB_ColumnInt64::TIB_ColumnInt64;

 protected:
  int64_t Stored() const override;
  void Store(int64_t Value) override;
};

class TIB_ColumnBoolean : public TIB_ColumnNumBase {
 public:
  using TIB_ColumnNumBase::TIB_ColumnNumBase;
  AnsiString GetAsString() override;
  void SetAsString(const AnsiString& Value) override;
};

// --- Dates and times -------------------------------------------------------------------------

class TIB_ColumnDateTime : public TIB_Column {
 public:
  TIB_ColumnDateTime(TIB_Row* Row, XSQLVAR* Var, int16_t FieldNo);
  AnsiString GetAsString() override;
  void SetAsString(const AnsiString& Value) override;
  TDateTime GetAsDate() override;
  void SetAsDate(TDateTime Value) override;
  TDateTime GetAsDateTime() override;
  void SetAsDateTime(TDateTime Value) override;
  AnsiString GetAsDateTimeText() override;
  void SetAsDateTimeText(const AnsiString& Value) override;

 protected:
  TDateTime ReadValue() const;
  void WriteValue(TDateTime Value);
};

class TIB_ColumnTimeStamp : public TIB_ColumnDateTime {
 public:
  using TIB_ColumnDateTime::TIB_ColumnDateTime;
};
class TIB_ColumnTime : public TIB_ColumnDateTime {
 public:
  using TIB_ColumnDateTime::TIB_ColumnDateTime;
};
class TIB_ColumnDate : public TIB_ColumnDateTime {
 public:
  using TIB_ColumnDateTime::TIB_ColumnDateTime;
};

// --- Text and keys ----------------------------------------------------------------------------

class TIB_ColumnText : public TIB_Column {
 public:
  TIB_ColumnText(TIB_Row* Row, XSQLVAR* Var, int16_t FieldNo);
  AnsiString GetAsString() override;
  void SetAsString(const AnsiString& Value) override;
  WideString GetAsWideString() override;
  void SetAsWideString(const WideString& Value) override;
  virtual AnsiString SysGetText();
  virtual void SysSetText(const AnsiString& Value);
  // The column's trimming applied to Text; a CheckLen mode raises the overrun error
  // when the trimmed text is longer than the column.
  AnsiString ApplyTrimming(const AnsiString& Text) const;
  // The case-insensitive search expression of a NOCASE column; empty otherwise.
  AnsiString NoCaseFieldName;

 protected:
  AnsiString ApplyCase(const AnsiString& Text) const;
  // The connection talks UTF-8: texts are converted at the column's edge.
  bool UsesUtf8() const;
};

class TIB_ColumnVarText : public TIB_ColumnText {
 public:
  using TIB_ColumnText::TIB_ColumnText;
  WideString GetAsWideString() override;
  void SetAsWideString(const WideString& Value) override;
  AnsiString SysGetText() override;
  void SysSetText(const AnsiString& Value) override;
};

class TIB_ColumnDB_KEY : public TIB_Column {
 public:
  TIB_ColumnDB_KEY(TIB_Row* Row, XSQLVAR* Var, int16_t FieldNo);
  AnsiString GetAsString() override;
  void SetAsString(const AnsiString& Value) override;
  int32_t GetDefaultWidth() override;
};

// --- Blobs and arrays --------------------------------------------------------------------------

// The content lives in the row's table node of the column (or a node of the row's chain
// with the column's blob id) and is read from the server on first need.
class TIB_ColumnBlob : public TIB_Column {
 public:
  TIB_ColumnBlob(TIB_Row* Row, XSQLVAR* Var, int16_t FieldNo);
  AnsiString GetAsString() override;
  void SetAsString(const AnsiString& Value) override;
  AnsiString GetOldAsString() override;
  void SetAsBuffer(const void* Buffer, int32_t Length) override;
  int32_t GetDataSize() override;
  bool GetIsLoaded() override;
  bool GetIsModified() override;
  AnsiString GetDisplayText() override;
  bool SysValueChanged() override { return true; }
  void SysSetIsNull(bool Null) override;
  void Clear() override;
  // Another blob column, a TStrings (its text) or any column through the base rules.
  void Assign(TObject* Source) override;
  void AssignTo(TObject* Dest) override;
  // The whole stream, from its start, becomes the content / the content is written
  // to the stream at its position.
  void Assign(TStream* Source);
  void AssignTo(TStream* Dest);
  void LoadFromFile(const AnsiString& FileName) override;
  void SaveToFile(const AnsiString& FileName) override;
  TIB_BlobCacheNode* TableNode() const { return row_->GetBlobNode(field_no_); }
  ISC_QUAD BlobId() const { return ReadData<ISC_QUAD>(); }

 protected:
  // The node that holds the current content, loading it when needed; nullptr when null.
  TIB_BlobCacheNode* LoadedNode();
  // Replaces the content; Data nullptr leaves the column null, else it becomes not null.
  void WriteContent(const void* Data, int32_t Length);
};

class TIB_ColumnBinary : public TIB_ColumnBlob {
 public:
  using TIB_ColumnBlob::TIB_ColumnBlob;
};
class TIB_ColumnMemo : public TIB_ColumnBlob {
 public:
  TIB_ColumnMemo(TIB_Row* Row, XSQLVAR* Var, int16_t FieldNo);
  WideString GetAsWideString() override;
  void SetAsWideString(const WideString& Value) override;
};
class TIB_ColumnBLR : public TIB_ColumnBlob {
 public:
  TIB_ColumnBLR(TIB_Row* Row, XSQLVAR* Var, int16_t FieldNo);
};

// The array's content is the whole slice, kept like a blob's content in the row's
// nodes and exchanged with the application as a Variant array with the server's
// dimensions and bounds.
class TIB_ColumnArray : public TIB_Column {
 public:
  TIB_ColumnArray(TIB_Row* Row, XSQLVAR* Var, int16_t FieldNo);
  AnsiString GetAsString() override;
  AnsiString GetOldAsString() override;
  void SetAsString(const AnsiString& Value) override;
  Variant GetAsVariant() override;
  void SetAsVariant(const Variant& Value) override;
  AnsiString GetSQLTypeSource(bool WithoutExtras) override;
  void Clear() override;
  const ISC_ARRAY_DESC* GetArrayDesc() const override { return &desc_; }
  // Elements and bytes per element of the slice.
  int32_t ElementCount() const;
  int32_t ElementSize() const;

 private:
  ISC_ARRAY_DESC desc_{};
};

}  // namespace pelvar
