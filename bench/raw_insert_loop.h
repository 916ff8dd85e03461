// The reference of the play-in benchmarks: a raw client loop that inserts the changed rows
// of station databases into the same tables of a copy of main through one prepared INSERT
// per table (keys from the tables' generators, no merging, no look-ups), straight through
// the client library's calls.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "dbclient/IB_Components.h"
#include "dbclient/IB_Session.h"
#include "dbclient/IB_Utils.h"

namespace pelvar::bench {

// One attachment with one transaction, through the client library's own calls.
class Raw {
 public:
  explicit Raw(const std::string& path) {
    std::string dpb(1, static_cast<char>(isc_dpb_version1));
    for (auto [item, value] : {std::pair<uint8_t, std::string>{isc_dpb_user_name, "SYSDBA"},
                               {isc_dpb_password, "masterkey"}, {isc_dpb_lc_ctype, "WIN1250"}}) {
      dpb += static_cast<char>(item);
      dpb += static_cast<char>(value.size());
      dpb += value;
    }
    session_.API_Call(&session_, ClientCallTable.isc_attach_database, static_cast<short>(path.size()), path.c_str(),
                      &db_, static_cast<short>(dpb.size()), dpb.data());
    Start();
  }
  ~Raw() {
    CallClient(ClientCallTable.isc_commit_transaction, session_.StatusVector(), &tr_);
    CallClient(ClientCallTable.isc_detach_database, session_.StatusVector(), &db_);
  }
  void Start() {
    static const char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_concurrency, isc_tpb_wait};
    ISC_TEB teb{&db_, static_cast<ISC_LONG>(sizeof tpb), tpb};
    session_.API_Call(&session_, ClientCallTable.isc_start_multiple, &tr_, short{1}, &teb);
  }
  void Commit() { session_.API_Call(&session_, ClientCallTable.isc_commit_retaining, &tr_); }

  // A prepared statement; da (when given) receives its output description with buffers.
  struct Statement {
    isc_stmt_handle st = 0;
    std::vector<char> da_bytes;
    std::vector<std::vector<char>> buffers;
    std::vector<ISC_SHORT> nulls;
    XSQLDA* da() { return reinterpret_cast<XSQLDA*>(da_bytes.data()); }
  };
  std::unique_ptr<Statement> Prepare(const std::string& sql, bool describe) {
    auto s = std::make_unique<Statement>();
    s->da_bytes.assign(static_cast<size_t>(XSQLDA_LENGTH(300)), 0);
    s->da()->version = SQLDA_VERSION1;
    s->da()->sqln = 300;
    session_.API_Call(&session_, ClientCallTable.isc_dsql_allocate_statement, &db_, &s->st);
    session_.API_Call(&session_, ClientCallTable.isc_dsql_prepare, &tr_, &s->st, static_cast<unsigned short>(0),
                      sql.c_str(), static_cast<unsigned short>(3), describe ? s->da() : nullptr);
    if (describe) {
      const int n = s->da()->sqld;
      s->buffers.resize(static_cast<size_t>(n));
      s->nulls.assign(static_cast<size_t>(n), 0);
      for (int i = 0; i < n; ++i) {
        XSQLVAR& v = s->da()->sqlvar[i];
        s->buffers[static_cast<size_t>(i)].assign(static_cast<size_t>(v.sqllen) + 2, 0);
        v.sqldata = s->buffers[static_cast<size_t>(i)].data();
        v.sqlind = &s->nulls[static_cast<size_t>(i)];
        v.sqltype |= 1;  // every value may be null on the way in
      }
    }
    return s;
  }
  void Free(Statement& s) {
    CallClient(ClientCallTable.isc_dsql_free_statement, session_.StatusVector(), &s.st,
               static_cast<unsigned short>(DSQL_drop));
  }
  void Open(Statement& s) {
    session_.API_Call(&session_, ClientCallTable.isc_dsql_execute, &tr_, &s.st, static_cast<unsigned short>(3),
                      static_cast<const XSQLDA*>(nullptr));
  }
  bool Fetch(Statement& s) {
    return CallClient(ClientCallTable.isc_dsql_fetch, session_.StatusVector(), &s.st, static_cast<unsigned short>(3),
                      static_cast<const XSQLDA*>(s.da())) == 0;
  }
  // Executes with in as the input values; false when the server refused the row.
  bool Execute(Statement& s, const XSQLDA* in) {
    return CallClient(ClientCallTable.isc_dsql_execute, session_.StatusVector(), &tr_, &s.st,
                      static_cast<unsigned short>(3), in) == 0;
  }
  // The rows of a one-column text query.
  std::vector<std::string> Texts(const std::string& sql) {
    auto s = Prepare(sql, true);
    Open(*s);
    std::vector<std::string> out;
    while (Fetch(*s)) {
      const XSQLVAR& v = s->da()->sqlvar[0];
      if ((v.sqltype & ~1) == SQL_VARYING) {
        const auto len = *reinterpret_cast<const short*>(v.sqldata);
        out.emplace_back(v.sqldata + 2, static_cast<size_t>(len));
      } else {
        out.emplace_back(v.sqldata, static_cast<size_t>(v.sqllen));
      }
    }
    Free(*s);
    return out;
  }

