// The page that shows the chat service in the main window, and the page's
// external object: `window.external` with maxmize, notify, quit, capture and
// embeded, defined before any script of the page runs, in every frame of
// the chat service's own origin. Each call reaches the program through a
// prompt, which the page waits for, so calls are synchronous for the page
// and the program learns the origin of the frame that called.
#pragma once

#include <QString>
#include <QWebEnginePage>
#include <cstdint>
#include <optional>
#include <string>

namespace parlex::app::qt {

// What a capture left for the page: the reply of a sent image.
struct CaptureOutcome {
  bool sent = false;
  std::u16string reply;
};

// The four operations the page's calls reach.
class IChatPageHost {
 public:
  virtual ~IChatPageHost() = default;
  virtual void Maximize() = 0;
  virtual void Notify(const std::u16string& title, const std::u16string& text) = 0;
  virtual void Quit() = 0;
  virtual CaptureOutcome Capture(int32_t companyId, int32_t visitorId) = 0;
};

class ChatPageQt : public QWebEnginePage {
  Q_OBJECT

 public:
  // Only frames with the origin (scheme, host, port) of `chatBaseUrl` get
  // the object, and only their calls reach `host`.
  ChatPageQt(IChatPageHost& host, const QString& chatBaseUrl, QObject* parent = nullptr);
  ~ChatPageQt() override;

  // The first text of the prompts the object makes. Made fresh for each
  // page, so no other page can make a prompt look like a call.
  const QString& marker() const { return marker_; }

 protected:
  bool javaScriptPrompt(const QUrl& securityOrigin, const QString& msg, const QString& defaultValue,
                        QString* result) override;

 private:
  // The answer to one call: "1" for embeded, "S" and the reply after a
  // sent capture, empty otherwise.
  QString Call(const QUrl& securityOrigin, const QString& payload);

  IChatPageHost& host_;
  std::u16string chatBaseUrl_;
  QString marker_;
  bool capturing_ = false;
};

}  // namespace parlex::app::qt
