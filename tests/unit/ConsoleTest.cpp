// Console output bytes and buffering, and the prompt key read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ConsoleKey.h"
#include "platform/ConsoleOutput.h"
#include "sim/SimPlatform.h"

namespace wf {
namespace {

class ConsoleOutputTest : public ::testing::Test {
 protected:
  void Attach(bool isConsole) {
    sim.CaptureStandardOutput(isConsole);
    ConsoleAttach(sim);
  }
  sim::SimPlatform sim;
};

TEST_F(ConsoleOutputTest, CharacterAboveLatin1EndsOnlyThatMessage) {
  Attach(true);
  ConsolePrint(u"\n\n[%s]", u"C:\\Users\\\u0418\u0432\u0430\u043d\\");
  ConsolePrint(u"\nAction=Skipping (Date)");
  ConsolePrint(u"\n%s=%S", u"caf\u00e9", "\xff");
  EXPECT_EQ(sim.StandardOutput(),
            "\r\n\r\n[C:\\Users\\"
            "\r\nAction=Skipping (Date)"
            "\r\ncaf\xe9=\xff");
}

TEST_F(ConsoleOutputTest, RedirectedOutputGoesOutIn4096ByteBlocks) {
  Attach(false);
  const std::u16string line(99, u'x');  // 99 characters and CR LF: 101 bytes
  for (int i = 0; i < 40; ++i) ConsolePrint(u"%s\n", line.c_str());
  EXPECT_EQ(sim.StandardOutput(), "");  // 4040 bytes: still buffered
  ConsolePrint(u"%s\n", line.c_str());
  ASSERT_EQ(sim.StandardOutput().size(), 4096u);
  ConsoleFlush();
  std::string expected;
  for (int i = 0; i < 41; ++i) expected += std::string(99, 'x') + "\r\n";
  EXPECT_EQ(sim.StandardOutput(), expected);
}

ConsoleInputEvent Key(uint8_t character, uint16_t scan, uint32_t state = 0, bool down = true) {
  ConsoleInputEvent e;
  e.isKeyEvent = true;
  e.keyDown = down;
  e.character = character;
  e.scanCode = scan;
  e.controlKeyState = state;
  return e;
}

class ConsoleKeyTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetConsoleKey(); }
  void TearDown() override { ResetConsoleKey(); }
  sim::SimPlatform sim;
};

TEST_F(ConsoleKeyTest, CtrlCIsAnOrdinaryKeyAndModeIsRestored) {
  sim.SetConsole({Key(3, 46, kLeftCtrlPressed)});
  uint32_t before = 0;
  ASSERT_TRUE(sim.OpenConsoleInput());
  ASSERT_TRUE(sim.GetConsoleInputMode(&before));
  EXPECT_EQ(ReadConsoleKey(sim), 3);
  EXPECT_EQ(sim.ConsoleInputMode(), before);
}

TEST(TwoPartKeys, ModifierPrecedenceAndEnhancedKeys) {
  struct Case {
    uint16_t scan;
    uint32_t state;
    int first;
    int second;  // -1: no code, the key is skipped
  };
  const Case cases[] = {
      {59, 0, 0, 59},                                     // F1
      {64, kShiftPressed, 0, 89},                         // Shift+F6
      {59, kShiftPressed | kLeftCtrlPressed, 0, 94},      // Ctrl over Shift
      {59, kLeftCtrlPressed | kRightAltPressed, 0, 104},  // Alt over Ctrl
      {88, 0, 224, 134},                                  // F12
      {72, kEnhancedKey, 224, 72},                        // Up arrow
      {72, 0, 0, 72},                                     // number-pad 8 without NumLock
      {83, kEnhancedKey | kLeftCtrlPressed, 224, 147},    // Ctrl+Delete
      {71, kEnhancedKey | kLeftAltPressed, 0, 151},       // Alt+Home
      {71, kLeftAltPressed, -1, -1},                      // Alt+number pad composes
      {42, kShiftPressed, -1, -1},                        // Shift alone
      {76, kLeftCtrlPressed, 0, 143},                     // Ctrl+number-pad 5
      {76, 0, -1, -1},
  };
  for (const Case& c : cases) {
    uint8_t first = 1;
    uint8_t second = 1;
    const bool found = LookupTwoPartKey(c.scan, c.state, &first, &second);
    EXPECT_EQ(found, c.second >= 0) << c.scan << " " << c.state;
    if (found) {
      EXPECT_EQ(first, c.first) << c.scan << " " << c.state;
      EXPECT_EQ(second, c.second) << c.scan << " " << c.state;
    }
  }
}

}  // namespace
}  // namespace wf
