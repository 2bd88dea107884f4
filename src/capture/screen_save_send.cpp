// CScreenDlg's save and send buttons: the selected part of the snapshot
// encoded by the file's extension, written where the agent chooses or
// uploaded with the company and visitor identifiers. A capture whose upload
// failed is kept in the pictures folder rather than lost.
#include <cstdio>
#include <utility>

#include "capture/screen_dlg.h"
#include "capture/upload_job.h"
#include "common/text.h"
#include "http/generic_http_client.h"
#include "http/transport.h"
#include "parlex_config.h"

namespace parlex {
namespace {

constexpr std::u16string_view kTempFileName = u"ostrelscreenshottmp.jpg";
constexpr std::u16string_view kSendExtension = u".jpg";
constexpr std::u16string_view kUploadPath = u"resource/staff/image";
constexpr std::u16string_view kUnsentPrefix = u"Ostrel截屏未发送 ";
// Names tried for a kept capture: "<name>.jpg", "<name> (2).jpg", ...
constexpr int kMaxKeptNameTries = 1000;

// The extension of a file name: from its last '.' on; empty without one.
std::u16string_view ExtensionOf(std::u16string_view path) {
  const size_t slash = path.find_last_of(u"\\/");
  const std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind(u'.');
  return dot == std::u16string_view::npos ? std::u16string_view() : name.substr(dot);
}

std::u16string LowerAscii(std::u16string text) {
  for (char16_t& c : text)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return text;
}

std::u16string TwoDigits(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return Widen(buf);
}

}  // namespace

std::optional<size_t> ChooseEncoder(std::u16string_view path, const std::vector<ImageEncoderInfo>& encoders) {
  const std::u16string_view ext = ExtensionOf(path);
  if (ext.empty()) return std::nullopt;
  for (size_t i = 0; i < encoders.size(); ++i) {
    std::u16string_view patterns = encoders[i].patterns;
    while (!patterns.empty()) {
      const size_t semi = patterns.find(u';');
      const std::u16string_view pattern = patterns.substr(0, semi);
      if (EqualsIgnoringCase(ExtensionOf(pattern), ext)) return i;
      if (semi == std::u16string_view::npos) break;
      patterns.remove_prefix(semi + 1);
    }
  }
  return std::nullopt;
}

std::u16string UnsentCaptureName(const LocalTime& t) {
  char year[16];
  std::snprintf(year, sizeof year, "%04d", t.year);
  std::u16string name(kUnsentPrefix);
  name += Widen(year) + u"-" + TwoDigits(t.month) + u"-" + TwoDigits(t.day) + u" ";
  name += TwoDigits(t.hour) + TwoDigits(t.minute) + TwoDigits(t.second) + u".jpg";
  return name;
}

std::u16string DefaultUploadUrl() { return std::u16string(PARLEX_CHAT_URL) + std::u16string(kUploadPath); }

Rect CScreenDlg::SelectedArea() const {
  return Intersection(m_rcSelection, Rect{0, 0, m_cxScreen, m_cyScreen});
}

PixelBuffer CScreenDlg::SelectionPixels() const {
  const Rect a = SelectedArea();
  PixelBuffer out(a.right - a.left, a.bottom - a.top);
  for (int32_t y = a.top; y < a.bottom; ++y)
    for (int32_t x = a.left; x < a.right; ++x)
      out.Set(x - a.left, y - a.top, 0xFF000000u | m_snapshot.At(x, y));
  return out;
}

std::optional<std::string> CScreenDlg::EncodeSelection(std::u16string_view path) {
  if (!m_view || IsRectEmpty(SelectedArea())) return std::nullopt;
  const std::optional<size_t> encoder = ChooseEncoder(path, m_view->ImageEncoders());
  if (!encoder) return std::nullopt;
  return m_view->EncodeImage(*encoder, SelectionPixels());
}

void CScreenDlg::OnSave() {
  // An empty selection has nothing to save: the dialog stays open.
  if (!m_view || m_nResult >= 0 || IsRectEmpty(SelectedArea())) return;
  const std::optional<std::u16string> path = m_view->AskSavePath();
  if (!path) return;
  const std::optional<std::string> bytes = EncodeSelection(*path);
  const bool written = bytes && m_files && m_files->WriteFile(*path, *bytes);
  m_report.outcome = written ? CaptureReport::Outcome::kSaved : CaptureReport::Outcome::kSaveFailed;
  m_report.bytes = bytes ? bytes->size() : 0;
  if (!written)
    m_report.reason = bytes ? u"the file could not be written" : u"no encoder for the file's type";
  End(kCaptureDone);
}

void CScreenDlg::OnSend() {
  if (!m_view || m_nResult >= 0 || m_bSending || IsRectEmpty(SelectedArea())) return;
  const auto clicked = std::chrono::steady_clock::now();
  const std::optional<std::string> jpeg = EncodeSelection(kSendExtension);
  const std::u16string tempDir = m_files ? m_files->TempDirectory() : std::u16string();
  m_szReply.clear();
  m_szKeptFile.clear();

  // The temporary file the upload reads: only in the temporary folder,
  // never relative to the working folder.
  std::u16string path;
  if (jpeg && !tempDir.empty()) {
    path = tempDir + std::u16string(kTempFileName);
    if (!m_files->WritePrivateFile(path, *jpeg)) path.clear();
  }

  m_report = CaptureReport{};
  m_report.bytes = jpeg ? jpeg->size() : 0;
  if (!jpeg)
    m_report.reason = u"no JPEG could be made";
  else if (path.empty())
    m_report.reason = u"the temporary file could not be written";
  const bool answered = !path.empty() && Upload(path);
  if (answered && m_report.httpStatus >= 200 && m_report.httpStatus < 300) {
    m_files->RemoveFile(path);
    m_report.outcome = CaptureReport::Outcome::kSent;
  } else if (answered) {
    // The server answered but refused the picture (an error page, a full
    // disk, a picture too large): the page still gets what the server said,
    // and the picture is kept as for any send that did not arrive.
    m_report.reason = u"the server refused it";
    KeepUnsent(jpeg, path);
    m_report.outcome = CaptureReport::Outcome::kNotSent;
  } else {
    m_szReply.clear();
    KeepUnsent(jpeg, path);
    m_report.outcome = CaptureReport::Outcome::kNotSent;
  }
  m_report.milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - clicked)
          .count();
  m_bSent = true;
  End(kCaptureDone);
}

