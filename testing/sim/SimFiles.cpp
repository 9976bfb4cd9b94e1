// File operations and the profile deletion service of the simulation. A
// path is local to the running computer (C:\Users\Bob) or goes through an
// administrative share (\\PC07\C$\Users\Bob) to a drive of any computer,
// the running one included.
#include <algorithm>

#include "platform/Text.h"
#include "sim/SimPlatform.h"

namespace wf::sim {
namespace {

constexpr uint32_t kErrorBadNetName = 67;
constexpr uint32_t kErrorDirectory = 267;
constexpr uint32_t kFileFlagBackupSemantics = 0x02000000u;

constexpr uint32_t kGenericAll = 0x10000000u;
constexpr uint32_t kReadAccess = kGenericRead | kGenericAll | 0x0001u;    // FILE_READ_DATA
constexpr uint32_t kWriteAccess = kGenericWrite | kGenericAll | 0x0006u;  // WRITE_DATA, APPEND
constexpr uint32_t kDeleteAccess = kDelete | kGenericAll;

bool IsDriveLetter(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

bool IsSeparator(char16_t c) {
  return c == u'\\' || c == u'/';
}

// True when key names the folder or something inside it.
bool InTree(const std::u16string& key, const std::u16string& folderKey) {
  return key.size() >= folderKey.size() && key.compare(0, folderKey.size(), folderKey) == 0 &&
         (key.size() == folderKey.size() || key[folderKey.size()] == u'\\');
}

// The entries of a folder's tree: the folder itself, then everything below
// it, which sorts between "FOLDER\" and "FOLDER]" ("]" follows "\"). Looked
// up by range, so a large computer is not scanned whole.
template <typename Files, typename Visit>
void ForEachInTree(Files& files, const std::u16string& folderKey, Visit visit) {
  auto self = files.find(folderKey);
  if (self != files.end()) visit(self);
  auto first = files.lower_bound(folderKey + u'\\');
  const auto last = files.lower_bound(folderKey + u']');
  while (first != last) visit(first++);
}

}  // namespace

SimPlatform::Resolved SimPlatform::Resolve(std::u16string_view path) {
  Resolved where;
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    // \\computer\X$\rest
    size_t at = 2;
    size_t end = at;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    const std::u16string_view server = path.substr(at, end - at);
    at = end + 1;
    end = at;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    const std::u16string_view share =
        at < path.size() ? path.substr(at, end - at) : std::u16string_view();
    if (server.empty() || share.empty()) {
      where.error = kErrorBadNetPath;
      return where;
    }
    where.computer = FindComputer(server);
    if (where.computer == nullptr) {
      where.error = kErrorBadNetPath;
      return where;
    }
    if (share.size() != 2 || share[1] != u'$' || !IsDriveLetter(share[0]) ||
        !where.computer->HasDrive(share[0])) {
      where.error = kErrorBadNetName;
      return where;
    }
    if (const uint32_t status = where.computer->ShareStatus(share[0])) {
      where.error = status;
      return where;
    }
    std::u16string local{share[0], u':'};
    if (end < path.size()) local.append(path.substr(end));
    LocalPath::Parse(local, &where.local);
    return where;
  }
  where.computer = &Local();
  // A path without a drive is resolved as Windows resolves it against the
  // current folder: the program's own, C:\Tools, as under the Wine runner.
  std::u16string absolute;
  if (path.size() < 2 || path[1] != u':') {
    absolute = !path.empty() && IsSeparator(path[0]) ? u"C:" : u"C:\\Tools\\";
    absolute.append(path);
    path = absolute;
  }
  if (!LocalPath::Parse(path, &where.local)) where.error = kErrorPathNotFound;
  return where;
}

uint32_t SimPlatform::Locate(const Resolved& where, const SimFile** file) const {
  const SimComputer& computer = *where.computer;
  const LocalPath& local = where.local;
  *file = nullptr;
  if (!computer.HasDrive(local.drive)) return kErrorPathNotFound;
  const auto& files = computer.Files();
  for (size_t count = 1; count < local.components.size(); ++count) {
    auto folder = files.find(local.Key(count));
    if (folder == files.end() || !folder->second.directory) return kErrorPathNotFound;
    if (folder->second.denyAccess) return kErrorAccessDenied;
  }
  if (local.components.empty()) return kErrorSuccess;
  auto found = files.find(local.Key());
  if (found == files.end()) return kErrorFileNotFound;
  *file = &found->second;
  return kErrorSuccess;
}

FileHandle SimPlatform::NewFileHandle(OpenFile open) {
  FileHandle value = 0x80;
  while (fileHandles_.count(value) != 0) value += 4;
  fileHandles_.emplace(value, std::move(open));
  return value;
}

bool SimPlatform::SharingAllows(const SimComputer* computer, const std::u16string& fileKey,
                                uint32_t access, uint32_t shareMode) const {
  for (const auto& [value, open] : fileHandles_) {
    if (open.kind != HandleKind::File || open.computer != computer || open.fileKey != fileKey) {
      continue;
    }
    const bool refused =
        ((access & kReadAccess) != 0 && (open.shareMode & kFileShareRead) == 0) ||
        ((access & kWriteAccess) != 0 && (open.shareMode & kFileShareWrite) == 0) ||
        ((access & kDeleteAccess) != 0 && (open.shareMode & kFileShareDelete) == 0) ||
        ((open.access & kReadAccess) != 0 && (shareMode & kFileShareRead) == 0) ||
        ((open.access & kWriteAccess) != 0 && (shareMode & kFileShareWrite) == 0) ||
        ((open.access & kDeleteAccess) != 0 && (shareMode & kFileShareDelete) == 0);
    if (refused) return false;
  }
  return true;
}

namespace {

bool TreeIsDenied(const SimComputer* computer, const std::u16string& folderKey) {
  bool denied = false;
  ForEachInTree(computer->Files(), folderKey,
                [&](auto entry) { denied = denied || entry->second.denyAccess; });
  return denied;
}

}  // namespace

bool SimPlatform::TreeIsHeld(const SimComputer* computer, const std::u16string& folderKey) const {
  bool held = false;
  ForEachInTree(computer->Files(), folderKey,
                [&](auto entry) { held = held || entry->second.heldOpen; });
  if (held) return true;
  for (const auto& [value, open] : fileHandles_) {
    if (open.kind == HandleKind::File && open.computer == computer &&
        InTree(open.fileKey, folderKey)) {
      return true;
    }
  }
  return false;
}

// Finds the entry named by an exact path (no wildcards). A path that ends
// in a separator once normalized, or names a drive or share root, finds
// nothing. An entry that refuses access is still found: the search lists
// its parent folder.
FileHandle SimPlatform::FindFirstFile(const char16_t* path, FindData* data) {
  if (const uint32_t status = Tick("FindFirstFile")) {
    lastError_ = status;
    return kInvalidHandle;
  }
  const std::u16string_view text = View(path);
  if (data == nullptr) {
    lastError_ = kErrorInvalidParameter;
    return kInvalidHandle;
  }
  if (text.empty()) {
    lastError_ = kErrorPathNotFound;
    return kInvalidHandle;
  }
  const Resolved where = Resolve(text);
  if (where.error != 0) {
    lastError_ = where.error;
    return kInvalidHandle;
  }
  const SimFile* file = nullptr;
  if (const uint32_t status = Locate(where, &file)) {
    lastError_ = status;
    return kInvalidHandle;
  }
  if (file == nullptr || where.local.trailingSeparator) {
    lastError_ = kErrorFileNotFound;
    return kInvalidHandle;
  }
  *data = FindData{};
  data->attributes =
      (file->directory ? kFileAttributeDirectory : kFileAttributeArchive) | file->attributes;
  data->creationTime = file->creationTime;
  data->lastAccessTime = file->lastAccessTime;
  data->lastWriteTime = file->lastWriteTime;
  data->fileSize = file->directory ? 0 : file->size;
  const std::u16string& name = where.local.components.back();
  const SimFile& stored = *file;
  const size_t nameStart = stored.path.size() - name.size();
  CopyText(data->fileName, std::size(data->fileName), stored.path.c_str() + nameStart);
  return NewFileHandle(OpenFile{HandleKind::Search, where.computer, where.local.Key(), 0, 0});
}

bool SimPlatform::FindClose(FileHandle handle) {
  auto found = fileHandles_.find(handle);
  if (found == fileHandles_.end() || found->second.kind != HandleKind::Search) {
    lastError_ = kErrorInvalidHandle;
    return false;
  }
  fileHandles_.erase(found);
  return true;
}

// Opens an existing file. Folders need backup semantics; a file that
// another process holds without sharing, or that an open handle of ours
// does not share as asked, gives ERROR_SHARING_VIOLATION.
FileHandle SimPlatform::CreateFile(const char16_t* path, uint32_t access, uint32_t shareMode,
                                   uint32_t disposition, uint32_t attributes) {
  if (const uint32_t status = Tick("CreateFile")) {
    lastError_ = status;
    return kInvalidHandle;
  }
  // Only opening existing files is modelled.
  if (disposition != kOpenExisting) {
    lastError_ = kErrorInvalidParameter;
    return kInvalidHandle;
  }
  const std::u16string_view text = View(path);
  if (text.empty()) {
    lastError_ = kErrorPathNotFound;
    return kInvalidHandle;
  }
  const Resolved where = Resolve(text);
  if (where.error != 0) {
    lastError_ = where.error;
    return kInvalidHandle;
  }
  const SimFile* file = nullptr;
  if (const uint32_t status = Locate(where, &file)) {
    lastError_ = status;
    return kInvalidHandle;
  }
  if (file != nullptr && file->denyAccess) {
    lastError_ = kErrorAccessDenied;
    return kInvalidHandle;
  }
  const bool directory = file == nullptr || file->directory;
  if (directory && (attributes & kFileFlagBackupSemantics) == 0) {
    lastError_ = kErrorAccessDenied;
    return kInvalidHandle;
  }
  const uint32_t dataAccess = kReadAccess | kWriteAccess | kDeleteAccess;
  if (file != nullptr && (file->attributes & kFileAttributeReadOnly) != 0 &&
      (access & (kWriteAccess | kDeleteAccess)) != 0) {
    lastError_ = kErrorAccessDenied;
    return kInvalidHandle;
  }
  const std::u16string key = where.local.Key();
  if ((file != nullptr && file->heldOpen && (access & dataAccess) != 0) ||
      !SharingAllows(where.computer, key, access, shareMode)) {
    lastError_ = kErrorSharingViolation;
    return kInvalidHandle;
  }
  lastError_ = kErrorSuccess;
  return NewFileHandle(OpenFile{HandleKind::File, where.computer, key, access, shareMode});
}

bool SimPlatform::CloseHandle(FileHandle handle) {
  auto found = fileHandles_.find(handle);
  if (found == fileHandles_.end() || found->second.kind != HandleKind::File) {
    lastError_ = kErrorInvalidHandle;
    return false;
  }
  fileHandles_.erase(found);
  return true;
}

// The folder must exist and grant access; its drive's volume answers: the
// bytes available to the caller first, the free bytes of the volume last.
bool SimPlatform::GetDiskFreeSpaceEx(const char16_t* path, uint64_t* availableToCaller,
                                     uint64_t* totalBytes, uint64_t* totalFreeBytes) {
  if (const uint32_t status = Tick("GetDiskFreeSpaceEx")) {
    lastError_ = status;
    return false;
  }
  const Resolved where = Resolve(path == nullptr ? u"C:\\" : View(path));
  if (where.error != 0) {
    lastError_ = where.error;
    return false;
  }
  const SimFile* file = nullptr;
  if (const uint32_t status = Locate(where, &file)) {
    lastError_ = status == kErrorAccessDenied ? status : kErrorPathNotFound;
    return false;
  }
  if (file != nullptr && file->denyAccess) {
    lastError_ = kErrorAccessDenied;
    return false;
  }
  if (file != nullptr && !file->directory) {
    lastError_ = kErrorDirectory;
    return false;
  }
  const SimVolume* volume = where.computer->Volume(where.local.drive);
  if (volume == nullptr) {
    lastError_ = kErrorPathNotFound;
    return false;
  }
  if (availableToCaller != nullptr) *availableToCaller = volume->availableBytes;
  if (totalBytes != nullptr) *totalBytes = volume->totalBytes;
  if (totalFreeBytes != nullptr) *totalFreeBytes = volume->freeBytes;
  return true;
}

// The service removes the profile folder and the ProfileList entry of the
// SID together, or nothing: a staged failure, a file held open inside the
// folder (a loaded profile), an entry in it that refuses access or an
// unreachable folder leave everything as it was. Without a folder it takes
// the entry's own ProfileImagePath, expanded with environment. Returns 0
// or the Win32 error.
uint32_t SimPlatform::RemoveProfile(
    SimComputer& computer, std::u16string_view sid, const char16_t* profilePath,
    const std::map<std::u16string, std::u16string, NoCaseLess>& environment) {
  SimKey* profileList = computer.FindKey(kProfileListPath);
  if (profileList == nullptr || profileList->subkeys.count(sid) == 0) return kErrorFileNotFound;
  if (const uint32_t status = computer.DeleteProfileFailure(sid)) return status;
  if (computer.DeleteProfileKeeps(sid)) return 0;

  std::u16string folder;
  if (profilePath != nullptr) {
    folder = profilePath;
  } else {
    const SimKey& entry = *profileList->subkeys.find(sid)->second;
    auto value = entry.values.find(std::u16string_view(u"ProfileImagePath"));
    if (value != entry.values.end()) {
      folder = ExpandWith(environment, value->second.Text());
    }
  }
  if (!folder.empty()) {
    Resolved where = Resolve(folder);
    if (where.error != 0) return where.error;
    // A drive-letter path is a path on the computer that the service runs on.
    if (!IsSeparator(folder[0])) where.computer = &computer;
    const SimFile* file = nullptr;
    const uint32_t status = Locate(where, &file);
    if (status == kErrorAccessDenied) return status;
    if (status == kErrorSuccess && file != nullptr) {
      if (!file->directory) return kErrorDirectory;
      const std::u16string folderKey = where.local.Key();
      if (TreeIsDenied(where.computer, folderKey)) return kErrorAccessDenied;
      if (TreeIsHeld(where.computer, folderKey)) return kErrorSharingViolation;
      auto& files = where.computer->Files();
      uint64_t freed = 0;
      ForEachInTree(files, folderKey, [&](auto entry) {
        freed += entry->second.size;
        files.erase(entry);
      });
      where.computer->FreeOnVolume(where.local.drive, freed);
    }
  }
  computer.RemoveKey(*profileList, sid);
  return 0;
}

// Since Windows Vista (build 6000) the service works on the computer it
// runs on only: a computer name fails with ERROR_INVALID_PARAMETER.
bool SimPlatform::DeleteProfile(const char16_t* sid, const char16_t* profilePath,
                                const char16_t* computerName) {
  Record("DeleteProfile", {sid, profilePath, computerName});
  if (const uint32_t status = Tick("DeleteProfile")) {
    lastError_ = status;
    return false;
  }
  if (View(sid).empty() || (!View(computerName).empty() && Local().build >= 6000)) {
    lastError_ = kErrorInvalidParameter;
    return false;
  }
  SimComputer* computer = ComputerOf(computerName);
  if (computer == nullptr) {
    lastError_ = kErrorBadNetPath;
    return false;
  }
  if (computer != &Local()) {
    if (const uint32_t status = computer->RemoteRegistryStatusNow()) {
      lastError_ = status;
      return false;
    }
  }
  if (const uint32_t status = RemoveProfile(*computer, View(sid), profilePath, environment_)) {
    lastError_ = status;
    return false;
  }
  return true;
}

}  // namespace wf::sim
