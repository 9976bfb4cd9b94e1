// Console output with any text: the input bytes as UTF-16 units, printed
// as the argument of "%s" and, through the runtime formatter, as a format
// of its own with arguments drawn from the input. The bytes on standard
// output must be exactly the formatted characters up to the first one above
// U+00FF, one byte each, with every line feed preceded by a carriage return.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzChecks.h"
#include "platform/ConsoleOutput.h"
#include "sim/SimPlatform.h"

namespace {

using wf::FormatArg;
using wf::fuzz::Findings;

std::u16string TakeText(FuzzedDataProvider& data, size_t maxChars) {
  std::u16string text;
  const size_t chars = data.ConsumeIntegralInRange<size_t>(0, maxChars);
  for (size_t i = 0; i < chars && data.remaining_bytes() >= 2; ++i) {
    const auto c = data.ConsumeIntegral<uint16_t>();
    if (c != 0) text.push_back(static_cast<char16_t>(c));
  }
  return text;
}

// Prints through a console attached to sim and checks what comes out, and
// the number of characters returned, against the formatted characters.
template <typename Print>
void CheckPrinted(const char* what, wf::sim::SimPlatform& sim, std::u16string_view formatted,
                  Print print, Findings& findings) {
  const size_t before = sim.StandardOutput().size();
  wf::ConsoleAttach(sim);
  const int32_t returned = print();
  wf::ConsoleFlush();
  std::string expected;
  int32_t written = 0;
  for (const char16_t c : formatted) {
    if (c > 0xFF) break;
    if (c == u'\n') expected.push_back('\r');
    expected.push_back(static_cast<char>(c));
    ++written;
  }
  const std::string printed = sim.StandardOutput().substr(before);
  if (printed != expected) {
    findings.push_back(std::string(what) + ": " + std::to_string(printed.size()) +
                       " bytes printed, " + std::to_string(expected.size()) + " expected");
  }
  if (returned != written) {
    findings.push_back(std::string(what) + ": returned " + std::to_string(returned) + ", " +
                       std::to_string(written) + " characters written");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  const bool isConsole = data.ConsumeBool();

  // Arguments of every kind the formatter knows, and some of no kind.
  std::vector<std::u16string> wideArgs;
  std::vector<std::string> narrowArgs;
  std::vector<FormatArg> args;
  const size_t argCount = data.ConsumeIntegralInRange<size_t>(0, 6);
  wideArgs.reserve(argCount);
  narrowArgs.reserve(argCount);
  for (size_t i = 0; i < argCount; ++i) {
    switch (data.ConsumeIntegralInRange<int>(0, 7)) {
      case 0:
        wideArgs.push_back(TakeText(data, 40));
        args.emplace_back(wideArgs.back().c_str());
        break;
      case 1:
        narrowArgs.push_back(data.ConsumeRandomLengthString(40));
        args.emplace_back(narrowArgs.back().c_str());
        break;
      case 2:
        args.emplace_back(data.ConsumeIntegral<int32_t>());
        break;
      case 3:
        args.emplace_back(data.ConsumeIntegral<uint32_t>());
        break;
      case 4:
        args.emplace_back(data.ConsumeIntegral<int64_t>());
        break;
      case 5:
        args.emplace_back(data.ConsumeIntegral<uint64_t>());
        break;
      case 6:
        args.emplace_back(static_cast<const char16_t*>(nullptr));
        break;
      default:
        args.emplace_back();
        break;
    }
  }
  const size_t capacity = data.ConsumeIntegralInRange<size_t>(1, 300);

  // The rest of the input is the text, two bytes a character.
  const std::vector<uint8_t> rest = data.ConsumeRemainingBytes<uint8_t>();
  std::u16string text = wf::fuzz::Utf16Units(rest.data(), rest.size());
  std::erase(text, u'\0');

  Findings findings;

  // The formatter into a buffer of exactly the capacity given, filled with
  // something else first: the result is the start of the uncut one, as much
  // as fits, terminated.
  std::vector<char16_t> cut(capacity, u'#');
  const size_t cutLength =
      wf::FormatToBuffer(cut.data(), capacity, text.c_str(), args.data(), args.size());
  // Room for the text and the longest argument of any kind at each conversion.
  const size_t whole = text.size() + 40 * args.size() + 2;
  std::vector<char16_t> uncut(whole);
  const size_t fullLength =
      wf::FormatToBuffer(uncut.data(), whole, text.c_str(), args.data(), args.size());
  if (fullLength + 1 >= whole) findings.push_back("FormatToBuffer: longer than its parts");
  const size_t kept = std::min(fullLength, capacity - 1);
  if (cutLength != kept ||
      std::u16string_view(cut.data(), kept + 1) != std::u16string(uncut.data(), kept) + u'\0') {
    findings.push_back("FormatToBuffer: cut at " + std::to_string(cutLength) + " of " +
                       std::to_string(fullLength) + " with capacity " + std::to_string(capacity) +
                       ", not the start of the whole result, terminated");
  }

  wf::sim::SimPlatform sim;
  sim.CaptureStandardOutput(isConsole);
  CheckPrinted(
      "%s", sim, text, [&] { return wf::ConsolePrint(u"%s", text.c_str()); }, findings);
  CheckPrinted(
      "format", sim, std::u16string_view(uncut.data(), fullLength),
      [&] { return wf::ConsolePrintArgs(text.c_str(), args.data(), args.size()); }, findings);
  wf::fuzz::ReportFindings(findings, sim.StandardOutput());
  return 0;
}
