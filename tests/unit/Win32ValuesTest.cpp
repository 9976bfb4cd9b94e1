// Values between the interface and the Windows calls: registry keys (only
// the predefined root keys are sign-extended, every opened key keeps its
// bits) and the error numbers made of WMI's HRESULTs.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/Platform.h"
#include "platform/win32/RegistryHandles.h"
#include "platform/win32/WmiStatus.h"

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

TEST(WmiStatus, TheNumbersAnAdministratorCanLookUp) {
  const struct {
    uint32_t hresult;
    int32_t error;
  } kCases[] = {
      {0x00000000u, 0},           {0x00000001u, 0},  // WBEM_S_FALSE is a success
      {0x800706BAu, 1722},        {0x80070005u, 5},           {0x80070020u, 32},
      {0x80041003u, 5},           {0x80041002u, 2},           {0x8004103Au, 2},
      {0x80041015u, 1722},        {0x80041010u, -2147217392},  // WBEM_E_INVALID_CLASS
      {0x80041001u, -2147217407},                              // WBEM_E_FAILED
      {0x80080005u, -2146959355},                              // CO_E_SERVER_EXEC_FAILURE
      {0x8007FFFFu, 65535},       {0x80060005u, -2147090427},  // facility 6 is not Win32
      {0x80070000u, -2147024896},  // a Win32 failure of code 0 is still a failure
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.hresult);
    EXPECT_EQ(WmiStatusToError(c.hresult), c.error);
  }
}

}  // namespace
}  // namespace wf::win32
