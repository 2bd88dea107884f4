// The compiled resources as Windows loads them: this test program links the
// same resource object as Parlex.exe, so its own module holds them. The
// built programs (our small probe, and Parlex.exe when it is part of the
// build) are checked as files: PE32 i386 GUI, version 1.0.1.0, manifest.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "resource.h"

namespace {

HINSTANCE Self() { return GetModuleHandleW(nullptr); }

std::wstring WinePath(const char* unixPath) {
  std::wstring path = L"Z:";
  for (const char* p = unixPath; *p; ++p) path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  return path;
}

// Bytes of a resource of a module.
std::vector<unsigned char> ResourceBytes(HMODULE module, LPCWSTR name, LPCWSTR type) {
  HRSRC info = FindResourceW(module, name, type);
  if (!info) return {};
  HGLOBAL data = LoadResource(module, info);
  const auto* bytes = static_cast<const unsigned char*>(LockResource(data));
  if (!bytes) return {};
  return std::vector<unsigned char>(bytes, bytes + SizeofResource(module, info));
}

struct Bitmap {
  int width = 0, height = 0, bits = 0;
};

Bitmap Describe(HBITMAP bitmap) {
  BITMAP bm{};
  if (!bitmap || !GetObjectW(bitmap, sizeof bm, &bm)) return {};
  return {bm.bmWidth, bm.bmHeight, bm.bmBitsPixel};
}

// Pixels of a bitmap as 32-bit top-down rows.
std::vector<uint32_t> Pixels(HBITMAP bitmap, int width, int height) {
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  HDC dc = GetDC(nullptr);
  const int rows = GetDIBits(dc, bitmap, 0, height, pixels.data(), &bi, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  if (rows != height) return {};
  return pixels;
}

TEST(IconResource, GroupHoldsFiveTrueColourSizes) {
  const auto group =
      ResourceBytes(Self(), MAKEINTRESOURCEW(IDI_PARLEX), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
  ASSERT_GE(group.size(), 6u);
  const int count = group[4] | (group[5] << 8);
  ASSERT_EQ(count, 5);
  ASSERT_EQ(group.size(), 6u + 14u * 5);
  const int sizes[] = {256, 48, 32, 24, 16};
  for (int i = 0; i < 5; ++i) {
    const unsigned char* e = group.data() + 6 + 14 * i;
    EXPECT_EQ(e[0] == 0 ? 256 : e[0], sizes[i]);
    EXPECT_EQ(e[1] == 0 ? 256 : e[1], sizes[i]);
    EXPECT_EQ(e[6] | (e[7] << 8), 32) << "bits per pixel of image " << i;
  }
}

TEST(IconResource, LoadsAtEverySizeWithAlpha) {
  for (int size : {256, 48, 32, 24, 16}) {
    SCOPED_TRACE(size);
    HICON icon = static_cast<HICON>(
        LoadImageW(Self(), MAKEINTRESOURCEW(IDI_PARLEX), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    ASSERT_NE(icon, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    EXPECT_TRUE(info.fIcon);
    const Bitmap colour = Describe(info.hbmColor);
    EXPECT_EQ(colour.width, size);
    EXPECT_EQ(colour.height, size);
    const auto pixels = Pixels(info.hbmColor, size, size);
    ASSERT_EQ(pixels.size(), static_cast<size_t>(size) * size);
    EXPECT_EQ(pixels[0] >> 24, 0u) << "corner is transparent";
    const uint32_t middle = pixels[static_cast<size_t>(size * 2 / 5) * size + size / 5];
    EXPECT_EQ(middle >> 24, 0xFFu);
    EXPECT_GT(middle & 0xFF, (middle >> 16) & 0xFF) << "blue bubble";
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
  }
  // The window and tray code asks for the system's icon sizes.
  EXPECT_NE(LoadIconW(Self(), MAKEINTRESOURCEW(IDI_PARLEX)), nullptr);
}

struct CursorCase {
  int id, hot32x, hot32y, hot16x, hot16y;
};
constexpr CursorCase kCursors[] = {
    {IDC_TRACK_NWSE, 15, 15, 7, 7}, {IDC_TRACK_NESW, 15, 15, 6, 7}, {IDC_TRACK_NS, 15, 15, 7, 7},
    {IDC_TRACK_WE, 15, 15, 7, 8},   {IDC_TRACK_MOVE, 15, 15, 8, 8}, {IDC_TRACK_MOVEDRAG, 0, 0, 1, 1},
};

// Checks a loaded cursor: monochrome, the given size and hotspot, and black
// (AND 0, XOR 0) under its hotspot.
void ExpectCursor(HCURSOR cursor, int size, int hx, int hy) {
  ASSERT_NE(cursor, nullptr);
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(cursor, &info));
  EXPECT_FALSE(info.fIcon);
  EXPECT_EQ(static_cast<int>(info.xHotspot), hx);
  EXPECT_EQ(static_cast<int>(info.yHotspot), hy);
  EXPECT_EQ(info.hbmColor, nullptr) << "a monochrome cursor has only its mask";
  const Bitmap mask = Describe(info.hbmMask);
  EXPECT_EQ(mask.width, size);
  EXPECT_EQ(mask.height, size * 2);
  EXPECT_EQ(mask.bits, 1);
  const auto pixels = Pixels(info.hbmMask, size, size * 2);
  ASSERT_EQ(pixels.size(), static_cast<size_t>(size) * size * 2);
  auto bit = [&](int x, int y) { return (pixels[static_cast<size_t>(y) * size + x] & 0xFFFFFF) != 0; };
  EXPECT_FALSE(bit(hx, hy)) << "AND mask at the hotspot";
  EXPECT_FALSE(bit(hx, hy + size)) << "XOR mask at the hotspot";
  EXPECT_TRUE(bit(size - 1, size - 1)) << "bottom-right corner shows the screen";
  if (info.hbmColor) DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
}

TEST(CursorResources, LoadWithTheirHotspotsAtBothSizes) {
  ASSERT_EQ(GetSystemMetrics(SM_CXCURSOR), 32);
  for (const CursorCase& c : kCursors) {
    SCOPED_TRACE(c.id);
    // What the tracker does: the cursor at the system size.
    ExpectCursor(LoadCursorW(Self(), MAKEINTRESOURCEW(c.id)), 32, c.hot32x, c.hot32y);
    HCURSOR small = static_cast<HCURSOR>(
        LoadImageW(Self(), MAKEINTRESOURCEW(c.id), IMAGE_CURSOR, 16, 16, LR_DEFAULTCOLOR));
    ExpectCursor(small, 16, c.hot16x, c.hot16y);
    DestroyCursor(small);
  }
}

std::wstring MenuText(HMENU menu, UINT position) {
  wchar_t text[64] = {};
  MENUITEMINFOW item{};
  item.cbSize = sizeof item;
  item.fMask = MIIM_STRING;
  item.dwTypeData = text;
  item.cch = 64;
  GetMenuItemInfoW(menu, position, TRUE, &item);
  return text;
}

TEST(TrayMenuResource, PopupShowSeparatorExit) {
  HMENU menu = LoadMenuW(Self(), MAKEINTRESOURCEW(IDR_TRAYMENU));
  ASSERT_NE(menu, nullptr);
  HMENU popup = GetSubMenu(menu, 0);
  ASSERT_NE(popup, nullptr);
  ASSERT_EQ(GetMenuItemCount(popup), 3);
  EXPECT_EQ(GetMenuItemID(popup, 0), static_cast<UINT>(ID_TRAY_SHOW));
  EXPECT_EQ(MenuText(popup, 0), L"\u663e\u793a");  // 显示
  MENUITEMINFOW item{};
  item.cbSize = sizeof item;
  item.fMask = MIIM_FTYPE;
  ASSERT_TRUE(GetMenuItemInfoW(popup, 1, TRUE, &item));
  EXPECT_TRUE(item.fType & MFT_SEPARATOR);
  EXPECT_EQ(GetMenuItemID(popup, 2), static_cast<UINT>(ID_TRAY_EXIT));
  EXPECT_EQ(MenuText(popup, 2), L"\u9000\u51fa");  // 退出
  DestroyMenu(menu);
}

// A DLGTEMPLATEEX read back field by field.
class DialogReader {
 public:
  explicit DialogReader(std::vector<unsigned char> bytes) : b_(std::move(bytes)) {}
  uint16_t Word() {
    at_ = std::min(at_, b_.size() - 2);
    const uint16_t v = static_cast<uint16_t>(b_[at_] | (b_[at_ + 1] << 8));
    at_ += 2;
    return v;
  }
  uint32_t Dword() {
    const uint32_t lo = Word();
    return lo | (static_cast<uint32_t>(Word()) << 16);
  }
  // A string or an ordinal (0xFFFF followed by the number, given as "#n").
  std::wstring SzOrOrd() {
    uint16_t first = Word();
    if (first == 0xFFFF) return L"#" + std::to_wstring(Word());
    std::wstring s;
    for (; first != 0; first = Word()) s += static_cast<wchar_t>(first);
    return s;
  }
  void AlignDword() { at_ = (at_ + 3) & ~size_t{3}; }
  void Skip(size_t n) { at_ += n; }

 private:
  std::vector<unsigned char> b_;
  size_t at_ = 0;
};

struct DialogControl {
  uint32_t exStyle, style;
  int16_t x, y, cx, cy;
  uint32_t id;
  std::wstring cls, title;
};
struct Dialog {
  uint32_t exStyle = 0, style = 0;
  int16_t cx = 0, cy = 0;
  std::wstring menu, cls, title, face;
  uint16_t points = 0, weight = 0;
  std::vector<DialogControl> controls;
};

Dialog ReadDialog(int id) {
  auto bytes = ResourceBytes(Self(), MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));  // RT_DIALOG
  Dialog d;
  if (bytes.size() < 26) return d;
  DialogReader r(std::move(bytes));
  EXPECT_EQ(r.Word(), 1);       // dlgVer
  EXPECT_EQ(r.Word(), 0xFFFF);  // signature of the extended template
  r.Dword();                    // help id
  d.exStyle = r.Dword();
  d.style = r.Dword();
  const int count = r.Word();
  r.Word();  // x
  r.Word();  // y
  d.cx = static_cast<int16_t>(r.Word());
  d.cy = static_cast<int16_t>(r.Word());
  d.menu = r.SzOrOrd();
  d.cls = r.SzOrOrd();
  d.title = r.SzOrOrd();
  d.points = r.Word();
  d.weight = r.Word();
  r.Skip(2);  // italic, charset
  d.face = r.SzOrOrd();
  for (int i = 0; i < count; ++i) {
    r.AlignDword();
    DialogControl c{};
    r.Dword();  // help id
    c.exStyle = r.Dword();
    c.style = r.Dword();
    c.x = static_cast<int16_t>(r.Word());
    c.y = static_cast<int16_t>(r.Word());
    c.cx = static_cast<int16_t>(r.Word());
    c.cy = static_cast<int16_t>(r.Word());
    c.id = r.Dword();
    c.cls = r.SzOrOrd();
    c.title = r.SzOrOrd();
    r.Skip(r.Word());  // creation data
    d.controls.push_back(c);
  }
  return d;
}

TEST(DialogResources, MainWindowTemplate) {
  const Dialog d = ReadDialog(IDD_MAINDLG);
  EXPECT_EQ(d.style, static_cast<uint32_t>(WS_OVERLAPPEDWINDOW | DS_SETFONT | DS_FIXEDSYS));
  EXPECT_FALSE(d.style & WS_VISIBLE);
  EXPECT_EQ(d.cx, 187);
  EXPECT_EQ(d.cy, 133);
  EXPECT_EQ(d.title, L"Ostrel");
  EXPECT_EQ(d.face, L"MS Shell Dlg");
  EXPECT_EQ(d.points, 8);
  ASSERT_EQ(d.controls.size(), 1u);
  const DialogControl& c = d.controls[0];
  EXPECT_EQ(c.id, static_cast<uint32_t>(IDC_EXPLORER));
  EXPECT_EQ(c.style, static_cast<uint32_t>(WS_CHILD | WS_VISIBLE | WS_TABSTOP));
  EXPECT_EQ(c.title, L"{8856F961-340A-11D0-A96B-00C04FD705A2}");
  // Window class names do not depend on case.
  EXPECT_EQ(CompareStringOrdinal(c.cls.c_str(), -1, L"" PARLEX_AXHOST_CLASS, -1, TRUE), CSTR_EQUAL) << c.cls;
  EXPECT_EQ(c.x, 0);
  EXPECT_EQ(c.y, 0);
  EXPECT_EQ(c.cx, 186);
  EXPECT_EQ(c.cy, 132);
}

TEST(DialogResources, CaptureTemplateWithTenHiddenButtons) {
  const Dialog d = ReadDialog(IDD_SCREENDLG);
  EXPECT_EQ(d.style, static_cast<uint32_t>(WS_POPUP | WS_VISIBLE | WS_SYSMENU | DS_SETFONT | DS_FIXEDSYS));
  EXPECT_EQ(d.exStyle, static_cast<uint32_t>(WS_EX_APPWINDOW));
  EXPECT_EQ(d.title, L"");
  EXPECT_EQ(d.cx, 316);
  EXPECT_EQ(d.cy, 183);
  EXPECT_EQ(d.face, L"MS Shell Dlg");
  EXPECT_EQ(d.points, 8);
  EXPECT_EQ(d.weight, 400);
  struct Expected {
    uint32_t id;
    const wchar_t* label;
    uint32_t style;
  };
  const DWORD radio = WS_CHILD | BS_AUTORADIOBUTTON | BS_PUSHLIKE;
  const Expected expected[] = {
      {IDC_BTN_ARROW, L"\u7bad\u5934", radio | WS_GROUP},                      // 箭头
      {IDC_BTN_ELLIPSE, L"\u692d\u5706", radio},                               // 椭圆
      {IDC_BTN_RECTANGLE, L"\u77e9\u5f62", radio},                             // 矩形
      {IDC_BTN_TEXT, L"\u6587\u5b57", radio},                                  // 文字
      {IDC_BTN_PEN, L"\u753b\u7b14", radio},                                   // 画笔
      {IDC_BTN_MOSAIC, L"\u9a6c\u8d5b\u514b", radio},                          // 马赛克
      {IDC_BTN_UNDO, L"\u64a4\u9500", WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON},  // 撤销
      {IDC_BTN_COPY, L"\u590d\u5236", WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON},  // 复制
      {IDC_BTN_SAVE, L"\u4fdd\u5b58", WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON},  // 保存
      {IDC_BTN_SEND, L"\u53d1\u9001", WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON},  // 发送
  };
  ASSERT_EQ(d.controls.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(expected[i].id);
    const DialogControl& c = d.controls[i];
    EXPECT_EQ(c.id, expected[i].id);
    EXPECT_EQ(c.title, expected[i].label);
    EXPECT_EQ(c.style, expected[i].style);
    // The predefined button class, by name or by its ordinal.
    EXPECT_TRUE(c.cls == L"#128" ||
                CompareStringOrdinal(c.cls.c_str(), -1, L"Button", -1, TRUE) == CSTR_EQUAL)
        << c.cls;
    EXPECT_GE(c.x, 0);
    EXPECT_GE(c.y, 0);
    EXPECT_LE(c.x + c.cx, d.cx);
    EXPECT_LE(c.y + c.cy, d.cy);
  }
}

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

TEST(DialogResources, CaptureDialogButtonsStartHiddenAndRadioAsOneGroup) {
  HWND dialog = CreateDialogParamW(Self(), MAKEINTRESOURCEW(IDD_SCREENDLG), nullptr, PlainDialogProc, 0);
  ASSERT_NE(dialog, nullptr);
  for (int id : {IDC_BTN_ARROW, IDC_BTN_ELLIPSE, IDC_BTN_RECTANGLE, IDC_BTN_TEXT, IDC_BTN_PEN, IDC_BTN_MOSAIC,
                 IDC_BTN_UNDO, IDC_BTN_COPY, IDC_BTN_SAVE, IDC_BTN_SEND}) {
    HWND button = GetDlgItem(dialog, id);
    ASSERT_NE(button, nullptr) << id;
    EXPECT_FALSE(IsWindowVisible(button)) << id;
  }
  wchar_t text[16] = {};
  GetDlgItemTextW(dialog, IDC_BTN_SEND, text, 16);
  EXPECT_STREQ(text, L"\u53d1\u9001");
  // Once the toolbar is shown, checking one tool unchecks the one checked
  // before (dialog groups skip hidden controls).
  for (int id : {IDC_BTN_ARROW, IDC_BTN_ELLIPSE, IDC_BTN_RECTANGLE, IDC_BTN_TEXT, IDC_BTN_PEN, IDC_BTN_MOSAIC,
                 IDC_BTN_UNDO, IDC_BTN_COPY, IDC_BTN_SAVE, IDC_BTN_SEND}) {
    ShowWindow(GetDlgItem(dialog, id), SW_SHOWNA);
  }
  for (int id : {IDC_BTN_ARROW, IDC_BTN_ELLIPSE, IDC_BTN_RECTANGLE, IDC_BTN_TEXT}) {
    EXPECT_EQ(IsDlgButtonChecked(dialog, id), BST_UNCHECKED) << id;
  }
  SendDlgItemMessageW(dialog, IDC_BTN_ARROW, BM_CLICK, 0, 0);
  SendDlgItemMessageW(dialog, IDC_BTN_TEXT, BM_CLICK, 0, 0);
  EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_BTN_ARROW), BST_UNCHECKED);
  EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_BTN_TEXT), BST_CHECKED);
  SendDlgItemMessageW(dialog, IDC_BTN_MOSAIC, BM_CLICK, 0, 0);
  EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_BTN_TEXT), BST_UNCHECKED);
  EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_BTN_MOSAIC), BST_CHECKED);
  DestroyWindow(dialog);
}