bool CScreenDlg::Upload(const std::u16string& path) {
  using Clock = std::chrono::steady_clock;
  // Once given up, the upload gets this long to let go of its connection
  // before the window stops waiting for it.
  constexpr std::chrono::milliseconds kLetGo{2000};

  UploadJob::Request request{m_uploadUrl.empty() ? DefaultUploadUrl() : m_uploadUrl, m_companyId, m_visitorId,
                             path};
  const std::shared_ptr<UploadJob> job = UploadJob::Start(m_http, std::move(request));
  if (!job) {
    m_report.reason = u"no connection could be made";
    return false;
  }

  m_bSending = true;
  m_bSendCancelled = false;
  HideToolbar();
  const Rect note = ToolbarArea(m_rcSelection);
  m_view->ShowStatus(note, kSendingText);
  const Clock::time_point bound = Clock::now() + m_uploadBound;
  std::optional<Clock::time_point> givenUp;
  m_view->ServeWhile([&] {
    if (job->Finished()) return false;
    const Clock::time_point now = Clock::now();
    if (!givenUp && (m_bSendCancelled || !m_view || now >= bound)) {
      job->Abort();
      givenUp = now;
    }
    return !givenUp || now < *givenUp + kLetGo;
  });
  m_bSending = false;
  if (m_view) m_view->ShowStatus(note, u"");
  if (givenUp) m_report.reason = m_bSendCancelled ? u"cancelled by the agent" : u"no answer within the bound";
  if (!job->Finished()) {
    // The job ends alone; it counts as failed.
    job->Abort();
    return false;
  }
  m_szReply = job->Reply();
  m_report.httpStatus = job->Status();
  if (m_report.reason.empty() && m_szReply.empty()) {
    m_report.reason = job->Error() != 0 ? u"the request failed (error " +
                                              FormatDecimal(static_cast<int32_t>(job->Error())) + u")"
                                        : u"the server sent an empty reply";
  }
  return !m_szReply.empty();
}

void CScreenDlg::KeepUnsent(const std::optional<std::string>& jpeg, const std::u16string& tempPath) {
  if (!m_files) return;
  std::u16string stem = UnsentCaptureName(m_files->Now());
  stem.resize(stem.size() - kSendExtension.size());

  // The JPEG, else whatever the platform can still write: PNG first, then
  // the other encoders in their order.
  std::string bytes;
  std::u16string extension(kSendExtension);
  if (jpeg) {
    bytes = *jpeg;
  } else if (m_view) {
    std::vector<std::u16string> tried{u".png"};
    for (const ImageEncoderInfo& encoder : m_view->ImageEncoders()) {
      const std::u16string_view first =
          std::u16string_view(encoder.patterns).substr(0, encoder.patterns.find(u';'));
      tried.emplace_back(ExtensionOf(first));
    }
    for (std::u16string& ext : tried) {
      if (ext.empty() || EqualsIgnoringCase(ext, kSendExtension)) continue;
      if (std::optional<std::string> other = EncodeSelection(ext)) {
        bytes = std::move(*other);
        extension = LowerAscii(ext);
        break;
      }
    }
  }
  if (bytes.empty()) return;

  // The pictures folder; without one the temporary folder, under the dated
  // name, which the next send (it writes only its own fixed name) leaves
  // alone.
  for (const std::u16string& folder : {m_files->PicturesDirectory(), m_files->TempDirectory()}) {
    if (!folder.empty() && KeepIn(folder, stem, extension, bytes, jpeg ? tempPath : std::u16string())) return;
  }
}

bool CScreenDlg::KeepIn(const std::u16string& folder, std::u16string_view stem, std::u16string_view extension,
                        const std::string& bytes, const std::u16string& tempPath) {
  for (int n = 1; n <= kMaxKeptNameTries; ++n) {
    const std::u16string target = folder + std::u16string(stem) +
                                  (n == 1 ? std::u16string() : u" (" + FormatDecimal(n) + u")") +
                                  std::u16string(extension);
    if (m_files->FileExists(target)) continue;
    bool kept = !tempPath.empty() && m_files->MoveFile(tempPath, target);
    if (!kept && m_files->WriteFile(target, bytes)) {
      // A folder on another file system: written afresh instead.
      kept = true;
      if (!tempPath.empty()) m_files->RemoveFile(tempPath);
    }
    if (kept) m_szKeptFile = target;
    return kept;
  }
  return false;
}

std::u16string UnsentNoticeText(std::u16string_view keptPath) {
  return u"已保存到 " + std::u16string(keptPath);
}

}  // namespace parlex
