// The statement component: an SQL text bound to a connection and a transaction, prepared
// on the server into a statement handle from the connection's handle cache, and described
// into a parameter row and a field row. It tells its statement links and its own handlers
// what happens (the statement-link event codes below).
//
// TIB_DSQL is the statement as the application places it; TIB_StatementLink the base of
// everything that follows a statement's events.
//
// The implementation is split: IB_Components_statement.cpp (binding, prepare, rows,
// links), _statement_sql.cpp (SQL analysis and the SQL strings), _statement_exec.cpp
// (execution, statement type, row counts, execute immediate) and _statement_fields.cpp
// (the Fields lists and the column rules).
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

// The SQL clause numbers of GetSection.
enum : int32_t {
  ssSelect = 1, ssFrom = 2, ssWhere = 3, ssGroupBy = 4, ssHaving = 5, ssUnion = 6, ssPlan = 7,
  ssOrderBy = 8, ssForUpdate = 9,
};

// The list that holds a statement's SQL text. It caches where each clause starts and
// ends until the text changes; assigned from another statement's SQL it takes over that
// statement's whole definition.
class TIB_SQLStrings : public TIB_StringList {
 public:
  explicit TIB_SQLStrings(TIB_Statement* Statement) : statement_(Statement) {}
  TIB_Statement* Statement() const { return statement_; }
  // The trimmed text of clause Number (1 SELECT list .. 9 FOR UPDATE); empty when absent.
  void GetSection(int32_t Number, AnsiString& Text);
  AnsiString GetSection(int32_t Number) {
    AnsiString t;
    GetSection(Number, t);
    return t;
  }
  // Unprepares the own statement; from another statement's SQL it also copies the
  // parameter values, the field property lists and the handlers; nullptr clears.
  void Assign(TPersistent* Source) override;
  void AssignTo(TPersistent* Dest) override;
  // How many times the clauses were searched in the text (the cache's effect).
  int32_t SectionSearches() const { return section_searches_; }

 protected:
  void Changing() override;

 private:
  TIB_Statement* statement_;
  int32_t clause_start_[10] = {};
  int32_t clause_end_[10] = {};
  int32_t section_searches_ = 0;
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
  bool GetActive() const;
  virtual void SysLinkHook1() {}
  virtual void SysLinkHook2() {}

  TIB_StmtLinkEvent OnPrepareSQL;
  TIB_StmtLinkEvent OnPreparedChanged;

 private:
  TIB_Statement* statement_ = nullptr;
};

class TIB_Statement : public TIB_RowOwner, public IB_DeferredStatementWork {
 public:
  explicit TIB_Statement(TComponent* Owner);
  ~TIB_Statement() override;

  void SetIB_Session(TIB_Session* Value) override;
  void Loaded() override;
  // A prepare asked for while loading runs now (unless still loading); a failure is
  // swallowed and the request stays pending.
  void CheckPendingPrepare() override;
  bool PendingPrepare() const { return pending_prepare_; }
  void Notification(TComponent* AComponent, TOperation Operation) override;

  // --- SQL
  TIB_SQLStrings* SQL() const { return sql_.get(); }
  // Another statement's SQL copies that statement's definition (TIB_SQLStrings::Assign);
  // any other list gives its text; nullptr clears.
  void SetSQL(const TStrings* Value);
  // The text sent to the server by the last build.
  const AnsiString& ServerSQL() const { return server_sql_; }
  bool ServerSQLCurrent() const { return server_sql_current_; }
  bool GetUnpreparing() const { return unpreparing_; }
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
  int32_t SQLHistoryPos() const { return sql_history_pos_; }

