// The chat and update addresses in effect, decided once at start from the
// places a deployment may set them, first to last: the machine's policy, the
// user's own settings, then the addresses the program was built with. Each
// platform half only reads its places (registry keys, configuration files)
// into SettingSources; the order, the checks and the trailing "/" are here.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace parlex::app {

// The names of the two values, in the registry and in parlex.conf.
inline constexpr char16_t kChatUrlKey[] = u"ChatUrl";
inline constexpr char16_t kUpdateUrlKey[] = u"UpdateUrl";

// What one place holds. A value that is absent leaves the decision to the
// next place; a value that is present must be valid.
struct SettingSource {
  std::u16string name;  // where it came from, as the agent's IT would look for it
  std::optional<std::u16string> chatUrl;
  std::optional<std::u16string> updateUrl;
  // A file that cannot be used as a whole (a line that is no setting):
  // the program does not start on it.
  std::u16string error;
  // Worth a line in the support log, never a reason not to start (a name
  // this version does not know).
  std::vector<std::u16string> notes;
};

struct AddressInEffect {
  std::u16string url;     // absolute http or https, ends in "/"
  std::u16string source;  // the SettingSource's name, or kBuiltInSource
};

inline constexpr char16_t kBuiltInSource[] = u"built-in";

struct AddressesInEffect {
  AddressInEffect chat;
  AddressInEffect update;
};

struct AddressDecision {
  std::optional<AddressesInEffect> addresses;
  // One line naming the place and the value that was refused; set exactly
  // when addresses is not.
  std::u16string error;
};

// value as a base address: an absolute http or https URL with a host (and
// an optional port of 1 to 65535), without user name, password, query or
// fragment, blanks around it ignored; a missing trailing "/" is added.
// None for anything else.
std::optional<std::u16string> NormaliseBaseUrl(std::u16string_view value);

// The first source that holds a value wins, for each address on its own;
// the built-in addresses come last. A present value that is not valid, or a
// source with an error, refuses the whole decision, even when an earlier
// source already set that address: a setting IT got wrong is said at once,
// not when the other place's value goes away.
AddressDecision DecideAddresses(const std::vector<SettingSource>& sources, std::u16string_view builtInChat,
                                std::u16string_view builtInUpdate);

// A parlex.conf: UTF-8 lines "ChatUrl=..." and "UpdateUrl=..." (names in any
// letter case), blanks around names and values ignored, empty lines and
// lines starting with '#' or ';' skipped. Another line makes the error.
SettingSource ParseConfText(std::string_view bytes, std::u16string name);

// The image endpoint of the chat service at chatBaseUrl.
std::u16string UploadUrlForChat(std::u16string_view chatBaseUrl);

// The refusal, shown to the agent and written to the log.
inline constexpr char16_t kBadSettingCaption[] = u"Parlex 设置错误";

}  // namespace parlex::app
