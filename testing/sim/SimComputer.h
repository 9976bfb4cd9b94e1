// One simulated Windows computer: its local-machine registry hive, its
// drives with files, folders and free space, the administrative shares that
// reach those drives from elsewhere, its remote registry service and its
// profile deletion service.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "sim/SimText.h"

namespace wf::sim {

inline constexpr std::u16string_view kCurrentVersionPath =
    u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
inline constexpr std::u16string_view kProfileListPath =
    u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

struct SimValue {
  std::u16string name;  // as stored
  uint32_t type = kRegNone;
  std::vector<uint8_t> data;

  // The data as UTF-16 text up to its first terminator, whatever the type.
  std::u16string Text() const;
};

struct SimKey {
  using Subkeys = std::map<std::u16string, std::shared_ptr<SimKey>, NoCaseLess>;

  std::u16string name;  // as stored
  std::map<std::u16string, SimValue, NoCaseLess> values;
  // Ordered as Windows enumerates subkeys: case-insensitively. Add and
  // remove them through AddSubkey and EraseSubkey, which keep the
  // enumeration cursor right.
  Subkeys subkeys;
  bool denyDelete = false;  // the key's security refuses DELETE access
  bool denyRead = false;    // the key's security refuses every read access
  bool deleted = false;     // removed while a handle still refers to it

  // The subkey at an enumeration index, or subkeys.end(). Stepping through
  // the indexes in order, or asking the same index again, costs O(1) as it
  // does on Windows; any other index is found from the start.
  Subkeys::iterator SubkeyAt(size_t index);
  Subkeys::iterator AddSubkey(std::shared_ptr<SimKey> child);
  void EraseSubkey(Subkeys::iterator victim);

 private:
  // The last enumerated position, kept valid as subkeys come and go.
  bool cursorValid_ = false;
  size_t cursorIndex_ = 0;
  Subkeys::iterator cursor_;
};

struct SimFile {
  std::u16string path;  // local path as staged, without trailing backslash
  bool directory = false;
  uint32_t attributes = 0;  // besides the directory or archive attribute
  FileTime creationTime = 0;
  FileTime lastAccessTime = 0;
  FileTime lastWriteTime = 0;
  uint64_t size = 0;
  bool heldOpen = false;  // another process holds it open without sharing
  // Its security refuses the caller: a file cannot be opened, a folder can be
  // neither opened nor looked into (it is still listed in its parent).
  bool denyAccess = false;
};

struct SimVolume {
  uint64_t freeBytes = 0;
  uint64_t totalBytes = 0;
  uint64_t availableBytes = 0;  // to the caller (quotas aside: the free bytes)
};

// A local path split into its drive letter (upper case) and components,
// normalized as Win32 normalizes every path handed to a file call (what
// GetFullPathNameW shows): forward slashes count as backslashes, runs of
// separators are one, "." is dropped and ".." goes one component up (never
// above the drive root), a component followed by a separator loses one
// trailing dot, and the last component loses its trailing dots and spaces.
struct LocalPath {
  char16_t drive = 0;
  std::vector<std::u16string> components;
  // The normalized path ends in a separator ("C:\Users\", "C:\Users\ ").
  bool trailingSeparator = false;

  // "X:" followed by nothing or by separated components.
  static bool Parse(std::u16string_view text, LocalPath* path);
  // C:\Users\Bob with `count` components (all by default).
  std::u16string Text(size_t count = SIZE_MAX) const;
  // The lookup key: the text folded to upper case.
  std::u16string Key(size_t count = SIZE_MAX) const { return FoldUpper(Text(count)); }
};

class SimComputer {
 public:
  explicit SimComputer(std::u16string computerName);

  std::u16string name;
  uint32_t build = 7601;
  // What RegConnectRegistry answers when another computer connects: 0 when
  // the remote registry service is up, else the status, given from the
  // remoteRegistryFromConnection-th connection on (counted from 1), so that
  // earlier connections succeed.
  uint32_t remoteRegistryStatus = 0;
  uint32_t remoteRegistryFromConnection = 1;
  // What a WMI connection from another computer gets: 0 when the service
  // answers, else the status (1722 unreachable, 5 the account refused).
  uint32_t wmiStatus = 0;
  // Counts a connection to the remote registry service; returns its status.
  uint32_t ConnectRemoteRegistry();
  // The status the next connection would get, without counting one.
  uint32_t RemoteRegistryStatusNow() const;

