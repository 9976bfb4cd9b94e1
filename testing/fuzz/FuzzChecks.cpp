#include "FuzzChecks.h"

#include <cstdio>
#include <cstdlib>

namespace wf::fuzz {
namespace {

constexpr std::string_view kHeader = "\r\n\r\n[";
constexpr std::string_view kAction = "\r\nAction=";

}  // namespace

void CheckLineEnds(std::string_view output, Findings& findings) {
  for (size_t i = 0; i < output.size(); ++i) {
    if (output[i] == '\n' && (i == 0 || output[i - 1] != '\r')) {
      findings.push_back("line feed without carriage return at byte " + std::to_string(i));
      return;
    }
  }
}

int CheckProfileBlocks(std::string_view output, Findings& findings) {
  int profiles = 0;
  size_t at = output.find(kHeader);
  while (at != std::string_view::npos) {
    const size_t body = at + kHeader.size();
    const size_t next = output.find(kHeader, body);
    const std::string_view rest = output.substr(body);
    if (rest.rfind("Settings]", 0) == 0 || rest.rfind("Summary for ", 0) == 0) {
      at = next;
      continue;
    }
    ++profiles;
    const std::string_view block =
        output.substr(body, next == std::string_view::npos ? std::string_view::npos : next - body);
    int actions = 0;
    for (size_t a = block.find(kAction); a != std::string_view::npos;
         a = block.find(kAction, a + kAction.size())) {
      ++actions;
    }
    if (actions != 1) {
      const size_t lineEnd = block.find('\r');
      findings.push_back("profile block [" + std::string(block.substr(0, lineEnd)) + " has " +
                         std::to_string(actions) + " Action= lines");
    }
    at = next;
  }
  return profiles;
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
