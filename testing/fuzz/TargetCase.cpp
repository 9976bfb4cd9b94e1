#include "TargetCase.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <stdexcept>

#include "CheckingPlatform.h"
#include "engine/ProfileWalk.h"
#include "platform/ConsoleKey.h"
#include "platform/Text.h"
#include "sim/SimText.h"

namespace wf::fuzz {
namespace {

using sim::LocalPath;
using sim::SimComputer;
using sim::SimFile;

constexpr size_t kMostEntries = 24;
constexpr uint64_t kDay = sim::kTicksPerDay;
constexpr uint64_t kMaximumValidDays = 36500;
// What a text read offers: 261 characters of two bytes.
constexpr size_t kReadBytes = wf::kPathChars * 2;
using wf::kLongestFolder;
constexpr size_t kSkipListChars = wf::kLongTextChars - 1;
constexpr char16_t kRemoteName[] = u"PC07";

// Characters of made-up names: no separators, no line feeds, no '%', so a
// name is one path component and a report line stays one line.
constexpr char16_t kNameAlphabet[] = u"abcXYZ019-_ .~$()";

const char16_t* const kFolderNames[] = {
    u"Ann", u"Bob", u"Admin", u"Public", u"Default", u"All Users", u"Default User", u"Old",
};
const char16_t* const kBases[] = {
    u"C:\\Users",    u"%SystemDrive%\\Users", u"C:\\Documents and Settings",
    u"D:\\Profiles", u"%LongRoot%",           u"%DeepRoot%",
};

struct Value {
  bool present = false;
  uint32_t type = kRegNone;
  std::vector<uint8_t> bytes;
};

Value TextValue(std::u16string_view text, uint32_t type, bool terminated) {
  Value value{true, type, {}};
  for (const char16_t c : text) {
    value.bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    value.bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  if (terminated) value.bytes.insert(value.bytes.end(), {0, 0});
  return value;
}

// Raw bytes of any type; characters that would break a report line or
// start an environment reference are replaced.
Value RawValue(FuzzedDataProvider& data) {
  Value value{true, data.ConsumeIntegralInRange<uint32_t>(0, 12), {}};
  // Mostly short; sometimes about the 522 bytes a read offers, or more.
  const size_t length = data.ConsumeBool() ? data.ConsumeIntegralInRange<size_t>(0, 40)
                                           : data.ConsumeIntegralInRange<size_t>(500, 600);
  value.bytes = data.ConsumeBytes<uint8_t>(length);
  for (size_t i = 0; i + 1 < value.bytes.size(); i += 2) {
    if (value.bytes[i + 1] == 0 &&
        (value.bytes[i] == '\n' || value.bytes[i] == '\r' || value.bytes[i] == '%')) {
      value.bytes[i] = '_';
    }
  }
  return value;
}

std::u16string MadeUpName(FuzzedDataProvider& data, size_t longest) {
  std::u16string name;
  const size_t length = data.ConsumeIntegralInRange<size_t>(1, data.ConsumeBool() ? 12 : longest);
  for (size_t i = 0; i < length; ++i) {
    name.push_back(kNameAlphabet[data.ConsumeIntegralInRange<size_t>(
        0, sizeof kNameAlphabet / sizeof kNameAlphabet[0] - 2)]);
  }
  return name;
}

std::u16string FolderName(FuzzedDataProvider& data) {
  const size_t pick = data.ConsumeIntegralInRange<size_t>(0, std::size(kFolderNames));
  if (pick < std::size(kFolderNames)) return kFolderNames[pick];
  return MadeUpName(data, 300);
}

// A profile path as an administrator or a broken installer may have left
// it: another case, a trailing separator, forward slashes, a "." segment,
// a trailing dot.
std::u16string ProfilePath(FuzzedDataProvider& data) {
  std::u16string path = kBases[data.ConsumeIntegralInRange<size_t>(0, std::size(kBases) - 1)];
  path += u"\\";
  path += FolderName(data);
  switch (data.ConsumeIntegralInRange<int>(0, 9)) {
    case 0:
      for (char16_t& c : path) c = static_cast<char16_t>(wf::FoldAZ(c));
      break;
    case 1:
      path += u"\\";
      break;
    case 2:
      for (char16_t& c : path) {
        if (c == u'\\') c = u'/';
      }
      break;
    case 3:
      path.insert(path.rfind(u'\\'), u"\\.");
      break;
    case 4:
      path += u".";
      break;
    default:
      break;
  }
  return path;
}

// The value of a folder setting of ProfileList.
Value FolderValue(FuzzedDataProvider& data, std::u16string_view usual) {
  switch (data.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
      return {};
    case 1:
      return RawValue(data);
    case 2:
      return TextValue(ProfilePath(data), kRegExpandSz, data.ConsumeBool());
    default:
      return TextValue(usual, data.ConsumeBool() ? kRegSz : kRegExpandSz, true);
  }
}

void Put(SimComputer& computer, std::u16string_view key, std::u16string_view name,
         const Value& value) {
  if (value.present) computer.SetValue(key, name, value.type, value.bytes);
}

// The text a value gives as the command reads profile paths: text types
// only, offered 522 bytes; the character before the returned length is
// dropped for the terminator, so a text stored without one loses its last
// character.
std::optional<std::u16string> ReadText(const Value& value) {
  if (!value.present || (value.type != kRegSz && value.type != kRegExpandSz) ||
      value.bytes.size() > kReadBytes) {
    return std::nullopt;
  }
  const size_t chars = value.bytes.size() / 2;
  std::u16string text;
  for (size_t i = 0; i + 1 < chars; ++i) {
    const auto c = static_cast<char16_t>(value.bytes[2 * i] | (value.bytes[2 * i + 1] << 8));
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

// CentralProfile is read as text whatever its type: it is there when its
// first character is not zero.
bool ReadsAsRoamingPath(const Value& value) {
  return value.present && value.bytes.size() >= 2 && value.bytes.size() <= kReadBytes &&
         (value.bytes[0] != 0 || value.bytes[1] != 0);
}

bool EqualsSid(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (wf::FoldAZ(a[i]) != wf::FoldAZ(b[i])) return false;
  }
  return true;
}

FileTime HiveTime(FuzzedDataProvider& data, FileTime now, int32_t minimumAge) {
  const uint64_t within = data.ConsumeIntegralInRange<uint64_t>(0, kDay - 1);
  const auto days = [&](uint64_t count) { return count * kDay; };
  switch (data.ConsumeIntegralInRange<int>(0, 8)) {
    case 0:
      return now + 1 + within;  // in the future
    case 1:
      return now - days(kMaximumValidDays) - within;
    case 2:
      return now - days(kMaximumValidDays + 1) - within;
    case 3:
      return 0;
    case 4:
      return data.ConsumeIntegral<uint64_t>();
    case 5:
      return minimumAge > 0 ? now - days(static_cast<uint64_t>(minimumAge)) + within : now;
    case 6:
      return minimumAge > 0 ? now - days(static_cast<uint64_t>(minimumAge)) - within : now;
    default:
      return now - days(data.ConsumeIntegralInRange<uint64_t>(0, 400)) - within;
  }
}

// The length the command gives a folder in target form: one trailing
// backslash, and the share prefix of a remote computer.
size_t TargetLength(std::u16string_view folder, bool remote) {
  while (!folder.empty() && folder.back() == u'\\') folder.remove_suffix(1);
  return folder.size() + 1 + (remote ? 3 + std::char_traits<char16_t>::length(kRemoteName) : 0);
}

}  // namespace

bool FolderId::SameAs(const FolderId& other) const {
  return computer == other.computer && path.Key() == other.path.Key();
}

TargetCase::TargetCase(FuzzedDataProvider& data, sim::SimPlatform& sim) : sim_(sim) {
  static constexpr uint32_t kBuilds[] = {7601, 9200, 6000, 3790, 2600};
  static constexpr int32_t kBiases[] = {0, -60, 60, 330, -720};
  sim_.Local().build = kBuilds[data.ConsumeIntegralInRange<size_t>(0, std::size(kBuilds) - 1)];
  sim_.SetBiasMinutes(kBiases[data.ConsumeIntegralInRange<size_t>(0, std::size(kBiases) - 1)]);
  const FileTime now = sim_.Now();
  // Folders so deep that the names under them come close to the longest
  // path, or go beyond it.
  sim_.SetEnvironment(u"LongRoot", u"C:\\" + std::u16string(236, u'd'));
  sim_.SetEnvironment(u"DeepRoot", u"C:\\" + std::u16string(252, u'e'));

  remote_ = data.ConsumeBool();
  target_ = remote_ ? &sim_.AddRemote(kRemoteName) : &sim_.Local();
  uint32_t targetBuild = sim_.Local().build;
  if (remote_) {
    targetBuild = kBuilds[data.ConsumeIntegralInRange<size_t>(0, std::size(kBuilds) - 1)];
    // Its SystemRoot: a usual one, one on another drive, none, and texts
    // that are no drive path.
    static constexpr const char16_t* kSystemRoots[] = {
        u"C:\\Windows", u"C:\\Windows",           u"D:\\Windows", u"d:\\WINNT", u"",
        u"Windows",     u"%SystemDrive%\\Windows"};
    systemRoot_ = kSystemRoots[data.ConsumeIntegralInRange<size_t>(0, std::size(kSystemRoots) - 1)];
    target_->SetCurrentVersion(sim::FromUtf8(std::to_string(targetBuild)), systemRoot_);
    serviceOverWmi_ = targetBuild >= 6001;
    static constexpr uint32_t kShareStates[] = {0,   0, 0, kErrorBadNetPath, kErrorAccessDenied,
                                                1326};
    for (const char16_t drive : {u'C', u'D'}) {
      const uint32_t status =
          kShareStates[data.ConsumeIntegralInRange<size_t>(0, std::size(kShareStates) - 1)];
      target_->SetShare(drive, status);
      stagedStatuses_.push_back(status);
    }
    // The profile service over WMI: up, refusing the account, unreachable.
    static constexpr uint32_t kWmiStates[] = {0, 0, 0, kErrorAccessDenied, 1722};
    target_->wmiStatus =
        kWmiStates[data.ConsumeIntegralInRange<size_t>(0, std::size(kWmiStates) - 1)];
    stagedStatuses_.push_back(target_->wmiStatus);
    if (data.ConsumeIntegralInRange<int>(0, 7) == 0) {
      target_->remoteRegistryStatus = data.ConsumeBool() ? kErrorBadNetPath : 1722;
      target_->remoteRegistryFromConnection = data.ConsumeIntegralInRange<uint32_t>(1, 2);
      stagedStatuses_.push_back(target_->remoteRegistryStatus);
    }
  }
  target_->SetVolume(u'D', 1ull << 30, 1ull << 34);

  // The command line.
  // 0 is no valid age: the usage screen instead of a run.
  static constexpr int32_t kAges[] = {1, 30, 30, 36500, 99999, 0};
  const size_t agePick = data.ConsumeIntegralInRange<size_t>(0, std::size(kAges));
  minimumAge_ =
      agePick < std::size(kAges) ? kAges[agePick] : data.ConsumeIntegralInRange<int32_t>(1, 400);
  arguments_.push_back(u"C:\\Tools\\wrenfold.exe");
  arguments_.push_back(sim::FromUtf8("/MIN:" + std::to_string(minimumAge_)));
  noPrompt_ = data.ConsumeBool();
  if (noPrompt_) arguments_.push_back(u"/y");
  roamingOnly_ = data.ConsumeIntegralInRange<int>(0, 3) == 0;
  if (roamingOnly_) arguments_.push_back(u"/R");
  if (data.ConsumeIntegralInRange<int>(0, 3) == 0) arguments_.push_back(u"/TraceAll");
  std::u16string skipList;
  const bool hasSkipList = data.ConsumeBool();
  if (hasSkipList) {
    const size_t names = data.ConsumeIntegralInRange<size_t>(0, 6);
    for (size_t i = 0; i < names; ++i) {
      if (i > 0) skipList += u":";
      std::u16string name = FolderName(data);
      if (data.ConsumeBool()) {
        for (char16_t& c : name) c = static_cast<char16_t>(wf::FoldAZ(c));
      }
      skipList += name;
    }
    arguments_.push_back(u"/SKIP:" + skipList);
  }
  if (remote_) arguments_.push_back(std::u16string(u"\\\\") + kRemoteName);
  if (!noPrompt_ && data.ConsumeBool()) {
    std::vector<ConsoleInputEvent> keys;
    const size_t count = data.ConsumeIntegralInRange<size_t>(0, kMostEntries + 2);
    for (size_t i = 0; i < count; ++i) {
      static constexpr uint8_t kKeys[] = {'y', 'n', 'Y', 'N', '\r', 0};
      const uint8_t key = kKeys[data.ConsumeIntegralInRange<size_t>(0, std::size(kKeys) - 1)];
      // A key without a character is F1: a two-part code.
      keys.push_back({true, true, key, static_cast<uint16_t>(key == 0 ? 59 : 0), 0});
      if (key == 'y' || key == 'Y') ++yesKeys_;
    }
    sim_.SetConsole(keys);
  }

  // ProfileList and its folder settings.
  const std::u16string list(sim::kProfileListPath);
  target_->CreateKey(list);
  const Value profilesDirectory = FolderValue(data, u"%SystemDrive%\\Users");
  const bool later = targetBuild >= 6000;
  const Value allUsers = FolderValue(data, later ? u"C:\\Users\\Public" : u"All Users");
  const Value defaultUser = FolderValue(data, later ? u"C:\\Users\\Default" : u"Default User");
  Put(*target_, list, u"ProfilesDirectory", profilesDirectory);
  Put(*target_, list, later ? u"Public" : u"AllUsersProfile", allUsers);
  Put(*target_, list, later ? u"Default" : u"DefaultUserProfile", defaultUser);

  // Entries and their folders.
  const size_t entryCount = data.ConsumeIntegralInRange<size_t>(0, kMostEntries);
  for (size_t i = 0; i < entryCount; ++i) {
    EntryModel entry;
    static constexpr const char16_t* kSystemSids[] = {u"S-1-5-18", u"s-1-5-19", u"S-1-5-20"};
    switch (data.ConsumeIntegralInRange<int>(0, 5)) {
      case 0:
        entry.sid = kSystemSids[data.ConsumeIntegralInRange<size_t>(0, 2)];
        break;
      case 1:
        entry.sid = MadeUpName(data, 300);
        break;
      default:
        entry.sid = sim::FromUtf8("S-1-5-21-1-1-1-" + std::to_string(1000 + i));
        break;
    }
    if (FindEntry(entry.sid) != nullptr) continue;
    for (const char16_t* system : kSystemSids) {
      if (EqualsSid(entry.sid, system)) entry.protectedSid = true;
    }
    const std::u16string key = list + u"\\" + entry.sid;
    sim::SimKey& staged = target_->CreateKey(key);

    std::u16string path = ProfilePath(data);
    Value pathValue;
    switch (data.ConsumeIntegralInRange<int>(0, 7)) {
      case 0:
        break;
      case 1:
        pathValue = RawValue(data);
        break;
      case 2:
        pathValue = TextValue(path, kRegExpandSz, false);
        break;
      default:
        pathValue = TextValue(path, data.ConsumeBool() ? kRegSz : kRegExpandSz, true);
        break;
    }
    Put(*target_, key, u"ProfileImagePath", pathValue);
    Value roaming;
    switch (data.ConsumeIntegralInRange<int>(0, 3)) {
      case 0:
        roaming = TextValue(u"\\\\server\\profiles\\" + entry.sid, kRegSz, true);
        break;
      case 1:
        roaming = TextValue(u"", kRegSz, data.ConsumeBool());
        break;
      case 2:
        roaming = RawValue(data);
        break;
      default:
        break;
    }
    Put(*target_, key, u"CentralProfile", roaming);
    entry.hasRoamingPath = ReadsAsRoamingPath(roaming);
    switch (data.ConsumeIntegralInRange<int>(0, 15)) {
      case 0:
        staged.denyRead = true;
        break;
      case 1:
        staged.denyDelete = true;
        break;
      case 2:
        target_->CreateKey(key + u"\\Sub");
        break;
      case 3:
        target_->FailDeleteProfile(entry.sid, kErrorAccessDenied);
        stagedStatuses_.push_back(kErrorAccessDenied);
        break;
      case 4:
        target_->KeepOnDeleteProfile(entry.sid);
        break;
      default:
        break;
    }

    // What the command makes of the entry.
    const std::optional<std::u16string> text = staged.denyRead ? std::nullopt : ReadText(pathValue);
    entry.enumerable = text.has_value() && !text->empty();
    if (entry.enumerable) {
      const std::optional<std::u16string> expanded = Expand(*text);
      entry.usable = expanded.has_value() && TargetLength(*expanded, remote_) <= kLongestFolder;
      if (entry.usable) entry.folder = ToFolder(*expanded);
    }

    // Its folder on the target computer.
    if (LocalPath parsed; entry.folder && LocalPath::Parse(entry.folder->path.Text(), &parsed)) {
      const std::u16string folder = parsed.Text();
      try {
        switch (data.ConsumeIntegralInRange<int>(0, 7)) {
          case 0:
            break;
          case 1:
            target_->AddFolder(folder);
            break;
          case 2:
            // Only where nothing is yet: a folder with contents cannot
            // become a file.
            if (target_->FindFile(folder) == nullptr) target_->AddFile(folder);
            break;
          case 3:
            target_->AddFolder(folder).denyAccess = true;
            target_->AddFile(folder + u"\\NTUSER.DAT", HiveTime(data, now, minimumAge_));
            break;
          case 4:
            target_->AddFolder(folder.substr(0, folder.rfind(u'\\'))).denyAccess = true;
            break;
          default: {
            SimFile& hive =
                target_->AddFile(folder + u"\\NTUSER.DAT", HiveTime(data, now, minimumAge_));
            hive.heldOpen = data.ConsumeIntegralInRange<int>(0, 5) == 0;
            break;
          }
        }
      } catch (const std::invalid_argument&) {
        // Staged under a file made for an earlier entry: that entry's
        // folder stays as it was.
      }
    }
    entries_.push_back(std::move(entry));
  }
  entriesBefore_ = target_->ProfileKeys().size();

  // The protected folders: the profiles directory (or its default), the
  // all-users and default-user folders, and the skip list joined under the
  // profiles directory.
  std::optional<std::u16string> directoryText = ReadText(profilesDirectory);
  if (!directoryText || directoryText->empty()) {
    directoryText = u"%SystemDrive%\\Documents and Settings";
  }
  const std::optional<std::u16string> directory = Expand(*directoryText);
  if (!directory || TargetLength(*directory, remote_) > wf::kPathChars - 1) {
    walkRuns_ = false;
    return;
  }
  const size_t directoryLength = TargetLength(*directory, remote_);
  auto underDirectory = [&](std::u16string_view name) -> std::optional<FolderId> {
    if (directoryLength + name.size() > wf::kPathChars - 1) return std::nullopt;
    return ToFolder(*directory + u"\\" + std::u16string(name));
  };
  auto addProtected = [&](const std::optional<FolderId>& folder) {
    if (folder) protectedFolders_.push_back(*folder);
  };
  addProtected(ToFolder(*directory));
  struct Special {
    const Value& value;
    const char16_t* laterName;
    const char16_t* earlierName;
  };
  for (const Special& special : {Special{allUsers, u"Public", u"All Users"},
                                 Special{defaultUser, u"Default", u"Default User"}}) {
    const std::optional<std::u16string> text = ReadText(special.value);
    if (later && text && !text->empty()) {
      if (const std::optional<std::u16string> expanded = Expand(*text)) {
        addProtected(ToFolder(*expanded));
      }
    } else {
      addProtected(underDirectory(text && !text->empty() ? *text
                                  : later                ? special.laterName
                                                         : special.earlierName));
    }
  }
  std::u16string_view names = std::u16string_view(skipList).substr(0, kSkipListChars);
  while (!names.empty()) {
    const size_t colon = names.find(u':');
    const std::u16string_view name = names.substr(0, colon);
    if (!name.empty()) addProtected(underDirectory(name));
    if (colon == std::u16string_view::npos) break;
    names.remove_prefix(colon + 1);
  }
}

const EntryModel* TargetCase::FindEntry(std::u16string_view sid) const {
  for (const EntryModel& entry : entries_) {
    if (sim::EqualNoCase(entry.sid, sid)) return &entry;
  }
  return nullptr;
}

std::optional<std::u16string> TargetCase::Expand(std::u16string_view text) const {
  if (remote_) return ExpandOnTarget(text);
  const std::u16string source(text);
  std::vector<char16_t> buffer(wf::kPathChars + 1);
  const uint32_t needed = sim_.ExpandEnvironmentStrings(source.c_str(), buffer.data(),
                                                        static_cast<uint32_t>(buffer.size()));
  if (needed == 0 || needed > wf::kPathChars) return std::nullopt;
  return std::u16string(buffer.data());
}

// A remote target's paths take its own values for the variables its
// Windows writes: %SystemRoot% and %windir% its SystemRoot, %SystemDrive%
// the drive of that. Any other reference, or a SystemRoot that is no drive
// path, leaves the path unexpanded.
std::optional<std::u16string> TargetCase::ExpandOnTarget(std::u16string_view text) const {
  const std::u16string_view root = systemRoot_;
  if (root.size() < 3 || root[1] != u':' || root[2] != u'\\' ||
      !((root[0] >= u'A' && root[0] <= u'Z') || (root[0] >= u'a' && root[0] <= u'z'))) {
    return std::nullopt;
  }
  std::u16string expanded;
  for (size_t at = 0; at < text.size();) {
    const size_t close = text[at] == u'%' ? text.find(u'%', at + 1) : std::u16string_view::npos;
    if (close == std::u16string_view::npos) {
      expanded.push_back(text[at++]);
      continue;
    }
    const std::u16string_view name = text.substr(at + 1, close - at - 1);
    if (sim::EqualNoCase(name, u"SystemRoot") || sim::EqualNoCase(name, u"windir")) {
      expanded += root;
    } else if (sim::EqualNoCase(name, u"SystemDrive")) {
      expanded += root.substr(0, 2);
    } else {
      return std::nullopt;
    }
    at = close + 1;
  }
  if (expanded.size() > wf::kPathChars - 1) return std::nullopt;
  return expanded;
}

std::optional<FolderId> TargetCase::ToFolder(std::u16string_view expanded) const {
  FolderId folder;
  folder.computer = target_;
  if (!LocalPath::Parse(expanded, &folder.path)) return std::nullopt;
  return folder;
}

bool TargetCase::Unreachable(const FolderId& folder, bool includeSelf) const {
  if (remote_ && folder.computer->ShareStatus(folder.path.drive) != 0) return true;
  const size_t last = folder.path.components.size() + (includeSelf ? 1 : 0);
  for (size_t count = 1; count < last; ++count) {
    const SimFile* file = folder.computer->FindFile(folder.path.Text(count));
    if (file != nullptr && file->directory && file->denyAccess) return true;
  }
  return false;
}

bool TargetCase::IsProtectedFolder(const FolderId& folder) const {
  for (const FolderId& protectedFolder : protectedFolders_) {
    if (protectedFolder.SameAs(folder)) return true;
  }
  return false;
}

void TargetCase::CheckConfirmed(const char* call, Findings& findings) {
  ++deletions_;
  if (minimumAge_ == 0 || !walkRuns_) {
    findings.push_back(std::string(call) + " in a run that must not walk the profiles");
  }
  if (!noPrompt_ && deletions_ > yesKeys_) {
    findings.push_back(std::string(call) + " number " + std::to_string(deletions_) + " with only " +
                       std::to_string(yesKeys_) + " yes keys and no /y");
  }
}

void TargetCase::CheckDeleteInstance(const char16_t* objectPath, Findings& findings) {
  const std::string name = "DeleteInstance(" + Printable(sim::View(objectPath)) + ")";
  const std::u16string expected = u"Win32_UserProfile.SID=\"" + lastDeleteProfile_ + u"\"";
  if (lastDeleteProfile_.empty() || sim::View(objectPath) != expected) {
    findings.push_back(name + " not of the profile DeleteProfile was just asked for");
  }
  if (!serviceOverWmi_) findings.push_back(name + " on a build without Win32_UserProfile");
  // Only S-1- and decimal numbers: no other key name goes into a path.
  const std::u16string_view sid = lastDeleteProfile_;
  if (sid.size() < 5 || sid.substr(0, 4) != u"S-1-" ||
      sid.substr(4).find_first_not_of(u"0123456789-") != std::u16string_view::npos ||
      sid.find(u"--") != std::u16string_view::npos || sid.back() == u'-') {
    findings.push_back(name + " for a key name that is not a SID");
  }
  lastDeleteProfile_.clear();
}

void TargetCase::CheckDeleteProfile(const char16_t* sid, Findings& findings) {
  CheckConfirmed("DeleteProfile", findings);
  lastDeleteProfile_ = sim::View(sid);
  const std::string name = "DeleteProfile(" + Printable(sim::View(sid)) + ")";
  const EntryModel* entry = FindEntry(sim::View(sid));
  if (entry == nullptr) {
    findings.push_back(name + ": not an entry of ProfileList");
    return;
  }
  if (entry->protectedSid) findings.push_back(name + ": a system account");
  if (!entry->enumerable || !entry->usable) {
    findings.push_back(name + ": its profile path is not usable");
  }
  if (roamingOnly_ && !entry->hasRoamingPath) findings.push_back(name + ": local profile with /R");
  if (!entry->folder) return;
  const FolderId& folder = *entry->folder;
  const std::string where = " (" + Printable(folder.path.Text()) + ")";
  if (IsProtectedFolder(folder)) findings.push_back(name + ": a protected folder" + where);
  if (Unreachable(folder, true)) findings.push_back(name + ": an unreachable folder" + where);
  if (!folder.computer->FolderExists(folder.path.Text())) {
    findings.push_back(name + ": its folder does not exist" + where);
    return;
  }
  const SimFile* hive = folder.computer->FindFile(folder.path.Text() + u"\\NTUSER.DAT");
  if (hive == nullptr) {
    findings.push_back(name + ": no hive to date it by" + where);
    return;
  }
  if (hive->heldOpen) findings.push_back(name + ": its hive is in use" + where);
  const FileTime now = sim_.Now();
  if (hive->lastWriteTime >= now) {
    findings.push_back(name + ": its hive was written in the future" + where);
    return;
  }
  const uint64_t days = (now - hive->lastWriteTime) / kDay;
  if (days < static_cast<uint64_t>(minimumAge_) || days > kMaximumValidDays) {
    findings.push_back(name + ": its hive is " + std::to_string(days) + " days old, minimum " +
                       std::to_string(minimumAge_) + where);
  }
}

void TargetCase::CheckRegDeleteKey(const char16_t* subKey, Findings& findings) {
  CheckConfirmed("RegDeleteKey", findings);
  const std::string name = "RegDeleteKey(" + Printable(sim::View(subKey)) + ")";
  const EntryModel* entry = FindEntry(sim::View(subKey));
  if (entry == nullptr) {
    findings.push_back(name + ": not an entry of ProfileList");
    return;
  }
  if (!entry->enumerable || !entry->usable) {
    findings.push_back(name + ": its profile path is not usable");
  }
  if (!entry->folder) return;
  const FolderId& folder = *entry->folder;
  const std::string where = " (" + Printable(folder.path.Text()) + ")";
  if (folder.computer->FolderExists(folder.path.Text())) {
    findings.push_back(name + ": its folder exists" + where);
  }
  if (Unreachable(folder, false)) findings.push_back(name + ": its folder is unreachable" + where);
}

void TargetCase::CheckAfterRun(int32_t exitCode, const std::string& output,
                               Findings& findings) const {
  CheckLineEnds(output, findings);
  const int headers = CheckProfileBlocks(output, findings);
  const auto code = static_cast<uint32_t>(exitCode);
  if (minimumAge_ == 0) {
    if (code != kErrorInvalidParameter)
      findings.push_back("usage run exits with " + std::to_string(code));
    return;
  }
  const std::optional<int64_t> enumerated = ReadCounter(output, "Profiles Enumerated");
  const std::optional<int64_t> deleted = ReadCounter(output, "Profiles Deleted");
  if (!enumerated || !deleted) {
    findings.push_back("no summary counters");
  } else {
    if (*enumerated != headers) {
      findings.push_back("Profiles Enumerated=" + std::to_string(*enumerated) + " but " +
                         std::to_string(headers) + " profile blocks");
    }
    const auto gone =
        static_cast<int64_t>(entriesBefore_) - static_cast<int64_t>(target_->ProfileKeys().size());
    if (*deleted != gone) {
      findings.push_back("Profiles Deleted=" + std::to_string(*deleted) + " but " +
                         std::to_string(gone) + " entries gone from ProfileList");
    }
  }
  // Success, a refused remote deletion, a declined prompt, a deletion left
  // listed, and what a folder lookup, a deletion or the pass can fail with
  // on this staging.
  static constexpr uint32_t kPossible[] = {0,   2,   3,   5,   13,  32,   53,   67,   87,
                                           123, 203, 206, 267, 303, 1223, 1326, 1337, 1722};
  bool allowed = false;
  for (const uint32_t possible : kPossible) allowed = allowed || possible == code;
  for (const uint32_t staged : stagedStatuses_) allowed = allowed || staged == code;
  if (!allowed) findings.push_back("exit code " + std::to_string(code));
}

Findings RunTargetCase(const uint8_t* bytes, size_t size, TargetRunner runner,
                       std::string* output) {
  FuzzedDataProvider data(bytes, size);
  sim::SimPlatform sim;
  TargetCase target(data, sim);

  Findings findings;
  CheckingPlatform checking(
      sim,
      [&](const char16_t* sid, const char16_t*, const char16_t*) {
        target.CheckDeleteProfile(sid, findings);
      },
      [&](RegKey, const char16_t* subKey) { target.CheckRegDeleteKey(subKey, findings); },
      [&](const char16_t* objectPath) { target.CheckDeleteInstance(objectPath, findings); });

  std::vector<const char16_t*> argv;
  for (const std::u16string& argument : target.Arguments()) argv.push_back(argument.c_str());
  argv.push_back(nullptr);
  ResetConsoleKey();
  const int32_t exitCode =
      WrenfoldMain(checking, static_cast<int>(target.Arguments().size()), argv.data(), runner);

  ShowRun(target.Arguments(), sim.StandardOutput(), exitCode);
  target.CheckAfterRun(exitCode, sim.StandardOutput(), findings);
  if (sim.OpenRegistryHandles() != 0 || sim.OpenFileHandles() != 0 ||
      sim.OpenWmiConnections() != 0) {
    findings.push_back("handles left open");
  }
  if (output != nullptr) *output = sim.StandardOutput();
  return findings;
}

}  // namespace wf::fuzz
