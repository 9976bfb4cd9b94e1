#include "cli/Usage.h"

#include "platform/ConsoleOutput.h"
#include "platform/Text.h"

namespace wf {

void ShowUsage(const char16_t* programPath) {
  PathText copy;
  copy.Assign(programPath, kPathChars - 1);
  const char16_t* name = copy.Data();
  for (const char16_t* p = copy.Data(); *p != 0; ++p) {
    if (*p == u'\\') name = p + 1;
  }

  ConsolePrint(u"\n%s [Version %s]", kProductName, kProductVersion);
  ConsolePrint(u"\n");
  ConsolePrint(u"\nDeletes user profiles, based on the number of days since they were last used.");
  ConsolePrint(u"\n");
  ConsolePrint(
      u"\nProfiles are enumerated from the registry under "
      u"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\");
  ConsolePrint(
      u" and then the modified date of each profile's NTUSER.DAT (the HKCU hive) is used to "
      u"determine the age of each profile.");
  ConsolePrint(u"  Profiles for these accounts are always skipped: ");
  ConsolePrint(u"\n\tDefault (Default User)");
  ConsolePrint(u"\n\tPublic (All Users)");
  ConsolePrint(u"\n\tSYSTEM (S-1-5-18)");
  ConsolePrint(u"\n\tLocalService (S-1-5-19)");
  ConsolePrint(u"\n\tNetworkService (S-1-5-20)");
  ConsolePrint(u"\n");
  ConsolePrint(u"\nThe syntax of this command is:");
  ConsolePrint(u"\n");
  ConsolePrint(u"\n%s /min:# [/y] [/r] [/skip:name1:name2:...] [\\\\computername ...]", name);
  ConsolePrint(u"\n");
  ConsolePrint(u"\n /MIN:\tSpecifies the number of days used to decide if a profile is old.");
  ConsolePrint(u"\n /Y\tDeletes the profiles without the confirmation prompts. (Optional)");
  ConsolePrint(u"\n /R\tDeletes only roaming profiles, local profiles are skipped. (Optional)");
  ConsolePrint(
      u"\n /SKIP:\tPrevents specific folder names from being deleted, regardless of their ");
  ConsolePrint(u"\n\tage. Separate each name with a colon. (Optional)");
  ConsolePrint(u"\n \\\\computername\tSpecifies one or more remote systems to query. (Optional)");
  ConsolePrint(u"\n");
  ConsolePrint(u"\nExamples:");
  ConsolePrint(u"\n  %s /min:30", name);
  ConsolePrint(u"\n  %s /min:60 /skip:Administrator:Admin:User1:User2.DOMAIN", name);
  ConsolePrint(u"\n  %s /min:90 \\\\computer1 \\\\computer2 \\\\computer3", name);
  ConsolePrint(u"\n");
  ConsolePrint(u"\n");
  ConsolePrint(u"\nAn argument of /? or -? displays this syntax and always returns %d.", 1);
  ConsolePrint(u"\nA successful completion will return %d.", 0);
  ConsolePrint(u"\n");
  ConsolePrint(u"\n");
}

}  // namespace wf
