#include "sim/SimLoad.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

namespace wf::sim {
namespace {

using Json = nlohmann::json;

// A problem in the scenario, with the place it was found.
struct LoadError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A place in the scenario: the parts appended in order.
template <typename... Parts>
std::string Place(const std::string& first, const Parts&... parts) {
  std::string text = first;
  ((text += parts), ...);
  return text;
}

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw LoadError(where + ": " + what);
}

std::u16string AsText(const Json& value, const std::string& where) {
  if (!value.is_string()) Fail(where, "must be a string");
  return FromUtf8(value.get<std::string>());
}

uint64_t Unsigned(const Json& value, const std::string& where, uint64_t max) {
  if (!value.is_number_unsigned() || value.get<uint64_t>() > max) {
    Fail(where, "must be a whole number from 0 to " + std::to_string(max));
  }
  return value.get<uint64_t>();
}

bool Flag(const Json& value, const std::string& where) {
  if (!value.is_boolean()) Fail(where, "must be true or false");
  return value.get<bool>();
}

// --- Numbers and times -------------------------------------------------------

bool ParseDigits(std::string_view text, size_t at, size_t count, uint32_t* number) {
  if (at + count > text.size()) return false;
  uint32_t n = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    n = n * 10 + static_cast<uint32_t>(text[i] - '0');
  }
  *number = n;
  return true;
}

// A time as the loader takes it: whole file-time ticks (100 ns since
// 1601-01-01 UTC). The scenario runner resolves the written forms ("-40d",
// "2026-01-01T08:30:00Z") before a scenario reaches the simulation, so they
// are parsed in one place only.
FileTime Ticks(const Json& value, const std::string& where) {
  if (!value.is_number_unsigned()) Fail(where, "must be a whole number of file-time ticks");
  return value.get<uint64_t>();
}

// --- Console keys ------------------------------------------------------------

struct NamedKey {
  const char* name;
  uint8_t character;
  uint16_t scanCode;
  bool enhanced;
};

constexpr NamedKey kNamedKeys[] = {
    {"F1", 0, 59, false},    {"F2", 0, 60, false},        {"F3", 0, 61, false},
    {"F4", 0, 62, false},    {"F5", 0, 63, false},        {"F6", 0, 64, false},
    {"F7", 0, 65, false},    {"F8", 0, 66, false},        {"F9", 0, 67, false},
    {"F10", 0, 68, false},   {"F11", 0, 87, false},       {"F12", 0, 88, false},
    {"Up", 0, 72, true},     {"Down", 0, 80, true},       {"Left", 0, 75, true},
    {"Right", 0, 77, true},  {"Home", 0, 71, true},       {"End", 0, 79, true},
    {"PageUp", 0, 73, true}, {"PageDown", 0, 81, true},   {"Insert", 0, 82, true},
    {"Delete", 0, 83, true}, {"Enter", 13, 28, false},    {"Escape", 27, 1, false},
    {"Tab", 9, 15, false},   {"Backspace", 8, 14, false}, {"Space", 32, 57, false},
};

struct Modifier {
  const char* name;
  uint16_t scanCode;
  uint32_t state;
};

constexpr Modifier kModifiers[] = {
    {"Shift", 42, kShiftPressed},
    {"Ctrl", 29, kLeftCtrlPressed},
    {"Alt", 56, kLeftAltPressed},
};

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// Scan codes of the US keyboard for letters and digits.
uint16_t ScanCodeOf(char c) {
  static constexpr char kRows[][11] = {"1234567890", "qwertyuiop", "asdfghjkl", "zxcvbnm"};
  static constexpr uint16_t kFirst[] = {2, 16, 30, 44};
  const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (size_t row = 0; row < 4; ++row) {
    const char* found = std::strchr(kRows[row], lower);
    if (found != nullptr && lower != 0) {
      return static_cast<uint16_t>(kFirst[row] + (found - kRows[row]));
    }
  }
  return c == ' ' ? 57 : 0;
}

}  // namespace

