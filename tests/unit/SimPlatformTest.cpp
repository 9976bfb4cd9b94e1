// The simulated Windows computers: the behaviour of each operation that the
// engine relies on, as Windows shows it.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "SimTestSupport.h"
#include "platform/Text.h"
#include "sim/SimPlatform.h"

namespace wf::sim {
namespace {

constexpr std::u16string_view kCurrentVersion = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr const char16_t* kProfileList =
    u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

class SimRegistryTest : public ::testing::Test {
 protected:
  RegKey Open(const char16_t* path, uint32_t access = kKeyRead, RegKey from = kHKeyLocalMachine) {
    RegKey key = kNoKey;
    EXPECT_EQ(sim.RegOpenKeyEx(from, path, 0, access, &key), 0);
    return key;
  }
  std::vector<std::u16string> Enumerate(RegKey key) {
    std::vector<std::u16string> names;
    for (uint32_t index = 0;; ++index) {
      PathText name;
      uint32_t chars = kPathChars;
      const int32_t status = sim.RegEnumKeyEx(key, index, name.Data(), &chars);
      if (status != 0) {
        EXPECT_EQ(status, kErrorNoMoreItems);
        break;
      }
      EXPECT_EQ(chars, name.Length());
      names.emplace_back(name.Data());
    }
    return names;
  }
  SimPlatform sim;
};

TEST_F(SimRegistryTest, SubkeysEnumerateInWindowsOrderWhateverTheStagingOrder) {
  for (const char16_t* sid :
       {u"S-1-5-21-9", u"S-1-5-21-_", u"s-1-5-18", u"S-1-5-21-^", u"S-1-5-21-10", u"S-1-5-21-]",
        u"S-1-5-21-b", u"S-1-5-21-[", u"S-1-5-20", u"S-1-5-21-A"}) {
    sim.Local().CreateKey(std::u16string(kProfileList) + u"\\" + sid);
  }
  // Names compare upper-cased: "[" "]" "^" "_" (0x5B to 0x5F) sort after
  // the letters, where a lower-case comparison would put them before
  // ("a" is 0x61). Names keep the case they were created with.
  const RegKey list = Open(kProfileList);
  EXPECT_EQ(Enumerate(list),
            (std::vector<std::u16string>{u"s-1-5-18", u"S-1-5-20", u"S-1-5-21-10", u"S-1-5-21-9",
                                         u"S-1-5-21-A", u"S-1-5-21-b", u"S-1-5-21-[", u"S-1-5-21-]",
                                         u"S-1-5-21-^", u"S-1-5-21-_"}));

  char16_t small[8] = {u'x'};
  uint32_t chars = 8;  // "s-1-5-18" needs 9 with its terminator
  EXPECT_EQ(sim.RegEnumKeyEx(list, 0, small, &chars), kErrorMoreData);
  EXPECT_EQ(chars, 8u);
  EXPECT_EQ(small[0], u'x');

  // A handle opened for querying values only may not enumerate.
  const RegKey queryOnly = Open(kProfileList, kKeyQueryValue);
  chars = kPathChars;
  PathText name;
  EXPECT_EQ(sim.RegEnumKeyEx(queryOnly, 0, name.Data(), &chars), kErrorAccessDenied);
}

TEST_F(SimRegistryTest, ValueReadsFollowTheOfferedByteCount) {
  SimComputer& pc = sim.Local();
  pc.SetString(kProfileList, u"Long", std::u16string(261, u'a'));
  pc.SetString(kProfileList, u"Fits", std::u16string(260, u'b'));
  pc.SetString(kProfileList, u"Bare", u"C:\\Users\\Bob", kRegExpandSz, false);
  pc.SetValue(kProfileList, u"Empty", kRegSz, {});
  pc.SetDword(kProfileList, u"Number", 7601);
  const RegKey list = Open(kProfileList, kKeyQueryValue);

  PathText text;
  uint32_t type = 0;
  uint32_t bytes = PathText::ByteSize();
  text.Assign(u"C:\\Users");
  EXPECT_EQ(
      sim.RegQueryValueEx(list, u"Long", &type, reinterpret_cast<uint8_t*>(text.Data()), &bytes),
      kErrorMoreData);
  EXPECT_EQ(bytes, 524u);  // the size needed, terminator included
  EXPECT_EQ(type, kRegSz);
  // The buffer's contents are undefined then: every offered byte is junk,
  // so a caller that reads it as text finds no terminator.
  const auto* raw = reinterpret_cast<const uint8_t*>(text.Data());
  EXPECT_EQ(std::count(raw, raw + PathText::ByteSize(), 0xCD), PathText::ByteSize());

  bytes = PathText::ByteSize();
  EXPECT_EQ(
      sim.RegQueryValueEx(list, u"Fits", &type, reinterpret_cast<uint8_t*>(text.Data()), &bytes),
      0);
  EXPECT_EQ(bytes, 522u);
  EXPECT_EQ(text.Length(), 260u);

  // Stored without terminator: the exact count, and a terminator supplied
  // after the data because the buffer has room for it.
  text.Assign(u"################");
  bytes = PathText::ByteSize();
  EXPECT_EQ(
      sim.RegQueryValueEx(list, u"Bare", &type, reinterpret_cast<uint8_t*>(text.Data()), &bytes),
      0);
  EXPECT_EQ(bytes, 24u);
  EXPECT_EQ(type, kRegExpandSz);
  EXPECT_EQ(std::u16string(text.Data()), u"C:\\Users\\Bob");

  bytes = PathText::ByteSize();
  EXPECT_EQ(
      sim.RegQueryValueEx(list, u"Empty", &type, reinterpret_cast<uint8_t*>(text.Data()), &bytes),
      0);
  EXPECT_EQ(bytes, 0u);

  uint32_t number = 0;
  bytes = sizeof number;
  EXPECT_EQ(
      sim.RegQueryValueEx(list, u"number", &type, reinterpret_cast<uint8_t*>(&number), &bytes), 0);
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(number, 7601u);

  bytes = 0;
  EXPECT_EQ(sim.RegQueryValueEx(list, u"Long", &type, nullptr, &bytes), 0);  // size only
  EXPECT_EQ(bytes, 524u);
  EXPECT_EQ(sim.RegQueryValueEx(list, u"Missing", &type, nullptr, &bytes), kErrorFileNotFound);

  const RegKey enumerateOnly = Open(kProfileList, kKeyEnumerateSubKeys);
  bytes = PathText::ByteSize();
  EXPECT_EQ(sim.RegQueryValueEx(enumerateOnly, u"Fits", &type,
                                reinterpret_cast<uint8_t*>(text.Data()), &bytes),
            kErrorAccessDenied);
}

TEST_F(SimRegistryTest, KeySecurityRefusesTheDeniedRightsOnly) {
  const std::u16string list = kProfileList;
  sim.Local().CreateKey(list + u"\\S-1-5-21-1\\Below");
  sim.Local().FindKey(list + u"\\S-1-5-21-1")->denyRead = true;
  sim.Local().CreateKey(list + u"\\S-1-5-21-2").denyDelete = true;
  const RegKey listKey = Open(kProfileList);

  RegKey key = kNoKey;
  for (uint32_t access : std::initializer_list<uint32_t>{
           kKeyRead, kKeyQueryValue, kKeyEnumerateSubKeys, kGenericRead, kKeyAllAccess,
           kKeyQueryValue | kDelete, 0x10000000u /* GENERIC_ALL */}) {
    EXPECT_EQ(sim.RegOpenKeyEx(listKey, u"S-1-5-21-1", 0, access, &key), kErrorAccessDenied)
        << access;
  }
  EXPECT_EQ(sim.RegOpenKeyEx(listKey, u"S-1-5-21-2", 0, 0x10000000u, &key), kErrorAccessDenied);
  // Keys below a key that refuses reading open as usual.
  EXPECT_EQ(sim.RegCloseKey(Open(u"S-1-5-21-1\\Below", kKeyRead, listKey)), 0);
  // MAXIMUM_ALLOWED gets what is granted; the open works, reading does not.
  const RegKey most = Open(u"S-1-5-21-1", 0x02000000u, listKey);
  uint32_t bytes = 0;
  EXPECT_EQ(sim.RegQueryValueEx(most, u"ProfileImagePath", nullptr, nullptr, &bytes),
            kErrorAccessDenied);
  EXPECT_EQ(sim.RegCloseKey(most), 0);
  EXPECT_EQ(sim.RegCloseKey(Open(u"S-1-5-21-2", 0x02000000u | kKeyRead, listKey)), 0);

  // Refused reading leaves deletion alone.
  EXPECT_EQ(sim.RegCloseKey(Open(u"S-1-5-21-1\\Below", kDelete, listKey)), 0);
  EXPECT_EQ(sim.RegDeleteKey(listKey, u"S-1-5-21-1\\Below"), 0);
  EXPECT_EQ(sim.RegDeleteKey(listKey, u"S-1-5-21-1"), 0);
  EXPECT_EQ(Enumerate(listKey), (std::vector<std::u16string>{u"S-1-5-21-2"}));
  EXPECT_EQ(sim.RegCloseKey(listKey), 0);
  EXPECT_EQ(sim.OpenRegistryHandles(), 0u);
}

// Enumeration keeps its place cheaply, and stays right when subkeys are
// removed or added between two calls, before, at or after that place.
TEST_F(SimRegistryTest, EnumerationStaysRightAsSubkeysComeAndGo) {
  SimComputer& pc = sim.Local();
  const std::u16string list(kProfileList);
  for (const char16_t* name : {u"A", u"B", u"C", u"D", u"E", u"F"})
    pc.CreateKey(list + u"\\" + name);
  const RegKey key = Open(kProfileList);
  const auto at = [&](uint32_t index) {
    PathText name;
    uint32_t chars = kPathChars;
    const int32_t status = sim.RegEnumKeyEx(key, index, name.Data(), &chars);
    return status == 0 ? std::u16string(name.Data()) : u"#" + FromUtf8(std::to_string(status));
  };
  SimKey& parent = *pc.FindKey(list);
  EXPECT_EQ(at(0), u"A");
  EXPECT_EQ(at(1), u"B");
  pc.RemoveKey(parent, u"B");  // the one just returned: C moves down to 1
  EXPECT_EQ(at(1), u"C");
  pc.RemoveKey(parent, u"A");  // before the place: C is now at 0
  EXPECT_EQ(at(1), u"D");
  pc.RemoveKey(parent, u"F");   // after the place
  pc.CreateKey(list + u"\\0");  // before the place
  EXPECT_EQ(at(2), u"D");
  EXPECT_EQ(at(3), u"E");
  EXPECT_EQ(at(4), u"#259");
  EXPECT_EQ(at(0), u"0");
}

TEST_F(SimRegistryTest, OpeningAndClosingKeys) {
  sim.Local().CreateKey(kProfileList);
  const RegKey version = Open(u"software\\MICROSOFT\\windows nt\\currentversion");
  RegKey key = 7;
  EXPECT_EQ(sim.RegOpenKeyEx(version, u"ProfileList\\S-1-5-21-1", 0, kKeyRead, &key),
            kErrorFileNotFound);
  EXPECT_EQ(key, kNoKey);
  EXPECT_EQ(sim.RegOpenKeyEx(version, u"\\ProfileList", 0, kKeyRead, &key), 161);  // bad path
  EXPECT_EQ(sim.RegOpenKeyEx(0x1234, u"ProfileList", 0, kKeyRead, &key), kErrorInvalidHandle);
  EXPECT_EQ(sim.RegCloseKey(kHKeyLocalMachine), 0);
  EXPECT_EQ(sim.RegCloseKey(version), 0);
  EXPECT_EQ(sim.RegCloseKey(version), kErrorInvalidHandle);
  EXPECT_EQ(sim.OpenRegistryHandles(), 0u);
}

TEST_F(SimRegistryTest, DeletionNeedsDeleteAccessAndNoSubkeys) {
  SimComputer& pc = sim.Local();
  const std::u16string list = kProfileList;
  pc.CreateKey(list + u"\\S-1-5-21-1\\Nested");
  pc.CreateKey(list + u"\\S-1-5-21-2").denyDelete = true;
  pc.CreateKey(list + u"\\S-1-5-21-3");
  pc.CreateKey(list + u"\\S-1-5-21-4");
  const RegKey listKey = Open(kProfileList);

  EXPECT_EQ(sim.RegDeleteKey(listKey, u"S-1-5-21-1"), kErrorAccessDenied);
  RegKey denied = kNoKey;
  EXPECT_EQ(sim.RegOpenKeyEx(listKey, u"S-1-5-21-2", 0, kDelete, &denied), kErrorAccessDenied);
  EXPECT_EQ(sim.RegDeleteKey(listKey, u"S-1-5-21-2"), kErrorAccessDenied);
  EXPECT_EQ(sim.RegDeleteKey(listKey, u"S-1-5-21-9"), kErrorFileNotFound);

  // A handle still open on the deleted key sees it marked for deletion.
  const RegKey doomed = Open(u"S-1-5-21-3", kKeyQueryValue | kDelete, listKey);
  EXPECT_EQ(sim.RegDeleteKey(listKey, u"s-1-5-21-3"), 0);
  uint32_t bytes = 0;
  EXPECT_EQ(sim.RegQueryValueEx(doomed, u"ProfileImagePath", nullptr, nullptr, &bytes), 1018);
  EXPECT_EQ(sim.RegCloseKey(doomed), 0);

  // The entries behind it move down by one index.
  EXPECT_EQ(Enumerate(listKey),
            (std::vector<std::u16string>{u"S-1-5-21-1", u"S-1-5-21-2", u"S-1-5-21-4"}));
}

TEST_F(SimRegistryTest, ConnectingReachesTheLocalOrARemoteHive) {
  SimComputer& pc07 = sim.AddRemote(u"PC07");
  pc07.SetString(kCurrentVersion, u"CurrentBuildNumber", u"2600");
  sim.AddRemote(u"PC08").remoteRegistryStatus = 1722;
  SimComputer& pc09 = sim.AddRemote(u"PC09");
  pc09.remoteRegistryStatus = 5;
  pc09.remoteRegistryFromConnection = 2;

  RegKey root = 7;
  EXPECT_EQ(sim.RegConnectRegistry(u"pc01", kHKeyLocalMachine, &root), 0);
  EXPECT_EQ(root, kHKeyLocalMachine);
  EXPECT_EQ(sim.RegConnectRegistry(u"PC99", kHKeyLocalMachine, &root), kErrorBadNetPath);
  EXPECT_EQ(root, kNoKey);
  EXPECT_EQ(sim.RegConnectRegistry(u"PC08", kHKeyLocalMachine, &root), 1722);
  // The service fails from the second connection on, counted per computer.
  ASSERT_EQ(sim.RegConnectRegistry(u"PC09", kHKeyLocalMachine, &root), 0);
  EXPECT_EQ(sim.RegCloseKey(root), 0);
  EXPECT_EQ(sim.RegConnectRegistry(u"PC09", kHKeyLocalMachine, &root), 5);
  EXPECT_EQ(sim.RegConnectRegistry(u"PC09", kHKeyLocalMachine, &root), 5);

  ASSERT_EQ(sim.RegConnectRegistry(u"\\\\Pc07", kHKeyLocalMachine, &root), 0);
  const RegKey version = Open(kCurrentVersion.data(), kKeyRead, root);
  PathText text;
  uint32_t bytes = PathText::ByteSize();
  EXPECT_EQ(sim.RegQueryValueEx(version, u"CurrentBuildNumber", nullptr,
                                reinterpret_cast<uint8_t*>(text.Data()), &bytes),
            0);
  EXPECT_EQ(std::u16string(text.Data()), u"2600");
  // The local hive has no such value.
  RegKey local = kNoKey;
  EXPECT_EQ(sim.RegOpenKeyEx(kHKeyLocalMachine, kCurrentVersion.data(), 0, kKeyRead, &local),
            kErrorFileNotFound);
  EXPECT_EQ(sim.RegCloseKey(version), 0);
  EXPECT_EQ(sim.RegCloseKey(root), 0);
}

class SimFilesTest : public ::testing::Test {
 protected:
  SimFilesTest() {
    SimComputer& pc = sim.Local();
    pc.AddFolder(u"C:\\Users\\Bob", At(2026, 1, 2));
    SimFile& hive = pc.AddFile(u"C:\\Users\\Bob\\NTUSER.DAT", At(2026, 3, 4, 5, 6));
    hive.attributes = kFileAttributeHidden;
    pc.AddFile(u"C:\\Users\\Ann\\NTUSER.DAT").heldOpen = true;
    SimComputer& pc07 = sim.AddRemote(u"PC07");
    pc07.AddFolder(u"C:\\Users\\Eve");
    pc07.AddFolder(u"D:\\Profiles\\Joe");
    pc07.AddFolder(u"E:\\Data");
    pc07.SetVolume(u'D', 3 * 1048576, 100 * 1048576);
    pc07.AddFolder(u"G:\\Data");
    pc07.SetShare(u'D', kErrorBadNetPath);
    pc07.SetShare(u'E', kErrorAccessDenied);
    pc07.SetShare(u'G', 1231);
  }
  // The status of a failed search, or 0 with the attributes in *data.
  uint32_t Find(const char16_t* path, FindData* data = nullptr) {
    FindData scratch;
    sim.SetLastError(0);
    const FileHandle handle = sim.FindFirstFile(path, data != nullptr ? data : &scratch);
    if (handle == kInvalidHandle) return sim.GetLastError();
    EXPECT_TRUE(sim.FindClose(handle));
    return 0;
  }
  uint32_t OpenExclusive(const char16_t* path, FileHandle* handle = nullptr) {
    sim.SetLastError(0);
    const FileHandle opened = sim.CreateFile(path, kGenericRead | kGenericWrite | kDelete, 0,
                                             kOpenExisting, kFileAttributeNormal);
    const uint32_t error = sim.GetLastError();
    if (handle != nullptr) {
      *handle = opened;
    } else if (opened != kInvalidHandle) {
      EXPECT_TRUE(sim.CloseHandle(opened));
    }
    return error;
  }
  SimPlatform sim;
};

TEST_F(SimFilesTest, SearchFindsExactEntriesWithTheirAttributesAndTimes) {
  FindData data;
  EXPECT_EQ(Find(u"c:\\users\\bob", &data), 0u);
  EXPECT_EQ(data.attributes, kFileAttributeDirectory);
  EXPECT_EQ(std::u16string(data.fileName), u"Bob");

  EXPECT_EQ(Find(u"C:\\Users\\Bob\\ntuser.dat", &data), 0u);
  EXPECT_EQ(data.attributes, kFileAttributeArchive | kFileAttributeHidden);
  EXPECT_EQ(data.lastWriteTime, At(2026, 3, 4, 5, 6));
  EXPECT_EQ(std::u16string(data.fileName), u"NTUSER.DAT");

  EXPECT_EQ(Find(u"C:\\Users\\Carl"), kErrorFileNotFound);
  EXPECT_EQ(Find(u"C:\\Users\\Carl\\NTUSER.DAT"), kErrorPathNotFound);
  EXPECT_EQ(Find(u"C:\\Users\\Bob\\NTUSER.DAT\\x"), kErrorPathNotFound);
  EXPECT_EQ(Find(u"C:\\Users\\Bob\\"), kErrorFileNotFound);
  EXPECT_EQ(Find(u"Q:\\Users"), kErrorPathNotFound);

  EXPECT_FALSE(sim.FindClose(0x1234));
  EXPECT_EQ(sim.GetLastError(), kErrorInvalidHandle);
  EXPECT_EQ(sim.OpenFileHandles(), 0u);

  // States Windows cannot have are refused when staged.
  EXPECT_THROW(sim.Local().AddFile(u"C:\\Users\\Bob"), std::invalid_argument);
  EXPECT_THROW(sim.Local().AddFile(u"C:\\Users\\Bob\\NTUSER.DAT\\x"), std::invalid_argument);
}

// Every file call sees the path as GetFullPathNameW makes it.
TEST_F(SimFilesTest, PathsAreNormalizedAsWin32Does) {
  FindData data;
  for (const char16_t* bob :
       {u"C:\\Users\\Bob.", u"C:/Users/Bob ", u"C:\\Users\\\\x\\..\\Bob", u"C:\\..\\..\\Users\\Bob",
        u"C:\\Users.\\Bob. .", u"C:\\Users\\.\\Bob\\.", u"C:\\Users\\Bob\\Extra\\.."}) {
    EXPECT_EQ(Find(bob, &data), 0u) << ToUtf8(bob);
    EXPECT_EQ(std::u16string(data.fileName), u"Bob") << ToUtf8(bob);
  }
  // Ending in a separator once normalized finds nothing; a component
  // followed by a separator loses one dot only, and dots alone are a name.
  EXPECT_EQ(Find(u"C:\\Users\\Bob\\\\"), kErrorFileNotFound);
  EXPECT_EQ(Find(u"C:\\Users\\Bob\\ "), kErrorFileNotFound);
  EXPECT_EQ(Find(u"C:\\Users..\\Bob"), kErrorPathNotFound);
  EXPECT_EQ(Find(u"C:\\Users\\...\\Bob"), kErrorPathNotFound);
  // Through a share, ".." stops at the share's root.
  EXPECT_EQ(Find(u"\\\\PC07\\C$\\..\\..\\Users//Eve.", &data), 0u);
  EXPECT_EQ(std::u16string(data.fileName), u"Eve");

  EXPECT_EQ(OpenExclusive(u"C:/Users//Bob\\NTUSER.DAT. "), 0u);
  uint64_t available = 0, total = 0, free = 0;
  EXPECT_TRUE(sim.GetDiskFreeSpaceEx(u"C:\\Users\\Bob\\..\\..\\", &available, &total, &free));
  EXPECT_TRUE(sim.GetDiskFreeSpaceEx(u"\\\\PC07\\C$\\Users\\Eve.\\", &available, &total, &free));

  // Staging and looking up follow the same rules.
  sim.Local().AddFolder(u"C:\\Users\\Zed. ");
  EXPECT_TRUE(sim.Local().FolderExists(u"c:/users/zed"));
  EXPECT_EQ(sim.Local().Folders(),
            (std::vector<std::u16string>{u"C:\\Users", u"C:\\Users\\Ann", u"C:\\Users\\Bob",
                                         u"C:\\Users\\Zed"}));
  EXPECT_EQ(sim.OpenFileHandles(), 0u);
}

TEST_F(SimFilesTest, EntriesThatRefuseAccess) {
  SimComputer& pc = sim.Local();
  pc.AddFolder(u"C:\\Users\\Sec").denyAccess = true;
  pc.AddFile(u"C:\\Users\\Sec\\NTUSER.DAT");
  pc.FindFile(u"C:\\Users\\Bob\\NTUSER.DAT")->denyAccess = true;

  // Listed in the parent, so a search for the entry itself finds it.
  EXPECT_EQ(Find(u"C:\\Users\\Sec"), 0u);
  EXPECT_EQ(Find(u"C:\\Users\\Bob\\NTUSER.DAT"), 0u);
  // Nothing below a refusing folder can be reached, existing or not.
  EXPECT_EQ(Find(u"C:\\Users\\Sec\\NTUSER.DAT"), kErrorAccessDenied);
  EXPECT_EQ(Find(u"C:\\Users\\Sec\\Missing\\x"), kErrorAccessDenied);
  EXPECT_EQ(OpenExclusive(u"C:\\Users\\Sec\\NTUSER.DAT"), kErrorAccessDenied);
  EXPECT_EQ(OpenExclusive(u"C:\\Users\\Bob\\NTUSER.DAT"), kErrorAccessDenied);
  EXPECT_EQ(sim.CreateFile(u"C:\\Users\\Sec", kGenericRead, 7, kOpenExisting, 0x02000000u),
            kInvalidHandle);
  EXPECT_EQ(sim.GetLastError(), kErrorAccessDenied);
  uint64_t available = 0, total = 0, free = 0;
  EXPECT_FALSE(sim.GetDiskFreeSpaceEx(u"C:\\Users\\Sec\\", &available, &total, &free));
  EXPECT_EQ(sim.GetLastError(), kErrorAccessDenied);
  EXPECT_FALSE(sim.GetDiskFreeSpaceEx(u"C:\\Users\\Sec\\Sub\\", &available, &total, &free));
  EXPECT_EQ(sim.GetLastError(), kErrorAccessDenied);
  EXPECT_EQ(sim.OpenFileHandles(), 0u);
}

TEST_F(SimFilesTest, AdministrativeSharesReachEachComputersDrives) {
  EXPECT_EQ(Find(u"\\\\pc07\\c$\\Users\\Eve"), 0u);
  EXPECT_EQ(Find(u"\\\\PC07\\C$\\Users\\Bob"), kErrorFileNotFound);  // Bob lives on PC01
  EXPECT_EQ(Find(u"\\\\PC01\\C$\\Users\\Bob"), 0u);                  // the own computer too
  EXPECT_EQ(Find(u"\\\\PC07\\D$\\Profiles\\Joe"), kErrorBadNetPath);
  EXPECT_EQ(Find(u"\\\\PC07\\E$\\Data"), kErrorAccessDenied);
  EXPECT_EQ(Find(u"\\\\PC07\\G$\\Data"), 1231u);  // any status, as staged
  EXPECT_EQ(Find(u"\\\\PC07\\F$\\Data"), 67u);    // no such share
  EXPECT_EQ(Find(u"\\\\PC99\\C$\\Users"), kErrorBadNetPath);
  EXPECT_EQ(OpenExclusive(u"\\\\PC07\\D$\\Profiles\\Joe\\NTUSER.DAT"), kErrorBadNetPath);
}

TEST_F(SimFilesTest, ExclusiveOpenTellsAHeldFileFromAFreeOne) {
  EXPECT_EQ(OpenExclusive(u"C:\\Users\\Ann\\NTUSER.DAT"), kErrorSharingViolation);
  EXPECT_EQ(OpenExclusive(u"C:\\Users\\Bob"), kErrorAccessDenied);  // a folder
  EXPECT_EQ(OpenExclusive(u"C:\\Users\\Eve\\NTUSER.DAT"), kErrorPathNotFound);
  EXPECT_EQ(OpenExclusive(u"C:\\Users\\Bob\\Missing.dat"), kErrorFileNotFound);

  sim.SetLastError(99);
  FileHandle first = kInvalidHandle;
  EXPECT_EQ(OpenExclusive(u"C:\\Users\\Bob\\NTUSER.DAT", &first), 0u);  // success clears
  ASSERT_NE(first, kInvalidHandle);
  EXPECT_EQ(OpenExclusive(u"C:\\Users\\Bob\\NTUSER.DAT"), kErrorSharingViolation);
  EXPECT_TRUE(sim.CloseHandle(first));
  EXPECT_FALSE(sim.CloseHandle(first));
  EXPECT_EQ(sim.GetLastError(), kErrorInvalidHandle);
  EXPECT_EQ(OpenExclusive(u"C:\\Users\\Bob\\NTUSER.DAT"), 0u);
}

TEST_F(SimFilesTest, FreeSpaceComesFromTheVolumeOfTheFolder) {
  uint64_t available = 0, total = 0, free = 0;
  ASSERT_TRUE(sim.GetDiskFreeSpaceEx(u"C:\\Users\\", &available, &total, &free));
  EXPECT_EQ(available, 10ull << 30);
  EXPECT_EQ(free, 10ull << 30);
  EXPECT_EQ(total, 64ull << 30);
  // A quota: the caller's share comes first, the volume's free bytes last.
  sim.Local().SetVolume(u'C', 5000, 9000, 1200);
  ASSERT_TRUE(sim.GetDiskFreeSpaceEx(u"C:\\Users\\", &available, &total, &free));
  EXPECT_EQ(available, 1200u);
  EXPECT_EQ(total, 9000u);
  EXPECT_EQ(free, 5000u);
  sim.FindComputer(u"PC07")->SetShare(u'D', 0);
  ASSERT_TRUE(sim.GetDiskFreeSpaceEx(u"\\\\PC07\\D$\\Profiles\\", &available, &total, &free));
  EXPECT_EQ(free, 3u * 1048576);
  EXPECT_FALSE(sim.GetDiskFreeSpaceEx(u"\\\\PC07\\E$\\", &available, &total, &free));
  EXPECT_EQ(sim.GetLastError(), kErrorAccessDenied);
  sim.FindComputer(u"PC07")->SetShare(u'E', 0);
  // E: has folders but no volume.
  EXPECT_FALSE(sim.GetDiskFreeSpaceEx(u"\\\\PC07\\E$\\Data\\", &available, &total, &free));
  EXPECT_EQ(sim.GetLastError(), kErrorPathNotFound);
  EXPECT_FALSE(sim.GetDiskFreeSpaceEx(u"C:\\Documents and Settings\\", &available, &total, &free));
  EXPECT_EQ(sim.GetLastError(), kErrorPathNotFound);
}

class SimDeleteProfileTest : public SimFilesTest {
 protected:
  SimDeleteProfileTest() {
    const std::u16string list = kProfileList;
    sim.Local().SetString(list + u"\\S-1-5-21-1-1001", u"ProfileImagePath", u"C:\\Users\\Bob");
    sim.Local().CreateKey(list + u"\\S-1-5-21-1-1001\\Extra");
    sim.Local().SetString(list + u"\\S-1-5-21-1-1002", u"ProfileImagePath", u"C:\\Users\\Ann");
    sim.Local().SetString(list + u"\\S-1-5-21-1-1003", u"ProfileImagePath", u"C:\\Users\\Bobby");
    sim.Local().AddFolder(u"C:\\Users\\Bobby");
    sim.FindComputer(u"PC07")->SetString(list + u"\\S-1-5-21-7-1001", u"ProfileImagePath",
                                         u"C:\\Users\\Eve");
  }
};

TEST_F(SimDeleteProfileTest, RemovesFolderTreeAndRegistryEntryTogether) {
  EXPECT_TRUE(sim.DeleteProfile(u"S-1-5-21-1-1001", u"C:\\Users\\Bob\\", nullptr));
  EXPECT_EQ(sim.Local().ProfileKeys(),
            (std::vector<std::u16string>{u"S-1-5-21-1-1002", u"S-1-5-21-1-1003"}));
  EXPECT_EQ(sim.Local().Folders(),
            (std::vector<std::u16string>{u"C:\\Users", u"C:\\Users\\Ann", u"C:\\Users\\Bobby"}));
  EXPECT_EQ(sim.Local().FindFile(u"C:\\Users\\Bob\\NTUSER.DAT"), nullptr);

  // The path is normalized like any other; an empty computer name is the
  // running computer.
  EXPECT_TRUE(sim.DeleteProfile(u"S-1-5-21-1-1003", u"C:/Users//Bobby.", u""));
  EXPECT_FALSE(sim.Local().FolderExists(u"C:\\Users\\Bobby"));
}

TEST_F(SimDeleteProfileTest, AComputerNameWorksOnlyBeforeVista) {
  SimComputer& pc07 = *sim.FindComputer(u"PC07");
  for (const char16_t* name : {u"PC07", u"PC01"}) {
    EXPECT_FALSE(sim.DeleteProfile(u"S-1-5-21-7-1001", u"\\\\PC07\\C$\\Users\\Eve\\", name));
    EXPECT_EQ(sim.GetLastError(), kErrorInvalidParameter);
  }
  sim.Local().build = 6000;
  EXPECT_FALSE(sim.DeleteProfile(u"S-1-5-21-1-1003", nullptr, u"PC01"));
  EXPECT_EQ(sim.GetLastError(), kErrorInvalidParameter);
  EXPECT_EQ(pc07.ProfileKeys().size(), 1u);
  EXPECT_EQ(sim.Local().ProfileKeys().size(), 3u);

  sim.Local().build = 5999;
  pc07.remoteRegistryStatus = 1722;
  EXPECT_FALSE(sim.DeleteProfile(u"S-1-5-21-7-1001", u"\\\\PC07\\C$\\Users\\Eve\\", u"PC07"));
  EXPECT_EQ(sim.GetLastError(), 1722u);
  pc07.remoteRegistryStatus = 0;
  EXPECT_TRUE(sim.DeleteProfile(u"S-1-5-21-7-1001", u"\\\\PC07\\C$\\Users\\Eve\\", u"PC07"));
  EXPECT_TRUE(pc07.ProfileKeys().empty());
  EXPECT_FALSE(pc07.FolderExists(u"C:\\Users\\Eve"));
  // Without a path, the entry's own folder, on the named computer.
  pc07.SetString(std::u16string(kProfileList) + u"\\S-1-5-21-7-1002", u"ProfileImagePath",
                 u"C:\\Users\\Joe");
  pc07.AddFolder(u"C:\\Users\\Joe");
  EXPECT_TRUE(sim.DeleteProfile(u"S-1-5-21-7-1002", nullptr, u"\\\\pc07"));
  EXPECT_FALSE(pc07.FolderExists(u"C:\\Users\\Joe"));
}

TEST_F(SimDeleteProfileTest, AnEntryThatRefusesAccessKeepsTheWholeProfile) {
  SimComputer& pc = sim.Local();
  pc.FindFile(u"C:\\Users\\Bob\\NTUSER.DAT")->denyAccess = true;
  pc.AddFolder(u"C:\\Users\\Bobby\\Locked").denyAccess = true;
  pc.FindFile(u"C:\\Users\\Ann")->denyAccess = true;
  const std::u16string list = kProfileList;
  pc.SetString(list + u"\\S-1-5-21-1-1004", u"ProfileImagePath", u"C:\\Users\\Ann\\Sub");

  const std::vector<std::u16string> folders = pc.Folders();
  for (const char16_t* sid : {u"S-1-5-21-1-1001", u"S-1-5-21-1-1003", u"S-1-5-21-1-1004"}) {
    EXPECT_FALSE(sim.DeleteProfile(sid, nullptr, nullptr)) << ToUtf8(sid);
    EXPECT_EQ(sim.GetLastError(), kErrorAccessDenied) << ToUtf8(sid);
  }
  // Ann's folder refuses access itself: the held hive inside is never seen.
  EXPECT_FALSE(sim.DeleteProfile(u"S-1-5-21-1-1002", nullptr, nullptr));
  EXPECT_EQ(sim.GetLastError(), kErrorAccessDenied);
  EXPECT_EQ(pc.ProfileKeys().size(), 4u);
  EXPECT_EQ(pc.Folders(), folders);
  EXPECT_NE(pc.FindFile(u"C:\\Users\\Bob\\NTUSER.DAT"), nullptr);
}

TEST_F(SimDeleteProfileTest, DeletionCallsAreRecordedWhateverTheOutcome) {
  sim.AddFault(FaultPlan::Status("DeleteProfile", 2, 5));
  sim.AddFault(FaultPlan::Exception("RegDeleteKey", 2, FaultPlan::Kind::AccessViolation));
  EXPECT_TRUE(sim.DeleteProfile(u"S-1-5-21-1-1003", nullptr, nullptr));
  EXPECT_FALSE(sim.DeleteProfile(u"S-1-5-21-1-1001", u"C:\\Users\\Bob", nullptr));  // injected
  EXPECT_FALSE(sim.DeleteProfile(u"S-1-5-21-1-1002", u"C:\\Users\\Ann", u"PC07"));
  RegKey list = kNoKey;
  ASSERT_EQ(sim.RegOpenKeyEx(kHKeyLocalMachine, kProfileList, 0, kKeyRead, &list), 0);
  EXPECT_EQ(sim.RegDeleteKey(list, u"S-1-5-21-1-1001"), kErrorAccessDenied);  // has a subkey
  EXPECT_THROW(sim.RegDeleteKey(list, u"S-1-5-21-1-1002"), SimFault);
  EXPECT_EQ(sim.RegCloseKey(list), 0);

  using Args = std::vector<std::optional<std::u16string>>;
  const std::vector<RecordedCall>& calls = sim.Calls();
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[0].call, "DeleteProfile");
  EXPECT_EQ(calls[0].arguments, (Args{u"S-1-5-21-1-1003", std::nullopt, std::nullopt}));
  EXPECT_EQ(calls[1].arguments, (Args{u"S-1-5-21-1-1001", u"C:\\Users\\Bob", std::nullopt}));
  EXPECT_EQ(calls[2].arguments, (Args{u"S-1-5-21-1-1002", u"C:\\Users\\Ann", u"PC07"}));
  EXPECT_EQ(calls[3].call, "RegDeleteKey");
  EXPECT_EQ(calls[3].arguments, (Args{u"S-1-5-21-1-1001"}));
  EXPECT_EQ(calls[4].call, "RegDeleteKey");
  EXPECT_EQ(calls[4].arguments, (Args{u"S-1-5-21-1-1002"}));
}

TEST_F(SimDeleteProfileTest, FailureChangesNothing) {
  sim.Local().FailDeleteProfile(u"S-1-5-21-1-1001", kErrorAccessDenied);
  EXPECT_FALSE(sim.DeleteProfile(u"S-1-5-21-1-1001", u"C:\\Users\\Bob\\", nullptr));
  EXPECT_EQ(sim.GetLastError(), kErrorAccessDenied);
  EXPECT_TRUE(sim.Local().FolderExists(u"C:\\Users\\Bob"));

  // A hive held open inside the folder.
  EXPECT_FALSE(sim.DeleteProfile(u"S-1-5-21-1-1002", u"C:\\Users\\Ann\\", nullptr));
  EXPECT_EQ(sim.GetLastError(), kErrorSharingViolation);
  EXPECT_TRUE(sim.Local().FindFile(u"C:\\Users\\Ann\\NTUSER.DAT") != nullptr);

  EXPECT_FALSE(sim.DeleteProfile(u"S-1-5-21-1-1009", u"C:\\Users\\Bob\\", nullptr));
  EXPECT_EQ(sim.GetLastError(), kErrorFileNotFound);
  EXPECT_EQ(sim.Local().ProfileKeys().size(), 3u);
}

TEST(SimSystemTest, ComputerNameAndVersion) {
  SimPlatform sim;
  char16_t name[5] = {};
  uint32_t size = 4;
  EXPECT_FALSE(sim.GetComputerName(name, &size));
  EXPECT_EQ(sim.GetLastError(), 111u);
  EXPECT_EQ(size, 5u);
  EXPECT_TRUE(sim.GetComputerName(name, &size));
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(std::u16string(name), u"PC01");

  OsVersionInfo info;
  sim.Local().build = 6002;
  ASSERT_TRUE(sim.GetVersionEx(&info));
  EXPECT_EQ(info.buildNumber, 6002u);
  EXPECT_EQ(info.majorVersion, 6u);
  info.size = 100;
  EXPECT_FALSE(sim.GetVersionEx(&info));
}

TEST(SimSystemTest, EnvironmentExpansion) {
  SimPlatform sim;
  sim.SetEnvironment(u"Profiles", u"D:\\Home");
  char16_t out[261];
  EXPECT_EQ(sim.ExpandEnvironmentStrings(u"%systemdrive%\\Users", out, 261), 9u);
  EXPECT_EQ(std::u16string(out), u"C:\\Users");
  // Undefined names, empty names and a lone % stay as written.
  sim.ExpandEnvironmentStrings(u"%Nope%\\%PROFILES%%%50%", out, 261);
  EXPECT_EQ(std::u16string(out), u"%Nope%\\D:\\Home%%50%");

  // Too small, even by the terminator alone: the buffer is filled with the
  // first characters and left unterminated; the size needed is returned.
  char16_t small[12];
  for (uint32_t capacity : {5u, 10u}) {
    std::fill(std::begin(small), std::end(small), u'#');
    EXPECT_EQ(sim.ExpandEnvironmentStrings(u"%SystemRoot%", small, capacity), 11u);
    EXPECT_EQ(std::u16string(small, 12), std::u16string(u"C:\\Windows").substr(0, capacity) +
                                             std::u16string(12 - capacity, u'#'));
  }
  EXPECT_EQ(sim.ExpandEnvironmentStrings(u"%SystemRoot%", small, 11), 11u);
  EXPECT_EQ(std::u16string(small), u"C:\\Windows");
}

TEST(SimTimeTest, CalendarFormOfFileTimes) {
  SimPlatform sim;
  SystemTime calendar;
  ASSERT_TRUE(sim.FileTimeToSystemTime(0, &calendar));
  EXPECT_EQ(calendar.year, 1601);
  EXPECT_EQ(calendar.month, 1);
  EXPECT_EQ(calendar.day, 1);
  EXPECT_EQ(calendar.dayOfWeek, 1);  // a Monday

  struct Case {
    FileTime time;
    uint16_t year, month, day, dayOfWeek, hour, minute;
  };
  const Case cases[] = {
      {At(2024, 2, 29, 23, 59), 2024, 2, 29, 4, 23, 59},
      {At(2024, 2, 29) + kTicksPerDay, 2024, 3, 1, 5, 0, 0},
      {At(1900, 2, 28) + kTicksPerDay, 1900, 3, 1, 4, 0, 0},   // 1900 is no leap year
      {At(2000, 2, 28) + kTicksPerDay, 2000, 2, 29, 2, 0, 0},  // 2000 is one
      {At(2026, 12, 31, 23, 59) + 60 * kTicksPerSecond, 2027, 1, 1, 5, 0, 0},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(sim.FileTimeToSystemTime(c.time, &calendar));
    EXPECT_EQ(calendar.year, c.year);
    EXPECT_EQ(calendar.month, c.month);
    EXPECT_EQ(calendar.day, c.day);
    EXPECT_EQ(calendar.dayOfWeek, c.dayOfWeek);
    EXPECT_EQ(calendar.hour, c.hour);
    EXPECT_EQ(calendar.minute, c.minute);
  }
  EXPECT_TRUE(sim.FileTimeToSystemTime(0x7FFFFFFFFFFFFFFFull, &calendar));
  EXPECT_EQ(calendar.year, 30828);
  EXPECT_FALSE(sim.FileTimeToSystemTime(0x8000000000000000ull, &calendar));
  EXPECT_EQ(sim.GetLastError(), kErrorInvalidParameter);
}

TEST(SimTimeTest, LocalTimeAppliesTheBiasInEffectNow) {
  SimPlatform sim;
  FileTime local = 0;
  sim.SetBiasMinutes(-60);  // one hour east of Greenwich
  ASSERT_TRUE(sim.FileTimeToLocalFileTime(At(2026, 12, 31, 23, 30), &local));
  EXPECT_EQ(local, At(2027, 1, 1, 0, 30));
  sim.SetBiasMinutes(300);
  ASSERT_TRUE(sim.FileTimeToLocalFileTime(At(2026, 7, 1, 2, 0), &local));
  EXPECT_EQ(local, At(2026, 6, 30, 21, 0));  // the same bias in summer as now
  EXPECT_EQ(sim.GetSystemTimeAsFileTime(), At(2026, 12, 1, 12, 0));
}

TEST(SimConsoleTest, NoConsoleAndAnExhaustedScriptFailInsteadOfWaiting) {
  SimPlatform sim;
  EXPECT_FALSE(sim.OpenConsoleInput());
  EXPECT_FALSE(sim.OpenConsoleOutput());
  sim.SetConsole({ConsoleInputEvent{true, true, 'y', 21, 0}});
  ASSERT_TRUE(sim.OpenConsoleInput());
  ConsoleInputEvent event;
  EXPECT_TRUE(sim.ReadConsoleInput(&event));
  EXPECT_EQ(event.character, 'y');
  EXPECT_FALSE(sim.ReadConsoleInput(&event));
}

TEST(SimMessagesTest, ErrorTextsAreCutAndAlwaysTerminated) {
  SimPlatform sim;
  LongText text;
  sim.GetSystemErrorText(5, text.Data(), LongText::kCapacity);
  EXPECT_EQ(std::u16string(text.Data()), u"Access is denied.\r\n");
  char16_t small[7] = {};
  sim.GetSystemErrorText(5, small, 7);
  EXPECT_EQ(std::u16string(small), u"Access");
  sim.GetSystemErrorText(4242, text.Data(), LongText::kCapacity);
  EXPECT_TRUE(text.Empty());
  sim.SetErrorText(5, u"Access denied.\r\n");
  sim.GetSystemErrorText(5, text.Data(), LongText::kCapacity);
  EXPECT_EQ(std::u16string(text.Data()), u"Access denied.\r\n");
}

// --- Faults and guards ---------------------------------------------------------

TEST(SimFaultTest, StatusFaultHitsOnlyTheChosenCall) {
  SimPlatform sim;
  sim.Local().CreateKey(kProfileList);
  sim.AddFault(FaultPlan::Status("RegOpenKeyEx", 2, 5));
  sim.AddFault(FaultPlan::Status("FindFirstFile", 1, 53));
  RegKey key = kNoKey;
  EXPECT_EQ(sim.RegOpenKeyEx(kHKeyLocalMachine, kProfileList, 0, kKeyRead, &key), 0);
  EXPECT_EQ(sim.RegOpenKeyEx(kHKeyLocalMachine, kProfileList, 0, kKeyRead, &key), 5);
  EXPECT_EQ(key, kNoKey);
  EXPECT_EQ(sim.RegOpenKeyEx(kHKeyLocalMachine, u"Missing", 0, kKeyRead, &key), kErrorFileNotFound);
  EXPECT_EQ(sim.CallCount("RegOpenKeyEx"), 3u);
  FindData data;
  EXPECT_EQ(sim.FindFirstFile(u"C:\\", &data), kInvalidHandle);
  EXPECT_EQ(sim.GetLastError(), 53u);
}

// Records the order in which filters, closing steps and handlers run.
struct Recorder {
  SimPlatform* sim = nullptr;
  std::vector<std::string> events;
};

TEST(SimFaultTest, FiltersChooseTheHandlerBeforeClosingStepsRun) {
  SimPlatform sim;
  sim.AddFault(FaultPlan::Exception("FindFirstFile", 1, FaultPlan::Kind::AccessViolation));
  Recorder trace{&sim, {}};
  const bool completed = sim.RunGuarded(
      [](void* context) {
        auto* t = static_cast<Recorder*>(context);
        t->sim->RunWithClosing(
            [](void* inner) {
              auto* t2 = static_cast<Recorder*>(inner);
              const bool innerCompleted = t2->sim->RunGuarded(
                  [](void* c) {
                    FindData data;
                    static_cast<Recorder*>(c)->sim->FindFirstFile(u"C:\\x", &data);
                  },
                  inner,
                  [](const FaultInfo& fault, void* c) -> int32_t {
                    static_cast<Recorder*>(c)->events.push_back("inner filter " +
                                                                std::to_string(fault.code));
                    return kExceptionContinueSearch;
                  },
                  inner);
              t2->events.push_back(innerCompleted ? "inner completed" : "inner handled");
            },
            context, [](void* c) { static_cast<Recorder*>(c)->events.push_back("closing"); },
            context);
        t->events.push_back("after closing");
      },
      &trace,
      [](const FaultInfo& fault, void* c) -> int32_t {
        static_cast<Recorder*>(c)->events.push_back("outer filter " + std::to_string(fault.code));
        return kExceptionExecuteHandler;
      },
      &trace);
  EXPECT_FALSE(completed);
  EXPECT_EQ(trace.events, (std::vector<std::string>{"inner filter 3221225477",
                                                    "outer filter 3221225477", "closing"}));
}

TEST(SimFaultTest, LateBindingFaultsCarryModuleAndFunction) {
  SimPlatform sim;
  using Kind = FaultPlan::Kind;
  const char* module = "advapi32.dll";
  sim.AddFault(FaultPlan::Exception("RegConnectRegistry", 1, Kind::ProcNotFound, module,
                                    "RegConnectRegistryW"));
  sim.AddFault(FaultPlan::Exception("RegConnectRegistry", 2, Kind::ProcNotFound, module, "", 17));
  sim.AddFault(FaultPlan::Exception("RegConnectRegistry", 3, Kind::ModuleNotFound, module));
  struct Seen {
    SimPlatform* sim;
    std::string text;
  } seen{&sim, {}};
  for (int i = 0; i < 3; ++i) {
    const bool completed = sim.RunGuarded(
        [](void* c) {
          RegKey root = kNoKey;
          static_cast<Seen*>(c)->sim->RegConnectRegistry(u"PC07", kHKeyLocalMachine, &root);
        },
        &seen,
        [](const FaultInfo& fault, void* c) -> int32_t {
          std::string& text = static_cast<Seen*>(c)->text;
          text += std::to_string(fault.code) + " " + fault.moduleName + " ";
          text += fault.importByName ? fault.functionName : std::to_string(fault.ordinal);
          text += ";";
          return kExceptionExecuteHandler;
        },
        &seen);
    EXPECT_FALSE(completed);
  }
  EXPECT_EQ(seen.text,
            "3228369023 advapi32.dll RegConnectRegistryW;3228369023 advapi32.dll 17;"
            "3228369022 advapi32.dll 0;");
}

TEST(SimFaultTest, UnhandledFaultSkipsClosingStepsAndRunGuardedPassesOthersOn) {
  SimPlatform sim;
  bool closed = false;
  struct Context {
    SimPlatform* sim;
    bool* closed;
  } context{&sim, &closed};
  try {
    sim.RunWithClosing([](void* c) { static_cast<Context*>(c)->sim->RaiseFault(0xE0000001u); },
                       &context, [](void* c) { *static_cast<Context*>(c)->closed = true; },
                       &context);
    FAIL() << "the fault should have left RunWithClosing";
  } catch (const SimFault& fault) {
    EXPECT_EQ(fault.Code(), 0xE0000001u);
  }
  EXPECT_FALSE(closed);  // as on Windows, where the process ends there

  // A guard whose body completes runs it once and answers true.
  int runs = 0;
  EXPECT_TRUE(sim.RunGuarded([](void* c) { ++*static_cast<int*>(c); }, &runs,
                             [](const FaultInfo&, void*) -> int32_t { return 1; }, nullptr));
  EXPECT_EQ(runs, 1);
}

}  // namespace
}  // namespace wf::sim