// --- The built programs as files ---------------------------------------------

std::vector<unsigned char> ReadFile(const std::wstring& path) {
  std::vector<unsigned char> bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  const DWORD size = GetFileSize(file, nullptr);
  bytes.resize(size);
  DWORD read = 0;
  if (!::ReadFile(file, bytes.data(), size, &read, nullptr) || read != size) bytes.clear();
  CloseHandle(file);
  return bytes;
}

void ExpectPe32GuiI386(const std::wstring& path) {
  const auto b = ReadFile(path);
  ASSERT_GT(b.size(), 0x200u) << "cannot read the program";
  auto u16 = [&](size_t at) { return static_cast<unsigned>(b[at] | (b[at + 1] << 8)); };
  ASSERT_EQ(u16(0), 0x5A4Du) << "MZ";
  const size_t pe = u16(0x3C) | (u16(0x3E) << 16);
  ASSERT_LT(pe + 24 + 70, b.size());
  EXPECT_EQ(std::memcmp(b.data() + pe, "PE\0\0", 4), 0);
  EXPECT_EQ(u16(pe + 4), 0x014Cu) << "i386";
  EXPECT_EQ(u16(pe + 24), 0x010Bu) << "PE32 optional header";
  EXPECT_EQ(u16(pe + 24 + 68), 2u) << "GUI subsystem";
}

