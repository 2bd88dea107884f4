// The save question of the capture: a file dialog for a new image file.
#pragma once

#include <optional>
#include <string>

class QWidget;

namespace parlex::qt {

// The initial file name, default extension and filter of the question.
inline constexpr char16_t kSaveFileName[] = u"Ostrel截屏未命名";
inline constexpr char16_t kSaveDefaultSuffix[] = u"jpg";
inline constexpr char16_t kSaveFilter[] = u"JPEG (*.jpg;*.jpeg)";

// Asks modally for a path to save to, over `parent` (the capture window),
// with overwrite confirmation; a name typed without an extension gets ".jpg".
// None when the agent cancels.
std::optional<std::u16string> AskSavePathQt(QWidget* parent);

}  // namespace parlex::qt
