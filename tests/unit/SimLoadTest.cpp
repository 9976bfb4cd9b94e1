// Scenario files into the simulation, the state file it leaves, and the
// native executable that ties both to the command.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "SimTestSupport.h"
#include "platform/Text.h"
#include "sim/SimLoad.h"
#include "sim/SimPlatform.h"

namespace wf::sim {
namespace {

constexpr const char16_t* kProfileList =
    u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// The raw bytes of a value, or "missing".
std::string ValueBytes(SimComputer& pc, const char16_t* key, const char16_t* name,
                       uint32_t* type = nullptr) {
  const SimKey* found = pc.FindKey(key);
  if (found == nullptr) return "missing";
  auto value = found->values.find(std::u16string_view(name));
  if (value == found->values.end()) return "missing";
  if (type != nullptr) *type = value->second.type;
  return std::string(value->second.data.begin(), value->second.data.end());
}

const char* const kScenario = R"json({
  "description": "every part of a computer",
  "runners": ["native"],
  "arguments": ["/MIN:30"],
  "console": {"keys": ["y", "Shift+F6", {"char": 0, "scan": 59, "state": 256, "down": false}]},
  "clock": {"now": 134406000000000000, "biasMinutes": -60},
  "messages": {"5": "Access denied.\r\n", "2": null},
  "local": {
    "name": "Pc05",
    "build": 6002,
    "environment": {"systemdrive": "D:", "SystemRoot": null, "Extra": "x"},
    "registry": {
      "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList": {
        "values": {
          "ProfilesDirectory": {"type": "REG_EXPAND_SZ", "text": "%SystemDrive%\\Users"},
          "Public": "C:\\Users\\Public",
          "Bare": {"text": "ab", "terminated": false},
          "Multi": {"type": "REG_MULTI_SZ", "texts": ["a", "b"]},
          "Number": {"type": "REG_DWORD", "number": 7601},
          "Raw": {"type": 3, "hex": "0a0B"},
          "Nothing": {"type": "REG_SZ", "hex": ""}
        }
      },
      "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-1-1-1-1002": {
        "denyDelete": true, "denyRead": true
      },
      "software\\microsoft\\windows nt\\currentversion\\profilelist\\S-1-5-21-1-1-1-1001": {
        "values": {"ProfileImagePath": {"type": "REG_EXPAND_SZ", "text": "C:\\Users\\Bob"}}
      }
    },
    "volumes": {"C:": {"freeBytes": 1572864000, "totalBytes": 64000000000, "availableBytes": 1000},
                "d": {"freeBytes": 5}},
    "files": [
      {"path": "D:\\Locked.dat", "denyAccess": true},
      {"path": "C:\\Users\\Bob", "directory": true, "modified": 134117298000000000},
      {"path": "C:\\Users\\Bob\\NTUSER.DAT", "modified": 134371440000000000, "heldOpen": true, "attributes": 2},
      {"path": "C:\\Users\\Ann\\NTUSER.DAT", "modified": 134380008000000000}
    ]
  },
  "remotes": {
    "PC07": {
      "registry": {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion": {"values": {"CurrentBuildNumber": "2600"}}},
      "shares": {"C$": "up", "D$": "down", "e$": "denied", "F$": 1231},
      "remoteRegistry": 53,
      "deleteProfile": {"fail": {"S-1-5-21-7-7-7-1001": 5}}
    },
    "PC08": {"remoteRegistry": {"status": 1722, "fromConnection": 2}}
  },
  "faults": [
    {"call": "RegOpenKeyEx", "occurrence": 2, "status": 5},
    {"call": "FindFirstFile", "exception": "accessViolation"}
  ],
  "expect": {"exit": 0, "stdout": "x.out"}
})json";

TEST(SimLoadTest, StagesEveryPartOfAScenario) {
  SimPlatform sim;
  ASSERT_EQ(LoadScenario(kScenario, sim), "");
  SimComputer& local = sim.Local();

  char16_t name[16];
  uint32_t size = 16;
  ASSERT_TRUE(sim.GetComputerName(name, &size));
  EXPECT_EQ(std::u16string(name), u"Pc05");
  EXPECT_EQ(local.build, 6002u);

  // Defaults merged with the scenario's variables; null removes one.
  char16_t expanded[64];
  sim.ExpandEnvironmentStrings(u"%SystemDrive%|%SystemRoot%|%EXTRA%", expanded, 64);
  EXPECT_EQ(std::u16string(expanded), u"D:|%SystemRoot%|x");

  uint32_t type = 0;
  EXPECT_EQ(ValueBytes(local, kProfileList, u"ProfilesDirectory", &type),
            std::string("%\0S\0y\0s\0t\0e\0m\0D\0r\0i\0v\0e\0%\0\\\0U\0s\0e\0r\0s\0\0\0", 40));
  EXPECT_EQ(type, kRegExpandSz);
  EXPECT_EQ(ValueBytes(local, kProfileList, u"Public", &type).size(), 32u);  // terminated
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(ValueBytes(local, kProfileList, u"Bare"), std::string("a\0b\0", 4));
  EXPECT_EQ(ValueBytes(local, kProfileList, u"Multi", &type),
            std::string("a\0\0\0b\0\0\0\0\0", 10));
  EXPECT_EQ(type, kRegMultiSz);
  EXPECT_EQ(ValueBytes(local, kProfileList, u"Number", &type), std::string("\xB1\x1D\0\0", 4));
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(ValueBytes(local, kProfileList, u"Raw", &type), "\x0a\x0b");
  EXPECT_EQ(type, kRegBinary);
  EXPECT_EQ(ValueBytes(local, kProfileList, u"Nothing", &type), "");
  // Key paths match case-insensitively and keep the first spelling.
  EXPECT_EQ(local.ProfileKeys(),
            (std::vector<std::u16string>{u"S-1-5-21-1-1-1-1001", u"S-1-5-21-1-1-1-1002"}));
  const SimKey* denied = local.FindKey(std::u16string(kProfileList) + u"\\S-1-5-21-1-1-1-1002");
  EXPECT_TRUE(denied->denyDelete);
  EXPECT_TRUE(denied->denyRead);
  EXPECT_FALSE(local.FindKey(kProfileList)->denyRead);

  ASSERT_NE(local.Volume(u'C'), nullptr);
  EXPECT_EQ(local.Volume(u'C')->freeBytes, 1572864000u);
  EXPECT_EQ(local.Volume(u'C')->totalBytes, 64000000000u);
  EXPECT_EQ(local.Volume(u'C')->availableBytes, 1000u);
  ASSERT_NE(local.Volume(u'D'), nullptr);
  EXPECT_EQ(local.Volume(u'D')->freeBytes, 5u);
  EXPECT_EQ(local.Volume(u'D')->availableBytes, 5u);  // no quota: the free bytes
  EXPECT_TRUE(local.FindFile(u"D:\\Locked.dat")->denyAccess);
  EXPECT_FALSE(local.FindFile(u"C:\\Users\\Bob")->denyAccess);

  const FileTime now = At(2026, 12, 1, 12);
  EXPECT_EQ(sim.Now(), now);
  const SimFile* hive = local.FindFile(u"C:\\Users\\Bob\\NTUSER.DAT");
  ASSERT_NE(hive, nullptr);
  EXPECT_EQ(hive->lastWriteTime, now - 40 * kTicksPerDay);
  EXPECT_TRUE(hive->heldOpen);
  EXPECT_EQ(hive->attributes, kFileAttributeHidden);
  EXPECT_EQ(local.FindFile(u"C:\\Users\\Bob")->lastWriteTime, At(2026, 1, 1, 8, 30));
  EXPECT_EQ(local.FindFile(u"C:\\Users\\Ann\\NTUSER.DAT")->lastWriteTime,
            now - 30 * kTicksPerDay - 2 * 60 * kTicksPerMinute);
  EXPECT_EQ(local.Folders(),
            (std::vector<std::u16string>{u"C:\\Users", u"C:\\Users\\Ann", u"C:\\Users\\Bob"}));
  FileTime localTime = 0;
  sim.FileTimeToLocalFileTime(now, &localTime);
  EXPECT_EQ(localTime, At(2026, 12, 1, 13));

  SimComputer* pc07 = sim.FindComputer(u"pc07");
  ASSERT_NE(pc07, nullptr);
  EXPECT_EQ(pc07->ShareStatus(u'C'), 0u);
  EXPECT_EQ(pc07->ShareStatus(u'D'), kErrorBadNetPath);
  EXPECT_EQ(pc07->ShareStatus(u'E'), kErrorAccessDenied);
  EXPECT_EQ(pc07->ShareStatus(u'F'), 1231u);
  EXPECT_EQ(pc07->remoteRegistryStatus, 53u);
  EXPECT_EQ(pc07->DeleteProfileFailure(u"S-1-5-21-7-7-7-1001"), 5u);
  EXPECT_NE(pc07->Volume(u'C'), nullptr);  // the default volume
  SimComputer* pc08 = sim.FindComputer(u"PC08");
  ASSERT_NE(pc08, nullptr);
  EXPECT_EQ(pc08->remoteRegistryStatus, 1722u);
  EXPECT_EQ(pc08->remoteRegistryFromConnection, 2u);

  LongText text;
  sim.GetSystemErrorText(5, text.Data(), LongText::kCapacity);
  EXPECT_EQ(std::u16string(text.Data()), u"Access denied.\r\n");
  sim.GetSystemErrorText(2, text.Data(), LongText::kCapacity);
  EXPECT_TRUE(text.Empty());

  // "y": press and release; Shift+F6: Shift, then F6 pressed and released;
  // then the raw event.
  ASSERT_TRUE(sim.HasConsole());
  EXPECT_EQ(sim.PendingConsoleEvents(), 6u);

  RegKey key = kNoKey;
  EXPECT_EQ(sim.RegOpenKeyEx(kHKeyLocalMachine, kProfileList, 0, kKeyRead, &key), 0);
  EXPECT_EQ(sim.RegOpenKeyEx(kHKeyLocalMachine, kProfileList, 0, kKeyRead, &key), 5);
  FindData data;
  EXPECT_THROW(sim.FindFirstFile(u"C:\\Users", &data), SimFault);
}

TEST(SimLoadTest, KeyNamesBecomeTheEventsOfARealConsole) {
  struct Case {
    const char* name;
    std::vector<ConsoleInputEvent> events;
  };
  const Case cases[] = {
      {"y", {{true, true, 'y', 21, 0}, {true, false, 'y', 21, 0}}},
      {"N",
       {{true, true, 0, 42, kShiftPressed},
        {true, true, 'N', 49, kShiftPressed},
        {true, false, 'N', 49, kShiftPressed}}},
      {"1", {{true, true, '1', 2, 0}, {true, false, '1', 2, 0}}},
      {"f1", {{true, true, 0, 59, 0}, {true, false, 0, 59, 0}}},
      {"Up", {{true, true, 0, 72, kEnhancedKey}, {true, false, 0, 72, kEnhancedKey}}},
      {"Enter", {{true, true, 13, 28, 0}, {true, false, 13, 28, 0}}},
      {"Shift+F6",
       {{true, true, 0, 42, kShiftPressed},
        {true, true, 0, 64, kShiftPressed},
        {true, false, 0, 64, kShiftPressed}}},
      {"Ctrl+C",
       {{true, true, 0, 29, kLeftCtrlPressed},
        {true, true, 3, 46, kLeftCtrlPressed},
        {true, false, 3, 46, kLeftCtrlPressed}}},
      {"Alt+F4",
       {{true, true, 0, 56, kLeftAltPressed},
        {true, true, 0, 62, kLeftAltPressed},
        {true, false, 0, 62, kLeftAltPressed}}},
      {"Shift", {{true, true, 0, 42, kShiftPressed}, {true, false, 0, 42, kShiftPressed}}},
  };
  for (const Case& c : cases) {
    std::vector<ConsoleInputEvent> events;
    ASSERT_TRUE(KeyEvents(c.name, &events)) << c.name;
    ASSERT_EQ(events.size(), c.events.size()) << c.name;
    for (size_t i = 0; i < events.size(); ++i) {
      EXPECT_EQ(events[i].isKeyEvent, c.events[i].isKeyEvent) << c.name << " " << i;
      EXPECT_EQ(events[i].keyDown, c.events[i].keyDown) << c.name << " " << i;
      EXPECT_EQ(events[i].character, c.events[i].character) << c.name << " " << i;
      EXPECT_EQ(events[i].scanCode, c.events[i].scanCode) << c.name << " " << i;
      EXPECT_EQ(events[i].controlKeyState, c.events[i].controlKeyState) << c.name << " " << i;
    }
  }
  std::vector<ConsoleInputEvent> events;
  EXPECT_FALSE(KeyEvents("F13", &events));
  EXPECT_FALSE(KeyEvents("Hyper+F1", &events));
  EXPECT_FALSE(KeyEvents("", &events));
}

TEST(SimLoadTest, ProblemsAreReportedWithTheirPlace) {
  struct Case {
    const char* json;
    const char* expected;  // part of the message
  };
  const Case cases[] = {
      {R"({"local": {"nmae": "PC01"}})", "local: unknown key \"nmae\""},
      {R"({"remotes": {"PC07": {"build": 7601}}})", "remotes.PC07: unknown key \"build\""},
      {R"({"local": {"registry": {"K": {"values": {"V": {"type": "REG_FOO", "hex": ""}}}}}})",
       "local.registry[\"K\"].values.V.type: unknown registry type"},
      {R"({"local": {"registry": {"K": {"values": {"V": {"type": 3, "hex": "abc"}}}}}})",
       "even number of hex digits"},
      {R"({"local": {"registry": {"K": {"values": {"V": {"text": "a", "number": 1}}}}}})",
       "exactly one of"},
      {R"({"local": {"files": [{"path": "C:\\a"}, {"path": "C:\\a\\b"}]}})",
       "local.files[1].path: a file stands where a folder is needed: C:\\a"},
      {R"({"local": {"files": [{"path": "Users\\Bob"}]}})",
       "local.files[0].path: not a local path"},
      // Times come resolved into ticks: the written forms are the runner's.
      {R"({"local": {"files": [{"path": "C:\\a", "modified": "-40d"}]}})",
       "local.files[0].modified: must be a whole number of file-time ticks"},
      {R"({"local": {"files": [{"path": "C:\\a", "modified": -1}]}})", "local.files[0].modified"},
      {R"({"remotes": {"PC07": {"shares": {"C$": "sideways"}}}})", "remotes.PC07.shares.C$"},
      {R"({"remotes": {"PC07": {"shares": {"C$": 0}}}})", "remotes.PC07.shares.C$"},
      {R"({"local": {"volumes": {"C:": {"freeBytes": 5, "availableBytes": 6}}}})",
       "local.volumes.C:.availableBytes: must be a whole number from 0 to 5"},
      {R"({"remotes": {"PC07": {"remoteRegistry": {"status": 5}}}})",
       "remotes.PC07.remoteRegistry: needs status and fromConnection"},
      {R"({"remotes": {"PC07": {"remoteRegistry": {"status": 5, "fromConnection": 0}}}})",
       "remotes.PC07.remoteRegistry.fromConnection: counts from 1"},
      {R"({"remotes": {"PC07": {"remoteRegistry": {"status": 0, "fromConnection": 2}}}})",
       "remotes.PC07.remoteRegistry.status: must be non-zero"},
      {R"({"faults": [{"call": "RegFlushKey", "status": 5}]})", "faults[0].call"},
      {R"({"faults": [{"call": "CreateFile"}]})", "faults[0]: needs either status or exception"},
      {R"({"faults": [{"call": "CreateFile", "exception": "procNotFound", "module": "a.dll"}]})",
       "needs the function name or the ordinal"},
      {R"({"console": {"keys": ["Meta+Q"]}})", "console.keys[0]: unknown key name"},
      {R"({"clock": {"now": "2026-12-01T12:00:00Z"}})", "clock.now"},
      {R"({"remotes": {"pc01": {}}})", "remotes.pc01: needs a name of its own"},
      {R"({"local": )", "not valid JSON"},
  };
  for (const Case& c : cases) {
    SimPlatform sim;
    const std::string problem = LoadScenario(c.json, sim);
    EXPECT_NE(problem.find(c.expected), std::string::npos) << c.json << "\n gave: " << problem;
  }
}

TEST(SimLoadTest, StateListsWhatIsLeftAndWhatWasDone) {
  SimPlatform sim;
  ASSERT_EQ(LoadScenario(R"({
    "local": {"registry": {
      "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-2": {},
      "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-1": {}},
      "files": [{"path": "C:\\Users\\Bob\\NTUSER.DAT"}, {"path": "c:\\users\\ann", "directory": true},
                {"path": "C:\\Users\\Ann\\b.txt"}, {"path": "C:\\USERS\\ANN\\A.TXT"}]},
    "remotes": {"PC07": {"files": [{"path": "D:\\x.dat"}]}},
    "console": {"keys": ["y"]}})",
                         sim),
            "");
  EXPECT_TRUE(sim.DeleteProfile(u"S-1-5-21-2", u"C:\\Users\\Bob\\", nullptr));
  RegKey list = kNoKey;
  ASSERT_EQ(sim.RegOpenKeyEx(kHKeyLocalMachine, kProfileList, 0, kKeyRead, &list), 0);
  EXPECT_EQ(sim.RegDeleteKey(list, u"S-1-5-21-9"), kErrorFileNotFound);
  FindData data;
  EXPECT_NE(sim.FindFirstFile(u"C:\\Users\\Ann", &data), kInvalidHandle);  // left open
  ASSERT_TRUE(sim.OpenConsoleOutput());
  sim.WriteConsoleByte('y');
  const nlohmann::json state = nlohmann::json::parse(StateText(sim, int32_t(0xC0000005u)));
  EXPECT_EQ(state["local"]["profileKeys"], nlohmann::json({"S-1-5-21-1"}));
  // Sorted case-insensitively; staged folders keep their first spelling.
  EXPECT_EQ(state["local"]["folders"], nlohmann::json({"C:\\Users", "C:\\Users\\ann"}));
  EXPECT_EQ(state["local"]["files"],
            nlohmann::json({"C:\\Users\\ann\\A.TXT", "C:\\Users\\ann\\b.txt"}));
  EXPECT_EQ(state["remotes"]["PC07"]["profileKeys"], nlohmann::json::array());
  EXPECT_EQ(state["remotes"]["PC07"]["files"], nlohmann::json({"D:\\x.dat"}));
  EXPECT_EQ(state["calls"], nlohmann::json::parse(R"([
    ["DeleteProfile", "S-1-5-21-2", "C:\\Users\\Bob\\", null],
    ["RegDeleteKey", "S-1-5-21-9"]])"));
  EXPECT_EQ(state["openHandles"], 2);
  EXPECT_EQ(state["exitCode"], 3221225477u);
  EXPECT_EQ(state["consoleEcho"], "y");
}