bool KeyEvents(std::string_view name, std::vector<ConsoleInputEvent>* events) {
  uint32_t state = 0;
  std::vector<ConsoleInputEvent> presses;
  // Modifiers before the last '+': each makes its own press first.
  while (name.size() > 1) {
    const size_t plus = name.find('+', 1);
    if (plus == std::string_view::npos) break;
    const std::string_view part = name.substr(0, plus);
    const Modifier* modifier = nullptr;
    for (const Modifier& m : kModifiers) {
      if (SameName(part, m.name)) modifier = &m;
    }
    if (modifier == nullptr) return false;
    state |= modifier->state;
    presses.push_back(ConsoleInputEvent{true, true, 0, modifier->scanCode, state});
    name.remove_prefix(plus + 1);
  }
  if (name.empty()) return false;

  uint8_t character = 0;
  uint16_t scanCode = 0;
  if (name.size() == 1 && name[0] >= 0x20 && name[0] <= 0x7E) {
    const char c = name[0];
    scanCode = ScanCodeOf(c);
    const bool letter = std::isalpha(static_cast<unsigned char>(c)) != 0;
    // An upper-case letter on its own is typed with Shift; with modifiers
    // named, the letter only names the key.
    if (letter && std::isupper(static_cast<unsigned char>(c)) && state == 0) {
      state = kShiftPressed;
      presses.push_back(ConsoleInputEvent{true, true, 0, 42, state});
    }
    character = static_cast<uint8_t>(c);
    if (letter) {
      const bool shift = (state & kShiftPressed) != 0;
      character = static_cast<uint8_t>(shift ? std::toupper(static_cast<unsigned char>(c))
                                             : std::tolower(static_cast<unsigned char>(c)));
    }
    if ((state & kLeftCtrlPressed) != 0) {
      character = letter ? static_cast<uint8_t>(character & 0x1F) : 0;
    }
  } else {
    const NamedKey* key = nullptr;
    for (const NamedKey& k : kNamedKeys) {
      if (SameName(name, k.name)) key = &k;
    }
    const Modifier* alone = nullptr;
    for (const Modifier& m : kModifiers) {
      if (SameName(name, m.name)) alone = &m;
    }
    if (key != nullptr) {
      character = key->character;
      scanCode = key->scanCode;
      if (key->enhanced) state |= kEnhancedKey;
    } else if (alone != nullptr) {
      scanCode = alone->scanCode;
      state |= alone->state;
    } else {
      return false;
    }
  }
  presses.push_back(ConsoleInputEvent{true, true, character, scanCode, state});
  presses.push_back(ConsoleInputEvent{true, false, character, scanCode, state});
  events->insert(events->end(), presses.begin(), presses.end());
  return true;
}

namespace {

// --- Loader ------------------------------------------------------------------

uint32_t TypeOf(const Json& value, const std::string& where) {
  static const std::pair<const char*, uint32_t> kTypes[] = {
      {"REG_NONE", kRegNone},     {"REG_SZ", kRegSz},       {"REG_EXPAND_SZ", kRegExpandSz},
      {"REG_BINARY", kRegBinary}, {"REG_DWORD", kRegDword}, {"REG_MULTI_SZ", kRegMultiSz},
      {"REG_QWORD", kRegQword},
  };
  if (value.is_number_unsigned()) {
    return static_cast<uint32_t>(Unsigned(value, where, std::numeric_limits<uint32_t>::max()));
  }
  if (value.is_string()) {
    for (const auto& [name, type] : kTypes) {
      if (value.get<std::string>() == name) return type;
    }
  }
  Fail(where, "unknown registry type");
}

std::vector<uint8_t> HexBytes(const Json& value, const std::string& where) {
  if (!value.is_string()) Fail(where, "must be a string of hex digits");
  const std::string text = value.get<std::string>();
  if (text.size() % 2 != 0) Fail(where, "needs an even number of hex digits");
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < text.size(); i += 2) {
    const auto digit = [&](char c) -> uint8_t {
      if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
      if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
      if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
      Fail(where, "is not hex");
    };
    bytes.push_back(static_cast<uint8_t>(digit(text[i]) << 4 | digit(text[i + 1])));
  }
  return bytes;
}

