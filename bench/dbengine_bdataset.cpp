// The buffered dataset against a raw client-library fetch loop over the same SELECT in the
// same run: open and fetch every row, and scroll through them, on
//   practice: the largest table of a large practice database (the one named by
//             PELVAR_BENCH_PRACTICE, or one generated for the run by tools/practice);
//   rows100k: a table of 100,000 rows of eight columns made for the run.
// Reported: rows/s of each and, per source, the ratio buffered / raw (goal: 0.5x or more).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dbclient/ClientLibraryName.h"
#include "dbclient/IB_Components.h"
#include "dbengine/IB_Components_bdataset.h"
#include "platform/sysutils.h"

namespace pelvar {
namespace {

struct Practice {
  Practice() {
    InstallClientLibraryNameProvider();
    if (const char* given = std::getenv("PELVAR_BENCH_PRACTICE")) {
      path = given;
    } else {
      dir = std::filesystem::temp_directory_path() / ("pelvar-bench-bdataset-" + std::to_string(getpid()));
      std::filesystem::create_directories(dir);
      path = (dir / "practice.fdb").string();
      const std::string cmd = "python3 '" PELVAR_SOURCE_DIR "/tools/practice/generate.py' --quiet --size large "
                              "--today 2026-06-15 --fixtures '" PELVAR_SOURCE_DIR "/tests/fixtures' --main '" +
                              path + "'";
      if (std::system(cmd.c_str()) != 0) {
        std::fprintf(stderr, "practice database could not be generated\n");
        std::exit(1);
      }
    }
    conn = std::make_unique<TIB_Connection>(nullptr);
    conn->SetDatabaseName(path);
    conn->SetUsername("SYSDBA");
    conn->SetPassword("masterkey");
    conn->SetCharSet("WIN1250");
    conn->SetSQLDialect(3);
    conn->Open();
    tr = std::make_unique<TIB_Transaction>(nullptr);
    tr->SetIB_Connection(conn.get());
    FindLargestTable();
  }
  ~Practice() {
    tr.reset();
    conn.reset();
    if (!dir.empty()) std::filesystem::remove_all(dir);
  }

  void FindLargestTable() {
    TIB_Cursor tables(nullptr);
    tables.SetIB_Connection(conn.get());
    tables.SetIB_Transaction(tr.get());
    tables.SQL()->SetText(
        "select trim(RDB$RELATION_NAME) from RDB$RELATIONS "
        "where RDB$SYSTEM_FLAG = 0 and RDB$VIEW_BLR is null");
    tables.Open();
    std::vector<AnsiString> names;
    while (!tables.Eof()) {
      names.push_back(tables.Fields()->GetColumn(0)->GetAsString());
      tables.Next();
    }
    tables.Close();
    tables.SetIB_Transaction(nullptr);
    for (const AnsiString& name : names) {
      TIB_DSQL count(nullptr);
      count.SetIB_Connection(conn.get());
      count.SetIB_Transaction(tr.get());
      count.SQL()->SetText("select count(*) from \"" + name + "\"");
      count.Execute();
      const int64_t n = count.Fields()->GetColumn(0)->GetAsComp();
      count.SetIB_Transaction(nullptr);
      if (n > rows) {
        rows = n;
        table = name;
      }
    }
    sql = "select * from \"" + table + "\"";
    std::fprintf(stderr, "largest table %s: %lld rows\n", table.c_str(), static_cast<long long>(rows));
  }

