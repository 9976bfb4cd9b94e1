// A test-only program that performs platform operations and prints their
// raw results, so the simulation can be compared with a real system.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace wf {

// Each argument after the first is one operation, written NAME=ARGS with
// the arguments separated by "|":
//   trace                          later build/free operations print trace lines
//   enum=KEY[|CHARS]               open HKLM\KEY for reading and list its subkeys (offering
//                                  CHARS characters for each name)
//   query=KEY|VALUE|BYTES          read a value offering BYTES bytes (and show the two
//                                  bytes after the data, where a terminator may be added)
//   deletekey=KEY|SUBKEY[|VALUE]   delete HKLM\KEY\SUBKEY through its parent; with VALUE,
//                                  hold SUBKEY open across the deletion, then read VALUE
//                                  and enumerate through that handle
//   find=PATH                      FindFirstFileW on PATH
//   open=PATH                      exclusive open of an existing file
//   build=COMPUTER                 the build number (empty: local computer)
//   target=PATH|COMPUTER           PATH in target form
//   free=PATH                      free space in megabytes
//   errortext=NUMBER               the system text of an error number
//   key                            one prompt key read (echoed on the console)
//   name=CAPACITY                  GetComputerNameW offering CAPACITY characters (default 16)
//   version=SIZE                   GetVersionExW with the size field SIZE (default 276)
//   expand=TEXT|CAPACITY           ExpandEnvironmentStringsW into CAPACITY characters
//   connect=COMPUTER               RegConnectRegistryW to HKLM of COMPUTER ("*" stands
//                                  for the running computer's name), then close
//   openkey=KEY|ACCESS|VALUE       open HKLM\KEY with ACCESS (a name such as KEY_READ,
//                                  DELETE, GENERIC_READ, or a number), then enumerate
//                                  its first subkey and ask the size of VALUE
//   calendar=TICKS                 FileTimeToSystemTime of a file time
//   localtime=TICKS                a UTC file time as local time: bias and calendar
//   now                            the clock in UTC and local calendar form
//   diskfree=PATH                  GetDiskFreeSpaceExW on PATH: whether it succeeds and
//                                  how its three figures relate
//   deleteprofile=SID|PATH|COMPUTER DeleteProfileW (empty PATH, COMPUTER: none)
//   wmi=NAMESPACE[|PATH[|PATH]]    connect to a WMI namespace (\\NAME\root\cimv2), delete
//                                  the instances of up to two object paths, release
// Returns 0, or 87 for an operation it does not know.
int32_t ProbeMain(Platform& platform, int argc, const char16_t* const* argv);

}  // namespace wf
