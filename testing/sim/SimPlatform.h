// The platform over simulated Windows computers: one local computer and any
// number of remote ones, with the running computer's clock, environment,
// console and message texts, and faults injected at chosen calls. Tests
// stage everything through the methods below; the semantics of each
// operation follow Windows (statuses, last-error, enumeration order,
// sharing, administrative shares).
#pragma once

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "sim/SimComputer.h"

namespace wf::sim {

// A fault raised in the simulation: the C++ stand-in for a structured
// exception. The guard that will handle it is chosen when it is raised, by
// asking the filters of the open guards from the innermost outwards, as
// structured exception handling does before any closing step runs.
class SimFault {
 public:
  explicit SimFault(uint32_t code);
  SimFault(uint32_t code, std::string module, std::string function, uint32_t ordinal);
  SimFault(const SimFault& other);
  SimFault& operator=(const SimFault& other);

  const FaultInfo& Info() const { return info_; }
  uint32_t Code() const { return info_.code; }
  // The guard chosen to handle it; 0 when no filter accepted it.
  uint64_t handler = 0;

 private:
  void Point();

  FaultInfo info_;
  std::string module_;
  std::string function_;
};

// A fault to inject at the n-th call of a platform operation.
struct FaultPlan {
  enum class Kind { Status, AccessViolation, ModuleNotFound, ProcNotFound };
  std::string call;         // operation name, e.g. "RegOpenKeyEx"
  uint32_t occurrence = 1;  // 1-based, over the whole run
  Kind kind = Kind::Status;
  uint32_t status = 0;
  std::string module;    // late-binding failures
  std::string function;  // procNotFound by name; empty: by ordinal
  uint32_t ordinal = 0;

  static FaultPlan Status(std::string call, uint32_t occurrence, uint32_t status) {
    FaultPlan plan;
    plan.call = std::move(call);
    plan.occurrence = occurrence;
    plan.status = status;
    return plan;
  }
  static FaultPlan Exception(std::string call, uint32_t occurrence, Kind kind,
                             std::string module = {}, std::string function = {},
                             uint32_t ordinal = 0) {
    FaultPlan plan;
    plan.call = std::move(call);
    plan.occurrence = occurrence;
    plan.kind = kind;
    plan.module = std::move(module);
    plan.function = std::move(function);
    plan.ordinal = ordinal;
    return plan;
  }
};

// The operations at which faults can be injected.
bool IsFaultableCall(std::string_view call);
// Their names, in a fixed order.
const std::vector<std::string_view>& FaultableCalls();

// A call that changes a computer, as the program made it: the operation
// ("DeleteProfile", "RegDeleteKey") and its text arguments, null ones
// absent. DeleteProfile has the SID, the profile path and the computer
// name; RegDeleteKey the subkey.
struct RecordedCall {
  std::string call;
  std::vector<std::optional<std::u16string>> arguments;
};

class SimPlatform final : public Platform {
 public:
  // A local computer PC01 of build 7601 with an empty registry, drive C:
  // with 10 GiB free of 64 GiB, SystemDrive=C: and SystemRoot=C:\Windows,
  // the clock at 2026-12-01 12:00 UTC with bias 0, no console, standard
  // output captured in memory, and the default message texts.
  SimPlatform();
  ~SimPlatform() override;

  // --- Staging -----------------------------------------------------------
  SimComputer& Local() { return *computers_.front(); }
  const SimComputer& Local() const { return *computers_.front(); }
  SimComputer& AddRemote(std::u16string_view name);
  // Local or remote computer by name (case-insensitive); null when unknown.
  SimComputer* FindComputer(std::u16string_view name);
  const std::vector<std::unique_ptr<SimComputer>>& Computers() const { return computers_; }

  void SetEnvironment(std::u16string_view name, std::u16string_view value);
  void RemoveEnvironment(std::u16string_view name);

  void SetNow(FileTime utcNow) { now_ = utcNow; }
  FileTime Now() const { return now_; }
  // Time-zone bias in effect now, in minutes: UTC = local + bias.
  void SetBiasMinutes(int32_t bias) { biasMinutes_ = bias; }

  // Standard output: captured in memory (the default), or the process's
  // file descriptor 1.
  void CaptureStandardOutput(bool isConsole);
  void UseProcessStandardOutput();
  const std::string& StandardOutput() const { return stdout_; }

  // Console: none (the default), or one whose input is this script of
  // events. Reads past the end of the script fail, so nothing waits.
  void SetNoConsole();
  void SetConsole(std::vector<ConsoleInputEvent> events);
  bool HasConsole() const { return hasConsole_; }
  size_t PendingConsoleEvents() const { return consoleEvents_.size(); }
  uint32_t ConsoleInputMode() const { return consoleMode_; }
  // Bytes written to the console output device (the key echo).
  const std::string& ConsoleEcho() const { return consoleEcho_; }

