#include <fcntl.h>
#include <unistd.h>

#include "support/dbcache.h"
#include "support/firebird_common.h"

namespace pelvar::test {
namespace {

TEST(FirebirdFixture, EmbeddedDatabaseKeepsCzechTextAndIsDropped) {
  CheckCzechRoundTrip(FbTestDb::Mode::Embedded);
}

TEST(FirebirdFixture, FailingScriptReportsIsqlOutput) {
  auto db = FbTestDb::Create(FbTestDb::Mode::Embedded);
  try {
    db->RunSql("select * from NO_SUCH_TABLE;\n");
    FAIL() << "expected an error";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("NO_SUCH_TABLE"), std::string::npos) << e.what();
  }
}

// Test databases are written without forced writes, and a database that only ran the
// same scripts as another holds the same bytes (the later one is a copy from the cache).
TEST(FirebirdFixture, DatabasesWithoutForcedWritesRepeatTheirScripts) {
  const std::string schema = "create table T (N integer, S varchar(10));\ncommit;\n";
  const std::string fill = "insert into T values (1, 'jedna');\ncommit;\n";
  auto a = FbTestDb::Create(FbTestDb::Mode::Embedded, "a.fdb");
  a->RunSql(schema);
  a->RunSql(fill);
  auto b = FbTestDb::Create(FbTestDb::Mode::Embedded, "b.fdb");
  b->RunSql(schema);
  b->RunSql(fill);
  if (dbcache::Dir()) {
    EXPECT_TRUE(dbcache::SameContents(a->Path(), b->Path()));
  }
  EXPECT_EQ(b->RunSql("set list on;\nselect N, S from T;\n"), a->RunSql("set list on;\nselect N, S from T;\n"));

  const CommandResult header = RunCommand({"fbstat", "-h", b->Path()});
  ASSERT_EQ(header.exit_code, 0) << header.output;
  ASSERT_NE(header.output.find("Attributes"), std::string::npos) << header.output;
  EXPECT_EQ(header.output.find("force write"), std::string::npos) << header.output;
}

// A change made past the fixture (here isql run directly, in a test usually a client
// attachment) is never overwritten by a cached state: the next script runs on it.
TEST(FirebirdFixture, ChangesMadeElsewhereAreKept) {
  const std::string schema = "create table T (N integer);\ncommit;\n";
  const std::string add = "insert into T values (2);\ncommit;\n";
  const std::string count = "set list on;\nselect count(*) as C, sum(N) as S from T;\n";
  auto plain = FbTestDb::Create(FbTestDb::Mode::Embedded);
  plain->RunSql(schema);
  plain->RunSql(add);
  EXPECT_NE(plain->RunSql(count).find("S                               2"), std::string::npos);

  auto changed = FbTestDb::Create(FbTestDb::Mode::Embedded);
  changed->RunSql(schema);
  ASSERT_EQ(RunIsql("insert into T values (40);\ncommit;\n", changed->Path()).exit_code, 0);
  changed->RunSql(add);
  const std::string out = changed->RunSql(count);
  EXPECT_NE(out.find("C                               2"), std::string::npos) << out;
  EXPECT_NE(out.find("S                               42"), std::string::npos) << out;

  // While this process holds the file, nothing is copied over it either.
  auto held = FbTestDb::Create(FbTestDb::Mode::Embedded);
  held->RunSql(schema);
  const int fd = open(held->Path().c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(dbcache::OpenInThisProcess(held->Path()));
  ASSERT_EQ(RunIsql("insert into T values (7);\ncommit;\n", held->Path()).exit_code, 0);
  held->RunSql(add);
  close(fd);
  EXPECT_FALSE(dbcache::OpenInThisProcess(held->Path()));
  EXPECT_NE(held->RunSql(count).find("S                               9"), std::string::npos);
}

TEST(FirebirdFixture, CacheKeysFollowEveryPart) {
  EXPECT_EQ(dbcache::Key({"a", "bc"}), dbcache::Key({"a", "bc"}));
  EXPECT_NE(dbcache::Key({"a", "bc"}), dbcache::Key({"ab", "c"}));
  EXPECT_NE(dbcache::Key({"a", "bc"}), dbcache::Key({"bc", "a"}));
  EXPECT_EQ(dbcache::Key({"x"}).size(), 32u);
}

}  // namespace
}  // namespace pelvar::test
