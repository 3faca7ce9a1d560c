// torvane-embed FILE [RANGE]: a program with its own small host that creates
// component objects by ProgID and drives them late-bound, as a page would.
//
// The host answers the component through the four host interfaces: a request
// with no body whose only server variable is HTTP_RANGE (when RANGE is given,
// "bytes=0-4"), a response that keeps what is written to it, a server that maps
// a site folder and creates objects, and an application store in memory.
// It prints the computer's name (Torvane.Computer), then downloads FILE through
// Torvane.File and prints the response the component produced: status,
// content type, body. A late-bound call to a member that does not exist shows
// how errors come back. Exit status 1 when a component call fails.
#include <torvane/torvane.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

using torvane::Variant;

// A GET request without body or form; only HTTP_RANGE may be set.
class CommandRequest : public torvane::Request {
 public:
  explicit CommandRequest(std::string range) : range_(std::move(range)) {}
  Variant ServerVariables(std::string_view name) override {
    if (name == "REQUEST_METHOD") return Variant("GET");
    if (name == "HTTP_RANGE" && !range_.empty()) return Variant(range_);
    return Variant();
  }
  Variant QueryString(std::string_view) override { return Variant(); }
  Variant Form(std::string_view) override { return Variant(); }
  std::vector<std::string> QueryStringNames() override { return {}; }
  std::vector<std::string> FormNames() override { return {}; }
  int64_t TotalBytes() override { return 0; }
  Variant BinaryRead(int64_t) override { return Variant(torvane::Bytes{}); }

 private:
  std::string range_;
};

// Keeps the status, headers and body; nothing is sent anywhere.
class RecordingResponse : public torvane::Response {
 public:
  std::string contentType = "text/html", status = "200 OK", cacheControl = "private", body;
  std::vector<std::pair<std::string, std::string>> headers;
  bool ended = false;

  std::string ContentType() override { return contentType; }
  void SetContentType(std::string_view type) override { contentType = std::string(type); }
  std::string Status() override { return status; }
  void SetStatus(std::string_view s) override { status = std::string(s); }
  void AddHeader(std::string_view name, std::string_view value) override { headers.emplace_back(name, value); }
  bool Buffer() override { return true; }
  void SetBuffer(bool) override {}
  std::string CacheControl() override { return cacheControl; }
  void SetCacheControl(std::string_view value) override { cacheControl = std::string(value); }
  void Write(std::string_view text) override { body += text; }
  void BinaryWrite(std::span<const uint8_t> bytes) override { body.append(bytes.begin(), bytes.end()); }
  bool IsClientConnected() override { return true; }
  void End() override { ended = true; }
  bool Ended() override { return ended; }
  void Flush() override {}
  void Clear() override { body.clear(); }
  void Redirect(std::string_view url) override {
    status = "302 Object moved";
    AddHeader("Location", url);
  }
  bool HeadersSent() override { return false; }
};

// Virtual paths under one site folder, in the component's DOS form (drive C:
// is the Linux root by default): /a.txt -> C:\srv\site\a.txt.
class FolderServer : public torvane::Server {
 public:
  explicit FolderServer(std::string root) : root_(std::move(root)) {}
  std::string MapPath(std::string_view path) override {
    std::string native = root_ + "/" + std::string(path.substr(path.starts_with('/') ? 1 : 0));
    return DosForm(native);
  }
  std::string HTMLEncode(std::string_view text) override {
    std::string out;
    for (char c : text)
      out += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '&' ? "&amp;" : c == '"' ? "&quot;" : std::string(1, c);
    return out;
  }
  std::string URLEncode(std::string_view text) override { return std::string(text); }

  static std::string DosForm(const std::string& linuxPath) {
    std::string dos = "C:" + linuxPath;
    for (char& c : dos)
      if (c == '/') c = '\\';
    return dos;
  }

 private:
  std::string root_;
};

class MemoryApplication : public torvane::Application {
 public:
  Variant Value(std::string_view name) override {
    std::lock_guard g(mutex_);
    auto it = values_.find(std::string(name));
    return it == values_.end() ? Variant() : it->second;
  }
  void SetValue(std::string_view name, Variant value) override {
    std::lock_guard g(mutex_);
    values_[std::string(name)] = std::move(value);
  }
  void Lock() override { lock_.lock(); }
  void UnLock() override { lock_.unlock(); }
  std::vector<std::string> Names() override {
    std::lock_guard g(mutex_);
    std::vector<std::string> names;
    for (const auto& [name, value] : values_) names.push_back(name);
    return names;
  }

 private:
  std::mutex mutex_;
  std::recursive_mutex lock_;
  std::map<std::string, Variant> values_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::cerr << "usage: torvane-embed FILE [RANGE]\n";
    return 2;
  }
  std::string path = std::filesystem::absolute(argv[1]).string();
  auto response = std::make_shared<RecordingResponse>();
  auto context = std::make_shared<torvane::ObjectContext>();
  context->request = std::make_shared<CommandRequest>(argc == 3 ? argv[2] : "");
  context->response = response;
  context->server = std::make_shared<FolderServer>(std::filesystem::path(path).parent_path().string());
  context->application = std::make_shared<MemoryApplication>();

  // The objects created on this thread use this host until the scope ends.
  torvane::ObjectContextScope scope(context);
  torvane::AttachScriptContext();
  int status = 0;
  try {
    torvane::ObjectRef computer = torvane::CreateObject("Torvane.Computer");
    std::cout << "ComputerName: " << computer->Get("ComputerName").toString() << "\n";

    torvane::ObjectRef file = context->server->CreateObject("Torvane.File");
    file->Invoke("Name", torvane::CallKind::Let, {Variant(FolderServer::DosForm(path))});
    std::cout << "Size: " << file->Get("Size").toString() << "\n";
    file->Invoke("Download", torvane::CallKind::Method, {});
    std::cout << "Status: " << response->status << "\n"
              << "Content-Type: " << response->contentType << "\n"
              << "Body: " << response->body << "\n";

    try {
      file->Invoke("NoSuchMember", torvane::CallKind::Method, {});
    } catch (const torvane::Error& e) {
      std::cout << "Error " << e.number << ": " << e.description << "\n";
    }
  } catch (const torvane::Error& e) {
    std::cerr << "torvane-embed: error " << e.number << ": " << e.description << " (" << e.source << ")\n";
    status = 1;
  }
  torvane::ClearScriptContext();
  return status;
}
