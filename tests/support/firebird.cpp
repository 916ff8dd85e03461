#include "support/firebird.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <filesystem>
#include <stdexcept>

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

FbTestDb::FbTestDb(Mode mode, std::unique_ptr<TempDir> dir, std::string path)
    : mode_(mode), dir_(std::move(dir)), path_(std::move(path)) {}

std::unique_ptr<FbTestDb> FbTestDb::Create(Mode mode, const std::string& file_name) {
  auto dir = std::make_unique<TempDir>("pelvar-db");
  const std::string path = dir->File(file_name);
  std::unique_ptr<FbTestDb> db(new FbTestDb(mode, std::move(dir), path));
  const std::string script = "create database '" + db->ConnectString() + "' user '" +
                             kSysdbaUser + "' password '" + kSysdbaPassword +
                             "' page_size 8192 default character set WIN1250;\n";
  const CommandResult r = RunIsql(script, {}, {});
  if (r.exit_code != 0) {
    db->dropped_ = true;
    throw std::runtime_error("creating " + db->ConnectString() + " failed: " + r.output);
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
  const CommandResult r = RunIsql(script, ConnectString(), charset);
  if (r.exit_code != 0) throw std::runtime_error("isql-fb failed on " + ConnectString() + ": " + r.output);
  return r.output;
}

std::string FbTestDb::RunSqlFile(const std::string& file, const std::string& charset) const {
  return RunSql(ReadFile(file), charset);
}

void FbTestDb::Drop() {
  if (dropped_) return;
  dropped_ = true;
  if (!std::filesystem::exists(path_)) return;
  const CommandResult r = RunIsql("drop database;\n", ConnectString(), {});
  if (r.exit_code != 0) throw std::runtime_error("dropping " + ConnectString() + " failed: " + r.output);
}

}  // namespace pelvar::test
