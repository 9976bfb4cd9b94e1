// Registry key values between the interface and the Windows calls: only the
// predefined root keys are sign-extended, every opened key keeps its bits.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/Platform.h"
#include "platform/win32/RegistryHandles.h"

namespace wf::win32 {
namespace {

TEST(RegistryHandles, PredefinedKeysAreSignExtendedBothWays) {
  // HKEY_CLASSES_ROOT .. HKEY_CURRENT_USER_LOCAL_SETTINGS and the two
  // performance texts.
  const uint32_t predefined[] = {0x80000000u, 0x80000001u, 0x80000002u, 0x80000003u, 0x80000004u,
                                 0x80000005u, 0x80000006u, 0x80000007u, 0x80000050u, 0x80000060u};
  for (const uint32_t value : predefined) {
    SCOPED_TRACE(value);
    const uint64_t system = 0xFFFFFFFF00000000u | value;
    EXPECT_EQ(RegKeyToSystem(value), system);
    EXPECT_EQ(RegKeyFromSystem(system), value);
  }
  EXPECT_EQ(RegKeyToSystem(kHKeyLocalMachine), 0xFFFFFFFF80000002u);
  EXPECT_EQ(RegKeyFromSystem(0xFFFFFFFF80000002u), kHKeyLocalMachine);
}

TEST(RegistryHandles, OpenedKeysKeepEveryBit) {
  // Handles next to the predefined range, with the 32-bit sign bit set, all
  // ones in the low half, ordinary small ones, and above 4 GiB.
  const uint64_t opened[] = {0x0u,         0x1234u,     0x80000008u,        0x80000010u,
                             0x8000004Fu,  0x80000051u, 0xFFFFFFF0u,        0xFFFFFFFFu,
                             0x100000040u, 0x7FFFFFFFu, 0x00007FF612345678u};
  for (const uint64_t handle : opened) {
    SCOPED_TRACE(handle);
    EXPECT_EQ(RegKeyFromSystem(handle), handle);
    EXPECT_EQ(RegKeyToSystem(handle), handle);
    EXPECT_EQ(RegKeyToSystem(RegKeyFromSystem(handle)), handle);
  }
  // A 64-bit handle whose low half looks like a root key is not one: only the
  // sign-extended form is.
  EXPECT_EQ(RegKeyFromSystem(0x0000000180000002u), 0x0000000180000002u);
  EXPECT_EQ(RegKeyToSystem(0x0000000180000002u), 0x0000000180000002u);
  EXPECT_EQ(RegKeyFromSystem(0xFFFFFFFF80000010u), 0xFFFFFFFF80000010u);
}

}  // namespace
}  // namespace wf::win32
