// The conversations between visitors and the agent, their messages and the
// records of the images sent into them, kept in one SQLite database in the
// data folder. One connection, used under one lock: every write goes through
// it in order. Every statement is prepared with its values bound, never
// spliced into the SQL text.
//
// Waiting for news: every change raises a version number, and WaitForChange
// blocks a long-polling request until the version moves past what it has
// seen (bounded, and ended at once by StopWaiting when the service stops).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace parlex::demo {

// A conversation is named by its company and visitor ids.
struct ConversationKey {
  int32_t companyId;
  int32_t visitorId;
};

struct Conversation {
  ConversationKey key;
  int64_t lastMs;        // the last message's time, else the conversation's start
  int64_t unread;        // the visitor's messages the agent has not read yet
  std::string lastText;  // the last message's text ("" for an image)
};

struct ChatImage {
  int64_t id;
  std::string file;  // a plain file name in the data folder
  uint32_t width;
  uint32_t height;
};

struct ChatMessage {
  int64_t id;  // rises over every conversation, never reused
  ConversationKey key;
  std::string sender;  // "visitor" or "agent"
  int64_t timeMs;
  std::string text;                // "" for an image
  std::optional<ChatImage> image;  // a capture sent by the agent
};

enum class StoreResult { kOk, kNoConversation, kTaken, kFailed };

template <typename T>
struct Stored {
  StoreResult result;
  T value{};
};

class ChatStore {
 public:
  // Opens (creating when missing) the database at path; nothing, with the
  // reason in *error, when it cannot be opened, read or written.
  static std::unique_ptr<ChatStore> Open(const std::string& path, std::string* error);
  ~ChatStore();
  ChatStore(const ChatStore&) = delete;
  ChatStore& operator=(const ChatStore&) = delete;

  // A new visitor of the company, with the id asked for or else the next
  // free one; the answer carries the secret that visitor's page shows to
  // read and write its conversation. kTaken when the asked id exists.
  struct NewVisitor {
    ConversationKey key;
    std::string token;
  };
  Stored<NewVisitor> AddVisitor(int32_t companyId, std::optional<int32_t> visitorId);
  bool HasConversation(ConversationKey key);
  // Whether the conversation exists and token is its visitor's.
  bool IsVisitor(ConversationKey key, const std::string& token);

  Stored<ChatMessage> AddText(ConversationKey key, const std::string& sender, const std::string& text);
  // Records an image file of the data folder as the agent's message.
  Stored<ChatMessage> AddImage(ConversationKey key, const std::string& file, uint32_t width, uint32_t height);
  // Whether file names an image some conversation holds.
  bool HasImageFile(const std::string& file);

  // Every conversation, newest activity first.
  std::optional<std::vector<Conversation>> Conversations();
  // The conversation's messages with an id above `after`, oldest first;
  // kNoConversation when there is no such conversation.
  Stored<std::vector<ChatMessage>> Messages(ConversationKey key, int64_t after);
  // The agent has read everything in the conversation.
  StoreResult MarkRead(ConversationKey key);

  uint64_t Version();
  // Waits until the version differs from `seen`, at most `limit`; answers
  // the version then. Answers at once once StopWaiting ran.
  uint64_t WaitForChange(uint64_t seen, std::chrono::milliseconds limit);
  void StopWaiting();

 private:
  explicit ChatStore(sqlite3* db);
  class Statement;
  std::optional<int64_t> ConversationId(ConversationKey key);
  Stored<ChatMessage> Insert(int64_t conversation, ConversationKey key, const std::string& sender,
                             const std::string& text, std::optional<ChatImage> image);
  void Changed();

  std::mutex mutex_;
  std::condition_variable changed_;
  sqlite3* db_;
  uint64_t version_;  // starts at the start time: a page that saw another run's never matches
  bool stopping_ = false;
};

}  // namespace parlex::demo
