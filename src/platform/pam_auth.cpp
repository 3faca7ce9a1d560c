#include "platform/pam_auth.h"

#include <security/pam_appl.h>
#include <string.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "automation/error.h"

namespace torvane {

namespace {

std::string& ConfigDirStore() {
  static std::string dir;
  return dir;
}

// PAM modules are not promised to be thread-safe; one conversation at a time.
std::mutex gPamMutex;

struct Credentials {
  const std::string* user;
  const std::string* password;
};

char* Duplicate(const std::string& s) { return strdup(s.c_str()); }

// Answers PAM's prompts: the password for a hidden prompt, the user name for a
// visible one; messages are ignored.
int Converse(int count, const pam_message** messages, pam_response** responses, void* data) {
  if (count <= 0) return PAM_CONV_ERR;
  auto* creds = static_cast<Credentials*>(data);
  auto* out = static_cast<pam_response*>(calloc(static_cast<size_t>(count), sizeof(pam_response)));
  if (!out) return PAM_BUF_ERR;
  for (int i = 0; i < count; ++i) {
    switch (messages[i]->msg_style) {
      case PAM_PROMPT_ECHO_OFF: out[i].resp = Duplicate(*creds->password); break;
      case PAM_PROMPT_ECHO_ON: out[i].resp = Duplicate(*creds->user); break;
      default: break;
    }
  }
  *responses = out;
  return PAM_SUCCESS;
}

[[noreturn]] void Refuse(int rc, pam_handle_t* pamh, const std::string& service) {
  std::string text;
  switch (rc) {
    case PAM_AUTH_ERR:
    case PAM_USER_UNKNOWN:
    case PAM_MAXTRIES:
      text = "Logon failure: unknown user name or bad password.";
      break;
    case PAM_ACCT_EXPIRED:
    case PAM_PERM_DENIED:
    case PAM_NEW_AUTHTOK_REQD:
    case PAM_AUTHTOK_EXPIRED:
      text = std::string("Logon failure: the account is locked, expired or may not log on now (") +
             pam_strerror(pamh, rc) + ").";
      break;
    default:
      text = std::string("Logon failure: ") + pam_strerror(pamh, rc) + " (PAM service \"" + service + "\").";
  }
  pam_end(pamh, rc);
  throw Error(EACCES, text);
}

}  // namespace

void SetPamConfigDir(std::string dir) { ConfigDirStore() = std::move(dir); }
const std::string& PamConfigDir() { return ConfigDirStore(); }

std::string PamAuthenticate(const std::string& service, const std::string& user, const std::string& password) {
  std::lock_guard<std::mutex> lock(gPamMutex);
  Credentials creds{&user, &password};
  pam_conv conv{&Converse, &creds};
  pam_handle_t* pamh = nullptr;
  const std::string& dir = PamConfigDir();
  int rc = pam_start_confdir(service.c_str(), user.c_str(), &conv, dir.empty() ? nullptr : dir.c_str(), &pamh);
  if (rc != PAM_SUCCESS) {
    if (pamh) pam_end(pamh, rc);
    throw Error(EACCES, "Logon failure: PAM could not start service \"" + service + "\".");
  }
  rc = pam_authenticate(pamh, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
  if (rc != PAM_SUCCESS) Refuse(rc, pamh, service);
  rc = pam_acct_mgmt(pamh, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
  if (rc != PAM_SUCCESS) Refuse(rc, pamh, service);
  const void* item = nullptr;
  std::string settled = user;
  if (pam_get_item(pamh, PAM_USER, &item) == PAM_SUCCESS && item) settled = static_cast<const char*>(item);
  pam_end(pamh, PAM_SUCCESS);
  return settled;
}

}  // namespace torvane
