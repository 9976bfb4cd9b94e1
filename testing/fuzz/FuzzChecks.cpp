#include "FuzzChecks.h"

#include <cstdio>
#include <cstdlib>

namespace wf::fuzz {

void CheckLineEnds(std::string_view output, Findings& findings) {
  for (size_t i = 0; i < output.size(); ++i) {
    if (output[i] == '\n' && (i == 0 || output[i - 1] != '\r')) {
      findings.push_back("line feed without carriage return at byte " + std::to_string(i));
      return;
    }
  }
}

std::optional<int64_t> ReadCounter(std::string_view output, std::string_view label) {
  const std::string key = "\r\n" + std::string(label) + "=";
  const size_t at = output.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  size_t i = at + key.size();
  bool negative = false;
  if (i < output.size() && output[i] == '-') {
    negative = true;
    ++i;
  }
  const size_t start = i;
  int64_t value = 0;
  while (i < output.size() && output[i] >= '0' && output[i] <= '9' && i - start < 18) {
    value = value * 10 + (output[i] - '0');
    ++i;
  }
  if (i == start) return std::nullopt;
  return negative ? -value : value;
}

void ReportFindings(const Findings& findings, std::string_view output) {
  if (findings.empty()) return;
  std::fprintf(stderr, "==== output (%zu bytes) ====\n", output.size());
  std::fwrite(output.data(), 1, output.size(), stderr);
  std::fprintf(stderr, "\n==== findings ====\n");
  for (const std::string& finding : findings)
    std::fprintf(stderr, "FINDING: %s\n", finding.c_str());
  std::abort();
}

void ShowRun(const std::vector<std::u16string>& arguments, std::string_view output,
             int32_t exitCode) {
  static const bool show = std::getenv("WRENFOLD_FUZZ_SHOW") != nullptr;
  if (!show) return;
  std::fprintf(stderr, "==== arguments ====\n");
  for (const std::u16string& argument : arguments) {
    std::fprintf(stderr, "[%s]\n", Printable(argument).c_str());
  }
  std::fprintf(stderr, "==== output ====\n");
  std::fwrite(output.data(), 1, output.size(), stderr);
  std::fprintf(stderr, "\n==== exit code %u ====\n", static_cast<unsigned>(exitCode));
}

std::u16string Utf16Units(const uint8_t* bytes, size_t size) {
  std::u16string units;
  for (size_t i = 0; i + 1 < size; i += 2) {
    units.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  }
  return units;
}

std::string Printable(std::u16string_view text) {
  std::string out;
  for (const char16_t c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
      out += escaped;
    }
  }
  return out;
}

}  // namespace wf::fuzz