std::wstring VersionString(const std::vector<unsigned char>& info, const wchar_t* name) {
  wchar_t* value = nullptr;
  UINT length = 0;
  const std::wstring key = std::wstring(L"\\StringFileInfo\\080404b0\\") + name;
  if (!VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) || !value)
    return {};
  return value;
}

void ExpectVersion(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<unsigned char> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);  // 1.0
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00010000u);  // .1.0
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_EQ(VersionString(info, L"FileVersion"), L"1.0.1.0");
  EXPECT_EQ(VersionString(info, L"ProductVersion"), L"1.0.1.0");
  EXPECT_EQ(VersionString(info, L"InternalName"), L"Parlex");
  EXPECT_EQ(VersionString(info, L"OriginalFilename"), L"Parlex.exe");
}

void ExpectManifest(const std::wstring& path) {
  HMODULE module =
      LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(module, nullptr);
  const auto bytes = ResourceBytes(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
  FreeLibrary(module);
  const std::string text(bytes.begin(), bytes.end());
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.find(R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)"), std::string::npos);
  EXPECT_NE(text.find(R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")"), std::string::npos);
  EXPECT_NE(text.find(R"(processorArchitecture="x86" publicKeyToken="6595b64144ccf1df")"), std::string::npos);
  EXPECT_NE(
      text.find(
          R"(<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true/pm</dpiAware>)"),
      std::string::npos);
  EXPECT_NE(text.find(R"(<dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">)"
                      R"(PerMonitorV2, PerMonitor</dpiAwareness>)"),
            std::string::npos);
}

