// Runs Windows programs under Wine for the tests: a private Wine prefix,
// created once and removed at the end, and whole-process runs with standard
// output captured as bytes.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace wf::testing {

struct ProcessResult {
  bool started = false;   // the process could be started
  bool timedOut = false;  // it was killed after the time limit
  int exitCode = -1;      // the exit status (the low 8 bits of a Windows exit code)
  std::string output;     // standard output, byte for byte
};

using Environment = std::vector<std::pair<std::string, std::string>>;

class WinePrefix {
 public:
  WinePrefix() = default;
  ~WinePrefix();
  WinePrefix(const WinePrefix&) = delete;
  WinePrefix& operator=(const WinePrefix&) = delete;

  // Makes a new prefix in the system's temporary folder, boots it and keeps
  // a wineserver running for it until Destroy. The entries of environment
  // apply to the server and to every later run (the server takes the time
  // zone from TZ as it starts). On failure *error says why.
  bool Create(std::string* error, const Environment& environment = {});
  // Stops the prefix's wineserver and removes the prefix folder.
  void Destroy();

  const std::string& Path() const { return path_; }
  bool Ready() const { return !path_.empty(); }

  // Runs `wine program arguments...` in the prefix. Standard input is empty,
  // standard error is dropped (Wine writes its own messages there), and the
  // entries of extra replace or add environment variables.
  ProcessResult Run(const std::string& program, const std::vector<std::string>& arguments,
                    const Environment& extra = {},
                    std::chrono::seconds timeLimit = std::chrono::seconds(180)) const;

  // Runs a Wine tool such as wineboot or wineserver in the prefix.
  ProcessResult RunTool(const std::vector<std::string>& command,
                        std::chrono::seconds timeLimit = std::chrono::seconds(300)) const;

 private:
  std::vector<std::string> BaseEnvironment(const Environment& extra) const;

  std::string path_;
  Environment environment_;
};

// Runs command (searched in PATH) with the given environment; see
// WinePrefix::Run for the treatment of the standard streams.
ProcessResult RunProcess(const std::vector<std::string>& command,
                         const std::vector<std::string>& environment,
                         std::chrono::seconds timeLimit);

}  // namespace wf::testing
