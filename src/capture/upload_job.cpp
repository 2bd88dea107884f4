#include "capture/upload_job.h"

#include <exception>
#include <system_error>
#include <thread>
#include <utility>

#include "capture/screen_dlg.h"
#include "common/text.h"

namespace parlex {
namespace {

constexpr std::u16string_view kAgent = u"OstrelAgent";

// The status code of "HTTP/1.x 200 OK ..."; 0 without one.
int StatusOf(std::u16string_view headers) {
  const size_t space = headers.find(u' ');
  if (space == std::u16string_view::npos || space + 4 > headers.size()) return 0;
  int status = 0;
  for (char16_t c : headers.substr(space + 1, 3)) {
    if (c < u'0' || c > u'9') return 0;
    status = status * 10 + (c - u'0');
  }
  return status;
}

}  // namespace

std::shared_ptr<UploadJob> UploadJob::Start(const HttpSeams& seams, Request request) {
  std::unique_ptr<Transport> transport = seams.makeTransport ? seams.makeTransport() : nullptr;
  if (!transport) return nullptr;
  std::shared_ptr<UploadJob> job(new UploadJob(
      std::make_unique<GenericHTTPClient>(std::move(transport), seams.mimeTypeOf), std::move(request)));
  try {
    std::thread([job] { job->Run(); }).detach();
  } catch (const std::system_error&) {
    return nullptr;
  }
  return job;
}

UploadJob::UploadJob(std::unique_ptr<GenericHTTPClient> client, Request request)
    : client_(std::move(client)), request_(std::move(request)) {}

UploadJob::~UploadJob() = default;

void UploadJob::Run() {
  std::u16string reply;
  try {
    GenericHTTPClient& client = *client_;
    client.ClearFields();
    client.AddField(u"companyId", request_.companyId);
    client.AddField(u"visitorId", request_.visitorId);
    client.AddField(u"upload", request_.filePath, true);
    if (client.Execute(request_.url, reqMultipartPost, kAgent)) {
      reply = std::u16string(CutAtUnits(client.GetReplyText(), CScreenDlg::kReplyUnits - 1));
      status_ = StatusOf(client.GetReplyHeaders());
    } else {
      error_ = client.LastError();
    }
  } catch (const std::exception&) {
    // Out of memory or a thread the platform would not give: not sent.
    reply.clear();
  }
  if (aborted_.load(std::memory_order_acquire)) reply.clear();
  reply_ = std::move(reply);
  finished_.store(true, std::memory_order_release);
}

void UploadJob::Abort() {
  if (aborted_.exchange(true)) return;
  if (!Finished()) client_->Abort();
}

std::u16string UploadJob::Reply() const { return Finished() ? reply_ : std::u16string(); }

}  // namespace parlex
