#include "support/firebird.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <filesystem>
#include <regex>
#include <stdexcept>

#include "support/dbcache.h"

namespace pelvar::test {

bool ServerReachable() {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(3050);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(s);
  return ok;
}

CommandResult RunIsql(const std::string& script, const std::string& connect,
                      const std::string& charset) {
  std::vector<std::string> argv = {"isql-fb", "-q", "-bail", "-user", kSysdbaUser,
                                   "-password", kSysdbaPassword};
  if (!charset.empty()) {
    argv.push_back("-ch");
    argv.push_back(charset);
  }
  if (!connect.empty()) argv.push_back(connect);
  return RunCommand(argv, script);
}

void SetAsyncWrites(const std::string& connect) {
  const CommandResult r = RunCommand(
      {"gfix", "-write", "async", "-user", kSysdbaUser, "-password", kSysdbaPassword, connect});
  if (r.exit_code != 0) throw std::runtime_error("turning forced writes off on " + connect + " failed: " + r.output);
}

void CreateEmptyDatabase(const std::string& connect) {
  const std::string script = "create database '" + connect + "' user '" + kSysdbaUser + "' password '" +
                             kSysdbaPassword + "' page_size 8192 default character set WIN1250;\n";
  const CommandResult r = RunIsql(script, {}, {});
  if (r.exit_code != 0) throw std::runtime_error("creating " + connect + " failed: " + r.output);
  SetAsyncWrites(connect);
}

namespace {

// How the empty database is made; a change here must change the key.
const std::string kEmptyKeyText = "empty v1: page_size 8192, WIN1250, dialect 3, forced writes off";

// A script whose effect reaches beyond the database (files, other databases) or
// depends on more than its text is always run.
bool CacheableScript(const std::string& script) {
  static const std::regex outside(
      R"(\b(connect|create\s+database|drop\s+database|external|shell|output|input|shadow|edit)\b)",
      std::regex::icase);
  return !std::regex_search(script, outside);
}

}  // namespace

FbTestDb::FbTestDb(Mode mode, std::unique_ptr<TempDir> dir, std::string path)
    : mode_(mode), dir_(std::move(dir)), path_(std::move(path)) {}

std::unique_ptr<FbTestDb> FbTestDb::Create(Mode mode, const std::string& file_name) {
  auto dir = std::make_unique<TempDir>("pelvar-db");
  const std::string path = dir->File(file_name);
  std::unique_ptr<FbTestDb> db(new FbTestDb(mode, std::move(dir), path));
  try {
    if (dbcache::Dir()) {
      const std::string key = dbcache::Key({kEmptyKeyText});
      {
        dbcache::KeyLock lock(key);
        if (!dbcache::Has(key)) {
          TempDir work("pelvar-db");
          CreateEmptyDatabase(work.File("empty.fdb"));
          dbcache::Store(work.File("empty.fdb"), key);
        }
      }
      dbcache::CopyOut(dbcache::EntryPath(key), path);
      db->state_key_ = key;
    } else {
      CreateEmptyDatabase(db->ConnectString());
    }
  } catch (...) {
    db->dropped_ = true;
    throw;
  }
  return db;
}

FbTestDb::~FbTestDb() {
  try {
    Drop();
  } catch (...) {
    // The temporary directory goes anyway.
  }
}

std::string FbTestDb::ConnectString() const {
  return mode_ == Mode::Server ? "localhost:" + path_ : path_;
}

std::string FbTestDb::RunSql(const std::string& script, const std::string& charset) const {
  if (!state_key_.empty() && mode_ == Mode::Embedded && CacheableScript(script)) return RunSqlCached(script, charset);
  state_key_.clear();
  return RunSqlNow(script, charset);
}

std::string FbTestDb::RunSqlNow(const std::string& script, const std::string& charset) const {
  const CommandResult r = RunIsql(script, ConnectString(), charset);
  if (r.exit_code != 0) throw std::runtime_error("isql-fb failed on " + ConnectString() + ": " + r.output);
  return r.output;
}

std::string FbTestDb::RunSqlCached(const std::string& script, const std::string& charset) const {
  // Only a file that still holds the cached bytes, and that no attachment of this
  // process may change underneath, can be replaced by the next cached state.
  const std::string parent = state_key_;
  const std::string known = dbcache::EntryPath(parent);
  state_key_.clear();
  if (dbcache::OpenInThisProcess(path_) || !dbcache::SameContents(path_, known)) return RunSqlNow(script, charset);
  const std::string key = dbcache::Key({parent, charset, script});
  if (dbcache::IsUncacheable(key)) return RunSqlNow(script, charset);

  dbcache::KeyLock lock(key);
  if (dbcache::Has(key)) {
    dbcache::CopyOut(dbcache::EntryPath(key), path_);
    state_key_ = key;
    return {};
  }
  std::string output = RunSqlNow(script, charset);
  // A script that prints may print what differs from run to run; keep only quiet ones.
  if (output.empty()) {
    dbcache::Store(path_, key);
    state_key_ = key;
  } else {
    dbcache::MarkUncacheable(key);
  }
  return output;
}

std::string FbTestDb::RunSqlFile(const std::string& file, const std::string& charset) const {
  return RunSql(ReadFile(file), charset);
}

void FbTestDb::Drop() {
  if (dropped_) return;
  dropped_ = true;
  if (!std::filesystem::exists(path_)) return;
  // An embedded database nobody holds is just a file; one still attached goes through
  // isql, which refuses it as before.
  if (mode_ == Mode::Embedded && !dbcache::OpenInThisProcess(path_)) {
    std::filesystem::remove(path_);
    return;
  }
  const CommandResult r = RunIsql("drop database;\n", ConnectString(), {});
  if (r.exit_code != 0) throw std::runtime_error("dropping " + ConnectString() + " failed: " + r.output);
}

}  // namespace pelvar::test
