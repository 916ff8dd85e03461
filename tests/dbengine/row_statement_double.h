// A stand-in for the statement component in the row and column tests: it prepares SQL
// with the client library directly, describes it into its parameter and field rows,
// executes, fetches and reads and writes blobs and arrays for the rows.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../dbclient/transfer_calls.h"
#include "dbengine/IB_Components_columns.h"
#include "dbengine/IB_Parse.h"

namespace pelvar::test {

class RowStatement : public TIB_RowOwner {
 public:
  RowStatement(TIB_Session* session, isc_db_handle& db, isc_tr_handle& tr)
      : TIB_RowOwner(session), session_(session), db_(db), tr_(tr), params_(this, rtParams),
        fields_(this, rtFields), in_(1), out_(1) {}
  ~RowStatement() override {
    params_.ClearColumns();
    fields_.ClearColumns();
    Free();
  }

  TIB_Row& Params() { return params_; }
  TIB_Row& Fields() { return fields_; }

  // Parses the parameter names out of sql, prepares it and lays out both rows.
  void Prepare(const std::string& sql) {
    Free();
    names_.Clear();
    AnsiString server_sql;
    int32_t comment_chars = 0;
    ParseSQLParams(sql, &names_, nullptr, nullptr, server_sql, ':', true, comment_chars, false);
    session_->API_Call(session_, ClientCallTable.isc_dsql_allocate_statement, &db_, &stmt_);
    out_ = TestDA(1);
    session_->API_Call(session_, ClientCallTable.isc_dsql_prepare, &tr_, &stmt_,
                       static_cast<unsigned short>(0), server_sql.c_str(),
                       static_cast<unsigned short>(SQL_DIALECT_V6), out_.da());
    if (out_.da()->sqld > out_.da()->sqln) {
      out_ = TestDA(out_.da()->sqld);
      session_->API_Call(session_, ClientCallTable.isc_dsql_describe, &stmt_,
                         static_cast<unsigned short>(SQL_DIALECT_V6), out_.da());
    }
    in_ = TestDA(1);
    session_->API_Call(session_, ClientCallTable.isc_dsql_describe_bind, &stmt_,
                       static_cast<unsigned short>(SQL_DIALECT_V6), in_.da());
    if (in_.da()->sqld > in_.da()->sqln) {
      in_ = TestDA(in_.da()->sqld);
      session_->API_Call(session_, ClientCallTable.isc_dsql_describe_bind, &stmt_,
                         static_cast<unsigned short>(SQL_DIALECT_V6), in_.da());
    }
    params_.SetColumnCount(in_.da()->sqld);
    fields_.SetColumnCount(out_.da()->sqld);
    fields_.LoadRelationAliases();
  }

  void Execute() {
    params_.PostBlobs();
    session_->API_Call(session_, ClientCallTable.isc_dsql_execute, &tr_, &stmt_,
                       static_cast<unsigned short>(SQL_DIALECT_V6),
                       params_.ColumnCount() ? params_.PSQLDA() : nullptr);
    params_.AfterPostBlobs(true);
  }

  // True when a row came; the field row is then loaded.
  bool Fetch() {
    const ISC_STATUS r = CallClient(ClientCallTable.isc_dsql_fetch, session_->StatusVector(), &stmt_,
                                    static_cast<unsigned short>(SQL_DIALECT_V6), fields_.PSQLDA());
    EXPECT_TRUE(r == 0 || r == 100) << r;
    if (r != 0) return false;
    fields_.SetRowLoaded(true, true, false);
    return true;
  }

  void Close() {
    CallClient(ClientCallTable.isc_dsql_free_statement, session_->StatusVector(), &stmt_,
               static_cast<unsigned short>(DSQL_close));
  }

  int blob_loads = 0;
  int blob_stores = 0;
  std::map<std::string, std::string> attributes;  // "COLUMN/KEYWORD" -> value

  // --- TIB_RowOwner
  void SysDescribeRow(TIB_Row* row) override {
    TestDA& src = row == &params_ ? in_ : out_;
    for (int i = 0; i < row->PSQLDA()->sqld; ++i) *row->Var(i) = src.var(i);
    if (row == &params_) row->NameParams();
  }
  const TStrings* ParamNameList() const override { return &names_; }
  int32_t ServerMajorVersion() const override { return 3; }
  isc_stmt_handle* StatementHandlePtr() override { return &stmt_; }
  TIB_SessionBase* CallSession() override { return session_; }
  void LoadBlobNode(XSQLVAR* PVAR, const ISC_ARRAY_DESC* desc, TIB_BlobCacheNode* node) override {
    ++blob_loads;
    const ISC_STATUS r = session_->ReadBlobOrArray(&db_, &tr_, PVAR, desc, node, {});
    session_->SetLastResult(r);
    if (r != 0 && r != isc_segstr_eof) session_->HandleException(this);
  }
  void StoreBlobNode(XSQLVAR* PVAR, const ISC_ARRAY_DESC* desc, TIB_BlobCacheNode* node) override {
    ++blob_stores;
    const ISC_STATUS r = session_->WriteBlobOrArray(&db_, &tr_, PVAR, desc, node, {});
    session_->SetLastResult(r);
    if (r != 0) session_->HandleException(this);
  }
  bool LookupArrayBounds(const XSQLVAR* PVAR, ISC_ARRAY_DESC& desc) override {
    const std::string rel(PVAR->relname, ::strnlen(PVAR->relname, 32));
    const std::string field(PVAR->sqlname, ::strnlen(PVAR->sqlname, 32));
    return CallClient(ClientCallTable.isc_array_lookup_bounds, session_->StatusVector(), &db_, &tr_,
                      rel.c_str(), field.c_str(), &desc) == 0;
  }
  bool GetColumnAttribute(const TIB_Column* column, const AnsiString& keyword,
                          AnsiString& value) const override {
    auto it = attributes.find(StripQuotes(column->GetAliasName()) + "/" + keyword);
    if (it == attributes.end()) return false;
    value = it->second;
    return true;
  }

 private:
  void Free() {
    if (stmt_ != 0) {
      CallClient(ClientCallTable.isc_dsql_free_statement, session_->StatusVector(), &stmt_,
                 static_cast<unsigned short>(DSQL_drop));
      stmt_ = 0;
    }
  }

  TIB_Session* session_;
  isc_db_handle& db_;
  isc_tr_handle& tr_;
  isc_stmt_handle stmt_ = 0;
  TStringList names_;
  TIB_Row params_;
  TIB_Row fields_;
  TestDA in_;
  TestDA out_;
};

}  // namespace pelvar::test
