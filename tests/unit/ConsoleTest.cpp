// Console output buffering, and the prompt key read.
#include <gtest/gtest.h>

#include <string>

#include "platform/ConsoleKey.h"
#include "platform/ConsoleOutput.h"
#include "sim/SimPlatform.h"

namespace wf {
namespace {

TEST(ConsoleOutput, AConsoleGetsEachMessageARedirectionBlocksOf4096Bytes) {
  sim::SimPlatform console;
  console.CaptureStandardOutput(true);
  ConsoleAttach(console);
  ConsolePrint(u"\nA");
  EXPECT_EQ(console.StandardOutput(), "\r\nA");

  sim::SimPlatform file;
  file.CaptureStandardOutput(false);
  ConsoleAttach(file);
  const std::u16string line(99, u'x');  // 99 characters and CR LF: 101 bytes
  for (int i = 0; i < 40; ++i) ConsolePrint(u"%s\n", line.c_str());
  EXPECT_EQ(file.StandardOutput(), "");  // 4040 bytes: still buffered
  ConsolePrint(u"%s\n", line.c_str());
  EXPECT_EQ(file.StandardOutput().size(), 4096u);
  ConsoleFlush();
  EXPECT_EQ(file.StandardOutput().size(), 41 * 101u);
}

TEST(ConsoleKey, CtrlCIsAnOrdinaryKeyAndTheModeIsRestored) {
  ResetConsoleKey();
  sim::SimPlatform sim;
  sim.SetConsole({{true, true, 3, 46, kLeftCtrlPressed}});
  const uint32_t before = sim.ConsoleInputMode();
  EXPECT_EQ(ReadConsoleKey(sim), 3);
  EXPECT_EQ(sim.ConsoleInputMode(), before);
  ResetConsoleKey();
}

TEST(ConsoleKey, TwoPartKeysByModifierAndKeyKind) {
  struct Case {
    uint16_t scan;
    uint32_t state;
    int first;
    int second;  // -1: no code, the key is skipped
  };
  const Case cases[] = {
      {87, 0, 224, 133},                                  // F11
      {88, 0, 224, 134},                                  // F12
      {60, kRightCtrlPressed, 0, 95},                     // right Ctrl
      {59, kShiftPressed | kLeftCtrlPressed, 0, 94},      // Ctrl over Shift
      {59, kLeftCtrlPressed | kRightAltPressed, 0, 104},  // Alt over Ctrl
      {72, 0, 0, 72},                                     // number-pad 8 without NumLock
      {71, kEnhancedKey | kLeftAltPressed, 0, 151},       // Alt+Home
      {71, kLeftAltPressed, -1, -1},                      // Alt+number pad composes
      {76, kLeftCtrlPressed, 0, 143},                     // Ctrl+number-pad 5
      {76, 0, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scan);
    uint8_t first = 1;
    uint8_t second = 1;
    const bool found = LookupTwoPartKey(c.scan, c.state, &first, &second);
    EXPECT_EQ(found, c.second >= 0);
    if (found) {
      EXPECT_EQ(first, c.first);
      EXPECT_EQ(second, c.second);
    }
  }
}

}  // namespace
}  // namespace wf
