// Expected output bytes shared by the tests of the native and the Windows
// program.
#pragma once

#include <string>

namespace wf::testing {

// Text with every line feed written as the command writes it: CR LF.
inline std::string Crlf(const std::string& text) {
  std::string bytes;
  for (char c : text) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  return bytes;
}

// The usage screen for the program name the command finds in its first
// argument.
inline std::string UsageScreen(const std::string& program) {
  return Crlf(
      "\nWrenfold [Version 1.10]"
      "\n"
      "\nDeletes user profiles, based on the number of days since they were last used."
      "\n"
      "\nProfiles are enumerated from the registry under "
      "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\"
      " and then the modified date of each profile's NTUSER.DAT (the HKCU hive) is used to "
      "determine the age of each profile."
      "  Profiles for these accounts are always skipped: "
      "\n\tDefault (Default User)"
      "\n\tPublic (All Users)"
      "\n\tSYSTEM (S-1-5-18)"
      "\n\tLocalService (S-1-5-19)"
      "\n\tNetworkService (S-1-5-20)"
      "\n"
      "\nThe syntax of this command is:"
      "\n"
      "\n" +
      program +
      " /min:# [/y] [/r] [/skip:name1:name2:...] [\\\\computername ...]"
      "\n"
      "\n /MIN:\tSpecifies the number of days used to decide if a profile is old."
      "\n /Y\tDeletes the profiles without the confirmation prompts. (Optional)"
      "\n /R\tDeletes only roaming profiles, local profiles are skipped. (Optional)"
      "\n /SKIP:\tPrevents specific folder names from being deleted, regardless of their "
      "\n\tage. Separate each name with a colon. (Optional)"
      "\n \\\\computername\tSpecifies one or more remote systems to query. (Optional)"
      "\n"
      "\nExamples:"
      "\n  " +
      program + " /min:30\n  " + program +
      " /min:60 /skip:Administrator:Admin:User1:User2.DOMAIN\n  " + program +
      " /min:90 \\\\computer1 \\\\computer2 \\\\computer3"
      "\n"
      "\n"
      "\nAn argument of /? or -? displays this syntax and always returns 1."
      "\nA successful completion will return 0."
      "\n"
      "\n");
}

}  // namespace wf::testing
