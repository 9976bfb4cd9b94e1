// Registry key values between the interface and the Windows calls: only the
// predefined root keys are sign-extended, every opened key keeps its bits.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/Platform.h"
#include "platform/win32/RegistryHandles.h"

namespace wf::win32 {
namespace {

TEST(RegistryHandles, OnlyPredefinedKeysAreSignExtended) {
  EXPECT_EQ(RegKeyToSystem(kHKeyLocalMachine), 0xFFFFFFFF80000002u);
  // HKEY_CLASSES_ROOT .. HKEY_CURRENT_USER_LOCAL_SETTINGS and the two
  // performance texts.
  const uint64_t predefined[] = {0x80000000u, 0x80000001u, 0x80000002u, 0x80000003u, 0x80000004u,
                                 0x80000005u, 0x80000006u, 0x80000007u, 0x80000050u, 0x80000060u};
  for (const uint64_t value : predefined) {
    SCOPED_TRACE(value);
    EXPECT_EQ(RegKeyToSystem(value), 0xFFFFFFFF00000000u | value);
    EXPECT_EQ(RegKeyFromSystem(0xFFFFFFFF00000000u | value), value);
  }
  // Handles next to the predefined values, and ones whose low half looks
  // like a root key without being sign-extended.
  const uint64_t opened[] = {0x80000008u, 0x80000051u, 0x180000002u, 0xFFFFFFFF80000010u};
  for (const uint64_t handle : opened) {
    SCOPED_TRACE(handle);
    EXPECT_EQ(RegKeyFromSystem(handle), handle);
    EXPECT_EQ(RegKeyToSystem(handle), handle);
  }
}

}  // namespace
}  // namespace wf::win32
