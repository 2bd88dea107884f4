// The Linux build's image encoders: JPEG first under both its extensions,
// and every listed format writes a picture that reads back as the pixels it
// was given (within JPEG's loss for JPEG).
#include <QCoreApplication>
#include <QImage>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "capture/qt/image_encoders_qt.h"
#include "capture/screen_dlg.h"

namespace parlex::qt {
namespace {

PixelBuffer Picture() {
  PixelBuffer image(37, 21);
  for (int y = 0; y < 21; ++y)
    for (int x = 0; x < 37; ++x)
      image.Set(x, y, (x < 18 ? Rgb(255, 0, 0) : Rgb(0, 90, 200)) | (y % 2 ? 0 : 0xFF000000u));
  return image;
}

QImage Decode(const std::string& bytes) {
  return QImage::fromData(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

TEST(ImageEncodersQt, JpegLeadsAndThePathsExtensionPicksTheFormat) {
  const ImageEncodersQt& encoders = ImageEncodersQt::Installed();
  const std::vector<ImageEncoderInfo>& infos = encoders.Infos();
  ASSERT_FALSE(infos.empty());
  EXPECT_EQ(infos[0].patterns, u"*.jpg;*.jpeg");
  EXPECT_EQ(ChooseEncoder(u"/tmp/a.JPEG", infos), std::optional<size_t>(0));

  const PixelBuffer picture = Picture();
  const std::optional<std::string> jpeg = encoders.Encode(0, picture);
  ASSERT_TRUE(jpeg);
  EXPECT_EQ(jpeg->substr(0, 3), std::string("\xFF\xD8\xFF"));
  const QImage fromJpeg = Decode(*jpeg);
  ASSERT_EQ(fromJpeg.size(), QSize(37, 21));
  EXPECT_GT(qRed(fromJpeg.pixel(4, 10)), 200);
  EXPECT_LT(qGreen(fromJpeg.pixel(4, 10)), 60);

  // PNG is lossless: every pixel comes back, whatever the buffer's top byte.
  const std::optional<size_t> png = ChooseEncoder(u"shot.png", infos);
  ASSERT_TRUE(png);
  const std::optional<std::string> bytes = encoders.Encode(*png, picture);
  ASSERT_TRUE(bytes);
  const QImage fromPng = Decode(*bytes);
  ASSERT_EQ(fromPng.size(), QSize(37, 21));
  for (int y = 0; y < 21; ++y)
    for (int x = 0; x < 37; ++x)
      ASSERT_EQ(fromPng.pixel(x, y) & 0xFFFFFFu, picture.At(x, y)) << x << "," << y;

  // Every other format writes something.
  for (size_t i = 0; i < infos.size(); ++i) {
    const std::optional<std::string> written = encoders.Encode(i, picture);
    EXPECT_TRUE(written && !written->empty()) << QString::fromStdU16String(infos[i].patterns).toStdString();
  }
  EXPECT_FALSE(encoders.Encode(infos.size(), picture));
  EXPECT_FALSE(ChooseEncoder(u"shot.unknownformat", infos));
}

}  // namespace
}  // namespace parlex::qt

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
