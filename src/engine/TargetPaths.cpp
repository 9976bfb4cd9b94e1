#include "engine/TargetPaths.h"

#include "engine/RegistryText.h"
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

uint32_t ExpandTargetPath(Platform& platform, const char16_t* source, const char16_t* computerName,
                          size_t longest, char16_t* folder) {
  PathText expanded;
  const uint32_t needed = ExpandPath(platform, source, expanded);
  uint32_t status = 0;
  if (needed == 0) {
    status = platform.GetLastError();
    if (status == 0) status = kErrorInvalidData;
  } else if (!ExpansionFitted(needed) ||
             TargetPathLength(expanded.Data(), computerName) > longest) {
    status = kErrorFilenameTooLong;
  }
  if (status != 0) {
    CopyText(folder, kPathChars, u"");
    return status;
  }
  CopyText(folder, kPathChars, expanded.Data());
  ToTargetPath(folder, computerName);
  return 0;
}

void FolderForComparison(const char16_t* path, PathText& folder) {
  PathText work;
  size_t length = work.Assign(path);
  for (size_t i = 0; i < length; ++i) {
    if (work.chars[i] == u'/') work.chars[i] = u'\\';
  }
  while (length > 0 && work.chars[length - 1] == u'\\') work.chars[--length] = 0;

  // The root stays as written: "\\server\share", "X:" or a leading "\".
  // A path without one is relative to the current folder and stays
  // relative: its first segment gets no backslash before it, and a ".."
  // that would climb above its start is kept.
  folder.Clear();
  size_t at = 0;
  bool relative = false;
  if (length >= 2 && work.chars[0] == u'\\' && work.chars[1] == u'\\') {
    at = 2;
    for (int part = 0; part < 2; ++part) {
      while (at < length && work.chars[at] != u'\\') ++at;
      if (part == 0 && at < length) ++at;
    }
  } else if (length >= 2 && work.chars[1] == u':') {
    at = 2;
  } else {
    relative = length > 0 && work.chars[0] != u'\\';
  }
  folder.Assign(work.Data(), at);

  // Where each kept segment begins in folder, for "..".
  size_t starts[kPathChars / 2 + 1] = {};
  size_t depth = 0;
  while (at < length) {
    while (at < length && work.chars[at] == u'\\') ++at;
    const size_t begin = at;
    while (at < length && work.chars[at] != u'\\') ++at;
    size_t end = at;
    if (end == begin) break;
    const size_t size = end - begin;
    if (size == 1 && work.chars[begin] == u'.') continue;
    if (size == 2 && work.chars[begin] == u'.' && work.chars[begin + 1] == u'.') {
      if (depth > 0) {
        const size_t cut = starts[--depth];
        folder.chars[cut] = 0;
      } else if (relative) {
        if (folder.Length() != 0) folder.Append(u"\\");
        folder.Append(u"..");
      }
      continue;
    }
    bool onlyDots = true;
    for (size_t i = begin; i < end; ++i) onlyDots = onlyDots && work.chars[i] == u'.';
    const bool last = end >= length;
    if (last) {
      while (end > begin && (work.chars[end - 1] == u'.' || work.chars[end - 1] == u' ')) --end;
    } else if (!onlyDots && work.chars[end - 1] == u'.') {
      --end;
    }
    if (end == begin) continue;
    if (depth < sizeof starts / sizeof starts[0]) starts[depth++] = folder.Length();
    if (!relative || folder.Length() != 0) folder.Append(u"\\");
    const size_t used = folder.Length();
    CopyText(folder.chars + used, PathText::kCapacity - used, work.chars + begin, end - begin);
  }
  if (relative && folder.Length() == 0) folder.Append(u".");
  folder.Append(u"\\");
}

}  // namespace wf
