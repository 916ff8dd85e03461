// Rows and the column base of the statement engine.
//
// A TIB_Row is one XSQLDA of a statement (its input parameters, its output fields or the
// key fields of a buffered dataset) together with one typed TIB_Column per entry. The row
// lays out two packed buffers after a describe: the row buffer, to which the XSQLDA's
// sqlind and sqldata point, and the old row buffer with the values before the current
// edit. Every column occupies a 2-byte null indicator followed by its data (the SQL
// length, two more for VARCHAR). The packing leaves values unaligned, so every read and
// write of a value goes through memcpy.
//
// The row reaches its statement through TIB_RowOwner: the statement component derives
// from it and overrides the hooks the rows and columns ask for (describe, parameter
// names, calculated fields, blob transfers, attribute look-ups, dialect and identifiers).
// The defaults make a row usable over any described XSQLDA.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "dbclient/IB_Components.h"
#include "dbclient/IB_Components_stringlist.h"
#include "dbclient/IB_Header.h"
#include "dbclient/IB_Session.h"
#include "platform/classes.h"
#include "platform/currency.h"
#include "platform/types.h"
#include "platform/variant.h"

namespace pelvar {

class TIB_Row;
class TIB_Column;
class TIB_RowOwner;
struct TIB_Node;

// Row types.
constexpr uint8_t rtParams = 0;
constexpr uint8_t rtFields = 1;
constexpr uint8_t rtKeyFields = 2;

// Row states.
constexpr uint8_t rsEmpty = 0;
constexpr uint8_t rsLoaded = 1;
constexpr uint8_t rsModified = 2;

using TIB_RowStateEvent = std::function<void(TIB_Row* Row)>;
// Column is nullptr for a whole-row notification.
using TIB_RowColumnEvent = std::function<void(TIB_Row* Row, TIB_Column* Column)>;
using TIB_ColumnEvent = std::function<void(TIB_Column* Column)>;
using TIB_ColumnTextEvent = std::function<void(TIB_Column* Column, AnsiString& Text)>;
// Makes the column for one entry; leaving Column empty is an error.
using TIB_CreateColumnEvent =
    std::function<void(TIB_RowOwner* Sender, TIB_Row* Row, std::unique_ptr<TIB_Column>& Column,
                       XSQLVAR* Var, int16_t FieldNo)>;
using TIB_ValidateFieldEvent =
    std::function<void(TIB_RowOwner* Sender, TIB_Row* Row, TIB_Column* Column)>;

// SQL type without its nullable bit.
inline int16_t BaseSQLType(int16_t SqlType) { return static_cast<int16_t>(SqlType & ~1); }
// Same type ignoring the null flag, SMALLINT counted as INTEGER and DOUBLE PRECISION as
// FLOAT.
bool SQLTypesCompatible(int16_t A, int16_t B);

// --- The statement as its rows see it --------------------------------------------------

class TIB_RowOwner : public TIB_Component {
 public:
  explicit TIB_RowOwner(TComponent* Owner) : TIB_Component(Owner) {}

