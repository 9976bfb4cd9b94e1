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

// How often piece occurs in text.
inline size_t CountOf(std::string_view text, std::string_view piece) {
  size_t count = 0;
  for (size_t at = text.find(piece); at != std::string_view::npos;
       at = text.find(piece, at + piece.size())) {
    ++count;
  }
  return count;
}

// The profile blocks of a report: each "\n\n[" header other than the
// settings and summary headers is followed by exactly one "\nAction=" line
// before the next header. With lastMayBeCut (a fault ended the pass inside
// the block it was in), the last profile block may hold none when nothing
// but the summary follows it. Returns the number of profile headers.
// Defined here because the fault sweep of the unit tests, which does not
// link this harness, judges its reports by it as well.
inline int CheckProfileBlocks(std::string_view output, Findings& findings,
                              bool lastMayBeCut = false) {
  constexpr std::string_view kHeader = "\r\n\r\n[";
  constexpr std::string_view kSummary = "Summary for ";
  int profiles = 0;
  for (size_t at = output.find(kHeader); at != std::string_view::npos;) {
    const size_t body = at + kHeader.size();
    const size_t next = output.find(kHeader, body);
    const std::string_view block =
        output.substr(body, next == std::string_view::npos ? next : next - body);
    at = next;
    if (block.starts_with("Settings]") || block.starts_with(kSummary)) continue;
    ++profiles;
    const size_t actions = CountOf(block, "\r\nAction=");
    const bool last = next == std::string_view::npos ||
                      output.substr(next + kHeader.size()).starts_with(kSummary);
    if (actions != 1 && !(actions == 0 && lastMayBeCut && last)) {
      findings.push_back("profile block [" + std::string(block.substr(0, block.find('\r'))) +
                         " has " + std::to_string(actions) + " Action= lines");
    }
  }
  return profiles;
}

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

// The bytes as UTF-16 code units, two bytes each, the low one first; an odd
// last byte is left out.
std::u16string Utf16Units(const uint8_t* bytes, size_t size);

// Text of a UTF-16 string for messages, characters above U+007E as \uXXXX.
std::string Printable(std::u16string_view text);

}  // namespace wf::fuzz