void LoadValue(SimComputer& computer, const std::u16string& keyPath, const std::string& name,
               const Json& value, const std::string& where) {
  const std::u16string valueName = FromUtf8(name);
  if (value.is_string()) {
    computer.SetString(keyPath, valueName, AsText(value, where));
    return;
  }
  const int forms = static_cast<int>(value.contains("text")) + value.contains("texts") +
                    value.contains("number") + value.contains("hex");
  if (forms != 1) Fail(where, "needs exactly one of text, texts, number, hex");
  if (value.contains("terminated") && !value.contains("text")) {
    Fail(where, "terminated goes with text");
  }
  if (value.contains("text")) {
    const uint32_t type = value.contains("type") ? TypeOf(value["type"], where + ".type") : kRegSz;
    if (type != kRegSz && type != kRegExpandSz) Fail(where, "text needs REG_SZ or REG_EXPAND_SZ");
    const bool terminated =
        value.contains("terminated") ? Flag(value["terminated"], where + ".terminated") : true;
    computer.SetString(keyPath, valueName, AsText(value["text"], where + ".text"), type,
                       terminated);
  } else if (value.contains("texts")) {
    if (value.contains("type") && TypeOf(value["type"], where + ".type") != kRegMultiSz) {
      Fail(where, "texts needs REG_MULTI_SZ");
    }
    if (!value["texts"].is_array()) Fail(where + ".texts", "must be an array");
    std::vector<std::u16string> texts;
    for (const Json& text : value["texts"]) texts.push_back(AsText(text, where + ".texts"));
    computer.SetMultiString(keyPath, valueName, texts);
  } else if (value.contains("number")) {
    const uint32_t type =
        value.contains("type") ? TypeOf(value["type"], where + ".type") : kRegDword;
    if (type == kRegDword) {
      computer.SetDword(keyPath, valueName,
                        static_cast<uint32_t>(Unsigned(value["number"], where + ".number",
                                                       std::numeric_limits<uint32_t>::max())));
    } else if (type == kRegQword) {
      uint64_t number =
          Unsigned(value["number"], where + ".number", std::numeric_limits<uint64_t>::max());
      std::vector<uint8_t> bytes;
      for (int i = 0; i < 8; ++i, number >>= 8) bytes.push_back(static_cast<uint8_t>(number));
      computer.SetValue(keyPath, valueName, kRegQword, bytes);
    } else {
      Fail(where, "number needs REG_DWORD or REG_QWORD");
    }
  } else {
    if (!value.contains("type")) Fail(where, "hex needs a type");
    computer.SetValue(keyPath, valueName, TypeOf(value["type"], where + ".type"),
                      HexBytes(value["hex"], where + ".hex"));
  }
}

void LoadRegistry(SimComputer& computer, const Json& registry, const std::string& where) {
  if (!registry.is_object()) Fail(where, "must be an object");
  for (const auto& [path, key] : registry.items()) {
    const std::string at = Place(where, "[\"", path, "\"]");
    const std::u16string keyPath = FromUtf8(path);
    SimKey& created = computer.CreateKey(keyPath);
    if (key.contains("denyDelete"))
      created.denyDelete = Flag(key["denyDelete"], at + ".denyDelete");
    if (key.contains("denyRead")) created.denyRead = Flag(key["denyRead"], at + ".denyRead");
    if (key.contains("values")) {
      if (!key["values"].is_object()) Fail(at + ".values", "must be an object");
      for (const auto& [name, value] : key["values"].items()) {
        LoadValue(computer, keyPath, name, value, Place(at, ".values.", name));
      }
    }
  }
}

char16_t DriveOf(const std::string& text, char suffix, const std::string& where) {
  const bool ok = (text.size() == 2 && text[1] == suffix) || (text.size() == 1 && suffix == ':');
  if (!ok || !std::isalpha(static_cast<unsigned char>(text[0]))) {
    Fail(where, std::string("is not a drive (X") + suffix + ")");
  }
  return static_cast<char16_t>(std::toupper(static_cast<unsigned char>(text[0])));
}

