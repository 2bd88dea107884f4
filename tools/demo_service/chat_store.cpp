#include "chat_store.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <random>

namespace parlex::demo {
namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS conversations (
  id INTEGER PRIMARY KEY,
  company_id INTEGER NOT NULL,
  visitor_id INTEGER NOT NULL,
  token TEXT NOT NULL,
  created_ms INTEGER NOT NULL,
  last_ms INTEGER NOT NULL,
  unread INTEGER NOT NULL DEFAULT 0,
  UNIQUE (company_id, visitor_id)
);
CREATE TABLE IF NOT EXISTS images (
  id INTEGER PRIMARY KEY,
  conversation_id INTEGER NOT NULL REFERENCES conversations (id),
  file TEXT NOT NULL UNIQUE,
  width INTEGER NOT NULL,
  height INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS messages (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  conversation_id INTEGER NOT NULL REFERENCES conversations (id),
  sender TEXT NOT NULL CHECK (sender IN ('visitor', 'agent')),
  text TEXT NOT NULL,
  image_id INTEGER REFERENCES images (id),
  time_ms INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS messages_of_conversation ON messages (conversation_id, id);
)sql";

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string NewToken() {
  static std::mutex mutex;
  static std::random_device device;
  std::lock_guard lock(mutex);
  std::string token;
  for (int i = 0; i < 4; ++i) {
    char part[9];
    std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(device()));
    token += part;
  }
  return token;
}

}  // namespace

// One prepared statement, finalized when it ends. Values are bound by
// position (1, 2, ...); Step answers SQLITE_ROW, SQLITE_DONE or an error.
class ChatStore::Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int64_t value) {
    if (stmt_) sqlite3_bind_int64(stmt_, next_, value);
    ++next_;
    return *this;
  }
  Statement& Bind(const std::string& value) {
    if (stmt_)
      sqlite3_bind_text(stmt_, next_, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    ++next_;
    return *this;
  }
  int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
  int64_t Int(int column) { return sqlite3_column_int64(stmt_, column); }
  std::string Text(int column) {
    const unsigned char* text = sqlite3_column_text(stmt_, column);
    return text ? std::string(reinterpret_cast<const char*>(text), sqlite3_column_bytes(stmt_, column))
                : std::string();
  }
  bool IsNull(int column) { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int next_ = 1;
};

std::unique_ptr<ChatStore> ChatStore::Open(const std::string& path, std::string* error) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  // A file that is no database, or one we may not write, shows itself only
  // at the first statement: the schema is that statement.
  char* message = nullptr;
  if (rc == SQLITE_OK) {
    sqlite3_busy_timeout(db, 5000);
    rc = sqlite3_exec(db, "PRAGMA foreign_keys = ON; PRAGMA journal_mode = WAL;", nullptr, nullptr, &message);
  }
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, kSchema, nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    *error = message ? message : (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_free(message);
    sqlite3_close(db);
    return nullptr;
  }
  return std::unique_ptr<ChatStore>(new ChatStore(db));
}

ChatStore::ChatStore(sqlite3* db) : db_(db), version_(static_cast<uint64_t>(NowMs())) {}

ChatStore::~ChatStore() { sqlite3_close(db_); }

std::optional<int64_t> ChatStore::ConversationId(ConversationKey key) {
  Statement find(db_, "SELECT id FROM conversations WHERE company_id = ? AND visitor_id = ?");
  find.Bind(key.companyId).Bind(key.visitorId);
  if (find.Step() != SQLITE_ROW) return std::nullopt;
  return find.Int(0);
}

Stored<ChatStore::NewVisitor> ChatStore::AddVisitor(int32_t companyId, std::optional<int32_t> visitorId) {
  std::lock_guard lock(mutex_);
  int64_t visitor = 0;
  if (visitorId) {
    if (ConversationId({companyId, *visitorId})) return {StoreResult::kTaken};
    visitor = *visitorId;
  } else {
    Statement next(db_, "SELECT COALESCE(MAX(visitor_id), 0) + 1 FROM conversations WHERE company_id = ?");
    next.Bind(companyId);
    if (next.Step() != SQLITE_ROW) return {StoreResult::kFailed};
    visitor = next.Int(0);
    if (visitor > INT32_MAX) return {StoreResult::kFailed};
  }
  NewVisitor added{{companyId, static_cast<int32_t>(visitor)}, NewToken()};
  int64_t now = NowMs();
  Statement insert(db_,
                   "INSERT INTO conversations (company_id, visitor_id, token, created_ms, last_ms) "
                   "VALUES (?, ?, ?, ?, ?)");
  insert.Bind(companyId).Bind(visitor).Bind(added.token).Bind(now).Bind(now);
  if (insert.Step() != SQLITE_DONE) return {StoreResult::kFailed};
  Changed();
  return {StoreResult::kOk, added};
}

bool ChatStore::HasConversation(ConversationKey key) {
  std::lock_guard lock(mutex_);
  return ConversationId(key).has_value();
}

bool ChatStore::IsVisitor(ConversationKey key, const std::string& token) {
  std::lock_guard lock(mutex_);
  Statement find(db_, "SELECT token FROM conversations WHERE company_id = ? AND visitor_id = ?");
  find.Bind(key.companyId).Bind(key.visitorId);
  return find.Step() == SQLITE_ROW && !token.empty() && find.Text(0) == token;
}

Stored<ChatMessage> ChatStore::AddText(ConversationKey key, const std::string& sender,
                                       const std::string& text) {
  std::lock_guard lock(mutex_);
  auto conversation = ConversationId(key);
  if (!conversation) return {StoreResult::kNoConversation};
  return Insert(*conversation, key, sender, text, std::nullopt);
}

