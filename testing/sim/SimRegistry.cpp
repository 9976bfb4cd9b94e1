// Registry operations of the simulation: the local-machine hive of each
// computer, reached directly (local) or through the remote registry service.
#include <algorithm>
#include <cstring>

#include "sim/SimPlatform.h"

namespace wf::sim {
namespace {

constexpr int32_t kErrorBadPathname = 161;
constexpr int32_t kErrorKeyDeleted = 1018;

constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr uint32_t kGenericAll = 0x10000000u;
constexpr uint32_t kMaximumAllowed = 0x02000000u;
constexpr uint32_t kKeyWrite = 0x00020006u;

// The predefined root keys (HKEY_CLASSES_ROOT to HKEY_CURRENT_CONFIG).
bool IsPredefinedKey(RegKey key) {
  return key >= 0x80000000u && key <= 0x80000005u;
}

// The rights a key's security refuses.
uint32_t DeniedAccess(const SimKey& key) {
  return (key.denyDelete ? kDelete : 0u) | (key.denyRead ? kKeyRead : 0u);
}

// The specific rights asked for. Generic rights map to the key rights;
// MAXIMUM_ALLOWED asks for every right that the key's security grants,
// while GENERIC_ALL asks for all of them, so a refused one fails the open.
uint32_t MapKeyAccess(uint32_t access, const SimKey& key) {
  uint32_t mapped = access & ~(kGenericRead | kGenericWrite | kGenericAll | kMaximumAllowed);
  if ((access & kGenericRead) != 0) mapped |= kKeyRead;
  if ((access & kGenericWrite) != 0) mapped |= kKeyWrite;
  if ((access & kGenericAll) != 0) mapped |= kKeyAllAccess;
  if ((access & kMaximumAllowed) != 0) mapped |= kKeyAllAccess & ~DeniedAccess(key);
  return mapped;
}

bool IsTextType(uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// Walks a relative key path; *missing tells that a component was not found.
// A path that begins with a backslash is refused as Windows refuses it.
int32_t WalkKeyPath(std::shared_ptr<SimKey> from, std::u16string_view path,
                    std::shared_ptr<SimKey>* parent, std::shared_ptr<SimKey>* key,
                    std::u16string* lastName) {
  if (!path.empty() && path.front() == u'\\') return kErrorBadPathname;
  std::shared_ptr<SimKey> current = std::move(from);
  std::shared_ptr<SimKey> above;
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    const std::u16string_view part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    auto found = current->subkeys.find(part);
    if (found == current->subkeys.end()) return kErrorFileNotFound;
    above = current;
    current = found->second;
    if (lastName != nullptr) *lastName = std::u16string(part);
  }
  if (parent != nullptr) *parent = above;
  *key = current;
  return kErrorSuccess;
}

}  // namespace

bool SimPlatform::LookupKey(RegKey key, KeyHandle* handle) const {
  if (key == kHKeyLocalMachine) {
    handle->computer = computers_.front().get();
    handle->key = computers_.front()->RootPointer();
    handle->access = kKeyAllAccess;
    return true;
  }
  auto found = keyHandles_.find(key);
  if (found == keyHandles_.end()) return false;
  *handle = found->second;
  return true;
}

RegKey SimPlatform::NewKeyHandle(KeyHandle handle) {
  // Handle values as a process's handle table hands them out: the lowest
  // free multiple of four.
  RegKey value = 0x40;
  while (keyHandles_.count(value) != 0) value += 4;
  keyHandles_.emplace(value, std::move(handle));
  return value;
}

SimComputer* SimPlatform::ComputerOf(const char16_t* machineName) {
  std::u16string_view name = View(machineName);
  if (name.size() >= 2 && name[0] == u'\\' && name[1] == u'\\') name.remove_prefix(2);
  if (name.empty()) return &Local();
  return FindComputer(name);
}

int32_t SimPlatform::RegConnectRegistry(const char16_t* machineName, RegKey root, RegKey* result) {
  if (result != nullptr) *result = kNoKey;
  if (const uint32_t status = Tick("RegConnectRegistry")) return static_cast<int32_t>(status);
  if (result == nullptr) return kErrorInvalidParameter;
  if (root != kHKeyLocalMachine) return kErrorInvalidHandle;
  SimComputer* computer = ComputerOf(machineName);
  if (computer == nullptr) return kErrorBadNetPath;
  // The own computer, by no name or by its name, is the predefined key.
  if (computer == &Local()) {
    *result = kHKeyLocalMachine;
    return kErrorSuccess;
  }
  if (const uint32_t status = computer->ConnectRemoteRegistry()) {
    return static_cast<int32_t>(status);
  }
  *result = NewKeyHandle(KeyHandle{computer, computer->RootPointer(), kKeyAllAccess});
  return kErrorSuccess;
}

int32_t SimPlatform::RegOpenKeyEx(RegKey key, const char16_t* subKey, uint32_t /*options*/,
                                  uint32_t access, RegKey* result) {
  if (result != nullptr) *result = kNoKey;
  if (const uint32_t status = Tick("RegOpenKeyEx")) return static_cast<int32_t>(status);
  if (result == nullptr) return kErrorInvalidParameter;
  KeyHandle from;
  if (!LookupKey(key, &from)) return kErrorInvalidHandle;
  if (from.key->deleted) return kErrorKeyDeleted;
  std::shared_ptr<SimKey> target;
  if (const int32_t status = WalkKeyPath(from.key, View(subKey), nullptr, &target, nullptr)) {
    return status;
  }
  const uint32_t granted = MapKeyAccess(access, *target);
  if ((granted & DeniedAccess(*target)) != 0) return kErrorAccessDenied;
  *result = NewKeyHandle(KeyHandle{from.computer, target, granted});
  return kErrorSuccess;
}

int32_t SimPlatform::RegQueryValueEx(RegKey key, const char16_t* valueName, uint32_t* type,
                                     uint8_t* data, uint32_t* byteCount) {
  if (const uint32_t status = Tick("RegQueryValueEx")) return static_cast<int32_t>(status);
  if (data != nullptr && byteCount == nullptr) return kErrorInvalidParameter;
  KeyHandle handle;
  if (!LookupKey(key, &handle)) return kErrorInvalidHandle;
  if (handle.key->deleted) return kErrorKeyDeleted;
  if ((handle.access & kKeyQueryValue) == 0) return kErrorAccessDenied;
  auto found = handle.key->values.find(View(valueName));
  if (found == handle.key->values.end()) return kErrorFileNotFound;
  const SimValue& value = found->second;
  const auto size = static_cast<uint32_t>(value.data.size());
  if (type != nullptr) *type = value.type;
  if (data == nullptr) {
    if (byteCount != nullptr) *byteCount = size;
    return kErrorSuccess;
  }
  const uint32_t offered = *byteCount;
  *byteCount = size;
  if (size > offered) {
    // Windows leaves the buffer's contents undefined then: fill it with
    // bytes that make non-zero characters, so no caller can rely on them.
    std::memset(data, 0xCD, offered);
    return kErrorMoreData;
  }
  if (size > 0) std::memcpy(data, value.data.data(), size);
  // A text stored without its terminator gets one after the data when the
  // buffer has room; the count still tells the bytes stored.
  if (IsTextType(value.type) && size >= 2 && size + 2 <= offered &&
      (value.data[size - 2] != 0 || value.data[size - 1] != 0)) {
    data[size] = 0;
    data[size + 1] = 0;
  }
  return kErrorSuccess;
}

int32_t SimPlatform::RegEnumKeyEx(RegKey key, uint32_t index, char16_t* name, uint32_t* nameChars) {
  if (const uint32_t status = Tick("RegEnumKeyEx")) return static_cast<int32_t>(status);
  if (name == nullptr || nameChars == nullptr) return kErrorInvalidParameter;
  KeyHandle handle;
  if (!LookupKey(key, &handle)) return kErrorInvalidHandle;
  if (handle.key->deleted) return kErrorKeyDeleted;
  if ((handle.access & kKeyEnumerateSubKeys) == 0) return kErrorAccessDenied;
  const auto at = handle.key->SubkeyAt(index);
  if (at == handle.key->subkeys.end()) return kErrorNoMoreItems;
  const std::u16string& found = at->second->name;
  if (found.size() + 1 > *nameChars) return kErrorMoreData;
  std::copy(found.begin(), found.end(), name);
  name[found.size()] = 0;
  *nameChars = static_cast<uint32_t>(found.size());
  return kErrorSuccess;
}

// Deleting needs DELETE access to the subkey itself (the parent handle's
// access does not matter), and a key that has subkeys is refused.
int32_t SimPlatform::RegDeleteKey(RegKey key, const char16_t* subKey) {
  Record("RegDeleteKey", {subKey});
  if (const uint32_t status = Tick("RegDeleteKey")) return static_cast<int32_t>(status);
  KeyHandle from;
  if (!LookupKey(key, &from)) return kErrorInvalidHandle;
  if (from.key->deleted) return kErrorKeyDeleted;
  if (View(subKey).empty()) return kErrorInvalidParameter;
  std::shared_ptr<SimKey> parent;
  std::shared_ptr<SimKey> target;
  std::u16string lastName;
  if (const int32_t status = WalkKeyPath(from.key, View(subKey), &parent, &target, &lastName)) {
    return status;
  }
  if (parent == nullptr || (DeniedAccess(*target) & kDelete) != 0 || !target->subkeys.empty()) {
    return kErrorAccessDenied;
  }
  from.computer->RemoveKey(*parent, lastName);
  return kErrorSuccess;
}

int32_t SimPlatform::RegCloseKey(RegKey key) {
  if (IsPredefinedKey(key)) return kErrorSuccess;
  auto found = keyHandles_.find(key);
  if (found == keyHandles_.end()) return kErrorInvalidHandle;
  keyHandles_.erase(found);
  return kErrorSuccess;
}

}  // namespace wf::sim
