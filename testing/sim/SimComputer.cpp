#include "sim/SimComputer.h"

#include <stdexcept>

namespace wf::sim {
namespace {

constexpr uint64_t kGiB = 1024ull * 1024 * 1024;

bool IsSeparator(char16_t c) {
  return c == u'\\' || c == u'/';
}

char16_t UpperDrive(char16_t drive) {
  return (drive >= u'a' && drive <= u'z') ? static_cast<char16_t>(drive - 0x20) : drive;
}

// Splits a registry path at backslashes, ignoring empty components.
std::vector<std::u16string_view> SplitKeyPath(std::u16string_view path) {
  std::vector<std::u16string_view> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

void MarkDeleted(SimKey& key) {
  key.deleted = true;
  for (auto& [name, child] : key.subkeys) MarkDeleted(*child);
}

std::vector<uint8_t> TextBytes(std::u16string_view text, bool terminated) {
  std::vector<uint8_t> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  if (terminated) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

}  // namespace

SimKey::Subkeys::iterator SimKey::SubkeyAt(size_t index) {
  if (index >= subkeys.size()) return subkeys.end();
  if (cursorValid_ && index == cursorIndex_) return cursor_;
  if (cursorValid_ && index == cursorIndex_ + 1 && cursor_ != subkeys.end()) {
    ++cursor_;
  } else {
    cursor_ = std::next(subkeys.begin(), static_cast<std::ptrdiff_t>(index));
  }
  cursorIndex_ = index;
  cursorValid_ = true;
  return cursor_;
}

SimKey::Subkeys::iterator SimKey::AddSubkey(std::shared_ptr<SimKey> child) {
  const std::u16string childName = child->name;
  auto [added, inserted] = subkeys.emplace(childName, std::move(child));
  if (inserted && cursorValid_ &&
      (cursor_ == subkeys.end() || NoCaseLess()(childName, cursor_->first))) {
    ++cursorIndex_;
  }
  return added;
}

void SimKey::EraseSubkey(Subkeys::iterator victim) {
  if (cursorValid_) {
    if (victim == cursor_) {
      ++cursor_;  // the next subkey moves down to the cursor's index
    } else if (cursor_ == subkeys.end() || NoCaseLess()(victim->first, cursor_->first)) {
      --cursorIndex_;
    }
  }
  subkeys.erase(victim);
}

bool LocalPath::Parse(std::u16string_view text, LocalPath* path) {
  if (text.size() < 2 || text[1] != u':') return false;
  const char16_t drive = UpperDrive(text[0]);
  if (drive < u'A' || drive > u'Z') return false;
  path->drive = drive;
  path->components.clear();
  path->trailingSeparator = text.size() > 2 && IsSeparator(text.back());
  size_t start = 2;
  while (start < text.size()) {
    size_t end = start;
    while (end < text.size() && !IsSeparator(text[end])) ++end;
    std::u16string_view part = text.substr(start, end - start);
    start = end + 1;
    if (part == u"." || part == u"..") {
      if (part == u".." && !path->components.empty()) path->components.pop_back();
      continue;
    }
    if (end == text.size()) {
      // The last component: its trailing dots and spaces go. When nothing
      // is left, the path ends in the separator before it.
      while (!part.empty() && (part.back() == u'.' || part.back() == u' ')) part.remove_suffix(1);
      path->trailingSeparator = part.empty();
    } else if (part.size() > 1 && part.back() == u'.' &&
               part.find_first_not_of(u'.') != std::u16string_view::npos) {
      // A component followed by a separator loses one trailing dot; a
      // component of dots only ("...") is a name and stays.
      part.remove_suffix(1);
    }
    if (!part.empty()) path->components.emplace_back(part);
  }
  return true;
}

std::u16string LocalPath::Text(size_t count) const {
  std::u16string text{drive, u':'};
  for (size_t i = 0; i < components.size() && i < count; ++i) {
    text += u'\\';
    text += components[i];
  }
  return text;
}

SimComputer::SimComputer(std::u16string computerName)
    : name(std::move(computerName)), root_(std::make_shared<SimKey>()) {
  SetVolume(u'C', 10 * kGiB, 64 * kGiB);
}

SimKey& SimComputer::CreateKey(std::u16string_view path) {
  SimKey* key = root_.get();
  for (std::u16string_view part : SplitKeyPath(path)) {
    auto found = key->subkeys.find(part);
    if (found == key->subkeys.end()) {
      auto child = std::make_shared<SimKey>();
      child->name = std::u16string(part);
      found = key->AddSubkey(child);
    }
    key = found->second.get();
  }
  return *key;
}

std::shared_ptr<SimKey> SimComputer::FindKeyPointer(std::u16string_view path) const {
  std::shared_ptr<SimKey> key = root_;
  for (std::u16string_view part : SplitKeyPath(path)) {
    auto found = key->subkeys.find(part);
    if (found == key->subkeys.end()) return nullptr;
    key = found->second;
  }
  return key;
}

SimKey* SimComputer::FindKey(std::u16string_view path) const {
  return FindKeyPointer(path).get();
}

void SimComputer::SetValue(std::u16string_view keyPath, std::u16string_view valueName,
                           uint32_t type, std::vector<uint8_t> data) {
  SimKey& key = CreateKey(keyPath);
  SimValue value{std::u16string(valueName), type, std::move(data)};
  auto found = key.values.find(valueName);
  if (found != key.values.end()) {
    found->second = std::move(value);
  } else {
    key.values.emplace(value.name, std::move(value));
  }
}

void SimComputer::SetString(std::u16string_view keyPath, std::u16string_view valueName,
                            std::u16string_view text, uint32_t type, bool terminated) {
  SetValue(keyPath, valueName, type, TextBytes(text, terminated));
}

void SimComputer::SetDword(std::u16string_view keyPath, std::u16string_view valueName,
                           uint32_t number) {
  SetValue(keyPath, valueName, kRegDword,
           {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
            static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)});
}

void SimComputer::SetMultiString(std::u16string_view keyPath, std::u16string_view valueName,
                                 const std::vector<std::u16string>& texts) {
  std::vector<uint8_t> bytes;
  for (const std::u16string& text : texts) {
    const std::vector<uint8_t> part = TextBytes(text, true);
    bytes.insert(bytes.end(), part.begin(), part.end());
  }
  bytes.insert(bytes.end(), {0, 0});
  SetValue(keyPath, valueName, kRegMultiSz, std::move(bytes));
}

std::u16string SimValue::Text() const {
  std::u16string text;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    const auto c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

void SimComputer::SetCurrentVersion(std::u16string_view buildText, std::u16string_view systemRoot) {
  SetString(kCurrentVersionPath, u"CurrentBuildNumber", buildText);
  if (!systemRoot.empty()) SetString(kCurrentVersionPath, u"SystemRoot", systemRoot);
}

std::u16string SimComputer::SystemRoot() const {
  const SimKey* key = FindKey(kCurrentVersionPath);
  if (key != nullptr) {
    const auto value = key->values.find(std::u16string_view(u"SystemRoot"));
    if (value != key->values.end() &&
        (value->second.type == kRegSz || value->second.type == kRegExpandSz)) {
      return value->second.Text();
    }
  }
  return u"C:\\Windows";
}

void SimComputer::SetUsualProfileList() {
  SetString(kProfileListPath, u"ProfilesDirectory", u"%SystemDrive%\\Users", kRegExpandSz);
  SetString(kProfileListPath, u"Public", u"C:\\Users\\Public");
  SetString(kProfileListPath, u"Default", u"C:\\Users\\Default");
}

SimFile* SimComputer::AddProfile(std::u16string_view sid, std::u16string_view path,
                                 FileTime hiveWritten, std::u16string_view hiveFolder) {
  std::u16string key(kProfileListPath);
  key += u"\\";
  key += sid;
  SetString(key, u"ProfileImagePath", path, kRegExpandSz);
  if (hiveWritten == 0) return nullptr;
  std::u16string hive(hiveFolder.empty() ? path : hiveFolder);
  hive += u"\\NTUSER.DAT";
  return &AddFile(hive, hiveWritten);
}

std::vector<std::u16string> SimComputer::SubkeyNames(std::u16string_view path) const {
  std::vector<std::u16string> names;
  if (const SimKey* key = FindKey(path)) {
    for (const auto& entry : key->subkeys) names.push_back(entry.second->name);
  }
  return names;
}

void SimComputer::RemoveKey(SimKey& parent, std::u16string_view keyName) {
  auto found = parent.subkeys.find(keyName);
  if (found == parent.subkeys.end()) return;
  MarkDeleted(*found->second);
  parent.EraseSubkey(found);
}

SimFile& SimComputer::AddEntry(std::u16string_view path, bool directory, FileTime modified) {
  LocalPath local;
  if (!LocalPath::Parse(path, &local) || local.components.empty()) {
    throw std::invalid_argument("not a local path below a drive: " + ToUtf8(path));
  }
  // Folders that exist already keep the case they were staged with.
  std::u16string parent{local.drive, u':'};
  for (size_t count = 1; count < local.components.size(); ++count) {
    auto [it, added] = files_.try_emplace(local.Key(count));
    if (added) {
      it->second.path = parent + u'\\' + local.components[count - 1];
      it->second.directory = true;
      it->second.creationTime = it->second.lastAccessTime = it->second.lastWriteTime = modified;
    } else if (!it->second.directory) {
      throw std::invalid_argument("a file stands where a folder is needed: " +
                                  ToUtf8(it->second.path));
    }
    parent = it->second.path;
  }
  // A folder that holds something cannot become a file: Windows has no
  // such state, so the simulation refuses to stage it.
  const std::u16string key = local.Key();
  if (!directory) {
    auto below = files_.lower_bound(key + u'\\');
    if (below != files_.end() && below->first.compare(0, key.size() + 1, key + u'\\') == 0) {
      throw std::invalid_argument("a file cannot replace a folder that holds something: " +
                                  ToUtf8(path));
    }
  }
  SimFile& entry = files_[key];
  entry.path = parent + u'\\' + local.components.back();
  entry.directory = directory;
  entry.creationTime = entry.lastAccessTime = entry.lastWriteTime = modified;
  return entry;
}

SimFile& SimComputer::AddFolder(std::u16string_view path, FileTime modified) {
  return AddEntry(path, true, modified);
}

SimFile& SimComputer::AddFile(std::u16string_view path, FileTime modified) {
  return AddEntry(path, false, modified);
}

SimFile* SimComputer::FindFile(std::u16string_view path) {
  LocalPath local;
  if (!LocalPath::Parse(path, &local)) return nullptr;
  auto found = files_.find(local.Key());
  return found == files_.end() ? nullptr : &found->second;
}

const SimFile* SimComputer::FindFile(std::u16string_view path) const {
  return const_cast<SimComputer*>(this)->FindFile(path);
}

bool SimComputer::FolderExists(std::u16string_view path) const {
  const SimFile* file = FindFile(path);
  return file != nullptr && file->directory;
}

std::vector<std::u16string> SimComputer::Folders() const {
  std::vector<std::u16string> folders;
  for (const auto& [key, file] : files_) {
    if (file.directory) folders.push_back(file.path);
  }
  return folders;
}

std::vector<std::u16string> SimComputer::FilePaths() const {
  std::vector<std::u16string> paths;
  for (const auto& [key, file] : files_) {
    if (!file.directory) paths.push_back(file.path);
  }
  return paths;
}

void SimComputer::SetVolume(char16_t drive, uint64_t freeBytes, uint64_t totalBytes) {
  SetVolume(drive, freeBytes, totalBytes, freeBytes);
}

void SimComputer::SetVolume(char16_t drive, uint64_t freeBytes, uint64_t totalBytes,
                            uint64_t availableBytes) {
  volumes_[UpperDrive(drive)] = SimVolume{freeBytes, totalBytes, availableBytes};
}

void SimComputer::FreeOnVolume(char16_t drive, uint64_t bytes) {
  auto volume = volumes_.find(UpperDrive(drive));
  if (volume == volumes_.end()) return;
  SimVolume& figures = volume->second;
  const bool quota = figures.availableBytes < figures.freeBytes;
  figures.freeBytes += bytes;
  if (!quota) figures.availableBytes = figures.freeBytes;
}

void SimComputer::RemoveVolume(char16_t drive) {
  volumes_.erase(UpperDrive(drive));
}

const SimVolume* SimComputer::Volume(char16_t drive) const {
  auto found = volumes_.find(UpperDrive(drive));
  return found == volumes_.end() ? nullptr : &found->second;
}

bool SimComputer::HasDrive(char16_t drive) const {
  drive = UpperDrive(drive);
  if (volumes_.count(drive) != 0) return true;
  auto next = files_.lower_bound(std::u16string{drive});
  return next != files_.end() && next->first[0] == drive;
}

void SimComputer::SetShare(char16_t drive, uint32_t status) {
  shares_[UpperDrive(drive)] = status;
}

uint32_t SimComputer::ShareStatus(char16_t drive) const {
  auto found = shares_.find(UpperDrive(drive));
  return found == shares_.end() ? 0 : found->second;
}

uint32_t SimComputer::ConnectRemoteRegistry() {
  const uint32_t status = RemoteRegistryStatusNow();
  ++remoteRegistryConnections_;
  return status;
}

uint32_t SimComputer::RemoteRegistryStatusNow() const {
  return uint64_t{remoteRegistryConnections_} + 1 >= remoteRegistryFromConnection
             ? remoteRegistryStatus
             : 0;
}

void SimComputer::FailDeleteProfile(std::u16string_view sid, uint32_t status) {
  deleteProfileFailures_[std::u16string(sid)] = status;
}

uint32_t SimComputer::DeleteProfileFailure(std::u16string_view sid) const {
  auto found = deleteProfileFailures_.find(sid);
  return found == deleteProfileFailures_.end() ? 0 : found->second;
}

void SimComputer::KeepOnDeleteProfile(std::u16string_view sid) {
  deleteProfileKeeps_[std::u16string(sid)] = true;
}

bool SimComputer::DeleteProfileKeeps(std::u16string_view sid) const {
  return deleteProfileKeeps_.count(sid) != 0;
}

}  // namespace wf::sim
