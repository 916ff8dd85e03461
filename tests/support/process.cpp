#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace pelvar::test {

CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& stdin_data) {
  int in_pipe[2], out_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  // Spawned, not forked: a fork copies the page tables of the whole test process (with
  // the sanitizers, hundreds of megabytes), which made every command cost a tenth of a
  // second and more.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 2);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in_pipe[0]);
  close(out_pipe[1]);
  if (spawned != 0) {
    // As a shell reports a command it cannot run.
    close(in_pipe[1]);
    close(out_pipe[0]);
    return {127, {}};
  }
  // Feed stdin and drain stdout together so that neither side blocks the other.
  CommandResult result;
  size_t written = 0;
  int in_fd = in_pipe[1];
  if (stdin_data.empty()) {
    close(in_fd);
    in_fd = -1;
  } else {
    fcntl(in_fd, F_SETFL, O_NONBLOCK);
  }
  char buf[65536];
  for (;;) {
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {in_fd, POLLOUT, 0}};
    const int nfds = in_fd >= 0 ? 2 : 1;
    if (poll(fds, nfds, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (in_fd >= 0 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t n = write(in_fd, stdin_data.data() + written, stdin_data.size() - written);
      if (n > 0) written += static_cast<size_t>(n);
      if (n < 0 && errno != EAGAIN) written = stdin_data.size();
      if (written >= stdin_data.size()) {
        close(in_fd);
        in_fd = -1;
      }
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t n = read(out_pipe[0], buf, sizeof buf);
      if (n <= 0) break;
      result.output.append(buf, static_cast<size_t>(n));
    }
  }
  if (in_fd >= 0) close(in_fd);
  close(out_pipe[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

CommandResult RunShell(const std::string& command_line) {
  return RunCommand({"/bin/sh", "-c", command_line});
}

bool HaveProgram(const std::string& name) {
  return RunShell("command -v '" + name + "' >/dev/null 2>&1").exit_code == 0;
}

bool InCI() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && *ci != '\0' && std::string(ci) != "0" && std::string(ci) != "false";
}

TempDir::TempDir(const std::string& prefix) {
  std::string templ = "/tmp/" + prefix + "-XXXXXX";
  if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
  // The Firebird server runs as its own user and must create files here.
  chmod(path_.c_str(), 0777);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) throw std::runtime_error("cannot write " + path);
  f << data;
}

}  // namespace pelvar::test
