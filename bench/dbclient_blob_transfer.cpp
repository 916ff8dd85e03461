// Blob values written and read whole through the session, against a database made for
// the run by the embedded engine.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

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

}  // namespace
}  // namespace pelvar

BENCHMARK_MAIN();