  // Fills the first sqld entries of Row's XSQLDA after a prepare; a parameter row is
  // named by TIB_Row::NameParams afterwards (by the override).
  virtual void SysDescribeRow(TIB_Row* /*Row*/) {}
  // The parameter names parsed from the SQL; nullptr when none.
  virtual const TStrings* ParamNameList() const { return nullptr; }
  // Parameters the server described beyond the parsed names.
  virtual int32_t ExtraParamCount() const { return 0; }
  // Repeated parameter names share one column.
  virtual bool BindSameNamedParams() const { return true; }
  // NAME=type definitions of client-calculated columns; nullptr when none.
  virtual const TStrings* CalculatedFieldList() const { return nullptr; }
  virtual bool CalculateAllFields() const { return false; }
  virtual void DoCalculateFields(TIB_Row* /*Row*/, TIB_Column* /*Column*/) {}
  // True while the field row runs its calculated-field pass.
  virtual bool GetCalculatingFields() const { return false; }
  // The alias under which the SQL refers to Relation.
  virtual AnsiString GetAliasOfRelation(const AnsiString& Relation) const { return Relation; }
  virtual uint16_t SQLDialect() const { return SQL_DIALECT_V6; }
  // An identifier as the connection writes it for its dialect.
  virtual AnsiString MakeStoredIdent(const AnsiString& Name) const;
  // While MakeStoredIdent keeps giving the same answers, the same non-zero number; 0
  // when its answers are not to be kept.
  virtual uint64_t IdentStamp() const { return 0; }
  // The connected server's major version; 0 while unknown.
  virtual int32_t ServerMajorVersion() const { return 0; }
  // The prepared statement's handle; nullptr when none.
  virtual isc_stmt_handle* StatementHandlePtr() { return nullptr; }
  // The session whose status vector the rows' client calls use.
  virtual TIB_SessionBase* CallSession() { return GetIB_Session(); }
  // Reads or writes one blob or array value for a column (Node.BlobId in or out).
  virtual void LoadBlobNode(XSQLVAR* PVAR, const ISC_ARRAY_DESC* ArrayDesc,
                            TIB_BlobCacheNode* Node);
  virtual void StoreBlobNode(XSQLVAR* PVAR, const ISC_ARRAY_DESC* ArrayDesc,
                             TIB_BlobCacheNode* Node);
  // Fills an array column's descriptor; false when the look-up failed.
  virtual bool LookupArrayBounds(const XSQLVAR* /*PVAR*/, ISC_ARRAY_DESC& /*Desc*/) {
    return false;
  }
  // A dataset that is not editing (not in edit, insert or delete state).
  virtual bool IsBrowsingDataset() const { return false; }
  // The component columns report to (the dataset an internal cursor serves).
  virtual TIB_RowOwner* ReportingStatement() { return this; }
  // The column's attribute: true when present, with its value.
  virtual bool GetColumnAttribute(const TIB_Column* /*Column*/, const AnsiString& /*Keyword*/,
                                  AnsiString& /*Value*/) const {
    return false;
  }
  virtual bool GetColumnReadOnly(const TIB_Column* /*Column*/) const { return false; }
  virtual bool GetColumnRequired(const TIB_Column* /*Column*/) const { return false; }
  // Attribute keywords with the connection's defaults (NOCASE, NOTRAILING) applied.
  virtual bool ColumnIsAttributeSet(const TIB_Column* Column, const AnsiString& Keyword) const;
  // The statement's display-setting list Which (the cl* indexes) that the column
  // setters write back into; nullptr when the owner keeps none.
  virtual TIB_StringList* ColumnPropertyList(int32_t /*Which*/) { return nullptr; }
  // Writes Value as Column's entry of List; an empty Value removes the entry.
  virtual void SetColumnListValue(const TIB_Column* /*Column*/, TIB_StringList* /*List*/,
                                  const AnsiString& /*Value*/) {}
  // The layout nesting count: column moves rewrite the index list only at 0.
  virtual int32_t GetLayoutLevel() const { return 0; }
  // A field column moved: the owner rewrites its index list and reports the new layout.
  virtual void ColumnIndexChanged() {}
  // Schema facts of a field: computed, and with a server default.
  virtual bool IsComputedField(const TIB_Column* /*Column*/) const { return false; }
  // The columns keep their computed and read-only verdicts (asked for every column of
  // every row written) under this stamp: while it stays the same, so do the verdicts.
  // Generation 0 when they are to be worked out every time.
  struct ColumnRuleStamp {
    uint64_t Generation = 0;
    uint64_t Ident = 0;
  };
  virtual ColumnRuleStamp GetColumnRuleStamp() const { return {}; }
  virtual bool HasServerDefault(const TIB_Column* /*Column*/) const { return false; }
  // The default clause of a procedure parameter column (EXECUTE PROCEDURE statements);
  // empty when none is known.
  virtual AnsiString ProcParamDefault(const TIB_Column* /*Column*/) { return {}; }
  virtual int32_t StatementType() const { return 0; }
  // The connection's "CHARACTER SET" parameter; text columns convert when it is "UTF8".
  virtual AnsiString ConnectionCharSet() const { return {}; }
  // The connection's defaults for text columns without a trimming entry. The length
  // check is on unless the statement says otherwise: a text longer than its column
  // raises instead of being cut.
  virtual bool DefaultNoTrimming() const { return false; }
  virtual bool DefaultNoLengthCheck() const { return false; }
  // The total length of a blob column's current blob, asked of the server without
  // reading the content; false when the blob cannot be opened.
  virtual bool ServerBlobSize(XSQLVAR* /*PVAR*/, int32_t& /*Size*/) { return false; }
  // Prepares when not prepared (values by names do).
  virtual void EnsurePrepared() {}

