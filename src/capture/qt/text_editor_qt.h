// The capture's text editor on Linux: a borderless multi-line plain-text
// editor, red on white in the application's default font, that wraps at its
// width and scrolls vertically by itself. Measurements and the rendered
// pixels are in device pixels (`ratio` device pixels per widget pixel).
#pragma once

#include <QPlainTextEdit>

#include <functional>
#include <string_view>

#include "capture/pixel_canvas.h"
#include "capture/screen_view.h"

namespace parlex::qt {

class TextEditorQt : public QPlainTextEdit {
 public:
  TextEditorQt(QWidget* parent, qreal ratio);

  // Run after the editor has lost the keyboard focus (EN_KILLFOCUS).
  std::function<void()> onFocusLost;

  EditorMetrics Metrics() const;
  int32_t TextWidth(std::u16string_view line) const;
  // Laid-out lines at the current width, wrapped lines included.
  int32_t LineCount() const;
  // The editor as shown, without its text cursor, into width x height device
  // pixels.
  bool Render(int width, int height, PixelBuffer* out);

 protected:
  void focusOutEvent(QFocusEvent* event) override;

 private:
  qreal ratio_;
};

}  // namespace parlex::qt
