#include "platform/ConsoleOutput.h"

namespace wf {
namespace {

// Receives formatted characters one at a time.
class CharSink {
 public:
  virtual ~CharSink() = default;
  // Returns false once the sink takes no more characters.
  virtual bool Put(char16_t c) = 0;
};

bool PutText(CharSink& sink, const char16_t* text) {
  if (text == nullptr) text = u"(null)";
  for (; *text != 0; ++text) {
    if (!sink.Put(*text)) return false;
  }
  return true;
}

bool PutNarrow(CharSink& sink, const char* text) {
  if (text == nullptr) return PutText(sink, nullptr);
  for (; *text != 0; ++text) {
    if (!sink.Put(static_cast<unsigned char>(*text))) return false;
  }
  return true;
}

bool PutUnsigned(CharSink& sink, uint64_t value, bool negative, size_t minDigits) {
  char16_t digits[20];
  size_t n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0 && n < sizeof digits / sizeof digits[0]);
  while (n < minDigits && n < sizeof digits / sizeof digits[0]) digits[n++] = u'0';
  if (negative && !sink.Put(u'-')) return false;
  while (n > 0) {
    if (!sink.Put(digits[--n])) return false;
  }
  return true;
}

bool PutSigned(CharSink& sink, int64_t value) {
  const bool negative = value < 0;
  // Negate in unsigned arithmetic so the smallest value stays exact.
  const uint64_t magnitude =
      negative ? uint64_t{0} - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  return PutUnsigned(sink, magnitude, negative, 1);
}

// Runs the format over the arguments into the sink. A conversion whose
// argument is missing or of another kind prints nothing (the compile-time
// check keeps this from happening in the command).
void Format(CharSink& sink, const char16_t* format, const FormatArg* args, size_t argCount) {
  size_t used = 0;
  for (size_t i = 0; format[i] != 0;) {
    const char16_t c = format[i++];
    if (c != u'%') {
      if (!sink.Put(c)) return;
      continue;
    }
    bool literal = false;
    bool padded = false;
    const FormatKind kind = format_detail::ReadConversion(format, i, literal, padded);
    if (literal) {
      if (!sink.Put(u'%')) return;
      continue;
    }
    if (kind == FormatKind::None || used >= argCount || args[used].kind != kind) return;
    const FormatArg& arg = args[used++];
    bool more = true;
    switch (kind) {
      case FormatKind::Wide:
        more = PutText(sink, arg.wide);
        break;
      case FormatKind::Narrow:
        more = PutNarrow(sink, arg.narrow);
        break;
      case FormatKind::Int32:
      case FormatKind::Int64:
        more = PutSigned(sink, arg.signedValue);
        break;
      case FormatKind::UInt32:
      case FormatKind::UInt64:
        more = PutUnsigned(sink, arg.unsignedValue, false, padded ? 2 : 1);
        break;
      case FormatKind::None:
        break;
    }
    if (!more) return;
  }
}

class BufferSink : public CharSink {
 public:
  BufferSink(char16_t* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}
  bool Put(char16_t c) override {
    if (length_ + 1 >= capacity_) return false;
    buffer_[length_++] = c;
    return true;
  }
  size_t Finish() {
    if (capacity_ > 0) buffer_[length_] = 0;
    return length_;
  }

 private:
  char16_t* buffer_;
  size_t capacity_;
  size_t length_ = 0;
};

constexpr size_t kBlockBytes = 4096;

struct ConsoleState {
  Platform* platform = nullptr;
  bool kindKnown = false;
  bool isConsole = false;
  char block[kBlockBytes] = {};
  size_t used = 0;
  bool failed = false;
};

ConsoleState g_console;

void WriteBlock() {
  if (g_console.used == 0) return;
  if (g_console.platform != nullptr &&
      !g_console.platform->WriteStandardOutput(g_console.block, g_console.used)) {
    g_console.failed = true;
  }
  g_console.used = 0;
}

void PutByte(char byte) {
  if (g_console.used == kBlockBytes) WriteBlock();
  g_console.block[g_console.used++] = byte;
}

// Turns characters into bytes on standard output: one byte per character up
// to U+00FF, the first character above it ends the call's output.
class StreamSink : public CharSink {
 public:
  bool Put(char16_t c) override {
    if (c > 0xFF) return false;
    if (c == u'\n') PutByte('\r');
    PutByte(static_cast<char>(static_cast<unsigned char>(c)));
    ++written_;
    return true;
  }
  int32_t Written() const { return written_; }

 private:
  int32_t written_ = 0;
};

}  // namespace

namespace format_detail {
void FormatDoesNotMatchArguments() {}
}  // namespace format_detail

size_t FormatToBuffer(char16_t* buffer, size_t capacity, const char16_t* format,
                      const FormatArg* args, size_t argCount) {
  BufferSink sink(buffer, capacity);
  Format(sink, format, args, argCount);
  return sink.Finish();
}

void ConsoleAttach(Platform& platform) {
  g_console.platform = &platform;
  g_console.kindKnown = false;
  g_console.isConsole = false;
  g_console.used = 0;
  g_console.failed = false;
}

void ConsoleFlush() {
  WriteBlock();
}

int32_t ConsolePrintArgs(const char16_t* format, const FormatArg* args, size_t argCount) {
  if (g_console.platform == nullptr) return -1;
  if (!g_console.kindKnown) {
    g_console.isConsole = g_console.platform->StandardOutputIsConsole();
    g_console.kindKnown = true;
  }
  g_console.failed = false;
  StreamSink sink;
  Format(sink, format, args, argCount);
  if (g_console.isConsole) WriteBlock();
  return g_console.failed ? -1 : sink.Written();
}

}  // namespace wf
