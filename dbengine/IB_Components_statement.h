// The statement component: an SQL text bound to a connection and a transaction, prepared
// on the server into a statement handle from the connection's handle cache, and described
// into a parameter row and a field row. It tells its statement links and its own handlers
// what happens (the statement-link event codes below).
//
// TIB_DSQL is the statement as the application places it; TIB_StatementLink the base of
// everything that follows a statement's events.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "dbclient/IB_Components.h"
#include "dbengine/IB_Components_rows.h"

namespace pelvar {

class TIB_Statement;
class TIB_StatementLink;

using TIB_StatementEvent = std::function<void(TIB_Statement* Sender)>;
using TIB_RowFieldEvent =
    std::function<void(TIB_Statement* Sender, TIB_Row* ARow, TIB_Column* AField)>;
using TIB_MacroSubstituteEvent =
    std::function<void(TComponent* Sender, const AnsiString& ATextBlock, AnsiString& ATextResult)>;
using TIB_StmtLinkEvent = std::function<void(TIB_StatementLink* Sender, TIB_Statement* Statement)>;

// The statement-link event codes the statement sends (the argument in brackets).
enum : uint8_t {
  setBeforeAssignment = 0,   // the statement about to be attached (nullptr: detaching)
  setAfterAssignment = 1,    // the statement attached before
  setBeforePrepare = 2,
  setAfterPrepare = 3,
  setBeforeUnprepare = 4,
  setAfterUnprepare = 5,
  setBeforeExecute = 6,
  setAfterExecute = 7,
  setBeforeExecDML = 8,
  setAfterExecDML = 9,
  setBeforeExecDDL = 10,
  setAfterExecDDL = 11,
  setPreparedChanged = 12,
  setActiveChange = 13,
  setLayoutChanged = 15,
  setParamsStateChanged = 17,
  setParamChanged = 18,      // the parameter column
  setBeforeParamsExecute = 19,
  setParamsRefsChanged = 20,
  setFieldsStateChanged = 21,
  setFieldsDataChange = 22,  // the field column, or nullptr for the whole row
  setFieldsRefsChanged = 24,
  setHintsChanged = 32,
};

// The list that holds a statement's SQL text.
class TIB_SQLStrings : public TIB_StringList {
 public:
  explicit TIB_SQLStrings(TIB_Statement* Statement) : statement_(Statement) {}
  TIB_Statement* Statement() const { return statement_; }

 private:
  TIB_Statement* statement_;
};

// Follows one statement: hears its link events and may add to its SQL before a prepare.
class TIB_StatementLink : public TIB_Component {
 public:
  explicit TIB_StatementLink(TComponent* Owner);
  ~TIB_StatementLink() override;

  TIB_Statement* Statement() const { return statement_; }
  // Event 0 with Value while still on the old statement, then event 1 with the old one.
  virtual void SetStatement(TIB_Statement* Value);
  // OnPrepareSQL; the statement calls it during every SQL build.
  virtual void DoPrepareSQL();
  // Code 12 fires OnPreparedChanged; everything else is ignored here.
  virtual void ProcessEvent(uint8_t Code, intptr_t Argument);
  bool GetPrepared() const;

  TIB_StmtLinkEvent OnPrepareSQL;
  TIB_StmtLinkEvent OnPreparedChanged;

 private:
  TIB_Statement* statement_ = nullptr;
};

class TIB_Statement : public TIB_RowOwner {
 public:
  explicit TIB_Statement(TComponent* Owner);
  ~TIB_Statement() override;

  void SetIB_Session(TIB_Session* Value) override;
  void Loaded() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

  // --- SQL
  TIB_SQLStrings* SQL() const { return sql_.get(); }
  // The text of any list; nullptr clears.
  void SetSQL(const TStrings* Value);
  // The text sent to the server by the last build.
  const AnsiString& ServerSQL() const { return server_sql_; }
  bool ServerSQLCurrent() const { return server_sql_current_; }
  // One name per "?" marker of the server SQL.
  TIB_StringList* ParamNames() const { return param_names_.get(); }
  bool ParamCheck() const { return param_check_; }
  void SetParamCheck(bool Value) { param_check_ = Value; }
  char ParamChar() const { return param_char_; }
  void SetParamChar(char Value) { param_char_ = Value; }
  // Marks the server SQL stale (OnInvalidateSQL first): the next Prepare re-prepares.
  virtual void InvalidateSQL();
  // Builds the server SQL from the SQL text: macros, the links' contributions, named
  // parameters to markers.
  virtual void SysPrepareServerSQL();
  void SubstituteMacros(const AnsiString& Text, AnsiString& Result);
  virtual void DoMacroSubstitute(const AnsiString& ATextBlock, AnsiString& ATextResult);
  virtual void DoPrepareSQL();
  AnsiString GetMacroBegin();
  AnsiString GetMacroEnd();
  // A change of SQL, JoinLinks or CalculatedFields outside a prepare unprepares.
  void SQLChanged(TObject* List);
  bool KeepSQLHistory() const { return keep_sql_history_; }
  void SetKeepSQLHistory(bool Value) { keep_sql_history_ = Value; }
  TIB_StringList* SQLHistory() const { return sql_history_.get(); }
  void AddSQLHistory();

