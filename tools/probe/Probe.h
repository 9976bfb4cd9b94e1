// A test-only program that performs platform operations and prints their
// raw results, so the simulation can be compared with a real system.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace wf {

// Each argument after the first is one operation, written NAME=ARGS with
// the arguments separated by "|":
//   trace                          later build/free operations print trace lines
//   enum=KEY                       open HKLM\KEY for reading and list its subkeys
//   query=KEY|VALUE|BYTES          read a value offering BYTES bytes
//   deletekey=KEY|SUBKEY           delete HKLM\KEY\SUBKEY through its parent
//   find=PATH                      FindFirstFileW on PATH
//   open=PATH                      exclusive open of an existing file
//   build=COMPUTER                 the build number (empty: local computer)
//   target=PATH|COMPUTER           PATH in target form
//   free=PATH                      free space in megabytes
//   errortext=NUMBER               the system text of an error number
//   key                            one prompt key read (echoed on the console)
// Returns 0, or 87 for an operation it does not know.
int32_t ProbeMain(Platform& platform, int argc, const char16_t* const* argv);

}  // namespace wf
