// Blob values written and read whole through the session, against a database made for
// the run by the embedded engine; and text blobs read row by row over localhost (the
// server must be running), through the session beside a plain client-library loop.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "dbclient/ClientLibraryName.h"
#include "dbclient/IB_Components.h"
#include "dbclient/IB_Utils.h"

namespace pelvar {
namespace {

// One database, one attachment and one transaction for the whole run.
struct BlobDatabase {
  BlobDatabase() {
    InstallClientLibraryNameProvider();
    dir = std::filesystem::temp_directory_path() / ("pelvar-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "blobs.fdb").string();
    session.CreateDatabase(path, "SYSDBA", "masterkey", 8192, "WIN1250", 3);
    std::string dpb(1, static_cast<char>(isc_dpb_version1));
    for (auto [item, value] : {std::pair<uint8_t, std::string>{isc_dpb_user_name, "SYSDBA"},
                               {isc_dpb_password, "masterkey"}}) {
      dpb += static_cast<char>(item);
      dpb += static_cast<char>(value.size());
      dpb += value;
    }
    session.API_Call(&session, ClientCallTable.isc_attach_database,
                     static_cast<short>(path.size()), path.c_str(), &db,
                     static_cast<short>(dpb.size()), dpb.data());
    static const char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_concurrency,
                               isc_tpb_wait};
    ISC_TEB teb{&db, static_cast<ISC_LONG>(sizeof tpb), tpb};
    session.API_Call(&session, ClientCallTable.isc_start_multiple, &tr, short{1}, &teb);
  }
  ~BlobDatabase() {
    CallClient(ClientCallTable.isc_rollback_transaction, session.StatusVector(), &tr);
    CallClient(ClientCallTable.isc_drop_database, session.StatusVector(), &db);
    std::filesystem::remove_all(dir);
  }
  std::filesystem::path dir;
  TIB_Session session{nullptr};
  isc_db_handle db = 0;
  isc_tr_handle tr = 0;
};

BlobDatabase& Database() {
  static BlobDatabase database;
  return database;
}

void WriteThenRead(benchmark::State& state) {
  BlobDatabase& d = Database();
  const auto size = static_cast<int32_t>(state.range(0));
  TIB_BlobCacheNode node{};
  ReallocBuffer(node.Buffer, 0, size);
  std::memset(node.Buffer, 'x', static_cast<size_t>(size));
  node.Size = node.Capacity = size;
  XSQLVAR pvar{};
  pvar.sqltype = SQL_BLOB | 1;
  TIB_BlobCacheNode read{};
  for (auto _ : state) {
    if (d.session.WriteBlob(&d.db, &d.tr, &pvar, &node, nullptr) != 0) {
      state.SkipWithError("write failed");
      break;
    }
    read.BlobId = node.BlobId;
    const ISC_STATUS r = d.session.ReadBlob(&d.db, &d.tr, &pvar, &read, nullptr);
    if (r != 0 && r != isc_segstr_eof) {
      state.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(read.Buffer);
  }
  state.SetBytesProcessed(int64_t{2} * size * static_cast<int64_t>(state.iterations()));
  FreeBlobNodeBuffer(&node);
  FreeBlobNodeBuffer(&read);
}
BENCHMARK(WriteThenRead)->Arg(1000)->Arg(65535)->Arg(150000)->Arg(4 << 20);

// A table of text blobs on the server at localhost, one per row, and their blob ids.
struct ServerRows {
  static constexpr int kRows = 200;

  explicit ServerRows(int size) {
    InstallClientLibraryNameProvider();
    dir = std::filesystem::temp_directory_path() /
          ("pelvar-bench-server-" + std::to_string(getpid()) + "-" + std::to_string(size));
    std::filesystem::create_directories(dir);
    chmod(dir.c_str(), 0777);  // the server runs as its own user
    const std::string path = "localhost:" + (dir / "rows.fdb").string();
    session.CreateDatabase(path, "SYSDBA", "masterkey", 8192, "WIN1250", 3);
    std::string dpb(1, static_cast<char>(isc_dpb_version1));
    for (auto [item, value] : {std::pair<uint8_t, std::string>{isc_dpb_user_name, "SYSDBA"},
                               {isc_dpb_password, "masterkey"}}) {
      dpb += static_cast<char>(item);
      dpb += static_cast<char>(value.size());
      dpb += value;
    }
    session.API_Call(&session, ClientCallTable.isc_attach_database, static_cast<short>(path.size()),
                     path.c_str(), &db, static_cast<short>(dpb.size()), dpb.data());
    Start();
    Exec("create table R (ID integer not null primary key, MEMO blob sub_type 1)");
    session.API_Call(&session, ClientCallTable.isc_commit_transaction, &tr);
    Start();
    const std::string text(static_cast<size_t>(size), 'x');
    for (int i = 1; i <= kRows; ++i) Exec("insert into R values (" + std::to_string(i) + ", '" + text + "')");
    session.API_Call(&session, ClientCallTable.isc_commit_transaction, &tr);
    Start();

    std::vector<char> da_bytes(static_cast<size_t>(XSQLDA_LENGTH(1)));
    auto* da = reinterpret_cast<XSQLDA*>(da_bytes.data());
    da->version = SQLDA_VERSION1;
    da->sqln = 1;
    isc_stmt_handle st = 0;
    const std::string select = "select MEMO from R order by ID";
    session.API_Call(&session, ClientCallTable.isc_dsql_allocate_statement, &db, &st);
    session.API_Call(&session, ClientCallTable.isc_dsql_prepare, &tr, &st, static_cast<unsigned short>(0),
                     select.c_str(), static_cast<unsigned short>(3), da);
    ISC_QUAD id{};
    ISC_SHORT null = 0;
    da->sqlvar[0].sqldata = reinterpret_cast<ISC_SCHAR*>(&id);
    da->sqlvar[0].sqlind = &null;
    session.API_Call(&session, ClientCallTable.isc_dsql_execute, &tr, &st, static_cast<unsigned short>(3),
                     static_cast<const XSQLDA*>(nullptr));
    while (CallClient(ClientCallTable.isc_dsql_fetch, session.StatusVector(), &st, static_cast<unsigned short>(3),
                      static_cast<const XSQLDA*>(da)) == 0) {
      ids.push_back(id);
    }
    CallClient(ClientCallTable.isc_dsql_free_statement, session.StatusVector(), &st,
               static_cast<unsigned short>(DSQL_drop));
    var.sqltype = SQL_BLOB | 1;
    var.sqlsubtype = 1;
  }
  ~ServerRows() {
    CallClient(ClientCallTable.isc_rollback_transaction, session.StatusVector(), &tr);
    CallClient(ClientCallTable.isc_drop_database, session.StatusVector(), &db);
    std::filesystem::remove_all(dir);
  }
  void Start() {
    static const char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_concurrency, isc_tpb_wait};
    ISC_TEB teb{&db, static_cast<ISC_LONG>(sizeof tpb), tpb};
    session.API_Call(&session, ClientCallTable.isc_start_multiple, &tr, short{1}, &teb);
  }
  void Exec(const std::string& sql) {
    session.API_Call(&session, ClientCallTable.isc_dsql_execute_immediate, &db, &tr, static_cast<unsigned short>(0),
                     sql.c_str(), static_cast<unsigned short>(3), static_cast<const XSQLDA*>(nullptr));
  }

  std::filesystem::path dir;
  TIB_Session session{nullptr};
  isc_db_handle db = 0;
  isc_tr_handle tr = 0;
  std::vector<ISC_QUAD> ids;
  XSQLVAR var{};
};

bool ServerAnswers() {
  static const bool answers = [] {
    try {
      ServerRows probe(1);
      return true;
    } catch (const std::exception&) {
      return false;
    }
  }();
  return answers;
}

// Every row's text blob read whole through the session, as a blob column loads it.
bool SessionPass(ServerRows& rows, TIB_BlobCacheNode& node, int64_t size) {
  for (const ISC_QUAD& id : rows.ids) {
    node.BlobId = id;
    const ISC_STATUS r = rows.session.ReadBlob(&rows.db, &rows.tr, &rows.var, &node, nullptr);
    if ((r != 0 && r != isc_segstr_eof) || node.Size != size) return false;
    benchmark::DoNotOptimize(node.Buffer);
  }
  return true;
}

// The same through the client library directly: open, read segments until the end, close.
bool RawPass(ServerRows& rows, std::vector<char>& segment, std::string& value, int64_t size) {
  ISC_STATUS* status = rows.session.StatusVector();
  for (ISC_QUAD id : rows.ids) {
    isc_blob_handle blob = 0;
    if (CallClient(ClientCallTable.isc_open_blob2, status, &rows.db, &rows.tr, &blob, &id,
                   static_cast<ISC_USHORT>(0), static_cast<const ISC_UCHAR*>(nullptr)) != 0) {
      return false;
    }
    value.clear();
    for (;;) {
      unsigned short actual = 0;
      const ISC_STATUS r = CallClient(ClientCallTable.isc_get_segment, status, &blob, &actual,
                                      static_cast<unsigned short>(segment.size()), segment.data());
      if (r != 0 && r != isc_segment) break;
      value.append(segment.data(), actual);
    }
    CallClient(ClientCallTable.isc_close_blob, status, &blob);
    if (value.size() != static_cast<size_t>(size)) return false;
    benchmark::DoNotOptimize(value.data());
  }
  return true;
}

void ReadPerRowSession(benchmark::State& state) {
  if (!ServerAnswers()) {
    state.SkipWithError("the Firebird server on localhost does not answer");
    return;
  }
  ServerRows rows(static_cast<int>(state.range(0)));
  TIB_BlobCacheNode node{};
  for (auto _ : state) {
    if (!SessionPass(rows, node, state.range(0))) {
      state.SkipWithError("read failed");
      break;
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(rows.ids.size()) * static_cast<int64_t>(state.iterations()));
  FreeBlobNodeBuffer(&node);
}
BENCHMARK(ReadPerRowSession)->Arg(200)->Arg(4000)->Arg(30000)->Unit(benchmark::kMillisecond)->UseRealTime();

void ReadPerRowRaw(benchmark::State& state) {
  if (!ServerAnswers()) {
    state.SkipWithError("the Firebird server on localhost does not answer");
    return;
  }
  ServerRows rows(static_cast<int>(state.range(0)));
  std::vector<char> segment(65535);
  std::string value;
  for (auto _ : state) {
    if (!RawPass(rows, segment, value, state.range(0))) {
      state.SkipWithError("read failed");
      break;
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(rows.ids.size()) * static_cast<int64_t>(state.iterations()));
}
BENCHMARK(ReadPerRowRaw)->Arg(200)->Arg(4000)->Arg(30000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Both, pass for pass in turns, so that a busy machine slows them alike: the counter
// session_speed is the session's speed as a share of the raw loop's (1 = as fast).
void ReadPerRowSessionVsRaw(benchmark::State& state) {
  if (!ServerAnswers()) {
    state.SkipWithError("the Firebird server on localhost does not answer");
    return;
  }
  ServerRows rows(static_cast<int>(state.range(0)));
  TIB_BlobCacheNode node{};
  std::vector<char> segment(65535);
  std::string value;
  std::chrono::duration<double> session_time{}, raw_time{};
  bool session_first = true;
  for (auto _ : state) {
    for (int turn = 0; turn < 2; ++turn) {
      const bool session = (turn == 0) == session_first;
      const auto start = std::chrono::steady_clock::now();
      const bool ok = session ? SessionPass(rows, node, state.range(0)) : RawPass(rows, segment, value, state.range(0));
      (session ? session_time : raw_time) += std::chrono::steady_clock::now() - start;
      if (!ok) state.SkipWithError("read failed");
    }
    session_first = !session_first;
  }
  state.counters["session_speed"] = raw_time.count() / session_time.count();
  FreeBlobNodeBuffer(&node);
}
BENCHMARK(ReadPerRowSessionVsRaw)->Arg(200)->Arg(4000)->Arg(30000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace pelvar

BENCHMARK_MAIN();