  // Message texts by error number; an empty text removes one.
  void SetErrorText(uint32_t error, std::u16string_view text);

  void AddFault(FaultPlan fault);
  uint32_t CallCount(std::string_view call) const;

  // Handles still open (registry keys other than HKEY_LOCAL_MACHINE, files,
  // searches, WMI connections): what a test checks for leaks.
  size_t OpenRegistryHandles() const { return keyHandles_.size(); }
  size_t OpenFileHandles() const { return fileHandles_.size(); }
  size_t OpenWmiConnections() const { return wmiConnections_.size(); }

  // Every DeleteProfile, RegDeleteKey, ConnectServer and DeleteInstance
  // call in order, whatever its outcome (an injected fault included).
  const std::vector<RecordedCall>& Calls() const { return calls_; }

  // --- Platform ------------------------------------------------------------
  WF_PLATFORM_OVERRIDES()

 private:
  struct KeyHandle {
    SimComputer* computer = nullptr;
    std::shared_ptr<SimKey> key;
    uint32_t access = 0;
  };
  enum class HandleKind { File, Search };
  struct OpenFile {
    HandleKind kind = HandleKind::File;
    SimComputer* computer = nullptr;
    std::u16string fileKey;  // LocalPath::Key of the entry
    uint32_t access = 0;
    uint32_t shareMode = 0;
  };
  // Where a path leads: a computer and a local path on it, or a status.
  struct Resolved {
    uint32_t error = 0;
    SimComputer* computer = nullptr;
    LocalPath local;
  };
  struct GuardFrame {
    uint64_t id = 0;
    GuardFilter filter = nullptr;
    void* context = nullptr;
  };
  class GuardScope;

  // Counts the call; raises an exception fault planned for it, or returns
  // the status of a status fault (0 when none).
  uint32_t Tick(const char* call);
  [[noreturn]] void Raise(SimFault fault);
  // Adds a call to Calls(); null arguments are recorded as absent.
  void Record(const char* call, std::initializer_list<const char16_t*> arguments);

  using Environment = std::map<std::u16string, std::u16string, NoCaseLess>;
  std::u16string Expand(std::u16string_view text) const { return ExpandWith(environment_, text); }
  static std::u16string ExpandWith(const Environment& environment, std::u16string_view text);
  // The profile service's deletion on computer (see SimFiles.cpp).
  uint32_t RemoveProfile(SimComputer& computer, std::u16string_view sid,
                         const char16_t* profilePath, const Environment& environment);
  SimComputer* ComputerOf(const char16_t* machineName);
  bool LookupKey(RegKey key, KeyHandle* handle) const;
  RegKey NewKeyHandle(KeyHandle handle);

  Resolved Resolve(std::u16string_view path);
  // The entry at a resolved path: 0 and the entry (null for a drive root),
  // else 2 (the last component is missing) or 3 (a folder on the way is).
  uint32_t Locate(const Resolved& where, const SimFile** file) const;
  FileHandle NewFileHandle(OpenFile open);
  bool SharingAllows(const SimComputer* computer, const std::u16string& fileKey, uint32_t access,
                     uint32_t shareMode) const;
  bool TreeIsHeld(const SimComputer* computer, const std::u16string& folderKey) const;

  std::vector<std::unique_ptr<SimComputer>> computers_;
  Environment environment_;
  FileTime now_ = 0;
  int32_t biasMinutes_ = 0;
  uint32_t lastError_ = 0;

  bool captureStdout_ = true;
  bool stdoutIsConsole_ = false;
  std::string stdout_;

  bool hasConsole_ = false;
  bool consoleInputOpen_ = false;
  bool consoleOutputOpen_ = false;
  uint32_t consoleMode_ = 0x1F7;  // a console's usual input mode
  std::deque<ConsoleInputEvent> consoleEvents_;
  std::string consoleEcho_;

  std::map<uint32_t, std::u16string> errorTexts_;

  std::vector<FaultPlan> faults_;
  std::map<std::string, uint32_t, std::less<>> callCounts_;
  std::vector<GuardFrame> guards_;
  uint64_t nextGuardId_ = 1;

  std::vector<RecordedCall> calls_;

  std::map<RegKey, KeyHandle> keyHandles_;
  std::map<FileHandle, OpenFile> fileHandles_;

  struct WmiConnection {
    SimComputer* computer = nullptr;
    std::u16string resource;
  };
  std::map<WmiServices, WmiConnection> wmiConnections_;
  WmiServices nextWmiConnection_ = 0x5000;
};

}  // namespace wf::sim