// --- The native executable ---------------------------------------------------

class NativeWrenfoldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "wrenfold-sim-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  // Runs the executable with a scenario; returns its exit status.
  int Run(const std::string& scenario, const std::string& arguments) {
    std::ofstream(dir_ + "/scenario.json") << scenario;
    const std::string command = "WRENFOLD_SIMULATION='" + dir_ + "/scenario.json' " +
                                "WRENFOLD_SIMULATION_STATE='" + dir_ + "/state.json' '" +
                                WRENFOLD_NATIVE_EXE + "' " + arguments + " >'" + dir_ +
                                "/stdout' 2>'" + dir_ + "/stderr' </dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Read(const std::string& name) {
    std::ifstream file(dir_ + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
  }
  std::string dir_;
};

TEST_F(NativeWrenfoldTest, ABadScenarioStopsBeforeTheCommandRuns) {
  EXPECT_EQ(Run(R"({"local": {"volumes": {"C:": {"free": 1}}}})", "/MIN:30"), 78);
  EXPECT_NE(Read("stderr").find("local.volumes.C:: unknown key \"free\""), std::string::npos)
      << Read("stderr");
  EXPECT_EQ(Read("stdout"), "");
  EXPECT_EQ(Read("state.json"), "");
}

TEST_F(NativeWrenfoldTest, ArgumentsArriveAsUtf16) {
  // U+00C4 as UTF-8 on the command line comes out as the single byte 0xC4.
  EXPECT_EQ(Run("{}", "'/\xC3\x84'"), 87);
  EXPECT_NE(Read("stdout").find("\"/\xC4\""), std::string::npos) << Read("stdout");
}

TEST_F(NativeWrenfoldTest, StateFileCarriesTheFullExitCode) {
  const int status = Run(R"({"local": {"name": "PC09"}})", "/?");
  const nlohmann::json state = nlohmann::json::parse(Read("state.json"));
  EXPECT_EQ(status, static_cast<int>(state["exitCode"].get<uint32_t>() & 0xFF));
  EXPECT_EQ(state["local"]["profileKeys"], nlohmann::json::array());
  EXPECT_NE(Read("stdout"), "");
}

}  // namespace
}  // namespace wf::sim
