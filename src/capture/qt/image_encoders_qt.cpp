#include "capture/qt/image_encoders_qt.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QString>

namespace parlex::qt {

const ImageEncodersQt& ImageEncodersQt::Installed() {
  static const ImageEncodersQt encoders;
  return encoders;
}

ImageEncodersQt::ImageEncodersQt() {
  const QList<QByteArray> supported = QImageWriter::supportedImageFormats();
  // Formats that Qt lists under two names are one encoder with two patterns.
  struct Alias {
    const char* format;
    const char* other;
    const char16_t* patterns;
  };
  static constexpr Alias kAliases[] = {{"jpeg", "jpg", u"*.jpg;*.jpeg"}, {"tiff", "tif", u"*.tif;*.tiff"}};
  auto add = [&](const QByteArray& format, std::u16string patterns) {
    formats_.push_back(format);
    infos_.push_back(ImageEncoderInfo{std::move(patterns)});
  };
  // JPEG leads: it is what save and send write by default.
  if (supported.contains("jpeg") || supported.contains("jpg"))
    add(supported.contains("jpeg") ? QByteArray("jpeg") : QByteArray("jpg"), kAliases[0].patterns);
  for (const QByteArray& format : supported) {
    bool aliased = false;
    for (const Alias& alias : kAliases) {
      if (format != alias.format && format != alias.other) continue;
      aliased = true;
      // The other name of a pair that is already listed adds nothing.
      const bool listed =
          std::find(formats_.begin(), formats_.end(), QByteArray(alias.format)) != formats_.end() ||
          std::find(formats_.begin(), formats_.end(), QByteArray(alias.other)) != formats_.end();
      if (!listed) add(format, alias.patterns);
    }
    if (!aliased) add(format, u"*." + QString::fromLatin1(format).toLower().toStdU16String());
  }
}

std::optional<std::string> ImageEncodersQt::Encode(size_t index, const PixelBuffer& image) const {
  if (index >= formats_.size() || image.Width() <= 0 || image.Height() <= 0) return std::nullopt;
  // The buffer's top byte is not alpha: RGB888 takes the colour only.
  const QImage source(reinterpret_cast<const uchar*>(image.Data()), image.Width(), image.Height(),
                      image.Width() * 4, QImage::Format_RGB32);
  const QImage rgb = source.convertToFormat(QImage::Format_RGB888);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly)) return std::nullopt;
  QImageWriter writer(&buffer, formats_[index]);
  if (!writer.write(rgb)) return std::nullopt;
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace parlex::qt