  TIB_CreateColumnEvent OnCreateColumn;
  TIB_ValidateFieldEvent OnValidateField;
};

// --- Row -------------------------------------------------------------------------------------

class TIB_Row : public TObject {
 public:
  TIB_Row(TIB_RowOwner* Statement, uint8_t RowType);
  ~TIB_Row() override;

  TIB_RowOwner* Statement() const { return statement_; }
  uint8_t RowType() const { return row_type_; }
  XSQLDA* PSQLDA() const { return reinterpret_cast<XSQLDA*>(xsqlda_.get()); }
  XSQLVAR* Var(int32_t Index) const { return &PSQLDA()->sqlvar[Index]; }

  // --- Layout
  // Rebuilds the row for N described entries; an exception leaves the row without layout.
  void SetColumnCount(int16_t N);
  void ClearColumns() { SetColumnCount(0); }
  void FreeLayout();
  // Names the described parameter entries (the statement's describe calls it).
  void NameParams();
  // Relation aliases of the field columns, from the server when it knows them.
  void LoadRelationAliases();

  // --- Column access
  TIB_Column* ColumnByIndex(int16_t FieldNo) const;
  bool FindColumn(const AnsiString& Name, TIB_Column*& Column);
  TIB_Column* GetColumn(int32_t Index) const;
  TIB_Column* ColumnByName(const AnsiString& Name);
  bool FindColumnByFieldNo(int16_t FieldNo, TIB_Column*& Column) const;
  int32_t ColumnCount() const { return static_cast<int32_t>(columns_.size()); }
  int32_t GetRelationCount() const { return relation_names_ ? relation_names_->Count() : 0; }
  AnsiString GetRelationName(int32_t Index) const;
  int32_t HiddenParamCount() const { return hidden_param_count_; }
  int32_t CalculatedCount() const { return calculated_count_; }
  const std::vector<TIB_Column*>& BlobColumns() const { return blob_columns_; }
  const std::vector<TIB_Column*>& ArrayColumns() const { return array_columns_; }
  const std::vector<TIB_Column*>& CalculatedColumns() const { return calculated_columns_; }
  int32_t LastFoundIndex() const { return last_found_; }
  // Unique field names and short names for the dataset adapters.
  void MakeBDEFieldNames();

  // --- Buffers
  char* RowBuffer() const { return row_buffer_.get(); }
  char* OldRowBuffer() const { return old_buffer_.get(); }
  int32_t RowBufferSize() const { return buffer_size_; }
  void InitBuffers();
  void ClearRow(uint8_t State);
  void RevertRow(bool FreeChain);
  void SetRowLoaded(bool Loaded, bool ResetBlobs, bool Calculate);
  void PadBuffers(bool ForceNotNull);
  // Upper-case hex text of the buffers (bookmarks, kept parameter values).
  AnsiString GetRowData() const;
  AnsiString GetOldRowData() const;
  void SetRowData(const AnsiString& Text);
  void SetOldRowData(const AnsiString& Text);

