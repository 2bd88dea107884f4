// MIME types from the registry's "Content Type" values.
#include <gtest/gtest.h>

#include "http/mime_type.h"
#include "http/win32/mime_registration.h"
#include "http/win32/wininet_transport.h"

namespace parlex {
namespace {

using test::ScopedMimeRegistration;

TEST(RegistryMimeType, JpegWhateverTheCase) {
  ScopedMimeRegistration jpeg(u".jpg", u"image/jpeg");
  EXPECT_EQ(MimeTypeForFile(u"C:\\Users\\坐席\\AppData\\Local\\Temp\\ostrelscreenshottmp.jpg",
                            win32::LookupRegistryMimeType),
            u"image/jpeg");
  EXPECT_EQ(MimeTypeForFile(u"C:\\Temp\\SHOT.JPG", win32::LookupRegistryMimeType), u"image/jpeg");
}

TEST(RegistryMimeType, PathsWithoutAnExtensionGetTheDefault) {
  ScopedMimeRegistration jpeg(u".jpg", u"image/jpeg");
  // The last '.' belongs to a directory name.
  EXPECT_EQ(MimeTypeForFile(u"C:\\shots.jpg\\screen", win32::LookupRegistryMimeType), kDefaultMimeType);
  EXPECT_EQ(MimeTypeForFile(u"C:/shots.jpg/screen", win32::LookupRegistryMimeType), kDefaultMimeType);
  // No '.' at all: the whole path is the key, and names nothing.
  EXPECT_EQ(MimeTypeForFile(u"C:\\Temp\\screen", win32::LookupRegistryMimeType), kDefaultMimeType);
  EXPECT_EQ(MimeTypeForFile(u"screen", win32::LookupRegistryMimeType), kDefaultMimeType);
  EXPECT_EQ(MimeTypeForFile(u"", win32::LookupRegistryMimeType), kDefaultMimeType);
  EXPECT_EQ(MimeTypeForFile(u"C:\\Temp\\x.parlex-unknown", win32::LookupRegistryMimeType), kDefaultMimeType);
  EXPECT_EQ(MimeTypeForFile(u"C:\\Temp\\x.", win32::LookupRegistryMimeType), kDefaultMimeType);
}

TEST(RegistryMimeType, OnlyAStringThatFitsCounts) {
  // 511 units and the terminator fill the 1024 bytes exactly.
  std::u16string fits = u"application/x-" + std::u16string(511 - 14, u'f');
  ScopedMimeRegistration fitting(u".parlexfits", fits);
  ASSERT_TRUE(fitting.Created());
  EXPECT_EQ(MimeTypeForFile(u"a.parlexfits", win32::LookupRegistryMimeType), fits);

  std::u16string tooLong = fits + u"g";
  ScopedMimeRegistration longer(u".parlexlong", tooLong);
  ASSERT_TRUE(longer.Created());
  EXPECT_EQ(MimeTypeForFile(u"a.parlexlong", win32::LookupRegistryMimeType), kDefaultMimeType);

  DWORD number = 7;
  ScopedMimeRegistration dword(u".parlexdword", REG_DWORD, &number, sizeof number);
  ASSERT_TRUE(dword.Created());
  EXPECT_EQ(MimeTypeForFile(u"a.parlexdword", win32::LookupRegistryMimeType), kDefaultMimeType);

  ScopedMimeRegistration bare(u".parlexbare", REG_SZ, nullptr, 0);
  ASSERT_TRUE(bare.Created());
  EXPECT_EQ(MimeTypeForFile(u"a.parlexbare", win32::LookupRegistryMimeType), kDefaultMimeType);

  ScopedMimeRegistration chinese(u".parlexcn", u"image/图片");
  EXPECT_EQ(MimeTypeForFile(u"截图.parlexcn", win32::LookupRegistryMimeType), u"image/图片");
}

}  // namespace
}  // namespace parlex