void LoadFiles(SimComputer& computer, const Json& files, FileTime now, const std::string& where) {
  if (!files.is_array()) Fail(where, "must be an array");
  for (size_t i = 0; i < files.size(); ++i) {
    const Json& entry = files[i];
    const std::string at = where + "[" + std::to_string(i) + "]";
    if (!entry.contains("path")) Fail(at, "needs a path");
    const FileTime modified =
        entry.contains("modified") ? Ticks(entry["modified"], at + ".modified") : now;
    const bool directory =
        entry.contains("directory") && Flag(entry["directory"], at + ".directory");
    const std::u16string path = AsText(entry["path"], at + ".path");
    SimFile* file = nullptr;
    try {
      file = directory ? &computer.AddFolder(path, modified) : &computer.AddFile(path, modified);
    } catch (const std::invalid_argument& problem) {
      Fail(at + ".path", problem.what());
    }
    if (entry.contains("attributes")) {
      file->attributes = static_cast<uint32_t>(
          Unsigned(entry["attributes"], at + ".attributes", std::numeric_limits<uint32_t>::max()));
    }
    if (entry.contains("created")) file->creationTime = Ticks(entry["created"], at + ".created");
    if (entry.contains("accessed")) {
      file->lastAccessTime = Ticks(entry["accessed"], at + ".accessed");
    }
    if (entry.contains("bytes")) {
      file->size = Unsigned(entry["bytes"], at + ".bytes", std::numeric_limits<uint64_t>::max());
    }
    if (entry.contains("heldOpen")) file->heldOpen = Flag(entry["heldOpen"], at + ".heldOpen");
    if (entry.contains("denyAccess")) {
      file->denyAccess = Flag(entry["denyAccess"], at + ".denyAccess");
    }
  }
}