  // --- State and notifications
  uint8_t RowState() const { return row_state_; }
  void SetRowState(uint8_t State);
  void ColumnModified(TIB_Column* Column);
  void DataChanged(TIB_Column* Column);
  void BeginUpdate() { ++update_level_; }
  void EndUpdate(bool WholeRowIfMany);
  void FlushChanges(bool WholeRowIfMany);
  int32_t UpdateLevel() const { return update_level_; }
  void CalculateFields();
  bool Calculating() const { return calculating_; }
  bool LoadedChange() const { return loaded_change_; }

  bool Managed() const { return managed_; }
  void SetManaged(bool Value) { managed_ = Value; }
  bool CalculateWhenManaged() const { return calculate_when_managed_; }
  void SetCalculateWhenManaged(bool Value) { calculate_when_managed_ = Value; }
  int32_t AssignLevel() const { return assign_level_; }
  void IncAssignLevel() { ++assign_level_; }
  void DecAssignLevel() { --assign_level_; }

  // --- Values by column names
  void GetColumnList(std::vector<TIB_Column*>& List, const AnsiString& Names);
  Variant GetValues(const AnsiString& Names);
  void SetValues(const AnsiString& Names, const Variant& Values);
  Variant GetOldValues(const AnsiString& Names);

  // --- Blob caches
  TIB_BlobCacheNode* GetBlobNode(int32_t Index) const;
  // The chain the row's blobs live in: the attached node's, else the row's own.
  TIB_BlobCacheNode** GetBlobNodes();
  void ResetBlobNodes(bool FreeChain);
  void PostBlobs();
  void AfterPostBlobs(bool Success);
  void CancelBlobs();
  void PurgeBlobCache();
  int32_t NewBlobIdCount() const { return new_blob_id_count_; }

  // --- The buffered dataset's node the row shows (IB_Components_rownodes.cpp)
  TIB_Node* RowNode() const { return row_node_; }
  void SetRowNode(TIB_Node* Node) { row_node_ = Node; }
  // Unpacks the node's row (and saved row) into the buffers; raises "No record data to
  // load" when the node holds no row.
  void LoadFromNode(bool Notify, bool WithBlobs);
  // Packs the row into the node, with the edited blobs of a field row.
  void SaveToNode();
  // Drops the emptied blob nodes from the node's chain.
  void PurgeNodeBlobs();
  // The node half of CancelBlobs: forgets the edited blobs kept in the node's chain.
  void CancelNodeBlobs();
  // Forgets the edit of one column kept in the node's chain (it has been posted).
  void DropNodeEdit(int16_t FieldNo);
  int32_t BlobCount() const { return blob_count_; }
  int32_t ArrayCount() const { return array_count_; }

  TIB_RowColumnEvent OnColumnChanging;
  TIB_RowColumnEvent OnDataChange;
  TIB_RowStateEvent OnRowStateChanged;

 private:
  friend class TIB_Column;
  void AllocBlobNodes();
  void MergeParamDefs();
  void CreateColumns();
  void AddColumn(int16_t FieldNo, XSQLVAR* Var);
  std::unique_ptr<TIB_Column> CreateColumnForVar(int16_t FieldNo, XSQLVAR* Var);
  void AllocRowBuffers();
  void LayoutBuffers();
  // The columns in the order of their buffers (the node format), worked out once per
  // layout: every row shown from a node or saved into one asks for it.
  const std::vector<TIB_Column*>& BufferOrder();
  std::vector<TIB_Column*> buffer_order_;
  bool buffer_order_kept_ = false;
  void BindSameNamedParams();
  void RebuildRelationNames();
  AnsiString ParamLookupName(const XSQLVAR& Var) const;
  bool FindColumnStep(const AnsiString& Name, TIB_Column*& Column, bool Quoted);
  bool FindQualified(const AnsiString& A, const AnsiString& B, TIB_Column*& Column);
  // Tries the hint position first, then scans; Match tests one column.
  template <class Pred>
  bool ScanColumns(Pred Match, TIB_Column*& Column);
  bool NameEquals(const AnsiString& A, const AnsiString& B) const;
  void DecodeInto(const AnsiString& Text, char* Buffer, const char* Where);
  bool HasBlobsOrArrays() const { return blob_count_ + array_count_ > 0; }

