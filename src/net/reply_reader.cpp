#include "net/reply_reader.h"

#include <algorithm>
#include <cstring>

#include "common/text.h"

namespace parlex {

namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

void ReplyReader::Reset() { *this = ReplyReader(); }

std::string_view ReplyReader::StatusLine() const {
  std::string_view block(block_);
  return block.substr(0, block.find("\r\n"));
}

ReplyReader::Status ReplyReader::Consume(std::string_view bytes, size_t* used) {
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
        if (!TakeStatusLine(line_)) return Status::kMalformed;
        sawStatus_ = true;
        block_ += line_;
        block_ += "\r\n";
      }
    } else if (line_.empty()) {
      block_ += "\r\n";
      complete_ = true;
      remaining_ = length_;
      *used = i + 1;
      return Status::kOk;
    } else {
      if (!TakeHeaderLine(line_)) return Status::kMalformed;
      block_ += line_;
      block_ += "\r\n";
    }
    line_.clear();
  }
  *used = bytes.size();
  return Status::kClosedEarly;
}

// "HTTP/x.y NNN" followed by the end of the line or a space and a reason.
bool ReplyReader::TakeStatusLine(std::string_view line) {
  size_t space = line.find(' ');
  if (line.compare(0, 5, "HTTP/") != 0 || space == std::string_view::npos || line.size() < space + 4)
    return false;
  int status = 0;
  for (size_t i = space + 1; i < space + 4; ++i) {
    if (line[i] < '0' || line[i] > '9') return false;
    status = status * 10 + (line[i] - '0');
  }
  if (line.size() > space + 4 && line[space + 4] != ' ') return false;
  status_ = status;
  return true;
}

bool ReplyReader::TakeHeaderLine(std::string_view line) {
  static constexpr std::string_view kName = "content-length:";
  if (!StartsWithIgnoringCase(line, kName)) return true;
  std::string_view value = TrimBlanks(line.substr(kName.size()));
  // A length that cannot be read, or one past what any download could be,
  // leaves the body's end unknown.
  if (value.empty() || value.size() > 18) return false;
  int64_t number = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + (c - '0');
  }
  if (hasLength_ && length_ != number) return false;
  hasLength_ = true;
  length_ = number;
  return true;
}

ReplyReader::Status ReplyReader::ReadHead(const Source& source) {
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

bool ReplyReader::ReadBody(const Source& source, char* buffer, size_t capacity, size_t* got) {
  *got = 0;
  if (hasLength_)
    capacity = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(capacity), remaining_));
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
  if (hasLength_) remaining_ -= static_cast<int64_t>(*got);
  return true;
}

}  // namespace parlex
