// The built demo service started for one test on a free port with a private
// data folder, and the ways the tests talk to it: httplib's client for
// ordinary requests, a raw socket for requests no client library would send.
#pragma once

#include <httplib.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace parlex::test {

// One connection to 127.0.0.1:port, closed when the object ends.
class RawConnection {
 public:
  explicit RawConnection(int port);
  ~RawConnection();
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool Ok() const { return sock_ >= 0; }
  // Sends the bytes as they are; false when not all went out.
  bool Send(std::string_view bytes);
  // What arrives until the peer closes, bounded by timeoutMs.
  std::string ReadToClose(int timeoutMs);

 private:
  int sock_ = -1;
};

class DemoService {
 public:
  // extraArgs go after --port 0 --data-dir <folder>/data.
  explicit DemoService(std::vector<std::string> extraArgs = {});

  // False when it did not start or named no port on its first line.
  bool Ok() const { return port_ > 0; }
  int Port() const { return port_; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  httplib::Client Client() const;
  // The test's private folder (the data folder is "data" inside it).
  const TempDir& Dir() const { return dir_; }
  std::filesystem::path DataDir() const { return dir_.File("data"); }
  // Every entry of the data folder but the database's own files, hidden
  // ones too, sorted.
  std::vector<std::string> StoredNames() const;

  // Stops it (SIGTERM) and starts it again over the same data folder, on a
  // new port; false when it did not come back.
  bool Restart();

  // Sends bytes as they are on a new connection; the reply's bytes up to
  // the service's close (bounded by timeoutMs).
  std::string Raw(const std::string& request, int timeoutMs = 5000) const;

  // Ends it with SIGTERM; its exit status and the output after the first line.
  std::pair<int, std::string> Stop();

 private:
  bool Start();

  TempDir dir_{"demo-service"};
  std::vector<std::string> extraArgs_;
  std::unique_ptr<ChildProcess> process_;
  int port_ = 0;
};

// An image made by ImageMagick's convert ("jpg" or "png"), its bytes.
std::string MakeImage(const std::filesystem::path& file, int width, int height, const std::string& color);

// A multipart form of the image endpoint's three fields.
httplib::MultipartFormDataItems UploadForm(const std::string& company, const std::string& visitor,
                                           const std::string& image,
                                           const std::string& fileName = "ostrelscreenshottmp.jpg");

// A new visitor of the company (with the id asked for, when given): its ids
// and token; nothing when the service refused.
struct Visitor {
  int companyId = 0;
  int visitorId = 0;
  std::string token;
  std::string MessagesPath() const {
    return "/api/visitors/" + std::to_string(companyId) + "/" + std::to_string(visitorId) +
           "/messages?token=" + token;
  }
};
std::optional<Visitor> AddVisitor(httplib::Client& client, int companyId, std::optional<int> visitorId = {});

}  // namespace parlex::test
