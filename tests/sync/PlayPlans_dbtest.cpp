// Every statement the play-in runs per row finds its rows through an index: both stations
// of the practice of tools/practice are played with every option on, while the client
// library's prepare and execute calls are watched; a statement (its literals taken as
// placeholders) executed for several rows, finding a row or two each time, is a per-row
// statement, and the plan the server
// gives it (isc_dsql_sql_info) must read no table NATURAL that the large practice fills
// with more than a few hundred rows (tools/practice/generate.py, its SIZES). Whole-table
// reads made once per step are not per-row statements and may scan; the copy engine's
// search for the main row to merge a station row into is held to it as well.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>

#include "dbclient/ClientLibraryName.h"
#include "dbclient/IB_Session.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "support/practice.h"
#include "sync/DlgPrava.h"
#include "sync/DmMeld.h"
#include "sync/Meldrun.h"
#include "main_form_double.h"
#include "play_practice.h"

namespace pelvar::test {
namespace {

namespace fs = std::filesystem;

// The statement's text with its string and number literals as "?" and blanks collapsed:
// one shape for a statement built with each row's values in its text.
std::string Shape(const std::string& sql) {
  std::string out;
  for (size_t i = 0; i < sql.size();) {
    const char c = sql[i];
    if (c == '\'') {
      for (++i; i < sql.size(); ++i) {
        if (sql[i] == '\'' && (i + 1 >= sql.size() || sql[i + 1] != '\'')) break;
        if (sql[i] == '\'') ++i;
      }
      ++i;
      out += '?';
    } else if (std::isdigit(static_cast<unsigned char>(c)) &&
               (out.empty() || !(std::isalnum(static_cast<unsigned char>(out.back())) || out.back() == '_' ||
                                 out.back() == '$'))) {
      while (i < sql.size() && (std::isdigit(static_cast<unsigned char>(sql[i])) || sql[i] == '.')) ++i;
      out += '?';
    } else if (std::isspace(static_cast<unsigned char>(c))) {
      while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

struct Traced {
  std::string sql;   // the first text of the shape
  std::string plan;  // its plan on the database it ran on
  int64_t executes = 0;
  int64_t rows = 0;  // fetched
};

// The watch on the client calls; one run at a time.
struct Watch {
  std::map<isc_stmt_handle, std::string> shapes;  // prepared handle -> shape
  std::map<std::string, Traced> traced;           // shape -> what was seen
  TIB_ClientCallTable saved;
};
Watch* watch = nullptr;

std::string PlanOf(isc_stmt_handle* st) {
  static const ISC_SCHAR items[] = {static_cast<ISC_SCHAR>(isc_info_sql_get_plan)};
  std::string buffer(32768, '\0');
  ISC_STATUS_ARRAY status{};
  if (ClientEntryPoints.isc_dsql_sql_info(status, st, sizeof items, items, static_cast<short>(buffer.size()),
                                          buffer.data()) != 0 ||
      static_cast<uint8_t>(buffer[0]) != isc_info_sql_get_plan)
    return "";
  const auto length = static_cast<size_t>(ClientEntryPoints.isc_vax_integer(buffer.data() + 1, 2));
  return buffer.substr(3, length);
}

void Seen(isc_stmt_handle* st, const ISC_SCHAR* sql, unsigned short length) {
  const std::string text = length != 0 ? std::string(sql, length) : std::string(sql);
  const std::string shape = Shape(text);
  watch->shapes[*st] = shape;
  Traced& t = watch->traced[shape];
  if (t.sql.empty()) {
    t.sql = text;
    t.plan = PlanOf(st);
  }
}

ISC_STATUS WatchPrepare(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* st, unsigned short length,
                        const ISC_SCHAR* sql, unsigned short dialect, XSQLDA* da) {
  const ISC_STATUS r = watch->saved.isc_dsql_prepare(status, tr, st, length, sql, dialect, da);
  if (r == 0) Seen(st, sql, length);
  return r;
}
void Count(isc_stmt_handle* st) {
  const auto it = watch->shapes.find(*st);
  if (it != watch->shapes.end()) ++watch->traced[it->second].executes;
}
ISC_STATUS WatchFetch(ISC_STATUS* status, isc_stmt_handle* st, unsigned short dialect, const XSQLDA* out) {
  const ISC_STATUS r = watch->saved.isc_dsql_fetch(status, st, dialect, out);
  const auto it = watch->shapes.find(*st);
  if (r == 0 && it != watch->shapes.end()) ++watch->traced[it->second].rows;
  return r;
}
ISC_STATUS WatchExecute(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* st, unsigned short dialect,
                        const XSQLDA* in) {
  Count(st);
  return watch->saved.isc_dsql_execute(status, tr, st, dialect, in);
}
ISC_STATUS WatchExecute2(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* st, unsigned short dialect,
                         const XSQLDA* in, const XSQLDA* out) {
  Count(st);
  return watch->saved.isc_dsql_execute2(status, tr, st, dialect, in, out);
}
// A statement run straight from its text is prepared aside for its plan.
void SeenImmediate(isc_db_handle* db, isc_tr_handle* tr, unsigned short length, const ISC_SCHAR* sql,
                   unsigned short dialect) {
  const std::string text = length != 0 ? std::string(sql, length) : std::string(sql);
  Traced& t = watch->traced[Shape(text)];
  ++t.executes;
  if (!t.sql.empty()) return;
  t.sql = text;
  ISC_STATUS_ARRAY status{};
  isc_stmt_handle st = 0;
  if (ClientEntryPoints.isc_dsql_allocate_statement(status, db, &st) != 0) return;
  if (ClientEntryPoints.isc_dsql_prepare(status, tr, &st, length, sql, dialect, nullptr) == 0) t.plan = PlanOf(&st);
  ClientEntryPoints.isc_dsql_free_statement(status, &st, DSQL_drop);
}
ISC_STATUS WatchImmediate(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, unsigned short length,
                          const ISC_SCHAR* sql, unsigned short dialect, const XSQLDA* in) {
  SeenImmediate(db, tr, length, sql, dialect);
  return watch->saved.isc_dsql_execute_immediate(status, db, tr, length, sql, dialect, in);
}
ISC_STATUS WatchImmediate2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, unsigned short length,
                           const ISC_SCHAR* sql, unsigned short dialect, const XSQLDA* in, const XSQLDA* out) {
  SeenImmediate(db, tr, length, sql, dialect);
  return watch->saved.isc_dsql_exec_immed2(status, db, tr, length, sql, dialect, in, out);
}

// The tables the large practice fills with more than a few hundred rows.
std::set<std::string> LargeTables() {
  const std::string generator = ReadFile(std::string(PELVAR_SOURCE_DIR) + "/tools/practice/generate.py");
  const size_t from = generator.find("SIZES = {");
  const std::string sizes = generator.substr(from, generator.find('}', from) - from);
  std::set<std::string> large;
  const std::regex entry("'([A-Z_0-9]+)': \\((\\d+), (\\d+)\\)");
  for (std::sregex_iterator it(sizes.begin(), sizes.end(), entry), end; it != end; ++it)
    if (std::stoi((*it)[3]) > 300) large.insert((*it)[1]);
  return large;
}

// The tables a plan reads NATURAL, named through the statement's aliases.
std::set<std::string> NaturalTables(const std::string& sql, const std::string& plan) {
  std::map<std::string, std::string> alias;
  std::string upper = sql;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::regex source("(?:FROM|JOIN|,)\\s+([A-Z_0-9$]+)(?:\\s+(?:AS\\s+)?([A-Z_0-9$]+))?");
  static const std::set<std::string> kWords = {"WHERE", "JOIN", "LEFT", "RIGHT", "INNER", "ON", "GROUP", "ORDER",
                                              "UNION", "PLAN", "ROWS", "FOR", "OUTER", "FULL"};
  for (std::sregex_iterator it(upper.begin(), upper.end(), source), end; it != end; ++it) {
    const std::string table = (*it)[1];
    alias[table] = table;
    if ((*it)[2].matched && !kWords.count((*it)[2])) alias[(*it)[2]] = table;
  }
  std::set<std::string> natural;
  const std::regex scan("([A-Z_0-9$]+) NATURAL");
  for (std::sregex_iterator it(plan.begin(), plan.end(), scan), end; it != end; ++it) {
    const auto a = alias.find((*it)[1]);
    natural.insert(a == alias.end() ? std::string((*it)[1]) : a->second);
  }
  return natural;
}

TEST(PlayPlansDb, NoPerRowStatementOfThePlayInScansALargeTable) {
  InstallClientLibraryNameProvider();
  EnsureClientAPI();
  const fs::path before = fs::current_path();
  TempDir dir("pelvar-play-plans");
  fs::current_path(dir.Path());
  const std::string main = dir.File("main.fdb"), stations[2] = {dir.File("st.fdb"), dir.File("st624.fdb")};
  PlayPractice::CopyTo("main.fdb", main);
  PlayPractice::CopyTo("st.fdb", stations[0]);
  PlayPractice::CopyTo("st624.fdb", stations[1]);
  const TDialogResponder previous_dialogs = SetDialogResponder([](const TDialogRequest& r) { return r.DefaultResult; });
  const TDialogPravaRunner previous_rights = SetDialogPravaRunner([](TFrmDialogPrava&) {});

  Watch w;
  w.saved = ClientCallTable;
  watch = &w;
  ClientCallTable.isc_dsql_prepare = WatchPrepare;
  ClientCallTable.isc_dsql_execute = WatchExecute;
  ClientCallTable.isc_dsql_fetch = WatchFetch;
  ClientCallTable.isc_dsql_execute2 = WatchExecute2;
  ClientCallTable.isc_dsql_execute_immediate = WatchImmediate;
  ClientCallTable.isc_dsql_exec_immed2 = WatchImmediate2;
  {
    MainFormDouble form;
    form.Auto = true;
    TDMMeldrun dm(nullptr, form);
    dm.CommitAfter = 900;
    dm.LowestVersion = 999999;
    try {
      dm.OpenDst(main, AdministratorUser, AdministratorPassword);
      dm.SetJournalTriggers(0);
      dm.InitStationLists(2);
      for (int32_t s = 0; s < 2; ++s) {
        form.Station = s;
        dm.OpenSrc(stations[s], AdministratorUser, AdministratorPassword);
        dm.CheckDatabaseVersion("Src", s == 0 ? 200824 : 200624);
        dm.CycleIndex = 0;
        dm.IsLastCycle = true;
        TMeldrun m;
        m.Zaklad = m.ExPartner = m.ExPacient = m.Karty = m.Doklady = m.Uzaverky = m.Ciselniky = m.OrgStruktura =
            m.AutoChange = true;
        m.Execute();
        dm.CommitBoth();
        dm.Src()->SetConnected(false);
      }
      dm.CommitBoth();
      dm.Dst()->SetConnected(false);
    } catch (...) {
      ClientCallTable = w.saved;
      watch = nullptr;
      throw;
    }
  }
  ClientCallTable = w.saved;
  watch = nullptr;
  SetDialogPravaRunner(previous_rights);
  SetDialogResponder(previous_dialogs);
  fs::current_path(before);

  const std::set<std::string> large = LargeTables();
  ASSERT_GT(large.size(), 30u);
  int per_row = 0;
  for (const auto& [shape, t] : w.traced) {
    // Per step a statement runs once or a few times per station and reads a table; per row
    // it runs for each row and finds a row or two.
    if (t.executes <= 4 || t.rows > 2 * t.executes) continue;
    ++per_row;
    for (const std::string& table : NaturalTables(t.sql, t.plan))
      EXPECT_FALSE(large.count(table)) << table << " read NATURAL by a statement run " << t.executes
                                       << " times:\n  " << t.sql << "\n  " << t.plan;
  }
  // The run went through the per-row statements of the memory import and the copy engine.
  EXPECT_GT(per_row, 20);
}

}  // namespace
}  // namespace pelvar::test