void LoadComputer(SimPlatform& platform, SimComputer& computer, const Json& object,
                  const std::string& where) {
  if (object.contains("name")) {
    computer.name = AsText(object["name"], where + ".name");
    if (computer.name.empty()) Fail(where + ".name", "must not be empty");
  }
  if (object.contains("build")) {
    computer.build = static_cast<uint32_t>(
        Unsigned(object["build"], where + ".build", std::numeric_limits<uint32_t>::max()));
  }
  if (object.contains("environment")) {
    const Json& environment = object["environment"];
    if (!environment.is_object()) Fail(where + ".environment", "must be an object");
    for (const auto& [name, value] : environment.items()) {
      // null removes a default variable.
      if (value.is_null()) {
        platform.RemoveEnvironment(FromUtf8(name));
      } else {
        platform.SetEnvironment(FromUtf8(name), AsText(value, Place(where, ".environment.", name)));
      }
    }
  }
  if (object.contains("registry")) LoadRegistry(computer, object["registry"], where + ".registry");
  if (object.contains("volumes")) {
    const Json& volumes = object["volumes"];
    if (!volumes.is_object()) Fail(where + ".volumes", "must be an object");
    computer.RemoveVolume(u'C');
    for (const auto& [drive, volume] : volumes.items()) {
      const std::string at = Place(where, ".volumes.", drive);
      if (!volume.contains("freeBytes")) Fail(at, "needs freeBytes");
      const uint64_t max = std::numeric_limits<uint64_t>::max();
      const uint64_t freeBytes = Unsigned(volume["freeBytes"], at + ".freeBytes", max);
      const uint64_t totalBytes = volume.contains("totalBytes")
                                      ? Unsigned(volume["totalBytes"], at + ".totalBytes", max)
                                      : std::max<uint64_t>(freeBytes, 64ull * 1024 * 1024 * 1024);
      // A quota leaves the caller at most the free bytes.
      const uint64_t availableBytes =
          volume.contains("availableBytes")
              ? Unsigned(volume["availableBytes"], at + ".availableBytes", freeBytes)
              : freeBytes;
      computer.SetVolume(DriveOf(drive, ':', at), freeBytes, totalBytes, availableBytes);
    }
  }
  if (object.contains("files"))
    LoadFiles(computer, object["files"], platform.Now(), where + ".files");
  if (object.contains("shares")) {
    const Json& shares = object["shares"];
    if (!shares.is_object()) Fail(where + ".shares", "must be an object");
    for (const auto& [share, state] : shares.items()) {
      const std::string at = Place(where, ".shares.", share);
      const std::string text = state.is_string() ? state.get<std::string>() : std::string();
      uint32_t status = 0;
      if (text == "down") {
        status = kErrorBadNetPath;
      } else if (text == "denied") {
        status = kErrorAccessDenied;
      } else if (state.is_number_unsigned() && state.get<uint64_t>() != 0 &&
                 state.get<uint64_t>() <= std::numeric_limits<uint32_t>::max()) {
        status = state.get<uint32_t>();
      } else if (text != "up") {
        Fail(at, "must be \"up\", \"down\", \"denied\" or a non-zero status");
      }
      computer.SetShare(DriveOf(share, '$', at), status);
    }
  }
  if (object.contains("remoteRegistry")) {
    const Json& service = object["remoteRegistry"];
    const std::string at = where + ".remoteRegistry";
    const uint64_t max = std::numeric_limits<uint32_t>::max();
    if (service.is_string() && service.get<std::string>() == "up") {
      computer.remoteRegistryStatus = 0;
    } else if (service.is_number_unsigned() && service.get<uint64_t>() != 0) {
      computer.remoteRegistryStatus = static_cast<uint32_t>(Unsigned(service, at, max));
    } else if (service.is_object()) {
      // {"status": N, "fromConnection": K}: connections before the K-th work.
      if (!service.contains("status") || !service.contains("fromConnection")) {
        Fail(at, "needs status and fromConnection");
      }
      computer.remoteRegistryStatus =
          static_cast<uint32_t>(Unsigned(service["status"], at + ".status", max));
      computer.remoteRegistryFromConnection =
          static_cast<uint32_t>(Unsigned(service["fromConnection"], at + ".fromConnection", max));
      if (computer.remoteRegistryStatus == 0) Fail(at + ".status", "must be non-zero");
      if (computer.remoteRegistryFromConnection == 0) Fail(at + ".fromConnection", "counts from 1");
    } else {
      Fail(at, "must be \"up\", a non-zero status or {\"status\", \"fromConnection\"}");
    }
  }
  if (object.contains("wmi")) {
    const Json& service = object["wmi"];
    const std::string at = where + ".wmi";
    if (service.is_string() && service.get<std::string>() == "up") {
      computer.wmiStatus = 0;
    } else if (service.is_number_unsigned() && service.get<uint64_t>() != 0) {
      computer.wmiStatus =
          static_cast<uint32_t>(Unsigned(service, at, std::numeric_limits<uint32_t>::max()));
    } else {
      Fail(at, "must be \"up\" or a non-zero status");
    }
  }
  if (object.contains("deleteProfile")) {
    const std::string at = where + ".deleteProfile";
    if (object["deleteProfile"].contains("keep")) {
      const Json& keep = object["deleteProfile"]["keep"];
      if (!keep.is_array()) Fail(at + ".keep", "must be an array of SIDs");
      for (const Json& sid : keep) computer.KeepOnDeleteProfile(AsText(sid, at + ".keep"));
    }
    if (object["deleteProfile"].contains("fail")) {
      const Json& fail = object["deleteProfile"]["fail"];
      if (!fail.is_object()) Fail(at + ".fail", "must be an object");
      for (const auto& [sid, status] : fail.items()) {
        const uint64_t code =
            Unsigned(status, Place(at, ".fail.", sid), std::numeric_limits<uint32_t>::max());
        if (code == 0) Fail(Place(at, ".fail.", sid), "must be a non-zero status");
        computer.FailDeleteProfile(FromUtf8(sid), static_cast<uint32_t>(code));
      }
    }
  }
}

void LoadConsole(SimPlatform& platform, const Json& console) {
  if (console.is_null()) return;
  std::vector<ConsoleInputEvent> events;
  if (console.contains("keys")) {
    const Json& keys = console["keys"];
    if (!keys.is_array()) Fail("console.keys", "must be an array");
    for (size_t i = 0; i < keys.size(); ++i) {
      const std::string at = "console.keys[" + std::to_string(i) + "]";
      const Json& key = keys[i];
      if (key.is_string()) {
        if (!KeyEvents(key.get<std::string>(), &events)) Fail(at, "unknown key name");
        continue;
      }
      ConsoleInputEvent event;
      event.isKeyEvent = key.contains("keyEvent") ? Flag(key["keyEvent"], at + ".keyEvent") : true;
      event.keyDown = key.contains("down") ? Flag(key["down"], at + ".down") : true;
      if (key.contains("char")) {
        event.character = static_cast<uint8_t>(Unsigned(key["char"], at + ".char", 255));
      }
      if (key.contains("scan")) {
        event.scanCode = static_cast<uint16_t>(Unsigned(key["scan"], at + ".scan", 0xFFFF));
      }
      if (key.contains("state")) {
        event.controlKeyState = static_cast<uint32_t>(
            Unsigned(key["state"], at + ".state", std::numeric_limits<uint32_t>::max()));
      }
      events.push_back(event);
    }
  }
  platform.SetConsole(std::move(events));
}