  // --- SQL analysis
  // The SELECT items without their aliases, stars expanded where the table is known.
  TIB_StringList* GetSQLSelectItems();
  void ExpandSelectItems();
  // Whether the ordering brings its own PLAN, and the builders datasets override.
  virtual bool GetOrderingPlan() { return false; }
  virtual void SysApplyOrderingPlan() {}
  virtual void SysApplyForUpdate() {}
  virtual void SysBuildServerSQL() {}
  // Asked before a change of SQL, JoinLinks or CalculatedFields takes effect.
  virtual void SysStringsChanged(TObject* /*List*/, bool& /*Apply*/) {}
  bool BuildingPlanVariant() const { return building_plan_variant_; }
  const AnsiString& ServerSQLWithoutPlan() const { return server_sql_no_plan_; }
  int32_t ParserResult() const { return parser_result_; }
  const AnsiString& KeyRelation() const { return key_relation_; }
  void SetKeyRelation(const AnsiString& Value);
  virtual void GetEffectiveKeyRelation(AnsiString& Relation);
  AnsiString GetEffectiveKeyRelation() {
    AnsiString r;
    GetEffectiveKeyRelation(r);
    return r;
  }
  void GetRelationByAlias(const AnsiString& Alias, AnsiString& Relation) const;
  AnsiString GetRelationByAlias(const AnsiString& Alias) const {
    AnsiString r;
    GetRelationByAlias(Alias, r);
    return r;
  }
  virtual void SysParseRelationAliases();
  virtual void SysCompleteRelationAliases();
  bool IsAggregateSelect();
  bool IsSelectFromProcedure();
  bool IsExecuteBlock();
  bool IsOrderingPlanApplied() const { return server_sql_no_plan_ != server_sql_; }
  // The server's text with the parameter names put back (prepares first when prepared).
  void GetServerSQLText(AnsiString& Text);
  AnsiString GetServerSQLText() {
    AnsiString t;
    GetServerSQLText(t);
    return t;
  }
  // The domain of a relation's field; empty while the connection knows no schema facts.
  void GetFieldDomain(const AnsiString& Relation, const AnsiString& Field, AnsiString& Domain);
  // Schema facts of a field column from the connection's schema cache: computed (its
  // FIELD,RELATION in Computed) and with a server default (RELATION.FIELD in Defaults).
  // A statement without domain look-ups (a schema cursor) never asks.
  bool IsComputedField(const TIB_Column* Column) const override;
  bool HasServerDefault(const TIB_Column* Column) const override;
  // For EXECUTE PROCEDURE on a database of on-disk structure 10 or later: the schema
  // cache's default source of the parameter (procedure = relation, parameter = alias).
  AnsiString ProcParamDefault(const TIB_Column* Column) override;
  bool AllowDomainLookups() const { return allow_domain_lookups_; }
  void SetAllowDomainLookups(bool Value) {
    if (Value != allow_domain_lookups_) ColumnRulesChanged();
    allow_domain_lookups_ = Value;
  }
  void SetIgnoreSQLChanges(bool Value) { ignore_sql_changes_ = Value; }
  // The part of TIB_SQLStrings::Assign that datasets add (their links, criteria and DML
  // texts): Source is the source statement, or nullptr when the SQL was assigned nil.
  // Called after the lines and the field property lists; nothing here.
  virtual void AssignDatasetDefinition(TIB_Statement* /*Source*/) {}
  bool IgnoreSQLChanges() const { return ignore_sql_changes_; }

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
  // Closes an active result: the flag and the active-change events.
  virtual void SysClose();
  bool Active() const { return active_; }
  bool GetActive() const { return active_; }
  virtual void SetActive(bool Value);

