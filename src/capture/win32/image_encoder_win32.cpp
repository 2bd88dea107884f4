#include "capture/win32/image_encoder_win32.h"

// clang-format off
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
// clang-format on

#include <cstdint>
#include <cstring>

#include "platform/win32/com_ptr.h"
#include "platform/win32/wide_text.h"

namespace parlex::win32 {

namespace gp = Gdiplus::DllExports;

namespace {

bool EnsureGdiplus() {
  static const bool started = [] {
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    return Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
  }();
  return started;
}

// The encoders' table as GDI+ hands it out: one block holding the records
// and the texts they point to.
std::vector<uint8_t> EncoderTable(UINT* count) {
  *count = 0;
  std::vector<uint8_t> table;
  if (!EnsureGdiplus()) return table;
  UINT size = 0;
  if (gp::GdipGetImageEncodersSize(count, &size) != Gdiplus::Ok || *count == 0 || size == 0) {
    *count = 0;
    return table;
  }
  table.resize(size);
  if (gp::GdipGetImageEncoders(*count, size, reinterpret_cast<Gdiplus::ImageCodecInfo*>(table.data())) !=
      Gdiplus::Ok) {
    *count = 0;
    table.clear();
  }
  return table;
}

const Gdiplus::ImageCodecInfo* Encoders(const std::vector<uint8_t>& table) {
  return reinterpret_cast<const Gdiplus::ImageCodecInfo*>(table.data());
}

struct BitmapOwner {
  Gdiplus::GpBitmap* bitmap = nullptr;
  ~BitmapOwner() {
    if (bitmap) gp::GdipDisposeImage(bitmap);
  }
};

}  // namespace

std::vector<ImageEncoderInfo> ListImageEncoders() {
  UINT count = 0;
  const std::vector<uint8_t> table = EncoderTable(&count);
  std::vector<ImageEncoderInfo> out;
  for (UINT i = 0; i < count; ++i) {
    const WCHAR* patterns = Encoders(table)[i].FilenameExtension;
    out.push_back(ImageEncoderInfo{patterns ? FromWide(patterns) : std::u16string()});
  }
  return out;
}

std::optional<std::string> EncodeWithEncoder(size_t index, const PixelBuffer& image) {
  if (image.Width() <= 0 || image.Height() <= 0) return std::nullopt;
  UINT count = 0;
  const std::vector<uint8_t> table = EncoderTable(&count);
  if (index >= count) return std::nullopt;
  const CLSID clsid = Encoders(table)[index].Clsid;

  // GDI+ reads the buffer in place: 32 bits a pixel, the top byte unused.
  BitmapOwner owner;
  auto* scan0 = reinterpret_cast<BYTE*>(const_cast<uint32_t*>(image.Data()));
  if (gp::GdipCreateBitmapFromScan0(image.Width(), image.Height(), image.Width() * 4, PixelFormat32bppRGB,
                                    scan0, &owner.bitmap) != Gdiplus::Ok) {
    return std::nullopt;
  }
  ComPtr<IStream> stream;
  if (FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, stream.Put())) || !stream) return std::nullopt;
  if (gp::GdipSaveImageToStream(owner.bitmap, stream.Get(), &clsid, nullptr) != Gdiplus::Ok)
    return std::nullopt;

  STATSTG stat{};
  if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)) || stat.cbSize.HighPart != 0) return std::nullopt;
  HGLOBAL memory = nullptr;
  if (FAILED(::GetHGlobalFromStream(stream.Get(), &memory)) || !memory) return std::nullopt;
  const void* bytes = ::GlobalLock(memory);
  if (!bytes) return std::nullopt;
  std::string out(static_cast<const char*>(bytes), stat.cbSize.LowPart);
  ::GlobalUnlock(memory);
  if (out.empty()) return std::nullopt;
  return out;
}

}  // namespace parlex::win32
