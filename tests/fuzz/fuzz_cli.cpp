// Any argument vector through the whole command on a small simulated
// computer. The input's first byte chooses the encoding of the arguments
// (UTF-8 or UTF-16) and whether a console with keys is there; the rest is
// split at zero characters into at most twelve arguments, argv[0] first.
#include <algorithm>
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

// A local computer with protected, in-use, young, old and orphaned
// profiles; a reachable remote PC07 whose D: share is down; and PC08, whose
// remote registry service cannot be reached.
void Stage(SimPlatform& sim) {
  const struct {
    const char16_t* sid;
    const char16_t* folder;
    uint64_t hiveAge;  // in days; 0: no folder
  } kProfiles[] = {
      {u"S-1-5-18", u"C:\\Windows\\System32\\config\\systemprofile", 400},
      {u"S-1-5-21-1-1-1-1001", u"C:\\Users\\Old", 40},
      {u"S-1-5-21-1-1-1-1002", u"C:\\Users\\Young", 3},
      {u"S-1-5-21-1-1-1-1003", u"C:\\Users\\Busy", 90},
      {u"S-1-5-21-1-1-1-1004", u"C:\\Users\\Gone", 0},
      {u"S-1-5-21-1-1-1-1005", u"D:\\Profiles\\Far", 50},
  };
  for (SimComputer* computer : {&sim.Local(), &sim.AddRemote(u"PC07")}) {
    computer->SetCurrentVersion(u"7601");
    computer->SetUsualProfileList();
    computer->AddFolder(u"C:\\Users\\Public");
    for (const auto& profile : kProfiles) {
      computer->AddProfile(
          profile.sid, profile.folder,
          profile.hiveAge == 0 ? 0 : sim.Now() - profile.hiveAge * wf::sim::kTicksPerDay);
    }
    computer->FindFile(u"C:\\Users\\Busy\\NTUSER.DAT")->heldOpen = true;
  }
  sim.FindComputer(u"PC07")->SetShare(u'D', wf::kErrorBadNetPath);
  sim.AddRemote(u"PC08").remoteRegistryStatus = wf::kErrorBadNetPath;
}

std::vector<std::u16string> SplitArguments(const uint8_t* bytes, size_t size, bool utf16) {
  const std::u16string text =
      utf16 ? wf::fuzz::Utf16Units(bytes, size)
            : wf::sim::FromUtf8(std::string_view(reinterpret_cast<const char*>(bytes), size));
  std::vector<std::u16string> arguments;
  for (size_t start = 0; start < text.size() && arguments.size() < kMostArguments;) {
    const size_t end = std::min(text.find(u'\0', start), text.size());
    arguments.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return arguments;
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
    sim.SetConsole({{true, true, 'y', 0, 0}, {true, true, 'n', 0, 0}, {true, true, 'Y', 0, 0}});
  }
  wf::ResetConsoleKey();
  const int32_t exitCode = wf::WrenfoldMain(sim, static_cast<int>(arguments.size()), argv.data());

  wf::fuzz::ShowRun(arguments, sim.StandardOutput(), exitCode);
  wf::fuzz::Findings findings;
  const std::string& output = sim.StandardOutput();
  wf::fuzz::CheckLineEnds(output, findings);
  // Success, usage, invalid switch or refused remote deletion, declined
  // prompt, a deletion left listed, an unexpected exception; and what this
  // staging can fail with: missing file or path, access, a bad net path
  // (PC08, unknown computers, PC07's D: share), a held hive, cut paths.
  static constexpr uint32_t kAllowed[] = {
      0, 1, 2, 3, 5, 13, 32, 53, 87, 206, 303, 1223, wf::kExceptionAccessViolation,
  };
  if (std::ranges::find(kAllowed, static_cast<uint32_t>(exitCode)) == std::end(kAllowed)) {
    findings.push_back("exit code " + std::to_string(static_cast<uint32_t>(exitCode)));
  }
  wf::fuzz::ReportFindings(findings, output);
  return 0;
}
