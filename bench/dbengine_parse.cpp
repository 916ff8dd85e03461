// The SQL text toolkit runs for every statement a dataset prepares: the parameter parse of
// a typical SELECT, the clause search and the count statement.
#include <benchmark/benchmark.h>

#include "dbengine/IB_Parse.h"

namespace {

const pelvar::AnsiString kSql =
    "SELECT FIRST 100 C.ID_CUSTOMER, C.NAME, C.CITY /* where they live */, O.TOTAL,\r\n"
    "  (SELECT COUNT(*) FROM ORDERS X WHERE X.ID_CUSTOMER = C.ID_CUSTOMER) AS N\r\n"
    "FROM CUSTOMER C LEFT JOIN ORDERS O ON O.ID_CUSTOMER = C.ID_CUSTOMER\r\n"
    "WHERE C.NAME STARTING :NAME AND C.CITY = 'Brno' -- only Brno\r\n"
    "  AND O.TOTAL > ?\r\n"
    "ORDER BY C.NAME";

void BM_ParseSQLParams(benchmark::State& state) {
  std::vector<pelvar::AnsiString> names, items;
  pelvar::AnsiString server;
  int32_t comment_chars = 0;
  for (auto _ : state) {
    pelvar::ParseSQLParams(kSql, &names, &items, server, ':', false, comment_chars, false);
    benchmark::DoNotOptimize(server);
  }
}
BENCHMARK(BM_ParseSQLParams);

void BM_GetWhereClause(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(pelvar::GetWhereClause(kSql));
}
BENCHMARK(BM_GetWhereClause);

void BM_MakeCountSQL(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(pelvar::MakeCountSQL(kSql));
}
BENCHMARK(BM_MakeCountSQL);

}  // namespace

BENCHMARK_MAIN();