  // Registry, by paths relative to the local-machine hive. Parent keys are
  // created as needed; a value replaces one of the same name.
  SimKey& Root() { return *root_; }
  const std::shared_ptr<SimKey>& RootPointer() const { return root_; }
  SimKey& CreateKey(std::u16string_view path);
  SimKey* FindKey(std::u16string_view path) const;
  std::shared_ptr<SimKey> FindKeyPointer(std::u16string_view path) const;
  void SetValue(std::u16string_view keyPath, std::u16string_view valueName, uint32_t type,
                std::vector<uint8_t> data);
  // Text stored with its terminator unless terminated is false.
  void SetString(std::u16string_view keyPath, std::u16string_view valueName,
                 std::u16string_view text, uint32_t type = kRegSz, bool terminated = true);
  void SetDword(std::u16string_view keyPath, std::u16string_view valueName, uint32_t number);
  void SetMultiString(std::u16string_view keyPath, std::u16string_view valueName,
                      const std::vector<std::u16string>& texts);
  // The CurrentVersion values that another computer reads: the build as
  // CurrentBuildNumber and, unless empty, SystemRoot (both REG_SZ).
  void SetCurrentVersion(std::u16string_view buildText,
                         std::u16string_view systemRoot = u"C:\\Windows");
  // The SystemRoot that the computer's own processes, its profile service
  // among them, have in their environment: its CurrentVersion value when
  // that is text, C:\Windows otherwise.
  std::u16string SystemRoot() const;
  // The ProfileList values of a usual computer: ProfilesDirectory
  // %SystemDrive%\Users (REG_EXPAND_SZ), Public and Default under C:\Users.
  void SetUsualProfileList();
  // A ProfileList entry for sid whose ProfileImagePath (REG_EXPAND_SZ) is
  // path and, unless hiveWritten is 0, its hive NTUSER.DAT written then, in
  // hiveFolder (by default the path as stored). Returns the hive, or null.
  SimFile* AddProfile(std::u16string_view sid, std::u16string_view path, FileTime hiveWritten,
                      std::u16string_view hiveFolder = {});
  // Subkey names in enumeration order; empty when the key does not exist.
  std::vector<std::u16string> SubkeyNames(std::u16string_view path) const;
  std::vector<std::u16string> ProfileKeys() const { return SubkeyNames(kProfileListPath); }
  // Removes a key and its subkeys; handles to them see it deleted.
  void RemoveKey(SimKey& parent, std::u16string_view name);

  // Files and folders by local path; parent folders are created as needed.
  // Staging under an existing file, or an invalid path, throws
  // std::invalid_argument.
  SimFile& AddFolder(std::u16string_view path, FileTime modified = 0);
  SimFile& AddFile(std::u16string_view path, FileTime modified = 0);
  SimFile* FindFile(std::u16string_view path);
  const SimFile* FindFile(std::u16string_view path) const;
  bool FolderExists(std::u16string_view path) const;
  // Every folder, and every file that is not a folder, by local path,
  // sorted case-insensitively.
  std::vector<std::u16string> Folders() const;
  std::vector<std::u16string> FilePaths() const;
  // Entries by their lookup key (LocalPath::Key).
  std::map<std::u16string, SimFile>& Files() { return files_; }
  const std::map<std::u16string, SimFile>& Files() const { return files_; }

  // Drives: a drive exists when it has a volume or staged files. The bytes
  // available to the caller (a quota) default to the free bytes.
  void SetVolume(char16_t drive, uint64_t freeBytes, uint64_t totalBytes);
  void SetVolume(char16_t drive, uint64_t freeBytes, uint64_t totalBytes, uint64_t availableBytes);
  void RemoveVolume(char16_t drive);
  // Deleted files give their bytes back to the volume's free space; the
  // caller's share grows with it unless a quota holds it lower.
  void FreeOnVolume(char16_t drive, uint64_t bytes);
  const SimVolume* Volume(char16_t drive) const;
  bool HasDrive(char16_t drive) const;
  // Administrative share X$ of a drive: 0 when it is up, else the status
  // that every path through it fails with (53 down, 5 denied, ...). A drive
  // without an entry is up.
  void SetShare(char16_t drive, uint32_t status);
  uint32_t ShareStatus(char16_t drive) const;

  // The profile deletion service fails with status for this SID.
  void FailDeleteProfile(std::u16string_view sid, uint32_t status);
  uint32_t DeleteProfileFailure(std::u16string_view sid) const;
  // The profile deletion service reports success for this SID but changes
  // nothing: a faulty service the walk must not trust blindly.
  void KeepOnDeleteProfile(std::u16string_view sid);
  bool DeleteProfileKeeps(std::u16string_view sid) const;

 private:
  SimFile& AddEntry(std::u16string_view path, bool directory, FileTime modified);

  std::shared_ptr<SimKey> root_;
  std::map<std::u16string, SimFile> files_;
  std::map<char16_t, SimVolume> volumes_;
  std::map<char16_t, uint32_t> shares_;
  uint32_t remoteRegistryConnections_ = 0;
  std::map<std::u16string, uint32_t, NoCaseLess> deleteProfileFailures_;
  std::map<std::u16string, bool, NoCaseLess> deleteProfileKeeps_;
};

}  // namespace wf::sim
