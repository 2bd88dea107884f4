// One upload of a capture on a thread of its own, so that the capture window
// goes on painting and taking the agent's Esc while the server is slow: the
// window waits for it with a bound of its own and may give it up.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "http/generic_http_client.h"
#include "http/http_seams.h"

namespace parlex {

class UploadJob {
 public:
  struct Request {
    std::u16string url;
    int32_t companyId = 0;
    int32_t visitorId = 0;
    std::u16string filePath;  // the JPEG, sent as the "upload" part
  };

  // Starts the multipart POST of the request's fields on a new thread; none
  // when no transport or no thread can be had. The thread holds the job
  // until it ends, so a job that is given up on finishes alone.
  static std::shared_ptr<UploadJob> Start(const HttpSeams& seams, Request request);

  ~UploadJob();
  UploadJob(const UploadJob&) = delete;
  UploadJob& operator=(const UploadJob&) = delete;

  bool Finished() const { return finished_.load(std::memory_order_acquire); }
  // Gives the upload up: its connection is cut as soon as the platform
  // lets it, and it counts as failed whatever comes back.
  void Abort();
  // Once finished: the server's reply text (cut to the capture dialog's
  // room); empty when the upload failed or was given up.
  std::u16string Reply() const;
  // Once finished: the reply's HTTP status (0 when none came) and, when the
  // request failed, the platform's error code.
  int Status() const { return Finished() ? status_ : 0; }
  uint32_t Error() const { return Finished() ? error_ : 0; }

 private:
  explicit UploadJob(std::unique_ptr<GenericHTTPClient> client, Request request);
  void Run();

  std::unique_ptr<GenericHTTPClient> client_;
  Request request_;
  std::u16string reply_;  // written by the job's thread before finished_
  int status_ = 0;
  uint32_t error_ = 0;
  std::atomic<bool> finished_{false};
  std::atomic<bool> aborted_{false};
};

}  // namespace parlex