  // --- Prepare and unprepare
  void Prepare();
  void Unprepare();
  bool Prepared() const { return prepared_; }
  void SetPrepared(bool Value);
  virtual bool SysPrepare();
  virtual void SysPrepareSQL();
  virtual void SysPrepareFailed();
  virtual void SysUnprepare();
  // Unprepares and gives the handle back: to the connection's cache with ToCache,
  // otherwise dropped on the server; then ends a started internal transaction.
  void SysFreeHandle(bool ToCache);
  // Gives the handle back and marks it freed (-1).
  virtual void SysDeallocate();
  // Releases the server's compiled statement while keeping the handle.
  virtual void SysUnprepareHandle();
  // isc_dsql_prepare of Text and the describe calls; returns the library's status.
  ISC_STATUS API_Prepare(const AnsiString& Text, int32_t& ParamCount, int32_t& FieldCount);
  // Closes an active result.
  virtual void SysClose();
  bool Active() const { return active_; }
  bool Preparing() const { return preparing_; }
  bool Repreparing() const { return repreparing_; }

  // --- Statement type
  // The statement type the server reports for the prepared statement (0 unknown).
  int32_t GetStatementType();
  int32_t StatementType() const override;
  bool IsSelectStatement();

  // --- Connection and transaction
  bool CheckConnection(bool Connect);
  virtual bool CheckTransaction(bool Start);
  virtual bool SysAllocate();
  int32_t GetSQLDialect();
  AnsiString GetDatabaseName();
  virtual void SetDatabaseName(const AnsiString& Value);
  virtual TIB_Connection* GetIB_Connection() const;
  virtual void SetIB_Connection(TIB_Connection* Value);
  virtual TIB_Transaction* GetIB_Transaction() const;
  virtual void SetIB_Transaction(TIB_Transaction* Value);
  TIB_Connection* IB_Connection() const { return GetIB_Connection(); }
  TIB_Transaction* IB_Transaction() const { return GetIB_Transaction(); }
  virtual TIB_Connection* GetDefaultConnection();
  virtual TIB_Transaction* GetDefaultTransaction();
  bool IsIB_ConnectionStored() const { return GetIB_Connection() != nullptr; }
  bool IsIB_TransactionStored() const;
  // The transaction made by CheckTransaction when nothing else was at hand.
  TIB_Transaction* InternalTransaction() const { return internal_transaction_; }
  isc_stmt_handle* GetStmtHandlePtr() { return &stmt_handle_; }
  isc_stmt_handle StmtHandle() const { return stmt_handle_; }
  isc_db_handle* GetDbHandlePtr();
  isc_tr_handle* GetTrHandlePtr();
  virtual void ProcessConnectionEvent(TIB_ConnectionLink* Sender, TIB_ConnectionEventType Event);
  virtual void ProcessTransactionEvent(TIB_TransactionLink* Sender, uint8_t Event);
  // Adds the "STATEMENT:" block (and, while preparing, the server SQL) and passes the
  // error on to the statement's transaction and connection.
  void HandleError(TComponent* Sender, int32_t ERRCODE, TStringList* ErrorMessage,
                   TStringList* ErrorCodes, int32_t SQLCODE, TStringList* SQLMessage,
                   TStringList* SQL, bool& RaiseException) override;
  // "Owner.Name." up the ownership chain; unnamed components as "<Class>.".
  AnsiString GetComponentPath() const;

