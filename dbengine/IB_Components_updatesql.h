// Generated and custom DML for one dataset: the UPDATE, INSERT, DELETE and row-lock
// statements that turn a posted change into SQL, prepared and kept for reuse or run once
// as an immediate statement with only the changed columns.
//
// The update SQL reaches the dataset it serves through TIB_UpdateSQLTarget: the statement
// whose field row, key row, key relation, connection and transaction it uses, plus the few
// editing facts (cached updates, cursor name, the DML-cache announcement) that the editing
// layer of the dataset provides.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dbengine/IB_Components_statement.h"

namespace pelvar {

// Kinds of change the update SQL announces (bits of the dataset's DMLCacheFlags).
enum TIB_UpdateKind : uint8_t { ukEdit = 1, ukInsert = 2, ukDelete = 4 };

// What the update SQL asks of the dataset it serves.
class TIB_UpdateSQLTarget {
 public:
  virtual ~TIB_UpdateSQLTarget() = default;
  // The dataset's statement: field row, key row, key relation, aliases, ParamChar,
  // connection and transaction.
  virtual TIB_Statement* UpdateStatement() = 0;
  // The row whose columns address a row by key; the statement's key row by default.
  virtual TIB_Row* UpdateKeyRow() { return UpdateStatement()->KeyFields(); }
  // A managed key row holds current key values; an unmanaged one keeps them as old values.
  virtual bool KeyRowManaged() const { return true; }
  virtual bool CachedUpdatesMode() const { return false; }
  // The name under which the dataset's cursor is declared (WHERE CURRENT OF).
  virtual AnsiString UpdateCursorName() { return AnsiString(); }
  virtual uint8_t DMLCacheFlags() const { return 0; }
  virtual void AnnounceDMLCacheItem(TIB_UpdateKind /*Kind*/) {}
  virtual void SetPostSucceeded() {}
  // The key row changed by returned values: copy it into the row buffer.
  virtual void SysUpdateBufferRow(bool /*Force*/) {}
};

class TIB_UpdateSQL : public TComponent {
 public:
  TIB_UpdateSQL(TComponent* Owner, TIB_UpdateSQLTarget* Dataset);
  ~TIB_UpdateSQL() override;

  TIB_UpdateSQLTarget* Dataset() const { return dataset_; }

  bool PreparedEdits() const { return prepared_edits_; }
  void SetPreparedEdits(bool Value) { prepared_edits_ = Value; }
  bool PreparedInserts() const { return prepared_inserts_; }
  void SetPreparedInserts(bool Value) { prepared_inserts_ = Value; }
  bool SearchedEdits() const { return searched_edits_; }
  void SetSearchedEdits(bool Value);
  bool SearchedDeletes() const { return searched_deletes_; }
  void SetSearchedDeletes(bool Value);
  TIB_StringList* EditSQL() const { return edit_sql_.get(); }
  TIB_StringList* InsertSQL() const { return insert_sql_.get(); }
  TIB_StringList* DeleteSQL() const { return delete_sql_.get(); }
  TIB_StringList* LockSQL() const { return lock_sql_.get(); }
  bool RefreshAfterInsert() const { return refresh_after_insert_; }

  void UnprepareStatements();
  void FreeStatementHandles();
  void SysUnprepareHandle();
  void SQLChanged(TObject* List);

  TIB_Statement* GetEditStatement();
  TIB_Statement* GetLockStatement();
  TIB_Statement* GetDeleteStatement();
  TIB_Statement* GetInsertStatement();

  // Whether the UPDATE (INSERT) statement has a parameter that takes Column's current
  // value; the statement is made ready first.
  bool EditWritesColumn(const TIB_Column* Column);
  bool InsertWritesColumn(const TIB_Column* Column);

  void ExecuteEdit();
  void ExecuteInsert();
  void ExecuteDelete();
  bool ExecuteLock();

  // The text of the last immediate statement (for diagnostics and tests).
  const AnsiString& LastImmediateSQL() const { return last_immediate_sql_; }

 private:
  // Where a kept statement's parameter takes its value from before each run.
  struct Binding {
    int32_t Param;
    TIB_Column* Source;
    bool Old;
  };
  struct Kept {
    TIB_Statement* Statement = nullptr;
    std::vector<Binding> Bindings;
  };
  // One entry of an immediate statement's input descriptor area.
  struct ImmediateVar {
    TIB_Column* Column;
    bool Old;
  };

  TIB_Statement* DS() const { return dataset_->UpdateStatement(); }
  bool EnsureStatement(Kept& K);
  void CheckKeyRelation();
  AnsiString KeyRelationK();
  AnsiString RelationR();
  AnsiString InsertTableName();
  bool OfKeyRelation(TIB_Column* Column, const AnsiString& K) const;
  void PrepareCustomDML(Kept& K, const AnsiString& Text);
  void PrepareGenerated(Kept& K, const AnsiString& Text);
  AnsiString KeyConditions(bool ForDelete, bool& Custom);
  void FinishKeyed(Kept& K, const AnsiString& Text, bool Custom);
  void BindKeyParams(Kept& K);
  void LoadParams(Kept& K);
  void RunKept(Kept& K, int32_t& RowsAffected, int32_t& StmtType);
  // Runs an immediate statement; the row counts the server reports for it. Keep: the
  // dataset keeps the text prepared for the next run and no counts are read.
  TIB_RowsAffected RunImmediate(const AnsiString& Text, const std::vector<ImmediateVar>& Vars,
                                bool Keep = false);
  void ChangeMade(TIB_UpdateKind Kind);
  void ReturnOutputValues(TIB_Statement* Statement);
  AnsiString ImmediateKeyConditions(std::vector<ImmediateVar>& Vars);
  // The INSERT naming the columns of Vars into the table of key relation Key, made once
  // per set of columns while the dataset stays prepared.
  const AnsiString& InsertText(const AnsiString& Key, const std::vector<ImmediateVar>& Vars);
  void Unprepare(Kept& K);
  static bool Writes(const Kept& K, const TIB_Column* Column);

  TIB_UpdateSQLTarget* dataset_;
  bool prepared_edits_ = false;
  bool prepared_inserts_ = true;
  bool searched_edits_ = false;
  bool searched_deletes_ = false;
  bool refresh_after_insert_ = false;
  std::unique_ptr<TIB_StringList> edit_sql_, insert_sql_, delete_sql_, lock_sql_;
  Kept edit_, lock_, insert_, delete_;
  AnsiString last_immediate_sql_;
  struct InsertTextEntry {
    AnsiString Key;
    bool Check;  // the reserved-word rule the names were made under
    std::vector<TIB_Column*> Columns;
    AnsiString Text;
  };
  static constexpr size_t kInsertTexts = 16;
  std::vector<InsertTextEntry> insert_texts_;  // the most recently used first
};

}  // namespace pelvar
