#include "http/raw_reply_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace parlex {

void RawReplyReader::Reset() {
  block_.clear();
  line_.clear();
  pending_.clear();
  headBytes_ = 0;
  hasLength_ = false;
  lengthConflict_ = false;
  remaining_ = 0;
  sawStatus_ = false;
  complete_ = false;
}

RawReplyReader::Status RawReplyReader::Consume(std::string_view bytes, size_t* used) {
  *used = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (++headBytes_ > kMaxHeadBytes) return Status::kTooLarge;
    char c = bytes[i];
    if (c != '\n') {
      line_ += c;
      // Say no as soon as the first line cannot become a status line.
      if (!sawStatus_ && line_.size() <= 5 && std::string_view("HTTP/").substr(0, line_.size()) != line_) {
        if (!(line_.size() == 1 && line_[0] == '\r')) return Status::kMalformed;
      }
      continue;
    }
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    if (!sawStatus_) {
      // Blank lines before the status line are tolerated and dropped.
      if (!line_.empty()) {
        if (line_.compare(0, 5, "HTTP/") != 0) return Status::kMalformed;
        sawStatus_ = true;
        block_ += line_;
        block_ += "\r\n";
      }
    } else if (line_.empty()) {
      block_ += "\r\n";
      complete_ = true;
      *used = i + 1;
      return Status::kOk;
    } else {
      TakeHeaderLine(line_);
      block_ += line_;
      block_ += "\r\n";
    }
    line_.clear();
  }
  *used = bytes.size();
  return Status::kClosedEarly;
}

void RawReplyReader::TakeHeaderLine(std::string_view line) {
  static constexpr std::string_view kName = "content-length:";
  if (line.size() < kName.size()) return;
  for (size_t i = 0; i < kName.size(); ++i) {
    char c = line[i] >= 'A' && line[i] <= 'Z' ? static_cast<char>(line[i] - 'A' + 'a') : line[i];
    if (c != kName[i]) return;
  }
  std::string_view value = line.substr(kName.size());
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  if (value.empty() || value.size() > 15) return;  // no number, or none this reader could use
  uint64_t number = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return;
    number = number * 10 + static_cast<uint64_t>(c - '0');
  }
  size_t n = number > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(number);
  // Two different lengths leave the body to end when the peer closes.
  if (lengthConflict_ || (hasLength_ && remaining_ != n)) {
    lengthConflict_ = true;
    hasLength_ = false;
    return;
  }
  hasLength_ = true;
  remaining_ = n;
}

RawReplyReader::Status RawReplyReader::ReadHead(const Source& source) {
  char buffer[4096];
  while (!complete_) {
    ptrdiff_t n = source(buffer, sizeof buffer);
    if (n < 0) return Status::kSourceFailed;
    if (n == 0) return Status::kClosedEarly;
    std::string_view got(buffer, static_cast<size_t>(n));
    size_t used = 0;
    Status status = Consume(got, &used);
    if (status == Status::kOk) {
      pending_.assign(got.substr(used));
      return Status::kOk;
    }
    if (status != Status::kClosedEarly) return status;
  }
  return Status::kOk;
}

bool RawReplyReader::ReadBody(const Source& source, char* buffer, size_t capacity, size_t* got) {
  *got = 0;
  if (hasLength_) capacity = std::min(capacity, remaining_);
  if (capacity == 0) return true;
  if (!pending_.empty()) {
    size_t take = std::min(capacity, pending_.size());
    std::memcpy(buffer, pending_.data(), take);
    pending_.erase(0, take);
    *got = take;
  } else {
    ptrdiff_t n = source(buffer, capacity);
    if (n < 0) return false;
    *got = static_cast<size_t>(n);
  }
  if (hasLength_) remaining_ -= *got;
  return true;
}

}  // namespace parlex
