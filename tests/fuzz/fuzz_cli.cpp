// Any argument vector through the whole command on a small simulated
// computer. The input's first byte chooses the encoding of the arguments
// (UTF-8 or UTF-16) and whether a console with keys is there; the rest is
// split at zero characters into at most twelve arguments, argv[0] first.
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzChecks.h"
#include "cli/RunControl.h"
#include "platform/ConsoleKey.h"
#include "sim/SimPlatform.h"

namespace {

using wf::sim::SimComputer;
using wf::sim::SimPlatform;

constexpr size_t kMostArguments = 12;
constexpr uint64_t kDay = wf::sim::kTicksPerDay;

void StageProfile(SimComputer& computer, std::u16string_view sid, std::u16string_view folder,
                  wf::FileTime hiveWritten, bool held) {
  std::u16string key(wf::sim::kProfileListPath);
  key += u"\\";
  key += sid;
  computer.SetString(key, u"ProfileImagePath", folder, wf::kRegExpandSz);
  if (hiveWritten == 0) return;
  wf::sim::SimFile& hive = computer.AddFile(std::u16string(folder) + u"\\NTUSER.DAT", hiveWritten);
  hive.heldOpen = held;
}

// A local computer with protected, in-use, young, old and orphaned
// profiles; a reachable remote PC07 whose D: share is down; and PC08, whose
// remote registry service cannot be reached.
void Stage(SimPlatform& sim) {
  const wf::FileTime now = sim.Now();
  for (SimComputer* computer : {&sim.Local(), &sim.AddRemote(u"PC07")}) {
    const std::u16string list(wf::sim::kProfileListPath);
    computer->SetString(u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", u"CurrentBuildNumber",
                        u"7601");
    computer->SetString(list, u"ProfilesDirectory", u"%SystemDrive%\\Users", wf::kRegExpandSz);
    computer->SetString(list, u"Public", u"C:\\Users\\Public");
    computer->SetString(list, u"Default", u"C:\\Users\\Default");
    computer->AddFolder(u"C:\\Users\\Public");
    StageProfile(*computer, u"S-1-5-18", u"C:\\Windows\\System32\\config\\systemprofile",
                 now - 400 * kDay, false);
    StageProfile(*computer, u"S-1-5-21-1-1-1-1001", u"C:\\Users\\Old", now - 40 * kDay, false);
    StageProfile(*computer, u"S-1-5-21-1-1-1-1002", u"C:\\Users\\Young", now - 3 * kDay, false);
    StageProfile(*computer, u"S-1-5-21-1-1-1-1003", u"C:\\Users\\Busy", now - 90 * kDay, true);
    StageProfile(*computer, u"S-1-5-21-1-1-1-1004", u"C:\\Users\\Gone", 0, false);
    StageProfile(*computer, u"S-1-5-21-1-1-1-1005", u"D:\\Profiles\\Far", now - 50 * kDay, false);
  }
  sim.FindComputer(u"PC07")->SetShare(u'D', wf::kErrorBadNetPath);
  sim.AddRemote(u"PC08").remoteRegistryStatus = wf::kErrorBadNetPath;
}

std::vector<std::u16string> SplitArguments(const uint8_t* bytes, size_t size, bool utf16) {
  std::vector<std::u16string> arguments;
  std::u16string current;
  std::string narrow;
  auto finish = [&] {
    if (!utf16) current = wf::sim::FromUtf8(narrow);
    arguments.push_back(current);
    current.clear();
    narrow.clear();
  };
  if (utf16) {
    for (size_t i = 0; i + 1 < size && arguments.size() < kMostArguments; i += 2) {
      const auto c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
      if (c == 0) {
        finish();
      } else {
        current.push_back(c);
      }
    }
  } else {
    for (size_t i = 0; i < size && arguments.size() < kMostArguments; ++i) {
      if (bytes[i] == 0) {
        finish();
      } else {
        narrow.push_back(static_cast<char>(bytes[i]));
      }
    }
  }
  if (arguments.size() < kMostArguments && (!current.empty() || !narrow.empty())) finish();
  return arguments;
}

bool AllowedExitCode(uint32_t code) {
  // Success, usage, invalid switch or refused remote deletion, declined
  // prompt, a deletion left listed, an unexpected exception; and what this
  // staging can fail with: missing file or path, access, a bad net path
  // (PC08, unknown computers, PC07's D: share), a held hive, cut paths.
  static constexpr uint32_t kAllowed[] = {
      0, 1, 2, 3, 5, 13, 32, 53, 87, 206, 303, 1223, wf::kExceptionAccessViolation,
  };
  for (const uint32_t allowed : kAllowed) {
    if (code == allowed) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = bytes[0];
  const std::vector<std::u16string> arguments =
      SplitArguments(bytes + 1, size - 1, (mode & 1) != 0);
  std::vector<const char16_t*> argv;
  for (const std::u16string& argument : arguments) argv.push_back(argument.c_str());
  argv.push_back(nullptr);

  SimPlatform sim;
  Stage(sim);
  if ((mode & 2) != 0) {
    std::vector<wf::ConsoleInputEvent> keys;
    for (const char key : {'y', 'n', 'Y'}) {
      keys.push_back({true, true, static_cast<uint8_t>(key), 0, 0});
    }
    sim.SetConsole(keys);
  }
  wf::ResetConsoleKey();
  const int32_t exitCode = wf::WrenfoldMain(sim, static_cast<int>(arguments.size()), argv.data());

  wf::fuzz::ShowRun(arguments, sim.StandardOutput(), exitCode);
  wf::fuzz::Findings findings;
  const std::string& output = sim.StandardOutput();
  wf::fuzz::CheckLineEnds(output, findings);
  if (!AllowedExitCode(static_cast<uint32_t>(exitCode))) {
    findings.push_back("exit code " + std::to_string(static_cast<uint32_t>(exitCode)));
  }
  wf::fuzz::ReportFindings(findings, output);
  return 0;
}
