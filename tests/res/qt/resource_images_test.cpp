// The icon and tracker cursors as the Qt build shows them.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPixmap>

#include "platform/qt/resource_images.h"
#include "resource.h"
#include "resource_data.h"

namespace parlex::qt {
namespace {

class ResourceImagesQt : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!QCoreApplication::instance()) {
      static int argc = 1;
      static char name[] = "res_qt_test";
      static char* argv[] = {name, nullptr};
      static QGuiApplication app(argc, argv);
    }
  }
};

TEST_F(ResourceImagesQt, AppIconHasItsFiveSizes) {
  const QIcon icon = AppIcon();
  ASSERT_FALSE(icon.isNull());
  QList<int> sides;
  for (const QSize& size : icon.availableSizes()) {
    EXPECT_EQ(size.width(), size.height());
    sides.append(size.width());
  }
  std::sort(sides.begin(), sides.end());
  EXPECT_EQ(sides, (QList<int>{16, 24, 32, 48, 256}));
  for (int side : {16, 32, 256}) {
    const QImage image = icon.pixmap(side, side).toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(image.width(), side);
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << side;
    const QRgb middle = image.pixel(side / 5, side * 2 / 5);
    EXPECT_EQ(qAlpha(middle), 255) << side;
    EXPECT_GT(qBlue(middle), qRed(middle)) << side;
  }
}

TEST_F(ResourceImagesQt, TrackerCursorsCarryTheirHotspots) {
  const struct {
    int id;
    QPoint hotspot;
  } cases[] = {{IDC_TRACK_NWSE, {15, 15}}, {IDC_TRACK_NESW, {15, 15}}, {IDC_TRACK_NS, {15, 15}},
               {IDC_TRACK_WE, {15, 15}},   {IDC_TRACK_MOVE, {15, 15}}, {IDC_TRACK_MOVEDRAG, {0, 0}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    const QCursor cursor = TrackerCursor(c.id);
    EXPECT_EQ(cursor.shape(), Qt::BitmapCursor);
    EXPECT_EQ(cursor.hotSpot(), c.hotspot);
    const QImage image = cursor.pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(image.size(), QSize(32, 32));
    EXPECT_EQ(image.pixel(c.hotspot), qRgba(0, 0, 0, 255)) << "black under the hotspot";
    EXPECT_EQ(qAlpha(image.pixel(31, 31)), 0) << "transparent corner";
    // White outline somewhere: the cursor reads on dark backgrounds too.
    bool white = false;
    for (int y = 0; y < 32 && !white; ++y)
      for (int x = 0; x < 32 && !white; ++x) white = image.pixel(x, y) == qRgba(255, 255, 255, 255);
    EXPECT_TRUE(white);
  }
  EXPECT_EQ(TrackerCursor(IDI_PARLEX).shape(), Qt::ArrowCursor);
  EXPECT_EQ(TrackerCursor(213).shape(), Qt::ArrowCursor);
}

TEST_F(ResourceImagesQt, ImagesKeepEveryPixel) {
  auto file = DecodeIconFile(res::CursorFile(IDC_TRACK_MOVEDRAG));
  ASSERT_TRUE(file);
  const IconImage& small = file->images[1];
  const QImage image = ToQImage(small);
  ASSERT_EQ(image.size(), QSize(16, 16));
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(image.pixel(x, y), small.Pixel(x, y)) << x << "," << y;
}

}  // namespace
}  // namespace parlex::qt
