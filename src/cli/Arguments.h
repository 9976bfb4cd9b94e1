// Reading the command line into the run settings.
#pragma once

#include <cstdint>

#include "engine/RunSettings.h"

namespace wf {

enum class ArgumentsOutcome {
  Run,            // all arguments read; the run may begin
  HelpRequested,  // "/?" or "-?": usage screen, exit 1
  InvalidSwitch,  // an unknown argument: message, exit 87
};

struct ArgumentsResult {
  ArgumentsOutcome outcome = ArgumentsOutcome::Run;
  bool listMode = false;  // a computer argument was given
  const char16_t* invalidArgument = nullptr;
};

// Examines argv[1..argc-1] in order; the first test that matches an
// argument decides, and a switch given twice keeps its last value.
ArgumentsResult ReadArguments(int argc, const char16_t* const* argv, RunSettings& settings);

// Adds the names of one "/SKIP:" value to the list, after a ":" when the
// list holds names already; an empty value adds nothing. Returns false, and
// leaves the list as it was, when the list would exceed 1023 characters.
bool AddSkipNames(LongText& list, const char16_t* value);

// True for an argument that names a computer: two backslashes and at least
// one more character.
bool IsComputerArgument(const char16_t* argument);

// The minimum age from the text after "/MIN:": at most five characters read
// as a base-10 number; values below 1 mean not given.
int32_t ParseMinimumAge(const char16_t* value);

}  // namespace wf
