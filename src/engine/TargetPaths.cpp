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

namespace {

// The value a remote target gives the variable name[0..length), or null for
// a variable its Windows does not write into ProfileList.
const char16_t* TargetValue(const TargetSystemRoot& systemRoot, const char16_t* drive,
                            const char16_t* name, size_t length) {
  PathText variable;
  variable.Assign(name, length);
  if (EqualsNoCase(variable.Data(), u"SystemRoot") || EqualsNoCase(variable.Data(), u"windir")) {
    return systemRoot.text.Data();
  }
  if (EqualsNoCase(variable.Data(), u"SystemDrive")) return drive;
  return nullptr;
}

}  // namespace

uint32_t ExpandOnTarget(const TargetSystemRoot& systemRoot, const char16_t* source,
                        PathText& expanded) {
  expanded.Clear();
  if (systemRoot.status != 0) return systemRoot.status;
  char16_t drive[3] = {systemRoot.text.chars[0], systemRoot.text.chars[1], 0};
  size_t used = 0;
  const auto put = [&](const char16_t* text, size_t length) {
    if (used + length > PathText::kCapacity - 1) return false;
    for (size_t i = 0; i < length; ++i) expanded.chars[used++] = text[i];
    expanded.chars[used] = 0;
    return true;
  };
  const char16_t* at = source;
  while (*at != 0) {
    const char16_t* close = nullptr;
    if (*at == u'%') {
      for (const char16_t* c = at + 1; *c != 0; ++c) {
        if (*c == u'%') {
          close = c;
          break;
        }
      }
    }
    bool fitted = true;
    if (close == nullptr) {
      fitted = put(at, 1);
      ++at;
    } else {
      // A reference the target gives no value of here would be expanded
      // there by an environment this computer cannot see.
      const char16_t* value =
          TargetValue(systemRoot, drive, at + 1, static_cast<size_t>(close - at - 1));
      if (value == nullptr) {
        expanded.Clear();
        return kErrorEnvvarNotFound;
      }
      fitted = put(value, TextLength(value));
      at = close + 1;
    }
    if (!fitted) {
      expanded.Clear();
      return kErrorFilenameTooLong;
    }
  }
  return 0;
}

uint32_t ExpandTargetPath(Platform& platform, const TargetSystemRoot* target,
                          const char16_t* source, const char16_t* computerName, size_t longest,
                          char16_t* folder) {
  PathText expanded;
  uint32_t status = 0;
  if (target != nullptr) {
    status = ExpandOnTarget(*target, source, expanded);
  } else {
    const uint32_t needed = ExpandPath(platform, source, expanded);
    if (needed == 0) {
      status = platform.GetLastError();
      if (status == 0) status = kErrorInvalidData;
    } else if (!ExpansionFitted(needed)) {
      status = kErrorFilenameTooLong;
    }
  }
  if (status == 0 && TargetPathLength(expanded.Data(), computerName) > longest) {
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