  std::filesystem::path dir;
  std::string path;
  std::unique_ptr<TIB_Connection> conn;
  std::unique_ptr<TIB_Transaction> tr;
  AnsiString table;
  AnsiString sql;
  int64_t rows = 0;
};

// A table of 100,000 rows: integers, texts, a numeric, a date and a timestamp.
struct Rows100k {
  Rows100k() {
    InstallClientLibraryNameProvider();
    dir = std::filesystem::temp_directory_path() / ("pelvar-bench-rows-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "rows.fdb").string();
    {
      TIB_Session session(nullptr);
      session.CreateDatabase(path, "SYSDBA", "masterkey", 8192, "WIN1250", 3);
    }
    conn = std::make_unique<TIB_Connection>(nullptr);
    conn->SetDatabaseName(path);
    conn->SetUsername("SYSDBA");
    conn->SetPassword("masterkey");
    conn->SetCharSet("WIN1250");
    conn->SetSQLDialect(3);
    conn->Open();
    tr = std::make_unique<TIB_Transaction>(nullptr);
    tr->SetIB_Connection(conn.get());
    for (const char* text :
         {"create table R (ID integer not null primary key, NAME varchar(40), CITY varchar(30),"
          " CODE char(8), AMOUNT numeric(15,2), BORN date, CHANGED timestamp, FLAG smallint)",
          "execute block as declare i integer = 1; begin"
          " while (i <= 100000) do begin"
          "  insert into R values (:i, 'Pacient ' || :i, 'Město ' || mod(:i, 97), 'C' || mod(:i, 1000),"
          "   :i * 1.25, dateadd(mod(:i, 20000) day to date '1950-01-01'), current_timestamp, mod(:i, 2));"
          "  i = i + 1; end end"}) {
      TIB_DSQL st(nullptr);
      st.SetIB_Connection(conn.get());
      st.SetIB_Transaction(tr.get());
      st.SQL()->SetText(text);
      st.Execute();
      st.SetIB_Transaction(nullptr);
      tr->Commit();
    }
    sql = "select * from R order by ID";
    rows = 100000;
  }
  ~Rows100k() {
    tr.reset();
    conn.reset();
    std::filesystem::remove_all(dir);
  }
  std::filesystem::path dir;
  std::unique_ptr<TIB_Connection> conn;
  std::unique_ptr<TIB_Transaction> tr;
  AnsiString sql;
  int64_t rows = 0;
};

struct Source {
  TIB_Connection* conn;
  TIB_Transaction* tr;
  AnsiString sql;
};

Source PracticeSource() {
  static Practice p;
  return {p.conn.get(), p.tr.get(), p.sql};
}

Source RowsSource() {
  static Rows100k r;
  return {r.conn.get(), r.tr.get(), r.sql};
}

// The reference: prepare, describe, execute and fetch into one XSQLDA until the end.
void RawFetchLoop(benchmark::State& state, Source (*Get)()) {
  const Source p = Get();
  TIB_Session* session = p.conn->GetIB_Session();
  p.tr->EnsureStarted();
  isc_db_handle* db = p.conn->GetDbHandlePtr();
  isc_tr_handle* tr = p.tr->GetTrHandlePtr();
  int64_t fetched = 0;
  for (auto _ : state) {
    isc_stmt_handle st = 0;
    ISC_STATUS* sv = session->StatusVector();
    CallClient(ClientCallTable.isc_dsql_allocate_statement, sv, db, &st);
    std::vector<char> probe(XSQLDA_LENGTH(1));
    auto* out = reinterpret_cast<XSQLDA*>(probe.data());
    out->version = SQLDA_VERSION1;
    out->sqln = 1;
    if (CallClient(ClientCallTable.isc_dsql_prepare, sv, tr, &st, static_cast<unsigned short>(0), p.sql.c_str(),
                   static_cast<unsigned short>(3), out) != 0) {
      state.SkipWithError("prepare failed");
      break;
    }
    const int n = out->sqld;
    std::vector<char> area(XSQLDA_LENGTH(static_cast<int16_t>(n)));
    out = reinterpret_cast<XSQLDA*>(area.data());
    out->version = SQLDA_VERSION1;
    out->sqln = static_cast<int16_t>(n);
    CallClient(ClientCallTable.isc_dsql_describe, sv, &st, static_cast<unsigned short>(1), out);
    std::vector<std::vector<char>> data(static_cast<size_t>(n));
    std::vector<ISC_SHORT> inds(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
      XSQLVAR& v = out->sqlvar[i];
      const int size = (v.sqltype & ~1) == SQL_VARYING ? v.sqllen + 2 : v.sqllen;
      data[static_cast<size_t>(i)].resize(static_cast<size_t>(size) + 1);
      v.sqldata = data[static_cast<size_t>(i)].data();
      v.sqlind = &inds[static_cast<size_t>(i)];
    }
    CallClient(ClientCallTable.isc_dsql_execute, sv, tr, &st, static_cast<unsigned short>(1), nullptr);
    int64_t count = 0;
    while (CallClient(ClientCallTable.isc_dsql_fetch, sv, &st, static_cast<unsigned short>(1), out) == 0) ++count;
    CallClient(ClientCallTable.isc_dsql_free_statement, sv, &st, static_cast<unsigned short>(DSQL_drop));
    fetched += count;
    benchmark::DoNotOptimize(count);
  }
  state.SetItemsProcessed(fetched);
  state.counters["rows/s"] = benchmark::Counter(static_cast<double>(fetched), benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(RawFetchLoop, practice, PracticeSource)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(RawFetchLoop, rows100k, RowsSource)->Unit(benchmark::kMillisecond)->UseRealTime();

// Open and fetch every row into the buffer, then read every row once in order.
void BufferedOpenFetchAll(benchmark::State& state, Source (*Get)()) {
  const Source p = Get();
  TIB_BDataset d(nullptr);
  d.SetIB_Connection(p.conn);
  d.SetIB_Transaction(p.tr);
  d.SQL()->SetText(p.sql);
  d.Prepare();
  int64_t fetched = 0;
  for (auto _ : state) {
    d.Open();
    d.FetchAll();
    fetched += d.BufferRowCount();
    d.Close();
  }
  state.SetItemsProcessed(fetched);
  state.counters["rows/s"] = benchmark::Counter(static_cast<double>(fetched), benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(BufferedOpenFetchAll, practice, PracticeSource)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BufferedOpenFetchAll, rows100k, RowsSource)->Unit(benchmark::kMillisecond)->UseRealTime();

void BufferedScrollAll(benchmark::State& state, Source (*Get)()) {
  const Source p = Get();
  TIB_BDataset d(nullptr);
  d.SetIB_Connection(p.conn);
  d.SetIB_Transaction(p.tr);
  d.SQL()->SetText(p.sql);
  d.Open();
  d.FetchAll();
  int64_t moved = 0;
  for (auto _ : state) {
    d.First();
    while (!d.Eof()) {
      d.Next();
      ++moved;
    }
  }
  state.SetItemsProcessed(moved);
  state.counters["rows/s"] = benchmark::Counter(static_cast<double>(moved), benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(BufferedScrollAll, practice, PracticeSource)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BufferedScrollAll, rows100k, RowsSource)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace pelvar

// The ratio of the buffered fetch to the raw loop of the same source, from the reported rates.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      const double rate = r.counters.count("rows/s") ? static_cast<double>(r.counters.at("rows/s")) : 0;
      const std::string name = r.benchmark_name();
      for (const char* source : {"practice", "rows100k"}) {
        if (name.find(source) == std::string::npos) continue;
        if (name.find("RawFetchLoop") != std::string::npos) raw_[source] = rate;
        if (name.find("BufferedOpenFetchAll") != std::string::npos) buffered_[source] = rate;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const auto& [source, raw] : raw_) {
      const auto b = buffered_.find(source);
      if (raw > 0 && b != buffered_.end() && b->second > 0) {
        std::printf("%s: buffered open+fetch vs raw fetch loop: %.2fx (goal: at least 0.5x)\n",
                    source.c_str(), b->second / raw);
      }
    }
  }

 private:
  std::map<std::string, double> raw_, buffered_;
};

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