void LoadFaults(SimPlatform& platform, const Json& faults) {
  if (!faults.is_array()) Fail("faults", "must be an array");
  for (size_t i = 0; i < faults.size(); ++i) {
    const Json& object = faults[i];
    const std::string at = "faults[" + std::to_string(i) + "]";
    FaultPlan fault;
    if (!object.contains("call") || !object["call"].is_string() ||
        !IsFaultableCall(object["call"].get<std::string>())) {
      Fail(at + ".call", "must name a platform operation that can fail");
    }
    fault.call = object["call"].get<std::string>();
    if (object.contains("occurrence")) {
      fault.occurrence = static_cast<uint32_t>(
          Unsigned(object["occurrence"], at + ".occurrence", std::numeric_limits<uint32_t>::max()));
      if (fault.occurrence == 0) Fail(at + ".occurrence", "counts from 1");
    }
    if (object.contains("status") == object.contains("exception")) {
      Fail(at, "needs either status or exception");
    }
    if (object.contains("status")) {
      fault.status = static_cast<uint32_t>(
          Unsigned(object["status"], at + ".status", std::numeric_limits<uint32_t>::max()));
      if (fault.status == 0) Fail(at + ".status", "must be non-zero");
      if (object.contains("module") || object.contains("function") || object.contains("ordinal")) {
        Fail(at, "module, function and ordinal go with an exception");
      }
      platform.AddFault(std::move(fault));
      continue;
    }
    const std::string kind =
        object["exception"].is_string() ? object["exception"].get<std::string>() : std::string();
    if (kind == "accessViolation") {
      fault.kind = FaultPlan::Kind::AccessViolation;
      if (object.contains("module") || object.contains("function") || object.contains("ordinal")) {
        Fail(at, "an access violation has no module, function or ordinal");
      }
    } else if (kind == "moduleNotFound" || kind == "procNotFound") {
      fault.kind = kind == "moduleNotFound" ? FaultPlan::Kind::ModuleNotFound
                                            : FaultPlan::Kind::ProcNotFound;
      if (!object.contains("module")) Fail(at, "needs the module");
      fault.module = ToUtf8(AsText(object["module"], at + ".module"));
      if (object.contains("function") && object.contains("ordinal")) {
        Fail(at, "takes a function name or an ordinal, not both");
      }
      if (object.contains("function")) {
        fault.function = ToUtf8(AsText(object["function"], at + ".function"));
        if (fault.function.empty()) Fail(at + ".function", "must not be empty");
      }
      if (object.contains("ordinal")) {
        fault.ordinal = static_cast<uint32_t>(
            Unsigned(object["ordinal"], at + ".ordinal", std::numeric_limits<uint32_t>::max()));
      }
      if (kind == "procNotFound" && !object.contains("function") && !object.contains("ordinal")) {
        Fail(at, "needs the function name or the ordinal");
      }
    } else {
      Fail(at + ".exception", "must be accessViolation, moduleNotFound or procNotFound");
    }
    platform.AddFault(std::move(fault));
  }
}

void LoadMessages(SimPlatform& platform, const Json& messages) {
  if (!messages.is_object()) Fail("messages", "must be an object");
  for (const auto& [number, text] : messages.items()) {
    const std::string at = "messages." + number;
    uint32_t error = 0;
    if (number.empty() || number.size() > 10 || !ParseDigits(number, 0, number.size(), &error)) {
      Fail(at, "the key must be a decimal error number");
    }
    platform.SetErrorText(error, text.is_null() ? std::u16string() : AsText(text, at));
  }
}

