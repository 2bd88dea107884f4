#include "http/raw_reply_reader.h"

#include <algorithm>
#include <cstring>

namespace parlex {

void RawReplyReader::Reset() {
  block_.clear();
  line_.clear();
  pending_.clear();
  headBytes_ = 0;
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
      block_ += line_;
      block_ += "\r\n";
    }
    line_.clear();
  }
  *used = bytes.size();
  return Status::kClosedEarly;
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
  if (capacity == 0) return true;
  if (!pending_.empty()) {
    size_t take = std::min(capacity, pending_.size());
    std::memcpy(buffer, pending_.data(), take);
    pending_.erase(0, take);
    *got = take;
    return true;
  }
  ptrdiff_t n = source(buffer, capacity);
  if (n < 0) return false;
  *got = static_cast<size_t>(n);
  return true;
}

}  // namespace parlex
