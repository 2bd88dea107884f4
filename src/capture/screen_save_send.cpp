// CScreenDlg's save and send buttons: the selected part of the snapshot
// encoded by the file's extension, written where the agent chooses or
// uploaded with the company and visitor identifiers. A capture whose upload
// failed is kept in the pictures folder rather than lost.
#include <cstdio>
#include <utility>

#include "capture/screen_dlg.h"
#include "common/text.h"
#include "http/generic_http_client.h"
#include "http/transport.h"
#include "parlex_config.h"

namespace parlex {
namespace {

constexpr std::u16string_view kTempFileName = u"ostrelscreenshottmp.jpg";
constexpr std::u16string_view kSendExtension = u".jpg";
constexpr std::u16string_view kAgent = u"OstrelAgent";
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
  if (const std::optional<std::string> bytes = EncodeSelection(*path); bytes && m_files)
    m_files->WriteFile(*path, *bytes);
  End(kCaptureDone);
}

void CScreenDlg::OnSend() {
  if (!m_view || m_nResult >= 0 || IsRectEmpty(SelectedArea())) return;
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

  bool delivered = false;
  if (!path.empty()) {
    std::unique_ptr<Transport> transport = m_http.makeTransport ? m_http.makeTransport() : nullptr;
    if (transport) {
      GenericHTTPClient client(std::move(transport), m_http.mimeTypeOf);
      client.ClearFields();
      client.AddField(u"companyId", m_companyId);
      client.AddField(u"visitorId", m_visitorId);
      client.AddField(u"upload", path, true);
      const std::u16string url = m_uploadUrl.empty() ? DefaultUploadUrl() : m_uploadUrl;
      if (client.Execute(url, reqMultipartPost, kAgent))
        m_szReply = std::u16string(CutAtUnits(client.GetReplyText(), kReplyUnits - 1));
      delivered = !m_szReply.empty();
    }
  }

  if (delivered) {
    m_files->RemoveFile(path);
  } else if (jpeg && m_files) {
    // Not sent: the agent's work is kept under a dated name in the pictures
    // folder; when that cannot be had the temporary file stays.
    const std::u16string pictures = m_files->PicturesDirectory();
    const LocalTime now = m_files->Now();
    std::u16string stem = UnsentCaptureName(now);
    stem.resize(stem.size() - kSendExtension.size());
    for (int n = 1; !pictures.empty() && n <= kMaxKeptNameTries; ++n) {
      const std::u16string target = pictures + stem +
                                    (n == 1 ? std::u16string() : u" (" + FormatDecimal(n) + u")") +
                                    std::u16string(kSendExtension);
      if (m_files->FileExists(target)) continue;
      bool kept = !path.empty() && m_files->MoveFile(path, target);
      if (!kept && m_files->WriteFile(target, *jpeg)) {
        // A pictures folder on another file system: written afresh instead.
        kept = true;
        if (!path.empty()) m_files->RemoveFile(path);
      }
      if (kept) m_szKeptFile = target;
      break;
    }
    if (m_szKeptFile.empty() && !path.empty()) m_szKeptFile = path;
  }
  m_bSent = true;
  End(kCaptureDone);
}

}  // namespace parlex