  // --- Parameters and fields
  TIB_Row* Params() const { return params_.get(); }
  TIB_Row* Fields() const { return fields_.get(); }
  TIB_Row* KeyFields() const { return key_fields_.get(); }
  int32_t ParamCount() const { return params_->ColumnCount(); }
  int32_t FieldCount() const { return fields_->ColumnCount(); }
  // Prepare first; raise for an unknown name.
  TIB_Column* ParamByName(const AnsiString& Name);
  TIB_Column* FieldByName(const AnsiString& Name);
  // nullptr for an unknown name; no prepare.
  TIB_Column* FindParam(const AnsiString& Name);
  TIB_Column* FindField(const AnsiString& Name);
  TIB_Column* FindKeyField(const AnsiString& Name);
  virtual void SysLayoutRows();
  virtual void SaveParamValues();
  virtual void RestoreParamValues();
  // NAME=hex lines kept over an unprepare; NAME=text lines added by SQL builders.
  TIB_StringProperty* SavedParamValues() const { return saved_param_values_.get(); }
  TIB_StringProperty* PendingParamValues() const { return pending_param_values_.get(); }
  // The streamed "ParamValues": written from the parameters (or the saved lines), read
  // into the saved lines.
  void WriteParamValues(TStrings* List);
  void ReadParamValues(const TStrings* List);
  bool ParamValuesStored() const;
  void RecalculateFields();
  TIB_StringProperty* CalculatedFields() const { return calculated_fields_.get(); }
  void SetCalculatedFields(const TStrings* Value);
  void SetCalculateAllFields(bool Value) { calculate_all_fields_ = Value; }
  TIB_StringProperty* ColumnAttributes() const { return column_attributes_.get(); }
  void SetColumnAttributes(const TStrings* Value);
  TIB_StringProperty* Hints() const { return hints_.get(); }
  TIB_StringProperty* JoinLinks() const { return join_links_.get(); }
  TIB_StringProperty* RelationAliases() const { return relation_aliases_.get(); }
  void SetBindSameNamedParams(bool Value) { bind_same_named_params_ = Value; }
  int32_t ExtraParamCountValue() const { return extra_param_count_; }

  // --- Statement links
  void AddStatementLink(TIB_StatementLink* Link);
  void RemoveStatementLink(TIB_StatementLink* Link);
  int32_t StatementLinkCount() const { return static_cast<int32_t>(links_.size()); }
  virtual void ProcessLinkEvent(uint8_t Code, intptr_t Argument);

  // --- Event senders
  virtual void DoBeforePrepare();
  virtual void DoAfterPrepare();
  virtual void DoBeforeUnprepare();
  virtual void DoAfterUnprepare();
  virtual void DoPreparedChanged();
  virtual void DoActiveChange();
  void DoLayoutChanged();
  virtual void SysBeforeParamChange(TIB_Row* Row, TIB_Column* Column);
  virtual void SysAfterParamChange(TIB_Row* Row, TIB_Column* Column);
  virtual void SysBeforeFieldChange(TIB_Row* Row, TIB_Column* Column);
  virtual void DoLinkQuery(TIB_Row* Row, TIB_Column* Column);

  // --- What the rows ask (TIB_RowOwner)
  void SysDescribeRow(TIB_Row* Row) override;
  const TStrings* ParamNameList() const override { return param_names_.get(); }
  int32_t ExtraParamCount() const override { return extra_param_count_; }
  bool BindSameNamedParams() const override { return bind_same_named_params_; }
  const TStrings* CalculatedFieldList() const override { return calculated_fields_.get(); }
  bool CalculateAllFields() const override { return calculate_all_fields_; }
  void DoCalculateFields(TIB_Row* Row, TIB_Column* Column) override;
  bool GetCalculatingFields() const override { return fields_->Calculating(); }
  AnsiString GetAliasOfRelation(const AnsiString& Relation) const override;
  uint16_t SQLDialect() const override;
  AnsiString MakeStoredIdent(const AnsiString& Name) const override;
  int32_t ServerMajorVersion() const override;
  isc_stmt_handle* StatementHandlePtr() override;
  void LoadBlobNode(XSQLVAR* PVAR, const ISC_ARRAY_DESC* ArrayDesc,
                    TIB_BlobCacheNode* Node) override;
  void StoreBlobNode(XSQLVAR* PVAR, const ISC_ARRAY_DESC* ArrayDesc,
                     TIB_BlobCacheNode* Node) override;
  bool LookupArrayBounds(const XSQLVAR* PVAR, ISC_ARRAY_DESC& Desc) override;
  bool GetColumnAttribute(const TIB_Column* Column, const AnsiString& Keyword,
                          AnsiString& Value) const override;
  AnsiString ConnectionCharSet() const override;
  bool DefaultNoTrimming() const override;
  // The length check stays on whatever the connection's DefaultNoLengthCheck says: a
  // text longer than its column is refused, never cut (see the .cpp).
  bool DefaultNoLengthCheck() const override { return false; }
  bool ServerBlobSize(XSQLVAR* PVAR, int32_t& Size) override;
  void EnsurePrepared() override { SetPrepared(true); }

