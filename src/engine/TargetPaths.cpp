#include "engine/TargetPaths.h"

#include "platform/Text.h"

namespace wf {

void ToTargetPath(char16_t* path, const char16_t* computerName) {
  PathText work;
  size_t length = work.Assign(path);
  while (length > 0 && work.chars[length - 1] == u'\\') work.chars[--length] = 0;
  work.Append(u"\\");

  if (computerName == nullptr || computerName[0] == 0) {
    CopyText(path, kPathChars, work.Data());
    return;
  }
  // The second character (the drive's colon) becomes the share's "$".
  if (work.chars[0] != 0 && work.chars[1] != 0) work.chars[1] = u'$';
  PathText target;
  target.Assign(u"\\\\");
  CopyText(target.chars + 2, kPathChars - 2, computerName, 257);
  target.Append(u"\\");
  target.Append(work.Data());
  CopyText(path, kPathChars, target.Data());
}

size_t TargetPathLength(const char16_t* path, const char16_t* computerName) {
  size_t length = TextLength(path);
  while (length > 0 && path[length - 1] == u'\\') --length;
  length += 1;
  if (computerName != nullptr && computerName[0] != 0) {
    const size_t nameLength = TextLength(computerName);
    length += 3 + (nameLength < 257 ? nameLength : 257);
  }
  return length;
}

}  // namespace wf
