#include "support/memhost.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "automation/progid.h"
#include "basics/escape.h"
#include "host/mappath.h"
#include "host/script_context.h"

namespace torvane::test {

namespace {
std::string Upper(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}
Variant Lookup(const std::vector<std::pair<std::string, std::string>>& list, std::string_view name) {
  std::string joined;
  bool found = false;
  for (const auto& [k, v] : list)
    if (EqualsNoCase(k, name)) {
      if (found) joined += ", ";
      joined += v;
      found = true;
    }
  return found ? Variant(joined) : Variant();
}
std::vector<std::string> Names(const std::vector<std::pair<std::string, std::string>>& list) {
  std::vector<std::string> out;
  for (const auto& kv : list) out.push_back(kv.first);
  return out;
}
}  // namespace

// ---- request -------------------------------------------------------------------

Variant MemRequest::ServerVariables(std::string_view name) {
  auto it = serverVariables.find(Upper(name));
  return it == serverVariables.end() ? Variant() : Variant(it->second);
}
Variant MemRequest::QueryString(std::string_view name) { return Lookup(query, name); }
Variant MemRequest::Form(std::string_view name) {
  formRead = true;
  return Lookup(form, name);
}
std::vector<std::string> MemRequest::QueryStringNames() { return Names(query); }
std::vector<std::string> MemRequest::FormNames() {
  formRead = true;
  return Names(form);
}
int64_t MemRequest::TotalBytes() {
  if (failTotalBytes) throw Error(-2147467259, "TotalBytes failed");
  return totalBytesOverride == -2 ? static_cast<int64_t>(body.size()) : totalBytesOverride;
}
Variant MemRequest::BinaryRead(int64_t count) {
  readSizes.push_back(count);
  if (failBinaryRead || formRead) throw Error(-2147467259, "BinaryRead failed");
  if (binaryReadNotBytes) return Variant("not bytes");
  if (failAfterBytes >= 0 && static_cast<int64_t>(readPos) >= failAfterBytes) {
    if (failForeign) throw std::runtime_error("connection reset by peer");
    throw Error(-2147467259, "The client reset the connection");
  }
  size_t n = std::min(static_cast<size_t>(std::max<int64_t>(count, 0)), body.size() - readPos);
  Bytes out(body.begin() + static_cast<std::ptrdiff_t>(readPos), body.begin() + static_cast<std::ptrdiff_t>(readPos + n));
  readPos += n;
  return Variant(std::move(out));
}

// ---- response ------------------------------------------------------------------

void MemResponse::SetContentType(std::string_view t) {
  if (!headersSent) contentType = std::string(t);
}
void MemResponse::SetStatus(std::string_view s) {
  if (!headersSent) status = std::string(s);
}
void MemResponse::AddHeader(std::string_view n, std::string_view v) {
  if (!headersSent) headers.emplace_back(std::string(n), std::string(v));
}
void MemResponse::Write(std::string_view text) {
  if (!buffer) headersSent = true;
  body.insert(body.end(), text.begin(), text.end());
}
void MemResponse::BinaryWrite(std::span<const uint8_t> bytes) {
  if (!buffer) headersSent = true;
  binaryWrites.push_back(bytes.size());
  body.insert(body.end(), bytes.begin(), bytes.end());
}
bool MemResponse::TransmitFile(int fd, int64_t offset, int64_t length) {
  if (!transmitFiles) return false;
  if (!buffer) headersSent = true;
  transmits.emplace_back(offset, length);
  size_t at = body.size();
  body.resize(at + static_cast<size_t>(length));
  ssize_t got = ::pread(fd, body.data() + at, static_cast<size_t>(length), offset);
  if (got != length) throw Error(62, "Input past end of file");
  return true;
}
bool MemResponse::IsClientConnected() {
  ++connectedChecks;
  if (disconnectAfterChecks >= 0 && connectedChecks > disconnectAfterChecks) clientConnected = false;
  return clientConnected;
}
void MemResponse::Redirect(std::string_view url) {
  status = "302 Object moved";
  headers.emplace_back("Location", std::string(url));
  ended = true;
}
std::string MemResponse::Header(std::string_view name) const {
  for (const auto& [k, v] : headers)
    if (EqualsNoCase(k, name)) return v;
  return "";
}

// ---- server -----------------------------------------------------------------------

std::string MemServer::MapPath(std::string_view path) { return MapVirtualPath(siteRoot, pageDir, path); }
std::string MemServer::HTMLEncode(std::string_view text) { return HtmlEncode(text); }
std::string MemServer::URLEncode(std::string_view text) { return UrlEncode(text); }

// ---- application ---------------------------------------------------------------

Variant MemApplication::Value(std::string_view name) {
  std::lock_guard g(mutex);
  return values.Value(name);
}
void MemApplication::SetValue(std::string_view name, Variant value) {
  std::lock_guard g(mutex);
  values.Set(name, std::move(value));
}
void MemApplication::Lock() {
  mutex.lock();
  ++lockDepth;
}
void MemApplication::UnLock() {
  if (lockDepth > 0) {
    --lockDepth;
    mutex.unlock();
  }
}
std::vector<std::string> MemApplication::Names() {
  std::lock_guard g(mutex);
  return values.Names();
}
void MemApplication::Remove(std::string_view name) {
  std::lock_guard g(mutex);
  values.Remove(name);
}
void MemApplication::RemoveAll() {
  std::lock_guard g(mutex);
  values.Clear();
}

// ---- host -------------------------------------------------------------------------

MemHost::MemHost(std::string siteRoot) : application(std::make_shared<MemApplication>()) {
  server->siteRoot = std::move(siteRoot);
  request->serverVariables["REQUEST_METHOD"] = "GET";
}

std::shared_ptr<ObjectContext> MemHost::context() const {
  auto ctx = std::make_shared<ObjectContext>();
  ctx->request = request;
  ctx->response = response;
  ctx->server = server;
  ctx->application = application;
  return ctx;
}

void MemHost::SetBody(const std::string& body) {
  request->body.assign(body.begin(), body.end());
  request->readPos = 0;
  request->serverVariables["CONTENT_LENGTH"] = std::to_string(body.size());
  request->serverVariables["REQUEST_METHOD"] = "POST";
}

void MemHost::SetMultipart(const std::string& body, const std::string& boundary) {
  SetBody(body);
  request->serverVariables["CONTENT_TYPE"] = "multipart/form-data; boundary=" + boundary;
}

MemHost::Scope::Scope(MemHost& host) : scope_(host.context()) { AttachScriptContext(); }
MemHost::Scope::~Scope() { ClearScriptContext(); }

// ---- files ---------------------------------------------------------------------------

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "torvane-test-XXXXXX").string();
  char* p = mkdtemp(tmpl.data());
  if (!p) std::abort();
  path_ = p;
}
TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::string& nativePath) {
  std::ifstream in(nativePath, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}
void WriteFile(const std::string& nativePath, std::string_view content) {
  std::ofstream out(nativePath, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}
bool FileExists(const std::string& nativePath) { return std::filesystem::exists(nativePath); }

std::vector<std::string> TraceMessages(const std::string& nativePath) {
  std::string content = ReadFile(nativePath);
  std::vector<std::string> out;
  size_t i = 0;
  while (i < content.size()) {
    size_t end = content.find("\r\n", i);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(i, end - i);
    size_t dash = line.find(" - ");
    out.push_back(dash == std::string::npos ? line : line.substr(dash + 3));
    i = end + 2;
  }
  return out;
}

}  // namespace torvane::test
