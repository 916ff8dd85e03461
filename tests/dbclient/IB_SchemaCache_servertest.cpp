// The schema cache through the server on localhost: the lists, a single look-up, the
// generator read and the cache files of a database named by a server path.
#include <gtest/gtest.h>

#include <filesystem>

#include "connection_calls.h"
#include "dbclient/IB_Schema.h"
#include "dbclient/IB_SchemaCache.h"

namespace pelvar::test {
namespace {

TEST(SchemaCacheServer, ListsLookUpsGeneratorAndFiles) {
  PELVAR_REQUIRE_SERVER();
  auto fb = FbTestDb::Create(FbTestDb::Mode::Server, "srv.fdb");
  fb->RunSql(
      "create table K2 (A integer not null, B integer not null, primary key (A, B));\n"
      "create generator G1;\ncommit;\n");
  TempDir cache("pelvar-schema-srv");
  ConnectionRig rig(fb->ConnectString());
  rig.conn->SetSchemaCacheDir(CZ(cache.Path()));
  rig.conn->Open();
  TIB_SchemaCache* s = rig.conn->SchemaCache();
  EXPECT_EQ(AnsiToUtf8(s->TableKeys()->Text()), "K2=A,B\r\n");
  TStringList keys;
  s->GetTableKeys("K2", &keys);
  EXPECT_EQ(AnsiToUtf8(keys.Text()), "K2.A\r\nK2.B\r\n");
  int64_t first = 0, next = 0;
  ASSERT_TRUE(GetGeneratorValue(rig.conn, nullptr, "G1", 1, first));
  ASSERT_TRUE(GetGeneratorValue(rig.conn, nullptr, "G1", 5, next));
  EXPECT_EQ(next, first + 5);
  EXPECT_TRUE(std::filesystem::exists(cache.Path() + "/srv/TableKeys.REZ"));
  rig.conn->Close();
}

}  // namespace
}  // namespace pelvar::test
