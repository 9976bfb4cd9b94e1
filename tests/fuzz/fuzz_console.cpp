// Console output with any text: the input bytes as UTF-16 units, printed
// as the argument of "%s" and, through the runtime formatter, as a format
// of its own with arguments drawn from the input. The bytes on standard
// output must be exactly the formatted characters up to the first one above
// U+00FF, one byte each, with every line feed preceded by a carriage return.
#include <fuzzer/FuzzedDataProvider.h>

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

// The bytes the console must write for formatted characters.
std::string StreamBytes(std::u16string_view wide, int32_t* charsWritten) {
  std::string bytes;
  int32_t written = 0;
  for (const char16_t c : wide) {
    if (c > 0xFF) break;
    if (c == u'\n') bytes.push_back('\r');
    bytes.push_back(static_cast<char>(static_cast<unsigned char>(c)));
    ++written;
  }
  *charsWritten = written;
  return bytes;
}

void CheckPrinted(std::string_view what, const std::string& printed, const std::string& expected,
                  int32_t returned, int32_t expectedChars, Findings& findings) {
  wf::fuzz::CheckLineEnds(printed, findings);
  if (printed != expected) {
    findings.push_back(std::string(what) + ": " + std::to_string(printed.size()) +
                       " bytes printed, " + std::to_string(expected.size()) + " expected");
  }
  if (returned != expectedChars) {
    findings.push_back(std::string(what) + ": returned " + std::to_string(returned) + ", " +
                       std::to_string(expectedChars) + " characters written");
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
  std::u16string text;
  const std::vector<uint8_t> rest = data.ConsumeRemainingBytes<uint8_t>();
  for (size_t i = 0; i + 1 < rest.size(); i += 2) {
    const auto c = static_cast<char16_t>(rest[i] | (rest[i + 1] << 8));
    if (c != 0) text.push_back(c);
  }

  Findings findings;

  // The formatter into a buffer of exactly the capacity given: the result
  // ends within it, terminated, and is a prefix of the uncut result.
  std::vector<char16_t> cut(capacity);
  const size_t cutLength =
      wf::FormatToBuffer(cut.data(), capacity, text.c_str(), args.data(), args.size());
  size_t whole = text.size() + 2;
  for (const std::u16string& w : wideArgs) whole += w.size();
  for (const std::string& n : narrowArgs) whole += n.size();
  whole += 30 * args.size();
  std::vector<char16_t> uncut(whole);
  const size_t fullLength =
      wf::FormatToBuffer(uncut.data(), whole, text.c_str(), args.data(), args.size());
  if (cutLength >= capacity || cut[cutLength] != 0) {
    findings.push_back("FormatToBuffer: result not terminated within its capacity");
  } else if (std::u16string_view(cut.data(), cutLength) !=
             std::u16string_view(uncut.data(), fullLength).substr(0, cutLength)) {
    findings.push_back("FormatToBuffer: the cut result is not a prefix of the whole one");
  } else if (cutLength != (fullLength < capacity - 1 ? fullLength : capacity - 1)) {
    findings.push_back("FormatToBuffer: cut at " + std::to_string(cutLength) + " of " +
                       std::to_string(fullLength) + " with capacity " + std::to_string(capacity));
  }
  if (fullLength + 1 >= whole) findings.push_back("FormatToBuffer: longer than its parts");

  wf::sim::SimPlatform sim;
  sim.CaptureStandardOutput(isConsole);

  // The text as the argument of "%s".
  wf::ConsoleAttach(sim);
  const int32_t plainReturned = wf::ConsolePrint(u"%s", text.c_str());
  wf::ConsoleFlush();
  int32_t plainChars = 0;
  const std::string plainExpected = StreamBytes(text, &plainChars);
  CheckPrinted("%s", sim.StandardOutput(), plainExpected, plainReturned, plainChars, findings);
  const std::string plainPrinted = sim.StandardOutput();

  // The text as the format.
  wf::ConsoleAttach(sim);
  const int32_t formatReturned = wf::ConsolePrintArgs(text.c_str(), args.data(), args.size());
  wf::ConsoleFlush();
  int32_t formatChars = 0;
  const std::string formatExpected =
      StreamBytes(std::u16string_view(uncut.data(), fullLength), &formatChars);
  const std::string& all = sim.StandardOutput();
  CheckPrinted("format", all.substr(plainPrinted.size()), formatExpected, formatReturned,
               formatChars, findings);

  wf::fuzz::ReportFindings(findings, all);
  return 0;
}
