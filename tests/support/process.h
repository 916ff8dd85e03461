// Running peer programs (isql-fb, gbak, zip, unzip, python3, ...) from tests.
#pragma once

#include <string>
#include <vector>

namespace pelvar::test {

struct CommandResult {
  int exit_code = -1;
  std::string output;  // stdout and stderr together
};

// Runs argv (no shell) with stdin_data on its standard input.
CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& stdin_data = {});

// Runs a shell command line.
CommandResult RunShell(const std::string& command_line);

// True when the program is on PATH.
bool HaveProgram(const std::string& name);

bool InCI();

// A fresh directory under /tmp that the firebird user can reach; removed with its
// contents when the object goes away.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "pelvar");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);

}  // namespace pelvar::test