void Load(const Json& scenario, SimPlatform& platform) {
  if (scenario.contains("clock")) {
    const Json& clock = scenario["clock"];
    if (clock.contains("now")) platform.SetNow(Ticks(clock["now"], "clock.now"));
    if (clock.contains("biasMinutes")) {
      const Json& bias = clock["biasMinutes"];
      if (!bias.is_number_integer() || bias.get<int64_t>() < -1440 || bias.get<int64_t>() > 1440) {
        Fail("clock.biasMinutes", "must be a whole number of minutes from -1440 to 1440");
      }
      platform.SetBiasMinutes(static_cast<int32_t>(bias.get<int64_t>()));
    }
  }
  if (scenario.contains("messages")) LoadMessages(platform, scenario["messages"]);
  if (scenario.contains("console")) LoadConsole(platform, scenario["console"]);
  if (scenario.contains("local")) {
    LoadComputer(platform, platform.Local(), scenario["local"], "local");
  }
  if (scenario.contains("remotes")) {
    const Json& remotes = scenario["remotes"];
    if (!remotes.is_object()) Fail("remotes", "must be an object");
    for (const auto& [name, object] : remotes.items()) {
      const std::u16string remoteName = FromUtf8(name);
      if (remoteName.empty() || platform.FindComputer(remoteName) != nullptr) {
        Fail("remotes." + name, "needs a name of its own");
      }
      LoadComputer(platform, platform.AddRemote(remoteName), object, "remotes." + name);
    }
  }
  if (scenario.contains("faults")) LoadFaults(platform, scenario["faults"]);
}

Json StringList(const std::vector<std::u16string>& texts) {
  Json list = Json::array();
  for (const std::u16string& text : texts) list.push_back(ToUtf8(text));
  return list;
}

Json ComputerState(const SimComputer& computer) {
  return Json{{"profileKeys", StringList(computer.ProfileKeys())},
              {"folders", StringList(computer.Folders())},
              {"files", StringList(computer.FilePaths())}};
}

// ["DeleteProfile", sid, path, computer] and ["RegDeleteKey", subkey], with
// null for an argument given as null.
Json CallList(const std::vector<RecordedCall>& calls) {
  Json list = Json::array();
  for (const RecordedCall& call : calls) {
    Json entry = Json::array({call.call});
    for (const auto& argument : call.arguments) {
      entry.push_back(argument.has_value() ? Json(ToUtf8(*argument)) : Json(nullptr));
    }
    list.push_back(std::move(entry));
  }
  return list;
}

}  // namespace

std::string LoadScenario(std::string_view json, SimPlatform& platform) {
  try {
    Load(Json::parse(json.begin(), json.end()), platform);
  } catch (const Json::exception& problem) {
    return std::string("not valid JSON: ") + problem.what();
  } catch (const LoadError& problem) {
    return problem.what();
  }
  return std::string();
}

std::string LoadScenarioFile(const std::string& path, SimPlatform& platform) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return "cannot read " + path;
  std::ostringstream text;
  text << file.rdbuf();
  return LoadScenario(text.str(), platform);
}

std::string StateText(const SimPlatform& platform, int32_t exitCode) {
  Json remotes = Json::object();
  const auto& computers = platform.Computers();
  for (size_t i = 1; i < computers.size(); ++i) {
    remotes[ToUtf8(computers[i]->name)] = ComputerState(*computers[i]);
  }
  // The echo bytes as the characters of the same values.
  std::u16string echo;
  for (char byte : platform.ConsoleEcho()) echo.push_back(static_cast<unsigned char>(byte));
  const Json state{
      {"local", ComputerState(platform.Local())},
      {"remotes", remotes},
      {"exitCode", static_cast<uint32_t>(exitCode)},
      {"consoleEcho", ToUtf8(echo)},
      {"calls", CallList(platform.Calls())},
      {"openHandles",
       platform.OpenRegistryHandles() + platform.OpenFileHandles() + platform.OpenWmiConnections()},
  };
  return state.dump(2) + "\n";
}

bool WriteStateFile(const std::string& path, const SimPlatform& platform, int32_t exitCode) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << StateText(platform, exitCode);
  file.close();
  return !file.fail();
}

}  // namespace wf::sim
