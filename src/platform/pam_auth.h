// Password checks through PAM for impersonation.
//
// The service name comes from the settings (default "torvane"); the service
// file is read from /etc/pam.d unless a configuration directory is set. A
// service file for a server that authenticates local accounts:
//
//   # /etc/pam.d/torvane
//   auth     required  pam_unix.so
//   account  required  pam_unix.so
//
// A missing service file makes PAM fall back to /etc/pam.d/other.
#pragma once

#include <string>

namespace torvane {

// Where PAM reads service files ("" = the system's /etc/pam.d). Tests point it
// at a directory of their own.
void SetPamConfigDir(std::string dir);
const std::string& PamConfigDir();

// Checks the user's password and that the account may log on now (not locked,
// not expired). Returns the user name PAM settled on (a module may map it).
// Failures raise error 13 (EACCES) with a text that says which case it was:
//   wrong password or unknown user  "Logon failure: unknown user name or bad password."
//   locked or expired account       "Logon failure: the account is locked, expired or may not log on now (...)."
//   anything else                   "Logon failure: <PAM's text> (PAM service "torvane")."
std::string PamAuthenticate(const std::string& service, const std::string& user, const std::string& password);

}  // namespace torvane
