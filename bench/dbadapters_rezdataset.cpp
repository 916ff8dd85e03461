// Appending and reading 100,000 rows of an 8-column table through the adapter datasets
// (TREZTable Append/Post in one transaction, TREZQuery read back) against a raw client
// loop (one prepared INSERT executed per row, one SELECT fetched row by row), on a
// database the embedded engine makes for it. Each repetition runs both, in turns; the
// report gives wall and CPU time per row, rows/s and the adapter's ratio to the raw
// loop, with their median, min and max over the repetitions.
#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dbadapters/REZDataset.h"
#include "dbadapters/REZDatabase.h"
#include "dbclient/ClientLibraryName.h"
#include "dbclient/IB_Components.h"
#include "dbclient/IB_Utils.h"

namespace pelvar {
namespace {

// 100,000 rows; PELVAR_BENCH_ROWS sets another count (for profiling).
const int kRows = [] {
  const char* v = std::getenv("PELVAR_BENCH_ROWS");
  return v != nullptr && std::atoi(v) > 0 ? std::atoi(v) : 100000;
}();
const char* kInsert =
    "insert into BENCH (ID, NAZEV, KOD, CASTKA, SLEVA, DATUM, CAS, POCET) values (?, ?, ?, ?, ?, ?, ?, ?)";

struct BenchDatabase {
  BenchDatabase() {
    InstallClientLibraryNameProvider();
    dir = std::filesystem::temp_directory_path() / ("pelvar-bench-rez-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    path = (dir / "bench.fdb").string();
    session.CreateDatabase(path, "SYSDBA", "masterkey", 8192, "WIN1250", 3);
    Attach();
    Create();
  }
  void Create() {
    Immediate("create table BENCH (ID integer not null primary key, NAZEV varchar(40), "
              "KOD char(10), CASTKA numeric(15,2), SLEVA double precision, DATUM date, "
              "CAS timestamp, POCET smallint)");
    Commit();
  }
  ~BenchDatabase() {
    CallClient(ClientCallTable.isc_rollback_transaction, session.StatusVector(), &tr);
    CallClient(ClientCallTable.isc_drop_database, session.StatusVector(), &db);
    std::filesystem::remove_all(dir);
  }
  void Attach() {
    std::string dpb(1, static_cast<char>(isc_dpb_version1));
    for (auto [item, value] : {std::pair<uint8_t, std::string>{isc_dpb_user_name, "SYSDBA"},
                               {isc_dpb_password, "masterkey"},
                               {isc_dpb_lc_ctype, "WIN1250"}}) {
      dpb += static_cast<char>(item);
      dpb += static_cast<char>(value.size());
      dpb += value;
    }
    session.API_Call(&session, ClientCallTable.isc_attach_database, static_cast<short>(path.size()),
                     path.c_str(), &db, static_cast<short>(dpb.size()), dpb.data());
    Start();
  }
  void Start() {
    static const char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed,
                               isc_tpb_rec_version, isc_tpb_wait};
    ISC_TEB teb{&db, static_cast<ISC_LONG>(sizeof tpb), tpb};
    session.API_Call(&session, ClientCallTable.isc_start_multiple, &tr, short{1}, &teb);
  }
  void Commit() {
    session.API_Call(&session, ClientCallTable.isc_commit_transaction, &tr);
    Start();
  }
  void Immediate(const std::string& sql) {
    session.API_Call(&session, ClientCallTable.isc_dsql_execute_immediate, &db, &tr,
                     static_cast<unsigned short>(0), sql.c_str(), static_cast<unsigned short>(3),
                     static_cast<const XSQLDA*>(nullptr));
  }
  // A fresh table for every timed run: rows deleted by the run before would leave
  // their garbage to the engine's collector, which would work on it during the run.
  void Empty() {
    Immediate("drop table BENCH");
    Commit();
    Create();
  }
  std::filesystem::path dir;
  std::string path;
  TIB_Session session{nullptr};
  isc_db_handle db = 0;
  isc_tr_handle tr = 0;
};

BenchDatabase& Database() {
  static BenchDatabase database;
  return database;
}

// A described XSQLDA with buffers.
struct Sqlda {
  explicit Sqlda(int n) : raw(static_cast<size_t>(XSQLDA_LENGTH(static_cast<int16_t>(n))), 0) {
    da()->version = SQLDA_VERSION1;
    da()->sqln = static_cast<int16_t>(n);
  }
  XSQLDA* da() { return reinterpret_cast<XSQLDA*>(raw.data()); }
  void Allocate() {
    data.resize(static_cast<size_t>(da()->sqld));
    inds.assign(static_cast<size_t>(da()->sqld), 0);
    for (int i = 0; i < da()->sqld; ++i) {
      XSQLVAR& v = da()->sqlvar[i];
      data[static_cast<size_t>(i)].assign(static_cast<size_t>(v.sqllen) + 2, 0);
      v.sqldata = data[static_cast<size_t>(i)].data();
      v.sqlind = &inds[static_cast<size_t>(i)];
    }
  }
  std::vector<char> raw;
  std::vector<std::vector<char>> data;
  std::vector<int16_t> inds;
};

// Wall and CPU time of one run. The CPU time is the calling thread's: the embedded
// engine does a row's work on the thread that asks for it, and a loaded machine takes
// wall time from both runs alike but adds no CPU time to either.
struct Clock {
  static double Cpu() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
  }
  Clock() : wall0(std::chrono::steady_clock::now()), cpu0(Cpu()) {}
  void Stop() {
    wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    cpu = Cpu() - cpu0;
  }
  std::chrono::steady_clock::time_point wall0;
  double cpu0;
  double wall = 0, cpu = 0;
};

// Appends kRows through one prepared INSERT executed per row, in one transaction.
Clock RawInsert() {
  BenchDatabase& d = Database();
  d.Empty();
  Clock clock;
  isc_stmt_handle st = 0;
  d.session.API_Call(&d.session, ClientCallTable.isc_dsql_allocate_statement, &d.db, &st);
  d.session.API_Call(&d.session, ClientCallTable.isc_dsql_prepare, &d.tr, &st, static_cast<unsigned short>(0),
                     kInsert, static_cast<unsigned short>(3), static_cast<XSQLDA*>(nullptr));
  Sqlda in(8);
  d.session.API_Call(&d.session, ClientCallTable.isc_dsql_describe_bind, &st, static_cast<unsigned short>(1), in.da());
  in.Allocate();
  for (int r = 0; r < kRows; ++r) {
    XSQLDA* x = in.da();
    const int32_t id = r + 1;
    std::memcpy(x->sqlvar[0].sqldata, &id, 4);
    const std::string name = "Partner " + std::to_string(r);
    const uint16_t n = static_cast<uint16_t>(name.size());
    std::memcpy(x->sqlvar[1].sqldata, &n, 2);
    std::memcpy(x->sqlvar[1].sqldata + 2, name.data(), n);
    std::memset(x->sqlvar[2].sqldata, ' ', 10);
    std::memcpy(x->sqlvar[2].sqldata, "KOD", 3);
    const int64_t amount = int64_t{r} * 125;
    std::memcpy(x->sqlvar[3].sqldata, &amount, 8);
    const double sleva = r * 0.5;
    std::memcpy(x->sqlvar[4].sqldata, &sleva, 8);
    const int32_t day = 61206 + r % 365;
    std::memcpy(x->sqlvar[5].sqldata, &day, 4);
    const int32_t ts[2] = {day, (r % 86400) * 10000};
    std::memcpy(x->sqlvar[6].sqldata, ts, 8);
    const int16_t cnt = static_cast<int16_t>(r % 1000);
    std::memcpy(x->sqlvar[7].sqldata, &cnt, 2);
    d.session.API_Call(&d.session, ClientCallTable.isc_dsql_execute, &d.tr, &st, static_cast<unsigned short>(3),
                       static_cast<const XSQLDA*>(in.da()));
  }
  CallClient(ClientCallTable.isc_dsql_free_statement, d.session.StatusVector(), &st,
             static_cast<unsigned short>(DSQL_drop));
  d.Commit();
  clock.Stop();
  return clock;
}

// Fetches the table row by row through one SELECT; false when a row is missing.
bool RawRead(Clock& clock) {
  BenchDatabase& d = Database();
  clock = Clock();
  isc_stmt_handle st = 0;
  d.session.API_Call(&d.session, ClientCallTable.isc_dsql_allocate_statement, &d.db, &st);
  Sqlda out(8);
  const char* sql = "select ID, NAZEV, KOD, CASTKA, SLEVA, DATUM, CAS, POCET from BENCH order by ID";
  d.session.API_Call(&d.session, ClientCallTable.isc_dsql_prepare, &d.tr, &st, static_cast<unsigned short>(0),
                     sql, static_cast<unsigned short>(3), out.da());
  out.Allocate();
  d.session.API_Call(&d.session, ClientCallTable.isc_dsql_execute, &d.tr, &st, static_cast<unsigned short>(3),
                     static_cast<const XSQLDA*>(nullptr));
  int64_t rows = 0, sum = 0;
  while (CallClient(ClientCallTable.isc_dsql_fetch, d.session.StatusVector(), &st,
                    static_cast<unsigned short>(3), static_cast<const XSQLDA*>(out.da())) == 0) {
    int32_t id;
    std::memcpy(&id, out.da()->sqlvar[0].sqldata, 4);
    sum += id;
    ++rows;
  }
  benchmark::DoNotOptimize(sum);
  CallClient(ClientCallTable.isc_dsql_free_statement, d.session.StatusVector(), &st,
             static_cast<unsigned short>(DSQL_drop));
  clock.Stop();
  return rows == kRows;
}

struct Adapter {
  Adapter() {
    db = new TREZDatabase(&form);
    db->SetDatabaseName(Database().path);
    db->SetUsername("SYSDBA");
    db->SetPassword("masterkey");
    db->SetCharSet("WIN1250");
    db->SetSQLDialect(3);
    db->Open();
    tr = new TREZTransaction(&form);
    tr->SetIB_Connection(db);
    tr->SetIsolation(tiCommitted);
  }
  ~Adapter() {
    while (form.ComponentCount() > 0) delete form.Components(form.ComponentCount() - 1);
  }
  TComponent form{nullptr};
  TREZDatabase* db;
  TREZTransaction* tr;
};

// Appends and posts kRows through a table in one transaction (the attachment is made
// before the clock starts, as the raw loop's is).
Clock REZTableAppend() {
  Database().Empty();
  Adapter a;
  Clock clock;
  auto* t = new TREZTable(&a.form);
  t->SetIB_Connection(a.db);
  t->SetIB_Transaction(a.tr);
  t->SetTableName("BENCH");
  t->Open();
  a.tr->StartTransaction();
  TField* f[8] = {t->FieldByName("ID"),    t->FieldByName("NAZEV"), t->FieldByName("KOD"),
                  t->FieldByName("CASTKA"), t->FieldByName("SLEVA"), t->FieldByName("DATUM"),
                  t->FieldByName("CAS"),    t->FieldByName("POCET")};
  for (int r = 0; r < kRows; ++r) {
    t->Append();
    f[0]->SetAsInteger(r + 1);
    f[1]->SetAsString("Partner " + std::to_string(r));
    f[2]->SetAsString("KOD");
    f[3]->SetAsCurrency(Currency::FromRaw(int64_t{r} * 12500));
    f[4]->SetAsFloat(r * 0.5);
    f[5]->SetAsDateTime(46188.0 + r % 365);
    f[6]->SetAsDateTime(46188.0 + r % 365 + (r % 86400) / 86400.0);
    f[7]->SetAsInteger(r % 1000);
    t->Post();
  }
  a.tr->Commit();
  t->Close();
  clock.Stop();
  return clock;
}

// Reads the table back through a query; false when a row is missing.
bool REZQueryRead(Clock& clock) {
  Adapter a;
  clock = Clock();
  auto* q = new TREZQuery(&a.form);
  q->SetIB_Connection(a.db);
  q->SetIB_Transaction(a.tr);
  q->SQL()->SetText("select ID, NAZEV, KOD, CASTKA, SLEVA, DATUM, CAS, POCET from BENCH order by ID");
  q->Open();
  int64_t rows = 0, sum = 0;
  TField* id = q->FieldByName("ID");
  for (q->First(); !q->Eof(); q->Next()) {
    sum += id->AsInteger();
    ++rows;
  }
  benchmark::DoNotOptimize(sum);
  q->Close();
  clock.Stop();
  return rows == kRows;
}

// One repetition runs the raw loop and the adapter once each, in turns (every other
// repetition the adapter first), so that the machine's load and the engine's state
// weigh on both alike; the repetitions' median, min and max are reported. Times per
// row in microseconds; ratio is the adapter's rate over the raw loop's (wall and CPU).
// The Time column is the adapter's wall time, the CPU column the whole repetition's. On
// a busy machine the CPU ratio is the steadier figure: wall time then includes waits
// for the processor and for the disk that neither loop causes.
void Report(benchmark::State& state, const Clock& raw, const Clock& rez) {
  state.SetIterationTime(rez.wall);
  auto& c = state.counters;
  c["raw_rows/s"] = kRows / raw.wall;
  c["rows/s"] = kRows / rez.wall;
  c["raw_us/row"] = raw.wall * 1e6 / kRows;
  c["raw_cpu_us/row"] = raw.cpu * 1e6 / kRows;
  c["us/row"] = rez.wall * 1e6 / kRows;
  c["cpu_us/row"] = rez.cpu * 1e6 / kRows;
  c["ratio"] = raw.wall / rez.wall;
  c["cpu_ratio"] = raw.cpu / rez.cpu;
}

int repetition = 0;

void AppendVsRawInsert(benchmark::State& state) {
  for (auto _ : state) {
    Clock raw, rez;
    if (repetition++ % 2 == 0) {
      raw = RawInsert();
      rez = REZTableAppend();
    } else {
      rez = REZTableAppend();
      raw = RawInsert();
    }
    Report(state, raw, rez);
  }
}

void QueryReadVsRawFetch(benchmark::State& state) {
  for (auto _ : state) {
    Clock raw, rez;
    bool ok;
    if (repetition++ % 2 == 0) {
      ok = RawRead(raw) && REZQueryRead(rez);
    } else {
      ok = REZQueryRead(rez) && RawRead(raw);
    }
    if (!ok) state.SkipWithError("wrong row count");
    Report(state, raw, rez);
  }
}

// 5 repetitions; PELVAR_BENCH_REPS sets another count.
const int kRepetitions = [] {
  const char* v = std::getenv("PELVAR_BENCH_REPS");
  return v != nullptr && std::atoi(v) > 0 ? std::atoi(v) : 5;
}();

double MinOf(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }
double MaxOf(const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); }

// The reads follow the appends: they read the rows the last append left.
BENCHMARK(AppendVsRawInsert)
    ->Iterations(1)->Repetitions(kRepetitions)->UseManualTime()->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", MinOf)->ComputeStatistics("max", MaxOf);
BENCHMARK(QueryReadVsRawFetch)
    ->Iterations(1)->Repetitions(kRepetitions)->UseManualTime()->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", MinOf)->ComputeStatistics("max", MaxOf);

}  // namespace
}  // namespace pelvar

BENCHMARK_MAIN();
