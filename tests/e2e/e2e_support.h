// What the whole-program tests share: the pattern the screen shows, the demo
// chat service on the program's built-in address and what it kept (the agent
// page's reports, among them where its controls are, and the stored images).
#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace parlex::test {

inline constexpr int kChatPort = 18380;  // the built-in chat address's port

// The colour of the pattern at a screen point: blocks of 64 pixels with no
// red in them, so the annotations stand out.
QColor PatternAt(int x, int y);
QImage PatternImage(int width, int height);

bool Close(const QColor& a, const QColor& b, int tolerance);

// The demo service on kChatPort with its data in dataDir, once its port is
// free (a test that ran just before may still hold it for a moment); null
// when it did not start.
std::unique_ptr<ChildProcess> StartDemoService(const std::filesystem::path& dataDir);

// The agent page's reports, as the service keeps them.
std::vector<nlohmann::json> AgentLog();
std::optional<nlohmann::json> LastReport(const std::string& event);
size_t CountReports(const std::string& event);

// Where the page last said its controls are (its first listing, or the
// last time the list's order or the window's size changed).
std::optional<nlohmann::json> LastLayout();

// The centre of a rectangle the page reported, on screen, for a page whose
// top-left corner is at origin.
QPoint Centre(const QPoint& origin, const nlohmann::json& rect);

// The rectangle of the conversation of visitorId in a layout report.
std::optional<nlohmann::json> ConversationRect(const nlohmann::json& layout, int visitorId);

// The images the service stored (files named img-*; its database lies
// beside them).
std::vector<std::filesystem::path> StoredImages(const std::filesystem::path& dir);

}  // namespace parlex::test
