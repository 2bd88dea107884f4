#include "message_board.h"

#include <chrono>

namespace parlex::demo {

Message MessageBoard::Add(std::string text) {
  auto now = std::chrono::system_clock::now().time_since_epoch();
  std::lock_guard lock(mutex_);
  Message message{++lastId_, std::chrono::duration_cast<std::chrono::milliseconds>(now).count(),
                  std::move(text)};
  messages_.push_back(message);
  while (messages_.size() > kMaxMessages) messages_.pop_front();
  return message;
}

std::vector<Message> MessageBoard::After(uint64_t after) const {
  std::lock_guard lock(mutex_);
  std::vector<Message> found;
  for (const Message& m : messages_) {
    if (m.id > after) found.push_back(m);
  }
  return found;
}

uint64_t MessageBoard::LastId() const {
  std::lock_guard lock(mutex_);
  return lastId_;
}

}  // namespace parlex::demo