  TIB_RowOwner* statement_;
  uint8_t row_type_;
  std::unique_ptr<char[]> xsqlda_;
  std::vector<std::unique_ptr<TIB_Column>> columns_;
  int32_t hidden_param_count_ = 0;
  std::vector<TIB_Column*> blob_columns_;
  std::vector<TIB_Column*> array_columns_;
  std::vector<TIB_Column*> calculated_columns_;
  int32_t blob_count_ = 0;
  int32_t array_count_ = 0;
  int32_t calculated_count_ = 0;
  std::unique_ptr<char[]> row_buffer_;
  std::unique_ptr<char[]> old_buffer_;
  int32_t buffer_size_ = 0;
  std::unique_ptr<TIB_BlobCacheNode[]> blob_nodes_;
  std::vector<int32_t> blob_node_index_;
  TIB_BlobCacheNode* own_chain_ = nullptr;
  TIB_Node* row_node_ = nullptr;
  std::unique_ptr<TIB_StringList> relation_names_;
  uint8_t row_state_ = rsEmpty;
  int32_t update_level_ = 0;
  std::vector<TIB_Column*> changed_columns_;
  bool whole_row_changed_ = false;
  bool loaded_change_ = false;
  bool pending_loaded_change_ = false;
  bool managed_ = false;
  bool calculate_when_managed_ = false;
  bool calculating_ = false;
  bool field_names_made_ = false;
  int32_t last_found_ = -1;
  int32_t new_blob_id_count_ = 0;
  int32_t assign_level_ = 0;
};

// --- Column base ------------------------------------------------------------------------------

enum TIB_CharCase : uint8_t { ccNormal, ccUpper, ccLower, ccProper };
// Which display-setting list a column setter writes (TIB_RowOwner::ColumnPropertyList).
enum : int32_t {
  clAlignment, clCharCase, clDisplayFormat, clDisplayLabel, clGridLabel, clGridTitleHint,
  clDisplayWidth, clEditMask, clIndex, clReadOnly, clTrimming, clVisible,
};
enum TIB_ColumnTrimming : uint8_t {
  ctNone, ctNoneCheckLen, ctAll, ctAllCheckLen, ctBoth, ctBothCheckLen, ctLeft,
  ctLeftCheckLen, ctRight, ctRightCheckLen, ctSentence, ctSentenceCheckLen,
};

class TIB_Column : public TObject {
 public:
  TIB_Column(TIB_Row* Row, XSQLVAR* Var, int16_t FieldNo);
  ~TIB_Column() override;

  // --- Identity and names
  TIB_Row* Row() const { return row_; }
  int16_t FieldNo() const { return field_no_; }
  XSQLVAR* PSQLVAR() const { return var_; }
  TIB_RowOwner* GetStatement() const;
  AnsiString GetFieldName() const;
  AnsiString GetRelName() const;
  AnsiString GetRelAlias() const;
  // GetRelAlias() == Alias, without making a copy of the alias.
  bool RelAliasIs(const AnsiString& Alias) const {
    return rel_alias_.empty() ? RelNameIs(Alias) : rel_alias_ == Alias;
  }
  // GetRelName() == Name, without making a copy of the kept name.
  bool RelNameIs(const AnsiString& Name) const;
  // The descriptor names a relation (GetRelName is not empty), told without making the name.
  bool HasRelName() const;
  void SetRelAlias(const AnsiString& Value) {
    rel_alias_ = Value;
    rule_memo_ = {};
  }
  AnsiString GetAliasName() const;
  AnsiString GetQualifiedAliasName() const;
  AnsiString GetQualifiedFieldName() const;
  AnsiString GetFullName() const;
  AnsiString GetBDEFieldName();
  AnsiString GetBDEShortName();
  AnsiString GetDomainName() const { return domain_name_; }
  // The alias name as a user reads it: without its quotes when it is quoted.
  AnsiString GetDisplayName() const;
  int32_t GetIndex() const;

