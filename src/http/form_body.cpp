// The field list and the two bodies built from it.
#include <filesystem>
#include <fstream>
#include <new>
#include <system_error>

#include "common/text.h"
#include "http/generic_http_client.h"
#include "http/mime_type.h"

namespace parlex {

namespace {

// Plain fields and file headers are small; these cover their formatted text.
constexpr size_t kPlainPartReserve = 8192;
constexpr size_t kFilePartReserve = 6144;

std::filesystem::path PathOf(std::u16string_view text) {
  // UTF-8 is the one encoding std::filesystem converts the same way on every
  // platform; ToUtf8 never fails, so neither does this.
  std::string bytes = ToUtf8(text);
  return std::filesystem::path(std::u8string(bytes.begin(), bytes.end()));
}

size_t FileSizeOrZero(const std::filesystem::path& path) {
  std::error_code error;
  auto size = std::filesystem::file_size(path, error);
  return error ? 0 : static_cast<size_t>(size);
}

std::string FormatPlainPart(std::u16string_view boundary, const FormField& field) {
  std::u16string part = u"--";
  part += boundary;
  part += u"\r\nContent-Disposition: form-data; name=\"";
  part += field.name;
  part += u"\"\r\n\r\n";
  part += field.value;
  part += u"\r\n";
  return ToUtf8(part);
}

std::string FormatFilePart(std::u16string_view boundary, const FormField& field,
                           const MimeTypeLookup& mimeTypeOf) {
  std::u16string header = u"--";
  header += boundary;
  header += u"\r\nContent-Disposition: form-data; name=\"";
  header += field.name;
  header += u"\"; filename=\"";
  header += FileNameOfPath(field.value);
  header += u"\"\r\nContent-Type: ";
  header += MimeTypeForFile(field.value, mimeTypeOf);
  header += u"\r\n\r\n";
  std::string part = ToUtf8(header);

  // A file that cannot be opened still goes out, with empty content.
  std::filesystem::path path = PathOf(field.value);
  std::ifstream in(path, std::ios::binary);
  if (in) {
    size_t size = FileSizeOrZero(path);
    part.reserve(part.size() + size + 2);
    size_t collected = 0;
    char chunk[1024];
    // A file that grows while it is read stops once it has passed the size
    // it had when it was opened.
    while (collected <= size) {
      in.read(chunk, sizeof chunk);
      size_t got = static_cast<size_t>(in.gcount());
      if (got == 0) break;
      part.append(chunk, got);
      collected += got;
    }
  }
  part += "\r\n";
  return part;
}

}  // namespace

std::u16string_view FileNameOfPath(std::u16string_view path) {
  size_t sep = path.find_last_of(u"\\/");
  return sep == std::u16string_view::npos ? path : path.substr(sep + 1);
}

bool GenericHTTPClient::AddField(std::u16string_view name, std::u16string_view value, bool isFile) {
  // Longer texts do not fit the field's fixed room; cutting them would send
  // something the caller never gave, so they are refused.
  if (name.size() > kMaxFieldNameUnits || value.size() > kMaxFieldValueUnits) return false;
  fields_.push_back(FormField{std::u16string(name), std::u16string(value), isFile ? fieldFile : fieldPlain});
  return true;
}

bool GenericHTTPClient::AddField(std::u16string_view name, int32_t number) {
  return AddField(name, FormatDecimal(number), false);
}

std::u16string GenericHTTPClient::BuildFormBody() const {
  std::u16string text;
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (i > 0) text += u'&';
    text += fields_[i].name;
    text += u'=';
    text += fields_[i].value;
  }
  return text;
}

size_t GenericHTTPClient::EstimateMultipartSize() const {
  size_t total = 0;
  for (const FormField& field : fields_) {
    total +=
        field.kind == fieldFile ? FileSizeOrZero(PathOf(field.value)) + kFilePartReserve : kPlainPartReserve;
  }
  return total;
}

std::optional<std::string> GenericHTTPClient::BuildMultipartBody(std::u16string_view boundary) const {
  try {
    std::string body;
    body.reserve(EstimateMultipartSize() + 2 * boundary.size() + 8);
    for (const FormField& field : fields_) {
      body += field.kind == fieldFile ? FormatFilePart(boundary, field, mimeTypeOf_)
                                      : FormatPlainPart(boundary, field);
    }
    body += "--";
    body += ToUtf8(boundary);
    body += "--\r\n";
    return body;
  } catch (const std::exception&) {
    // Memory ran out (or the file system failed in a way that throws): no body.
    return std::nullopt;
  }
}

}  // namespace parlex