TEST(BuiltPrograms, ProbeIsAVersionedGuiProgramWithItsManifest) {
  const std::wstring probe = WinePath(PARLEX_PROBE_EXE);
  ExpectPe32GuiI386(probe);
  ExpectVersion(probe);
  ExpectManifest(probe);
}

#ifdef PARLEX_PROGRAM_EXE
TEST(BuiltPrograms, ParlexIsAVersionedGuiProgramWithItsManifest) {
  const std::wstring program = WinePath(PARLEX_PROGRAM_EXE);
  ExpectPe32GuiI386(program);
  ExpectVersion(program);
  ExpectManifest(program);
}
#endif

TEST(BuiltPrograms, LoaderReadsTheManifest) {
  // The activation context Windows builds from our manifest at start, built
  // here from the same resource of this test program.
  wchar_t path[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
  ACTCTXW request{};
  request.cbSize = sizeof request;
  request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
  request.hModule = Self();
  request.lpSource = path;
  request.lpResourceName = MAKEINTRESOURCEW(1);
  HANDLE context = CreateActCtxW(&request);
  ASSERT_NE(context, INVALID_HANDLE_VALUE) << GetLastError();

  wchar_t setting[32] = {};
  SIZE_T written = 0;
  EXPECT_TRUE(QueryActCtxSettingsW(0, context, nullptr, L"dpiAware", setting, 32, &written))
      << GetLastError();
  EXPECT_STREQ(setting, L"true/pm");

  std::vector<unsigned char> detailBuffer(4096);
  SIZE_T needed = 0;
  ASSERT_TRUE(QueryActCtxW(0, context, nullptr, ActivationContextDetailedInformation, detailBuffer.data(),
                           detailBuffer.size(), &needed));
  const auto& detail = *reinterpret_cast<const ACTIVATION_CONTEXT_DETAILED_INFORMATION*>(detailBuffer.data());
  bool commonControls6 = false;
  for (DWORD index = 1; index <= detail.ulAssemblyCount; ++index) {
    std::vector<unsigned char> buffer(4096);
    if (!QueryActCtxW(0, context, &index, AssemblyDetailedInformationInActivationContext, buffer.data(),
                      buffer.size(), &needed)) {
      continue;
    }
    const auto* assembly =
        reinterpret_cast<const ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(buffer.data());
    const std::wstring identity =
        assembly->lpAssemblyEncodedAssemblyIdentity ? assembly->lpAssemblyEncodedAssemblyIdentity : L"";
    if (identity.find(L"Microsoft.Windows.Common-Controls") != std::wstring::npos &&
        identity.find(L"version=\"6.") != std::wstring::npos) {  // 6.0.0.0 or a newer 6.x in its place
      commonControls6 = true;
    }
  }
  EXPECT_TRUE(commonControls6) << detail.ulAssemblyCount << " assemblies";
  ReleaseActCtx(context);
}

}  // namespace