  // --- Type and rules
  uint16_t GetSQLType() const { return static_cast<uint16_t>(var_->sqltype); }
  int16_t BaseType() const { return BaseSQLType(var_->sqltype); }
  int16_t GetSQLScale() const { return var_->sqlscale; }
  int16_t GetSQLSubType() const { return var_->sqlsubtype; }
  uint16_t GetSQLLen() const { return static_cast<uint16_t>(var_->sqllen); }
  // SQL length, two more for VARCHAR.
  int32_t GetBufferDataSize() const;
  bool GetIsNullable() const { return (var_->sqltype & 1) != 0; }
  bool GetIsNull() const;
  bool GetOldIsNull() const;
  void SetIsNull(bool Null);
  bool GetIsExpression() const;
  bool GetComputed() const;
  bool GetReadOnly() const;
  bool ReadOnlyFromList() const { return read_only_list_; }
  bool ReadOnlyFromDataset() const { return read_only_dataset_; }
  void SetReadOnlyFlags(bool FromList, bool FromDataset) {
    read_only_list_ = FromList;
    read_only_dataset_ = FromDataset;
  }
  bool GetIsRequired() const;
  void SetIsRequired(bool Value) { required_ = Value; }
  bool GetRequired() const;
  bool GetHasServerDefault() const;
  bool IsAttributeSet(const AnsiString& Keyword) const;
  bool GetAttributeValue(const AnsiString& Keyword, AnsiString& Value) const;
  AnsiString GetBoolTrue() const;
  AnsiString GetBoolFalse() const;
  bool GetDateOnly() const { return !date_format_.empty(); }
  bool GetTimeOnly() const { return !time_format_.empty(); }
  const AnsiString& DateFormat() const { return date_format_; }
  const AnsiString& TimeFormat() const { return time_format_; }

  // --- Display settings (the statement's Fields lists fill the fields below)
  AnsiString GetDisplayLabel() const;
  AnsiString GetGridDisplayLabel() const;
  AnsiString GetGridDisplayName() const;
  int32_t GetDisplayWidth();
  int32_t CalcWidth(bool ForGrid);
  AnsiString GetEditMask() const;
  bool GetIsMasked() const { return !GetEditMask().empty(); }
  // Each setter writes the column's entry of the statement's list when the setting
  // differs; the list's change handling then updates the column.
  void SetAlignment(uint8_t Value);
  void SetCharCase(TIB_CharCase Value);
  void SetDisplayFormat(const AnsiString& Value);
  void SetDisplayLabel(const AnsiString& Value);
  void SetGridDisplayLabel(const AnsiString& Value);
  void SetGridTitleHint(const AnsiString& Value);
  void SetDisplayWidth(int32_t Value);
  void SetEditMask(const AnsiString& Value);
  void SetTrimming(TIB_ColumnTrimming Value);
  void SetVisible(bool Value);
  void SetIndex(int32_t Position);

