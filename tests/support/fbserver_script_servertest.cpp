// scripts/fbserver.sh run as the test command runs it: "stop" from the caller that
// started the server ends it (the guard and the server process gone, the port silent),
// and "stop" from a caller that found the server already running leaves it. Only when
// no server answers beforehand: a server someone else started is never stopped here
// (the test skips).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/firebird.h"
#include "support/process.h"

namespace pelvar::test {
namespace {

const std::string kScript = std::string(PELVAR_SOURCE_DIR) + "/scripts/fbserver.sh";

// The command name of a process that runs; empty when there is none (an ended process
// that its parent has not collected yet, a zombie, runs no more).
std::string CommandOf(const std::string& pid) {
  const std::string dir = "/proc/" + pid;
  if (!std::filesystem::exists(dir + "/stat")) return "";
  const std::string stat = ReadFile(dir + "/stat");
  const auto end = stat.rfind(") ");
  if (end == std::string::npos || stat.compare(end + 2, 1, "Z") == 0) return "";
  std::string comm = ReadFile(dir + "/comm");
  while (!comm.empty() && (comm.back() == '\n' || comm.back() == ' ')) comm.pop_back();
  return comm;
}

std::string ParentOf(const std::string& pid) {
  const std::string status = ReadFile("/proc/" + pid + "/status");
  const auto at = status.find("PPid:");
  if (at == std::string::npos) return "";
  return std::to_string(std::stol(status.substr(at + 5)));
}

TEST(FbServerScript, StopEndsWhatStartStartedAndNothingElse) {
  if (ServerReachable()) GTEST_SKIP() << "a server is running already; stopping it is not this test's to do";
  // The script starts the server as user firebird, and its pid file is that user's.
  if (geteuid() != 0) GTEST_SKIP() << "starting the server as its own user needs root";

  CommandResult r = RunCommand({"bash", kScript, "start"});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  if (r.output.find("already running") != std::string::npos)
    GTEST_SKIP() << "another server started meanwhile: " << r.output;
  ASSERT_TRUE(ServerReachable()) << r.output;
  EXPECT_EQ(r.output.find("unknown"), std::string::npos) << r.output;
  std::string server = ReadFile("/run/firebird3.0/fbguard.pid");
  server = std::to_string(std::stol(server));
  const std::string guard = ParentOf(server);
  EXPECT_EQ(CommandOf(server), "firebird");
  EXPECT_EQ(CommandOf(guard), "fbguard");

  // Another caller found it running: its stop leaves it.
  r = RunShell("bash '" + kScript + "' start && bash '" + kScript + "' stop");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("already running"), std::string::npos) << r.output;
  EXPECT_TRUE(ServerReachable());

  // The caller that started it stops it: guard and server end, the port is silent.
  r = RunCommand({"bash", kScript, "stop"});
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("stopped"), std::string::npos) << r.output;
  EXPECT_FALSE(ServerReachable());
  EXPECT_NE(CommandOf(server), "firebird");
  EXPECT_NE(CommandOf(guard), "fbguard");
  // Nothing noted is left for a later stop.
  r = RunCommand({"bash", kScript, "stop"});
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(r.output, "");
}

}  // namespace
}  // namespace pelvar::test