  // --- Execution
  void Execute() { ExecSQL(); }
  virtual void ExecSQL();
  virtual void SysExecute();
  virtual void SysExecStatement();
  virtual void SysExecSelect();
  virtual void SysActivate();
  virtual void SysDeactivate();
  virtual void SysInitFieldBuffers();
  virtual void DoBeforeExecute();
  virtual void DoAfterExecute();
  ISC_STATUS API_Execute();
  ISC_STATUS API_Execute2();
  ISC_STATUS API_QuickFetch(bool WithOutput);
  // True when the field row holds the values of the last singleton execute.
  bool OutputRowPresent() const { return output_row_present_; }
  // Runs SQL on a second handle of the connection, in the statement's transaction; the
  // statement's own handle and rows stay untouched. A CONNECT, DISCONNECT or DROP
  // DATABASE script text the server refuses is carried out on the connection.
  void ExecuteImmediate(const AnsiString& SQL, XSQLDA* InDA = nullptr, XSQLDA* OutDA = nullptr);
  // The same, giving the row counts the server reports for the statement (all -1 when
  // it reports none), so that a change that matched no row can be told apart.
  void ExecuteImmediate(const AnsiString& SQL, XSQLDA* InDA, XSQLDA* OutDA,
                        TIB_RowsAffected& Counts);
  // Runs SQL as ExecuteImmediate does (same checks, busy bracket and errors), but keeps
  // it prepared on a handle of its own while this statement stays prepared, so that
  // the next run of the same text only executes. A statement keeps a few such texts,
  // the least recently run going first; unprepared, it runs SQL as ExecuteImmediate.
  void ExecuteKeptImmediate(const AnsiString& SQL, XSQLDA* InDA);
  // Gives the handles of the kept texts back to the connection.
  void ReleaseKeptImmediates();
  int32_t KeptImmediateCount() const { return static_cast<int32_t>(kept_immediates_.size()); }
  virtual void SysExecuteImmediate(const AnsiString& SQL, XSQLDA* InDA, XSQLDA* OutDA);
  void SysExecImmediate(const AnsiString& SQL, XSQLDA* InDA, XSQLDA* OutDA);
  ISC_STATUS ISC_ExecImmed2(const AnsiString& SQL, XSQLDA* InDA, XSQLDA* OutDA);
  void SysHandleScriptStatement(const AnsiString& SQL, ISC_STATUS& Status);
  void API_SQLInfo(const char* Items, int16_t ItemsLength, char* Buffer, int16_t BufferLength);
  // The row count of the last execution for the statement's type; -1 when none.
  int32_t GetRowsAffected();
  bool Preparing() const { return preparing_; }
  bool Repreparing() const { return repreparing_; }

  // --- Statement type
  // The isc_info_sql_stmt_* type: from the text for a SELECT, else from the server once
  // prepared (0 while unknown).
  int32_t GetStatementType();
  virtual void SysGetStatementType();
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

