#include "capture/qt/text_editor_qt.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QImage>
#include <QPalette>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QtMath>

#include <cstring>

namespace parlex::qt {

TextEditorQt::TextEditorQt(QWidget* parent, qreal ratio)
    : QPlainTextEdit(parent), ratio_(ratio > 0 ? ratio : 1.0) {
  setFrameShape(QFrame::NoFrame);
  setFont(QApplication::font());
  document()->setDocumentMargin(0);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // No scroll bars: the editor scrolls by itself to keep the cursor in view
  // once it has stopped growing.
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  setContextMenuPolicy(Qt::NoContextMenu);
  QPalette colours = palette();
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    colours.setColor(group, QPalette::Base, QColor(255, 255, 255));
    colours.setColor(group, QPalette::Window, QColor(255, 255, 255));
    colours.setColor(group, QPalette::Text, QColor(255, 0, 0));
  }
  setPalette(colours);
  setAutoFillBackground(true);
}

EditorMetrics TextEditorQt::Metrics() const {
  const QFontMetricsF fm(font());
  EditorMetrics m;
  // The editor counts a line as shown only with one pixel to spare below it.
  m.height = static_cast<int32_t>(qCeil((fm.height() + 1) * ratio_));
  m.externalLeading = static_cast<int32_t>(qMax(0, qCeil(fm.leading() * ratio_)));
  m.averageCharWidth = static_cast<int32_t>(qCeil(fm.averageCharWidth() * ratio_));
  return m;
}

int32_t TextEditorQt::TextWidth(std::u16string_view line) const {
  const QString text = QString::fromUtf16(line.data(), static_cast<qsizetype>(line.size()));
  return static_cast<int32_t>(qCeil(QFontMetricsF(font()).horizontalAdvance(text) * ratio_));
}

int32_t TextEditorQt::LineCount() const {
  QAbstractTextDocumentLayout* layout = document()->documentLayout();
  int32_t lines = 0;
  for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
    // Lays the block out at the editor's width if it is not yet.
    layout->blockBoundingRect(block);
    lines += qMax(1, block.layout() ? block.layout()->lineCount() : 1);
  }
  return lines;
}

bool TextEditorQt::Render(int width, int height, PixelBuffer* out) {
  if (!out || width <= 0 || height <= 0) return false;
  QImage image(width, height, QImage::Format_RGB32);
  image.setDevicePixelRatio(ratio_);
  image.fill(QColor(255, 255, 255));
  const int cursor = cursorWidth();
  setCursorWidth(0);
  render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
  setCursorWidth(cursor);
  *out = PixelBuffer(width, height);
  for (int y = 0; y < height; ++y)
    std::memcpy(out->Data() + static_cast<size_t>(y) * width, image.constScanLine(y),
                static_cast<size_t>(width) * 4);
  return true;
}

void TextEditorQt::focusOutEvent(QFocusEvent* event) {
  QPlainTextEdit::focusOutEvent(event);
  // A popup of the editor's own (an input method's list) is no leaving.
  if (event->reason() == Qt::PopupFocusReason) return;
  if (onFocusLost) onFocusLost();
}

}  // namespace parlex::qt
