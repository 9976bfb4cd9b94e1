#include "engine/ErrorText.h"

#include "platform/ConsoleOutput.h"
#include "platform/Text.h"

namespace wf {

void PrintErrorText(Platform& platform, int32_t status) {
  LongText text;
  platform.GetSystemErrorText(static_cast<uint32_t>(status), text.chars,
                              static_cast<uint32_t>(LongText::kCapacity));
  ConsolePrint(u"\n\n%s", text.Data());
}

}  // namespace wf
