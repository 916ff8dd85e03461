// Fresh Firebird test databases in a temporary directory, used through the embedded
// engine or through the server on localhost, filled by SQL scripts run with isql-fb,
// dropped afterwards.
//
// Test databases are cheap: they are written without forced writes, a new database is
// a copy of an empty one made once per build, and a script run on a database that
// still holds exactly what earlier cached steps left (an embedded database nobody has
// touched since) is replaced by a copy of the database that script left the first time
// (see dbcache.h). Scripts that print something or reach beyond the database always run.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/process.h"

namespace pelvar::test {

constexpr const char* kSysdbaUser = "SYSDBA";
constexpr const char* kSysdbaPassword = "masterkey";

// True when the Firebird server answers on localhost:3050.
bool ServerReachable();

// In a test that needs the server: skip with a hint outside CI, fail under CI.
#define PELVAR_REQUIRE_SERVER()                                                          \
  do {                                                                                   \
    if (!::pelvar::test::ServerReachable()) {                                            \
      if (::pelvar::test::InCI()) {                                                      \
        FAIL() << "the Firebird server is not reachable on localhost:3050";              \
      } else {                                                                           \
        GTEST_SKIP() << "the Firebird server is not running; start it with "             \
                        "'bash scripts/fbserver.sh start'";                              \
      }                                                                                  \
    }                                                                                    \
  } while (0)

class FbTestDb {
 public:
  enum class Mode { Embedded, Server };

  // Creates a WIN1250 dialect-3 database (page size 8192, no forced writes) named
  // file_name in a fresh temporary directory. Throws std::runtime_error with isql-fb's
  // output on failure.
  static std::unique_ptr<FbTestDb> Create(Mode mode, const std::string& file_name = "test.fdb");
  ~FbTestDb();

  Mode GetMode() const { return mode_; }
  // The database file on disk.
  const std::string& Path() const { return path_; }
  // What a client attaches to: the path, or "localhost:" and the path.
  std::string ConnectString() const;
  const TempDir& Dir() const { return *dir_; }

  // Runs an SQL script (UTF-8 text unless charset says otherwise) in isql-fb
  // connected to this database; returns isql's output, throws when isql fails.
  // The database must not be attached meanwhile (the embedded engine holds it alone).
  std::string RunSql(const std::string& script, const std::string& charset = "UTF8") const;
  // Runs a script file, for example one of tests/fixtures.
  std::string RunSqlFile(const std::string& file, const std::string& charset = "UTF8") const;

  // Drops the database; the destructor does it when no test did.
  void Drop();

 private:
  FbTestDb(Mode mode, std::unique_ptr<TempDir> dir, std::string path);
  std::string RunSqlNow(const std::string& script, const std::string& charset) const;
  std::string RunSqlCached(const std::string& script, const std::string& charset) const;

  Mode mode_;
  std::unique_ptr<TempDir> dir_;
  std::string path_;
  bool dropped_ = false;
  // The cache entry this database is a copy of (empty when unknown): while the file
  // still has its bytes, the next script's result can come from the cache too.
  mutable std::string state_key_;
};

// Creates an empty test database at connect (a path, or "localhost:" and a path) with
// isql-fb and turns its forced writes off; throws with the tools' output on failure.
void CreateEmptyDatabase(const std::string& connect);

// Turns forced writes off on a database that nobody has attached.
void SetAsyncWrites(const std::string& connect);

// Runs isql-fb with the script on stdin; -user/-password are always SYSDBA.
CommandResult RunIsql(const std::string& script, const std::string& connect = {},
                      const std::string& charset = "UTF8");

}  // namespace pelvar::test
