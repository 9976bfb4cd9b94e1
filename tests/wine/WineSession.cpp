#include "WineSession.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

extern char** environ;

namespace wf::testing {
namespace {

// Wine's own settings for the test runs: no debug channels, and no prompts
// to install the .NET and HTML engines into a new prefix.
const Environment kWineSettings = {
    {"WINEDEBUG", "-all"},
    {"WINEDLLOVERRIDES", "mscoree,mshtml="},
};

void SetEntry(std::vector<std::string>& environment, const std::string& name,
              const std::string& value) {
  const std::string prefix = name + "=";
  for (std::string& entry : environment) {
    if (entry.compare(0, prefix.size(), prefix) == 0) {
      entry = prefix + value;
      return;
    }
  }
  environment.push_back(prefix + value);
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& command,
                         const std::vector<std::string>& environment,
                         std::chrono::seconds timeLimit) {
  ProcessResult result;
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) return result;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);

  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  if (spawned != 0) {
    close(pipeEnds[0]);
    return result;
  }
  result.started = true;

  // Read until the pipe closes or the time limit passes. Tools that leave
  // a background process holding the pipe (wineserver) end the read as the
  // started process itself exits.
  const auto deadline = std::chrono::steady_clock::now() + timeLimit;
  char buffer[4096];
  int status = 0;
  bool exited = false;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timedOut = true;
      break;
    }
    pollfd waitFor{pipeEnds[0], POLLIN, 0};
    const int ready = poll(&waitFor, 1, static_cast<int>(std::min<long long>(left.count(), 200)));
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0) {
      const ssize_t got = read(pipeEnds[0], buffer, sizeof buffer);
      if (got > 0) {
        result.output.append(buffer, static_cast<size_t>(got));
        continue;
      }
      if (got == 0) break;
      if (errno != EINTR && errno != EAGAIN) break;
      continue;
    }
    if (waitpid(pid, &status, WNOHANG) == pid) {
      exited = true;
      // Collect whatever is still buffered in the pipe.
      fcntl(pipeEnds[0], F_SETFL, O_NONBLOCK);
      ssize_t got;
      while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0) {
        result.output.append(buffer, static_cast<size_t>(got));
      }
      break;
    }
  }
  close(pipeEnds[0]);

  if (result.timedOut) kill(pid, SIGKILL);
  if (!exited) {
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (!result.timedOut && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

WinePrefix::~WinePrefix() {
  Destroy();
}

bool WinePrefix::Create(std::string* error, const Environment& environment) {
  environment_ = environment;
  std::error_code failure;
  const std::filesystem::path temp = std::filesystem::temp_directory_path(failure);
  if (failure) {
    *error = "no temporary folder: " + failure.message();
    return false;
  }
  std::string pattern = (temp / "wrenfold-wine-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    *error = "cannot create the prefix folder: " + std::string(std::strerror(errno));
    return false;
  }
  path_ = pattern;

  // A persistent server keeps every later start of wine fast; it is
  // stopped in Destroy.
  const ProcessResult server = RunTool({"wineserver", "-p"});
  if (!server.started || server.exitCode != 0) {
    *error = "wineserver -p failed";
    Destroy();
    return false;
  }
  const ProcessResult boot = RunTool({"wineboot", "-i"});
  if (!boot.started || boot.timedOut || boot.exitCode != 0) {
    *error = boot.timedOut ? "wineboot -i timed out" : "wineboot -i failed";
    Destroy();
    return false;
  }
  return true;
}

void WinePrefix::Destroy() {
  if (path_.empty()) return;
  RunTool({"wineserver", "-k"}, std::chrono::seconds(60));
  RunTool({"wineserver", "-w"}, std::chrono::seconds(60));
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
  path_.clear();
}

std::vector<std::string> WinePrefix::BaseEnvironment(const Environment& extra) const {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) environment.emplace_back(*entry);
  SetEntry(environment, "WINEPREFIX", path_);
  for (const auto& [name, value] : kWineSettings) SetEntry(environment, name, value);
  for (const auto& [name, value] : environment_) SetEntry(environment, name, value);
  for (const auto& [name, value] : extra) SetEntry(environment, name, value);
  return environment;
}

ProcessResult WinePrefix::Run(const std::string& program, const std::vector<std::string>& arguments,
                              const Environment& extra, std::chrono::seconds timeLimit) const {
  std::vector<std::string> command = {"wine", program};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return RunProcess(command, BaseEnvironment(extra), timeLimit);
}

ProcessResult WinePrefix::RunTool(const std::vector<std::string>& command,
                                  std::chrono::seconds timeLimit) const {
  return RunProcess(command, BaseEnvironment({}), timeLimit);
}

}  // namespace wf::testing
