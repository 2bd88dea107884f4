#include <gtest/gtest.h>

#include "http/generic_http_client.h"
#include "support/test_files.h"
#include "http/memory_transport.h"
#include "http/mime_type.h"

namespace parlex {
namespace {

using test::TempFile;
using test::TinyJpeg;

class FormBody : public ::testing::Test {
 protected:
  test::MemoryTransport::Log log;
  GenericHTTPClient client{
      std::make_unique<test::MemoryTransport>(test::MemoryTransport::MakeScript(""), &log),
      test::FakeMimeTypes};
};

TEST_F(FormBody, NumberFieldsAndLimits) {
  EXPECT_TRUE(client.AddField(u"visitorId", -5));
  EXPECT_TRUE(client.AddField(u"companyId", 0));
  EXPECT_TRUE(client.AddField(u"min", -2147483647 - 1));
  ASSERT_EQ(client.Fields().size(), 3u);
  EXPECT_EQ(client.Fields()[0].value, u"-5");
  EXPECT_EQ(client.Fields()[0].kind, fieldPlain);
  EXPECT_EQ(client.Fields()[1].value, u"0");
  EXPECT_EQ(client.Fields()[2].value, u"-2147483648");

  client.ClearFields();
  // 255 units of name and 1023 of value fit; one more is refused, not cut.
  EXPECT_TRUE(client.AddField(std::u16string(255, u'n'), std::u16string(1023, u'v'), false));
  EXPECT_FALSE(client.AddField(std::u16string(256, u'n'), u"v", false));
  EXPECT_FALSE(client.AddField(u"n", std::u16string(1024, u'v'), true));
  // A character outside the BMP takes two units.
  std::u16string pairs;
  for (int i = 0; i < 512; ++i) pairs += u"\U0001F600";
  EXPECT_FALSE(client.AddField(u"n", pairs, false));
  EXPECT_EQ(client.Fields().size(), 1u);
}

TEST_F(FormBody, UrlEncodedTextJoinsPairsUnescaped) {
  client.AddField(u"a", 1);
  client.AddField(u"b", 2);
  EXPECT_EQ(client.BuildFormBody(), u"a=1&b=2");
  client.ClearFields();
  EXPECT_EQ(client.BuildFormBody(), u"");
  client.AddField(u"q", u"x&y=z", false);
  client.AddField(u"f", u"/tmp/a.jpg", true);  // a file field sends its path as a plain value
  EXPECT_EQ(client.BuildFormBody(), u"q=x&y=z&f=/tmp/a.jpg");
}

TEST_F(FormBody, EmptyListIsOnlyTheClosingLine) {
  auto body = client.BuildMultipartBody(kMultipartBoundary);
  ASSERT_TRUE(body);
  EXPECT_EQ(*body, "----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n");
  EXPECT_EQ(body->size(), 38u);
}

TEST_F(FormBody, UploadBodyIsByteExact) {
  TempFile jpeg(u"parlex_form_body_test.jpg", TinyJpeg());
  ASSERT_TRUE(client.AddField(u"companyId", 17));
  ASSERT_TRUE(client.AddField(u"visitorId", -1));
  ASSERT_TRUE(client.AddField(u"upload", jpeg.Path(), true));
  auto body = client.BuildMultipartBody(kMultipartBoundary);
  ASSERT_TRUE(body);
  std::string expected =
      "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
      "Content-Disposition: form-data; name=\"companyId\"\r\n"
      "\r\n"
      "17\r\n"
      "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
      "Content-Disposition: form-data; name=\"visitorId\"\r\n"
      "\r\n"
      "-1\r\n"
      "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
      "Content-Disposition: form-data; name=\"upload\"; filename=\"parlex_form_body_test.jpg\"\r\n"
      "Content-Type: image/x-test-jpeg\r\n"
      "\r\n" +
      TinyJpeg() +
      "\r\n"
      "----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n";
  EXPECT_EQ(*body, expected);
  // The estimate covers the body: two plain fields and the file with its slack.
  EXPECT_EQ(client.EstimateMultipartSize(), 2 * 8192 + 159 + 6144u);
  EXPECT_GE(client.EstimateMultipartSize(), body->size());
}

TEST_F(FormBody, PartsFollowTheFieldsAndCarryChineseAsUtf8) {
  client.AddField(u"old", 1);
  client.ClearFields();
  client.AddField(u"名字", u"值：访客", false);
  TempFile file(u"截屏.jpg", "xyz");
  client.AddField(u"文件", file.Path(), true);
  auto body = client.BuildMultipartBody(kMultipartBoundary);
  ASSERT_TRUE(body);
  EXPECT_EQ(*body,
            "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
            "Content-Disposition: form-data; name=\"\xE5\x90\x8D\xE5\xAD\x97\"\r\n\r\n"
            "\xE5\x80\xBC\xEF\xBC\x9A\xE8\xAE\xBF\xE5\xAE\xA2\r\n"
            "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
            "Content-Disposition: form-data; name=\"\xE6\x96\x87\xE4\xBB\xB6\"; "
            "filename=\"\xE6\x88\xAA\xE5\xB1\x8F.jpg\"\r\n"
            "Content-Type: image/x-test-jpeg\r\n\r\n"
            "xyz\r\n"
            "----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n");
}

TEST_F(FormBody, MissingFileGoesOutEmpty) {
  std::u16string path = TempFile(u"parlex_gone.bin", "").Path();  // created and removed again
  client.AddField(u"upload", path, true);
  EXPECT_EQ(client.EstimateMultipartSize(), 6144u);
  auto body = client.BuildMultipartBody(kMultipartBoundary);
  ASSERT_TRUE(body);
  EXPECT_EQ(*body,
            "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
            "Content-Disposition: form-data; name=\"upload\"; filename=\"parlex_gone.bin\"\r\n"
            "Content-Type: application/octet-stream\r\n\r\n"
            "\r\n"
            "----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n");
}

TEST(FileName, IsTheTextAfterTheLastSeparator) {
  EXPECT_EQ(FileNameOfPath(u"C:\\Users\\坐席\\AppData\\Local\\Temp\\ostrelscreenshottmp.jpg"),
            u"ostrelscreenshottmp.jpg");
  EXPECT_EQ(FileNameOfPath(u"/tmp/ostrelscreenshottmp.jpg"), u"ostrelscreenshottmp.jpg");
  EXPECT_EQ(FileNameOfPath(u"C:\\a/b\\c.jpg"), u"c.jpg");
  EXPECT_EQ(FileNameOfPath(u"plain.jpg"), u"plain.jpg");
  EXPECT_EQ(FileNameOfPath(u"dir/"), u"");
}

TEST(MimeType, KeyFromTheLastDotAndDefault) {
  EXPECT_EQ(MimeExtensionKey(u"C:\\t\\shot.JPG"), u".JPG");
  EXPECT_EQ(MimeExtensionKey(u"/a.b/file"), u".b/file");
  EXPECT_EQ(MimeExtensionKey(u"noext"), u"noext");
  EXPECT_EQ(MimeTypeForFile(u"/tmp/shot.JPG", test::FakeMimeTypes), u"image/x-test-jpeg");
  EXPECT_EQ(MimeTypeForFile(u"/tmp/dir.jpg/file", test::FakeMimeTypes), kDefaultMimeType);
  EXPECT_EQ(MimeTypeForFile(u"/tmp/noext", test::FakeMimeTypes), kDefaultMimeType);
  EXPECT_EQ(MimeTypeForFile(u"/tmp/x.parlex-unknown-ext", test::FakeMimeTypes), kDefaultMimeType);
  // Without a table every file is the default type.
  EXPECT_EQ(MimeTypeForFile(u"/tmp/shot.jpg", nullptr), kDefaultMimeType);
}

}  // namespace
}  // namespace parlex
