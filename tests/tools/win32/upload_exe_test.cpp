// parlex-upload.exe under Wine against the loopback server: a file with a
// Chinese name reaches it through wmain, the bytes on the wire are the
// capture upload's, and the reply comes out as UTF-8.
#include <winsock2.h>
// winsock2.h before windows.h.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "support/loopback_server.h"
#include "support/temp_dir.h"
#include "support/test_files.h"

namespace parlex::test {
namespace {

// The build tree as Windows sees it, through drive Z:.
std::wstring ProgramPath() {
  std::wstring path = L"Z:";
  for (char c : std::string(PARLEX_UPLOAD_EXE)) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

struct UploadRun {
  DWORD exitCode = 0xFFFFFFFF;
  std::string output;
};

// Runs parlex-upload.exe with the arguments (each quoted) and collects its
// standard output; bounded by 60 s.
UploadRun RunUpload(const std::vector<std::wstring>& args) {
  UploadRun run;
  std::wstring line = L"\"" + ProgramPath() + L"\"";
  for (const std::wstring& a : args) line += L" \"" + a + L"\"";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return run;
  ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process{};
  BOOL started = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                  nullptr, &startup, &process);
  ::CloseHandle(writeEnd);
  if (started) {
    char chunk[4096];
    DWORD got = 0;
    while (::ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0) run.output.append(chunk, got);
    if (::WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) {
      ::GetExitCodeProcess(process.hProcess, &run.exitCode);
    } else {
      ::TerminateProcess(process.hProcess, 99);
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
  ::CloseHandle(readEnd);
  return run;
}

std::wstring Wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

TEST(UploadExe, SendsTheCaptureUploadOfAChineseNamedFile) {
  TempDir dir("upload-exe");
  ASSERT_TRUE(dir.Ok());
  auto file = dir.Write("截图 一.jpg", TinyJpeg());
  LoopbackServer server(ScriptedReply::Text("{\"url\":\"/uploads/1.jpg\",\"note\":\"收到\"}"));
  ASSERT_TRUE(server.Start());

  UploadRun run = RunUpload({Wide(server.Url(u"/resource/staff/image")), file.wstring(), L"12", L"-34"});
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output, "{\"url\":\"/uploads/1.jpg\",\"note\":\"\xE6\x94\xB6\xE5\x88\xB0\"}\n");

  std::string raw = server.Received(0);
  size_t headEnd = raw.find("\r\n\r\n");
  ASSERT_NE(headEnd, std::string::npos) << raw;
  std::string head = raw.substr(0, headEnd + 2);
  std::string body = raw.substr(headEnd + 4);
  EXPECT_EQ(head.rfind("POST /resource/staff/image HTTP/1.0\r\n", 0), 0u) << head;
  EXPECT_NE(head.find("\r\nUser-Agent: OstrelAgent\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nContent-Type: multipart/form-data; boundary=--MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"),
            std::string::npos)
      << head;
  EXPECT_NE(head.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos)
      << head;
  const std::string fields =
      "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
      "Content-Disposition: form-data; name=\"companyId\"\r\n\r\n12\r\n"
      "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
      "Content-Disposition: form-data; name=\"visitorId\"\r\n\r\n-34\r\n"
      "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
      "Content-Disposition: form-data; name=\"upload\"; filename=\"\xE6\x88\xAA\xE5\x9B\xBE "
      "\xE4\xB8\x80.jpg\"\r\n"
      "Content-Type: ";
  EXPECT_EQ(body.substr(0, fields.size()), fields);
  const std::string tail = "\r\n\r\n" + TinyJpeg() + "\r\n----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n";
  ASSERT_GE(body.size(), fields.size() + tail.size());
  EXPECT_EQ(body.substr(body.size() - tail.size()), tail);
  // Between them only the file's MIME type, on one line.
  std::string type = body.substr(fields.size(), body.size() - fields.size() - tail.size());
  EXPECT_EQ(type.find_first_of("\r\n"), std::string::npos) << type;
  EXPECT_FALSE(type.empty());
}

TEST(UploadExe, ExitCodesForAFailedRequestAndWrongArguments) {
  TempDir dir("upload-exe");
  ASSERT_TRUE(dir.Ok());
  auto file = dir.Write("a.jpg", TinyJpeg());
  LoopbackServer server(ScriptedReply::CloseAtOnce());
  ASSERT_TRUE(server.Start());
  UploadRun failed = RunUpload({Wide(server.Url(u"/resource/staff/image")), file.wstring(), L"1", L"2"});
  EXPECT_EQ(failed.exitCode, 1u);
  EXPECT_EQ(failed.output, "\n");  // the empty reply
  EXPECT_EQ(server.Connections(), 1u);

  for (const auto& args : {std::vector<std::wstring>{L"http://127.0.0.1:1/x", file.wstring(), L"1"},
                           {L"http://127.0.0.1:1/x", file.wstring(), L"1", L"x2"},
                           {L"http://127.0.0.1:1/x", file.wstring(), L"1", L"2147483648"}}) {
    UploadRun wrong = RunUpload(args);
    EXPECT_EQ(wrong.exitCode, 2u) << args.size();
    EXPECT_EQ(wrong.output, "");
  }
}

}  // namespace
}  // namespace parlex::test