  // --- Virtual value access (the base converts through text)
  virtual int32_t GetDataSize() { return 0; }
  virtual bool GetIsLoaded() { return true; }
  virtual bool GetIsModified();
  virtual AnsiString GetOldAsString();
  virtual Variant GetOldAsVariant();
  virtual AnsiString GetAsString() = 0;
  virtual AnsiString GetAsRawString();
  virtual AnsiString GetAsXML();
  virtual WideString GetAsWideString();
  virtual TDateTime GetAsDate();
  virtual TDateTime GetAsDateTime();
  virtual AnsiString GetAsDateTimeText();
  virtual int32_t GetAsInteger();
  virtual double GetAsFloat();
  virtual int16_t GetAsSmallint();
  virtual double GetAsDouble();
  virtual Currency GetAsCurrency();
  virtual int64_t GetAsComp();
  virtual long double GetAsExtended();
  virtual Variant GetAsVariant();
  virtual void SetAsString(const AnsiString& Value) = 0;
  virtual void SetAsRawString(const AnsiString& Value);
  virtual void SetAsWideString(const WideString& Value);
  virtual void SetAsDate(TDateTime Value);
  virtual void SetAsDateTime(TDateTime Value);
  virtual void SetAsDateTimeText(const AnsiString& Value);
  virtual void SetAsInteger(int32_t Value);
  virtual void SetAsFloat(double Value);
  virtual void SetAsSmallint(int16_t Value);
  virtual void SetAsDouble(double Value);
  virtual void SetAsCurrency(Currency Value);
  virtual void SetAsComp(int64_t Value);
  virtual void SetAsExtended(long double Value);
  virtual void SetAsVariant(const Variant& Value);
  virtual AnsiString GetSQLTypeSource(bool WithoutExtras);
  virtual AnsiString GetDisplayText();
  virtual int32_t GetDefaultWidth();
  virtual bool SysValueChanged();
  virtual void SysSetIsNull(bool Null);
  virtual void SysInitAttributes();
  virtual void Clear() { SetIsNull(true); }
  virtual void Assign(TObject* Source);
  virtual void AssignTo(TObject* Dest);
  virtual void SetAsBuffer(const void* Buffer, int32_t Length);
  virtual void LoadFromFile(const AnsiString& FileName);
  virtual void SaveToFile(const AnsiString& FileName);
  // An array column's descriptor; nullptr for other columns.
  virtual const ISC_ARRAY_DESC* GetArrayDesc() const { return nullptr; }
  // Whole-number access through text; subclasses of 64-bit storage read it directly.
  virtual int64_t GetAsInt64();
  virtual void SetAsInt64(int64_t Value);

  bool GetAsBoolean();
  void SetAsBoolean(bool Value);
  // The current null indicator and data as raw bytes (empty when null or the row empty).
  AnsiString GetColData() const;
  AnsiString GetOldColData() const;
  void SetColData(const AnsiString& Bytes);

  // The modification bracket every value change runs.
  void SysBeforeModify();
  void SysAfterModify();

  // --- Buffer pointers (in the row's buffers)
  char* NullIndPtr() const { return ind_; }
  char* DataPtr() const { return data_; }
  char* OldNullIndPtr() const { return old_ind_; }
  char* OldDataPtr() const { return old_data_; }
  void SetBufferPointers(char* Ind, char* Data, char* OldInd, char* OldData) {
    row_->buffer_order_kept_ = false;
    ind_ = Ind;
    data_ = Data;
    old_ind_ = OldInd;
    old_data_ = OldData;
  }

  // --- Fields used by the adapters and the subclasses
  uint8_t PadChar = 0;
  bool IsBoolean = false;
  bool IsText = false;
  bool IsNumeric = false;
  bool IsDateTime = false;
  bool IsBlob = false;
  bool IsArray = false;
  bool IsCurrency = false;
  bool UseBCD = false;
  bool BlankIsNull = false;
  bool Bound = false;
  uint8_t Alignment = 0;
  TIB_CharCase CharCase = ccNormal;
  TIB_ColumnTrimming Trimming = ctNone;
  bool Visible = true;
  AnsiString DisplayFormat;
  AnsiString EditMask;
  AnsiString DisplayLabel;
  AnsiString GridLabel;
  AnsiString GridTitleHint;
  int32_t DisplayWidth = -1;
  // FieldsReadOnly keywords of the statement.
  bool NoInsert = false;
  bool NoEdit = false;
  bool NoSearch = false;
  int32_t OrderingPos = -999;

