// Checks on what a run printed, shared by the fuzz targets. Each check adds
// one message per problem to a list of findings; a target that ends with
// findings prints them and aborts, which libFuzzer reports as a crash and
// saves the input.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wf::fuzz {

using Findings = std::vector<std::string>;

// Every line feed comes right after a carriage return.
void CheckLineEnds(std::string_view output, Findings& findings);

// The profile blocks of a report: each "\n\n[" header other than the
// settings and summary headers is followed by exactly one "\nAction=" line
// before the next header. Returns the number of profile headers.
int CheckProfileBlocks(std::string_view output, Findings& findings);

// The number after the first "\n<label>=" line (label as in
// "Profiles Deleted"); none when the line is missing or not a number.
std::optional<int64_t> ReadCounter(std::string_view output, std::string_view label);

// Prints the findings with the output that led to them and aborts; does
// nothing when there are none.
void ReportFindings(const Findings& findings, std::string_view output);

// With WRENFOLD_FUZZ_SHOW set, writes the arguments, the output and the
// exit code of a run to standard error: how a saved input is looked at.
void ShowRun(const std::vector<std::u16string>& arguments, std::string_view output,
             int32_t exitCode);

// Text of a UTF-16 string for messages, characters above U+007E as \uXXXX.
std::string Printable(std::u16string_view text);

}  // namespace wf::fuzz