  // --- Field property lists
  // Indexes of the twelve Fields lists.
  enum FieldsListIndex : int32_t {
    flAlignment, flCharCase, flDisplayFormat, flDisplayLabel, flGridLabel, flGridTitleHint,
    flDisplayWidth, flEditMask, flIndex, flReadOnly, flTrimming, flVisible, flCount
  };
  TIB_StringProperty* FieldsAlignment() const { return fields_lists_[flAlignment].get(); }
  TIB_StringProperty* FieldsCharCase() const { return fields_lists_[flCharCase].get(); }
  TIB_StringProperty* FieldsDisplayFormat() const { return fields_lists_[flDisplayFormat].get(); }
  TIB_StringProperty* FieldsDisplayLabel() const { return fields_lists_[flDisplayLabel].get(); }
  TIB_StringProperty* FieldsGridLabel() const { return fields_lists_[flGridLabel].get(); }
  TIB_StringProperty* FieldsGridTitleHint() const { return fields_lists_[flGridTitleHint].get(); }
  TIB_StringProperty* FieldsDisplayWidth() const { return fields_lists_[flDisplayWidth].get(); }
  TIB_StringProperty* FieldsEditMask() const { return fields_lists_[flEditMask].get(); }
  TIB_StringProperty* FieldsIndex() const { return fields_lists_[flIndex].get(); }
  TIB_StringProperty* FieldsReadOnly() const { return fields_lists_[flReadOnly].get(); }
  TIB_StringProperty* FieldsTrimming() const { return fields_lists_[flTrimming].get(); }
  TIB_StringProperty* FieldsVisible() const { return fields_lists_[flVisible].get(); }
  void SetFieldsAlignment(const TStrings* V) { AssignList(flAlignment, V); }
  void SetFieldsCharCase(const TStrings* V) { AssignList(flCharCase, V); }
  void SetFieldsDisplayFormat(const TStrings* V) { AssignList(flDisplayFormat, V); }
  void SetFieldsDisplayLabel(const TStrings* V) { AssignList(flDisplayLabel, V); }
  void SetFieldsGridLabel(const TStrings* V) { AssignList(flGridLabel, V); }
  void SetFieldsGridTitleHint(const TStrings* V) { AssignList(flGridTitleHint, V); }
  void SetFieldsDisplayWidth(const TStrings* V) { AssignList(flDisplayWidth, V); }
  void SetFieldsEditMask(const TStrings* V) { AssignList(flEditMask, V); }
  void SetFieldsIndex(const TStrings* V) { AssignList(flIndex, V); }
  void SetFieldsReadOnly(const TStrings* V) { AssignList(flReadOnly, V); }
  void SetFieldsTrimming(const TStrings* V) { AssignList(flTrimming, V); }
  void SetFieldsVisible(const TStrings* V) { AssignList(flVisible, V); }
  // The entry for Column: the statement list by qualified alias name, then by qualified
  // field name; then the connection list the same way and, as its FieldEntryTypes
  // allow, by domain name and by SQL type.
  void GetColumnPropertyText(const TIB_Column* Column, const TIB_StringList* StatementList,
                             const TIB_StringList* ConnectionList, AnsiString& Value) const;
  char GetColumnPropertyChar(const TIB_Column* Column, const TIB_StringList* StatementList,
                             const TIB_StringList* ConnectionList) const;
  void LookupColumnAttribute(const TIB_Column* Column, const AnsiString& Keyword, bool& Present,
                             const TIB_StringList* StatementList,
                             const TIB_StringList* ConnectionList, AnsiString& Value) const;
  void GetColumnAttributeValue(const AnsiString& Name, const AnsiString& Attribute,
                               AnsiString& Value) const;
  bool HasColumnAttribute(const AnsiString& Name, const AnsiString& Attribute) const;
  void ApplyColumnAlignment(TIB_Column* Column);
  void ApplyColumnCharCase(TIB_Column* Column);
  void ApplyColumnDisplayFormat(TIB_Column* Column);
  void ApplyColumnDisplayLabel(TIB_Column* Column);
  void ApplyColumnGridLabel(TIB_Column* Column);
  void ApplyColumnGridTitleHint(TIB_Column* Column);
  void ApplyColumnDisplayWidth(TIB_Column* Column);
  void ApplyColumnEditMask(TIB_Column* Column);
  void ApplyColumnReadOnly(TIB_Column* Column);
  void ApplyColumnTrimming(TIB_Column* Column);
  void ApplyColumnVisible(TIB_Column* Column);
  void ApplyFieldsIndex();
  void ApplyAllFieldsProperties() { ApplyFieldsProperties(false); }
  virtual void BeginLayout();
  virtual void EndLayout();
  int32_t LayoutLevel() const { return layout_level_; }
  void FieldsPropertyChanged(TObject* List);
  void ApplyFieldsProperty(TObject* List);
  bool SetParamAttribs() const { return set_param_attribs_; }
  void SetSetParamAttribs(bool Value) { set_param_attribs_ = Value; }
  // The statement that owns this one (a dataset owning its internal cursor); none here.
  virtual TIB_Statement* OwningStatement() const { return nullptr; }
  // Whether the statement is a cursor that refuses edits without a key relation.
  virtual bool IsCursorWithoutRequestLive() const { return false; }
  bool GetColumnReadOnly(const TIB_Column* Column) const override;
  virtual void GetColumnReadOnly(const TIB_Column* Column, bool& ReadOnly);
  // The field columns keep the verdicts of the column rules (computed, and the rule
  // above) while the statement's describe, SQL, key relation, relation aliases, domain
  // look-ups and connection stay as they were, the connection's identifiers follow the
  // same rule, no column attribute list has entries and no macro handler is set. An
  // override whose answer to GetEffectiveKeyRelation or IsCursorWithoutRequestLive
  // changes otherwise calls ColumnRulesChanged.
  ColumnRuleStamp GetColumnRuleStamp() const override;
  void ColumnRulesChanged() { ++column_rule_generation_; }
  // The statement's column flags from FieldsReadOnly.
  bool ColumnNoInsert(const TIB_Column* Column) const;
  bool ColumnNoEdit(const TIB_Column* Column) const;
  bool ColumnNoSearch(const TIB_Column* Column) const;
  // Writes Value as Column's entry of the list (empty removes it) for the column setters.
  void SetColumnListValue(const TIB_Column* Column, TIB_StringList* List,
                          const AnsiString& Value) override;
  TIB_StringList* ColumnPropertyList(int32_t Which) override;
  int32_t GetLayoutLevel() const override { return layout_level_; }
  void ColumnIndexChanged() override;
  bool ColumnDefaultNoCase() const;
  bool ColumnDefaultNoTrailing() const;
  bool ColumnIsAttributeSet(const TIB_Column* Column, const AnsiString& Keyword) const override;

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
  // The connection's stamp while connected (its identifiers follow its dialect).
  uint64_t IdentStamp() const override;
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
      OnPreparedChanged, OnActiveChange, OnLayoutChanged, OnPrepareSQL, OnInvalidateSQL,
      BeforeExecute, AfterExecute, BeforeExecDML, AfterExecDML, BeforeExecDDL, AfterExecDDL;
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
  // Copies the connection's and the statement's field property lists into the columns.
  virtual void ApplyFieldsProperties(bool Initial);
  virtual void SysExecuteFailed();
  void SysBeforeExecuteParams();
  void SysAfterExecuteParams();
  void AssignList(int32_t Index, const TStrings* Value) {
    fields_lists_[Index]->Assign(const_cast<TStrings*>(Value));
  }
  // The connection's list of the same kind; nullptr without a connection or for FieldsIndex.
  TIB_StringList* ConnectionFieldsList(int32_t Index) const;
  void ApplyListToColumn(int32_t Index, TIB_Column* Column);
  bool AllFieldsListsEmpty() const;
  void ParamsStateChanged(TIB_Row* Row);
  void FieldsStateChanged(TIB_Row* Row);
  void HintsChanged(TObject* List);

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
  std::unique_ptr<TIB_StringProperty> fields_lists_[flCount];
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
  bool building_plan_variant_ = false;
  bool allow_domain_lookups_ = true;
  AnsiString key_relation_;
  bool output_row_present_ = false;
  bool rows_affected_stale_ = true;
  TIB_RowsAffected rows_affected_;
  // Where ISC_ExecImmed2 reports the counts of the immediate statement it runs; none here.
  TIB_RowsAffected* immediate_counts_ = nullptr;
  // Texts run through ExecuteKeptImmediate with their prepared handles, the most
  // recently run first.
  struct KeptImmediate {
    AnsiString SQL;
    isc_stmt_handle Handle = 0;
  };
  std::vector<KeptImmediate> kept_immediates_;
  int32_t layout_level_ = 0;
  bool set_param_attribs_ = false;
  // See GetColumnRuleStamp; never 0.
  uint64_t column_rule_generation_ = 1;
};

// The statement as the application places it.
class TIB_DSQL : public TIB_Statement {
 public:
  explicit TIB_DSQL(TComponent* Owner) : TIB_Statement(Owner) {}
};

}  // namespace pelvar