 private:
  TIB_Session session_{nullptr};
  isc_db_handle db_ = 0;
  isc_tr_handle tr_ = 0;
};

inline std::string Trimmed(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// The changed rows of both stations in the tables the raw loop copies: those with a
// change mark, a one-column key and a generator of their name (or their family's) in
// main; the few tables keyed by several columns are left out of both counts.
// With commit_each_row every inserted row is committed on its own (retaining the
// transaction), as the play-in's auto-committed posts are: the raw loop's rate under that
// constraint is the ceiling of any row-by-row play-in.
inline int64_t CopyRaw(const std::string& main_file, const std::vector<std::string>& station_files, int64_t& refused,
                       bool commit_each_row = false) {
  Raw main(main_file);
  int64_t rows = 0;
  for (const std::string& station_file : station_files) {
    Raw station(station_file);
    const auto tables = station.Texts(
        "select cast(trim(r.RDB$RELATION_NAME) as varchar(63)) from RDB$RELATIONS r where r.RDB$SYSTEM_FLAG = 0 and "
        "r.RDB$VIEW_BLR is null and exists (select 1 from RDB$RELATION_FIELDS f where f.RDB$RELATION_NAME = "
        "r.RDB$RELATION_NAME and f.RDB$FIELD_NAME = 'ST') order by 1");
    for (const std::string& table : tables) {
      const auto key = main.Texts(
          "select cast(trim(s.RDB$FIELD_NAME) as varchar(63)) from RDB$RELATION_CONSTRAINTS c join "
          "RDB$INDEX_SEGMENTS s on s.RDB$INDEX_NAME = c.RDB$INDEX_NAME where c.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY' "
          "and c.RDB$RELATION_NAME = '" + table + "' and (select count(*) from RDB$INDEX_SEGMENTS x where "
          "x.RDB$INDEX_NAME = c.RDB$INDEX_NAME) = 1");
      // The table's generator, or that of the family it belongs to (GEN_DOKLAD_POLOZKA
      // for DOKLAD_POLOZKA_FA, ...).
      std::vector<std::string> generator;
      for (std::string name = table; generator.empty() && !name.empty();) {
        generator = main.Texts("select cast(trim(RDB$GENERATOR_NAME) as varchar(63)) from RDB$GENERATORS "
                               "where RDB$GENERATOR_NAME = 'GEN_" + name + "'");
        const size_t cut = name.rfind('_');
        name = cut == std::string::npos ? std::string() : name.substr(0, cut);
      }
      if (key.size() != 1 || generator.size() != 1) continue;
      // The plain columns both sides have (blob ids belong to their database).
      const std::string columns_sql =
          "select cast(trim(rf.RDB$FIELD_NAME) as varchar(63)) from RDB$RELATION_FIELDS rf join RDB$FIELDS f on "
          "f.RDB$FIELD_NAME = rf.RDB$FIELD_SOURCE where rf.RDB$RELATION_NAME = '" + table +
          "' and f.RDB$FIELD_TYPE <> 261 and rf.RDB$FIELD_NAME not like '%\\_NEW' escape '\\' order by 1";
      const auto in_main = main.Texts(columns_sql);
      std::string list, marks;
      for (const std::string& c : station.Texts(columns_sql)) {
        if (c == Trimmed(key[0]) || std::find(in_main.begin(), in_main.end(), c) == in_main.end()) continue;
        list += (list.empty() ? "\"" : ", \"") + c + "\"";
        marks += marks.empty() ? "?" : ", ?";
      }
      if (list.empty()) continue;
      auto select = station.Prepare("select " + list + " from " + table + " where ST is not null", true);
      auto insert = main.Prepare("insert into " + table + " (" + key[0] + ", " + list + ") values (gen_id(" +
                                     generator[0] + ", 1), " + marks + ")",
                                 false);
      station.Open(*select);
      while (station.Fetch(*select)) {
        ++rows;
        if (!main.Execute(*insert, select->da())) ++refused;
        if (commit_each_row || rows % 900 == 0) main.Commit();
      }
      station.Free(*select);
      main.Free(*insert);
      main.Commit();
    }
  }
  return rows;
}

}  // namespace pelvar::bench
