// What the agent page reports of itself, kept in memory: the newest
// kMaxMessages, each at most kMaxTextBytes of UTF-8. Safe to use from the
// server's worker threads.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace parlex::demo {

struct Message {
  uint64_t id;     // 1, 2, 3, ... in arrival order
  int64_t timeMs;  // milliseconds since the epoch
  std::string text;
};

class MessageBoard {
 public:
  static constexpr size_t kMaxMessages = 200;
  static constexpr size_t kMaxTextBytes = 32768;  // the page's layout reports name every conversation

  // Appends a message and answers it; the text must already be checked
  // (not empty, at most kMaxTextBytes).
  Message Add(std::string text);
  // The kept messages with an id above `after`, oldest first.
  std::vector<Message> After(uint64_t after) const;
  uint64_t LastId() const;

 private:
  mutable std::mutex mutex_;
  std::deque<Message> messages_;
  uint64_t lastId_ = 0;
};

}  // namespace parlex::demo