  TIB_ColumnEvent OnValidate;
  TIB_ColumnEvent OnAfterModify;
  TIB_ColumnEvent OnChange;
  TIB_ColumnTextEvent OnGetText;
  TIB_ColumnTextEvent OnSetText;

 protected:
  // The handlers of a text write: the assign source's OnSetText, then the own one.
  void RunSetTextHandlers(AnsiString& Text);
  void RunGetTextHandler(AnsiString& Text);
  // Reads or writes a value of T at the data pointer (unaligned).
  template <class T>
  T ReadData() const {
    T v;
    std::memcpy(&v, data_, sizeof v);
    return v;
  }
  template <class T>
  void WriteData(T v) {
    std::memcpy(data_, &v, sizeof v);
  }
  int16_t IndValue() const;
  void SetIndValue(int16_t Value);
  // The row holds no data to read (state 0 and not managed).
  bool RowEmpty() const;
  // Raises the column error with this column's statement as sender.
  [[noreturn]] void RaiseUnsupportedType() const;
  bool IsDateTimeColumn() const;

  TIB_Row* row_;
  int16_t field_no_;
  XSQLVAR* var_;
  char* ind_ = nullptr;
  char* data_ = nullptr;
  char* old_ind_ = nullptr;
  char* old_data_ = nullptr;
  std::vector<char> before_copy_;
  std::vector<char> new_copy_;
  bool in_validation_ = false;
  AnsiString rel_alias_;
  // The stored identifiers of the descriptor's names, kept with the raw name and the
  // owner's IdentStamp they were made under (the field and relation names are asked for
  // many times for every row).
  struct StoredName {
    uint64_t Stamp = 0;
    AnsiString Raw;
    AnsiString Value;
  };
  mutable StoredName field_ident_, rel_ident_, alias_ident_;
  AnsiString StoredIdentOf(StoredName& Memo, std::string_view Raw) const;
  // The verdicts of the column rules, kept under the owner's GetColumnRuleStamp: computed
  // (-1 not known, else 0/1) and the statement's read-only rule (-1 not known, else one
  // of the RuleVerdict values).
  enum RuleVerdict : int8_t { rvUnknown = -1, rvLeave = 0, rvWritable = 1, rvReadOnly = 2 };
  struct RuleMemo {
    uint64_t Generation = 0;
    uint64_t Ident = 0;
    int8_t Computed = -1;
    RuleVerdict ReadOnly = rvUnknown;
  };
  mutable RuleMemo rule_memo_;
  // True when Stamp lets verdicts be kept; the memo then holds Stamp's verdicts only.
  bool RuleMemoFor(const TIB_RowOwner::ColumnRuleStamp& Stamp) const {
    if (Stamp.Generation == 0) return false;
    if (rule_memo_.Generation != Stamp.Generation || rule_memo_.Ident != Stamp.Ident)
      rule_memo_ = {Stamp.Generation, Stamp.Ident, -1, rvUnknown};
    return true;
  }
  // Whether the memo still stands under Stamp (a verdict worked out meanwhile under
  // another stamp is not kept).
  bool RuleMemoStill(const TIB_RowOwner::ColumnRuleStamp& Stamp) const {
    return rule_memo_.Generation == Stamp.Generation && rule_memo_.Ident == Stamp.Ident;
  }
  AnsiString domain_name_;
  AnsiString date_format_;
  AnsiString time_format_;
  AnsiString bool_true_;
  AnsiString bool_false_;
  AnsiString bde_field_name_;
  AnsiString bde_short_name_;
  bool read_only_list_ = false;
  bool read_only_dataset_ = false;
  bool required_ = false;
  // A procedure parameter's default clause, asked once.
  AnsiString param_default_;
  bool param_default_loaded_ = false;
  TIB_ColumnTextEvent assign_source_handler_;
  TIB_Column* assign_source_ = nullptr;

 private:
  friend class TIB_Row;
  // Keeps the verdicts of its read-only rule in rule_memo_.
  friend class TIB_Statement;
};

}  // namespace pelvar