Stored<ChatMessage> ChatStore::AddImage(ConversationKey key, const std::string& file, uint32_t width,
                                        uint32_t height) {
  std::lock_guard lock(mutex_);
  auto conversation = ConversationId(key);
  if (!conversation) return {StoreResult::kNoConversation};
  return Insert(*conversation, key, "agent", "", ChatImage{0, file, width, height});
}

// The image record, the message and the conversation's activity change
// together or not at all.
Stored<ChatMessage> ChatStore::Insert(int64_t conversation, ConversationKey key, const std::string& sender,
                                      const std::string& text, std::optional<ChatImage> image) {
  if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
    return {StoreResult::kFailed};
  auto fail = [&] {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return Stored<ChatMessage>{StoreResult::kFailed};
  };
  ChatMessage message{0, key, sender, NowMs(), text, image};
  if (image) {
    Statement insert(db_, "INSERT INTO images (conversation_id, file, width, height) VALUES (?, ?, ?, ?)");
    insert.Bind(conversation).Bind(image->file).Bind(image->width).Bind(image->height);
    if (insert.Step() != SQLITE_DONE) return fail();
    message.image->id = sqlite3_last_insert_rowid(db_);
  }
  {
    Statement insert(db_,
                     "INSERT INTO messages (conversation_id, sender, text, image_id, time_ms) "
                     "VALUES (?, ?, ?, NULLIF(?, 0), ?)");
    insert.Bind(conversation)
        .Bind(sender)
        .Bind(text)
        .Bind(image ? message.image->id : 0)
        .Bind(message.timeMs);
    if (insert.Step() != SQLITE_DONE) return fail();
    message.id = sqlite3_last_insert_rowid(db_);
  }
  Statement touch(db_, "UPDATE conversations SET last_ms = ?, unread = unread + ? WHERE id = ?");
  touch.Bind(message.timeMs).Bind(sender == "visitor" ? 1 : 0).Bind(conversation);
  if (touch.Step() != SQLITE_DONE) return fail();
  if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) return fail();
  Changed();
  return {StoreResult::kOk, message};
}

bool ChatStore::HasImageFile(const std::string& file) {
  std::lock_guard lock(mutex_);
  Statement find(db_, "SELECT 1 FROM images WHERE file = ?");
  find.Bind(file);
  return find.Step() == SQLITE_ROW;
}

std::optional<std::vector<Conversation>> ChatStore::Conversations() {
  std::lock_guard lock(mutex_);
  Statement list(
      db_,
      "SELECT c.company_id, c.visitor_id, c.last_ms, c.unread,"
      "       (SELECT m.text FROM messages m WHERE m.conversation_id = c.id ORDER BY m.id DESC LIMIT 1)"
      " FROM conversations c ORDER BY c.last_ms DESC, c.id DESC");
  std::vector<Conversation> found;
  int rc;
  while ((rc = list.Step()) == SQLITE_ROW) {
    found.push_back({{static_cast<int32_t>(list.Int(0)), static_cast<int32_t>(list.Int(1))},
                     list.Int(2),
                     list.Int(3),
                     list.Text(4)});
  }
  if (rc != SQLITE_DONE) return std::nullopt;
  return found;
}

Stored<std::vector<ChatMessage>> ChatStore::Messages(ConversationKey key, int64_t after) {
  std::lock_guard lock(mutex_);
  auto conversation = ConversationId(key);
  if (!conversation) return {StoreResult::kNoConversation};
  Statement list(db_,
                 "SELECT m.id, m.sender, m.time_ms, m.text, i.id, i.file, i.width, i.height"
                 " FROM messages m LEFT JOIN images i ON i.id = m.image_id"
                 " WHERE m.conversation_id = ? AND m.id > ? ORDER BY m.id");
  list.Bind(*conversation).Bind(after);
  Stored<std::vector<ChatMessage>> found{StoreResult::kOk};
  int rc;
  while ((rc = list.Step()) == SQLITE_ROW) {
    ChatMessage m{list.Int(0), key, list.Text(1), list.Int(2), list.Text(3), std::nullopt};
    if (!list.IsNull(4)) {
      m.image = ChatImage{list.Int(4), list.Text(5), static_cast<uint32_t>(list.Int(6)),
                          static_cast<uint32_t>(list.Int(7))};
    }
    found.value.push_back(std::move(m));
  }
  if (rc != SQLITE_DONE) return {StoreResult::kFailed};
  return found;
}

StoreResult ChatStore::MarkRead(ConversationKey key) {
  std::lock_guard lock(mutex_);
  auto conversation = ConversationId(key);
  if (!conversation) return StoreResult::kNoConversation;
  Statement clear(db_, "UPDATE conversations SET unread = 0 WHERE id = ? AND unread <> 0");
  clear.Bind(*conversation);
  if (clear.Step() != SQLITE_DONE) return StoreResult::kFailed;
  if (sqlite3_changes(db_) > 0) Changed();
  return StoreResult::kOk;
}

uint64_t ChatStore::Version() {
  std::lock_guard lock(mutex_);
  return version_;
}

uint64_t ChatStore::WaitForChange(uint64_t seen, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, limit, [&] { return version_ != seen || stopping_; });
  return version_;
}

void ChatStore::StopWaiting() {
  std::lock_guard lock(mutex_);
  stopping_ = true;
  changed_.notify_all();
}

// Called with mutex_ held.
void ChatStore::Changed() {
  ++version_;
  changed_.notify_all();
}

}  // namespace parlex::demo