  // --- Events
  TIB_StatementEvent BeforePrepare, AfterPrepare, BeforeUnprepare, AfterUnprepare,
      OnPreparedChanged, OnActiveChange, OnLayoutChanged, OnPrepareSQL, OnInvalidateSQL;
  TIB_RowFieldEvent OnCalculateField;
  TIB_MacroSubstituteEvent OnMacroSubstitute;
  TIB_BlobCallbackEvent OnBlobCallback;

 protected:
  // Calls Handler with the statement unless it is loading, being read or destroyed.
  void DoStatementEvent(const TIB_StatementEvent& Handler);
  bool IsDestroying() const { return ComponentState().Contains(csDestroying); }
  bool IsLoading() const {
    return ComponentState().Contains(csLoading) || ComponentState().Contains(csReading);
  }
  // The field properties of the connection's and the statement's lists (hook).
  virtual void ApplyFieldsProperties(bool /*Initial*/) {}
  void ParamsStateChanged(TIB_Row* Row);
  void FieldsStateChanged(TIB_Row* Row);
  void HintsChanged(TObject* List);
  void CheckPendingPrepare();

  isc_stmt_handle stmt_handle_ = 0;
  bool prepared_ = false;
  bool active_ = false;

 private:
  std::vector<TIB_StatementLink*> links_;
  std::unique_ptr<TIB_SQLStrings> sql_;
  std::unique_ptr<TIB_StringProperty> join_links_;
  std::unique_ptr<TIB_StringProperty> relation_aliases_;
  std::unique_ptr<TIB_StringProperty> pending_param_values_;
  std::unique_ptr<TIB_StringList> param_names_;
  std::unique_ptr<TIB_StringList> select_items_;
  std::unique_ptr<TIB_StringList> third_list_;
  std::unique_ptr<TIB_StringProperty> saved_param_values_;
  std::unique_ptr<TIB_StringList> sql_history_;
  std::unique_ptr<TIB_Row> params_;
  std::unique_ptr<TIB_Row> fields_;
  std::unique_ptr<TIB_Row> key_fields_;
  std::unique_ptr<TIB_StringProperty> hints_;
  std::unique_ptr<TIB_StringProperty> column_attributes_;
  std::unique_ptr<TIB_StringProperty> calculated_fields_;
  TIB_ConnectionLink* connection_link_ = nullptr;
  TIB_TransactionLink* transaction_link_ = nullptr;
  TIB_Transaction* internal_transaction_ = nullptr;

  // The server's describe of the parameters before the row named them: array look-ups
  // need the relation and field names the naming clears.
  std::vector<XSQLVAR> param_describe_;

  AnsiString server_sql_;
  AnsiString server_sql_no_plan_;
  AnsiString database_name_;
  // The kept values as typed values, by the names of the kept lines: a value whose
  // buffer no longer matches its parameter's size (the SQL changed its type) is put back
  // from these, never from its hexadecimal text read as a value.
  struct KeptParamValue {
    AnsiString Hex;
    AnsiString Text;
    bool IsDateTime = false;
    TDateTime DateTime = 0;
  };
  std::vector<std::pair<AnsiString, KeptParamValue>> kept_values_;
  const KeptParamValue* FindKeptValue(const AnsiString& Name, const AnsiString& Hex) const;
  // Parameters whose kept values did not fit at the last restore (reported by the prepare).
  AnsiString restore_failures_;
  int32_t parser_result_ = 0;
  bool select_items_stale_ = true;
  bool param_check_ = true;
  char param_char_ = ':';
  bool keep_sql_history_ = false;
  int32_t sql_history_pos_ = -1;
  int32_t statement_type_ = 0;
  bool statement_type_stale_ = true;
  bool server_sql_current_ = false;
  int32_t param_count_ = 0;
  int32_t field_count_ = 0;
  int32_t extra_param_count_ = 0;
  // The last describe gave fewer parameters than the parser named.
  bool param_shortfall_ = false;
  bool preparing_ = false;
  bool repreparing_ = false;
  bool unpreparing_ = false;
  bool ignore_sql_changes_ = false;
  int32_t sql_dialect_ = 3;
  bool bind_same_named_params_ = true;
  bool relation_aliases_stale_ = true;
  bool pending_prepare_ = false;
  bool calculate_all_fields_ = false;
};

// The statement as the application places it.
class TIB_DSQL : public TIB_Statement {
 public:
  explicit TIB_DSQL(TComponent* Owner) : TIB_Statement(Owner) {}
};

}  // namespace pelvar
