// The page's external object, without COM or Qt: the table of names, the
// rules of a call (argument counts and order, which operation a name
// reaches), the coercion of script values, the balloon cuts and the rule of
// which pages may use the object at all. The Windows Dispatcher and the Qt
// page bridge both decide through these functions and then call the same
// four operations of their main window.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace parlex::app {

// DISPIDs of the five names.
inline constexpr int32_t kDispMaxmize = 100;
inline constexpr int32_t kDispNotify = 200;
inline constexpr int32_t kDispQuit = 300;
inline constexpr int32_t kDispEmbeded = 400;
inline constexpr int32_t kDispCapture = 500;

struct BridgeName {
  std::u16string_view name;
  int32_t dispid;
};

// The only names the object knows, in table order. The spelling is the
// chat service's and is kept: pages call "maxmize" and read "embeded".
inline constexpr std::array<BridgeName, 5> kBridgeNames{{
    {u"maxmize", kDispMaxmize},
    {u"notify", kDispNotify},
    {u"quit", kDispQuit},
    {u"embeded", kDispEmbeded},
    {u"capture", kDispCapture},
}};

// The DISPID of a name: exact and case-sensitive; none for any other name.
std::optional<int32_t> BridgeDispIdOf(std::u16string_view name);

// The arguments of one call as the platform holds them: positional
// arguments in reverse order (element 0 is the script's last argument), as
// COM's DISPPARAMS keeps them. Each element is converted only when a rule
// asks for it; a conversion that fails answers none.
class IBridgeArgs {
 public:
  virtual ~IBridgeArgs() = default;
  virtual size_t Count() const = 0;
  // Element `index` as a string (VariantChangeType to VT_BSTR; a null string
  // is the empty text).
  virtual std::optional<std::u16string> Text(size_t index) const = 0;
  // Element `index` as a signed 32-bit integer (VariantChangeType to VT_I4).
  virtual std::optional<int32_t> Int32(size_t index) const = 0;
};

enum class BridgeOp : uint8_t { kNone, kMaximize, kNotify, kQuit, kEmbeded, kCapture };

// What one call asks for. kNone: nothing happens and the page gets no error.
struct BridgeCall {
  BridgeOp op = BridgeOp::kNone;
  std::u16string title;   // kNotify
  std::u16string text;    // kNotify
  int32_t companyId = 0;  // kCapture: the script's first argument
  int32_t visitorId = 0;  // kCapture: the script's second argument
};

// The rules of Invoke. maxmize and quit ignore any arguments; notify and
// capture need exactly two whose conversions succeed; embeded answers true
// (the platform writes the result); any other DISPID does nothing.
BridgeCall DecideBridgeCall(int32_t dispid, const IBridgeArgs& args);

// Balloon texts as the notification area takes them: the title cut to 63
// UTF-16 units, the text to 255, never in the middle of a surrogate pair.
inline constexpr size_t kBalloonTitleUnits = 63;
inline constexpr size_t kBalloonTextUnits = 255;
// The tip: 127 units and the terminator.
inline constexpr size_t kTipUnits = 127;
std::u16string BalloonTitle(std::u16string_view title);
std::u16string BalloonText(std::u16string_view text);

// Only the chat service's own pages may use the object: true when `address`
// (a page's URL or a security origin such as "http://host:port") has the
// scheme, host and port of `chatBaseUrl`. Scheme and host compare without
// regard to case; a missing port is the scheme's default. Addresses that are
// not http or https (about:, data:, file:, javascript:, blob:) never match.
bool IsChatOrigin(std::u16string_view address, std::u16string_view chatBaseUrl);

// A value a page's script passes, as the Linux bridge receives it (JSON
// types). The same conversions as Windows applies to the VARIANTs the
// script engine makes of them: undefined is VT_EMPTY, null VT_NULL, a
// boolean VT_BOOL, a number VT_I4 or VT_R8, a string VT_BSTR; objects and
// arrays convert to nothing.
struct ScriptValue {
  enum class Kind : uint8_t { kUndefined, kNull, kBool, kNumber, kString, kObject };
  Kind kind = Kind::kUndefined;
  bool boolean = false;
  double number = 0;
  std::u16string text;

  static ScriptValue Undefined() { return {}; }
  static ScriptValue Null() { return {Kind::kNull, false, 0, {}}; }
  static ScriptValue Bool(bool b) { return {Kind::kBool, b, 0, {}}; }
  static ScriptValue Number(double n) { return {Kind::kNumber, false, n, {}}; }
  static ScriptValue String(std::u16string s) { return {Kind::kString, false, 0, std::move(s)}; }
  static ScriptValue Object() { return {Kind::kObject, false, 0, {}}; }
};

// VT_BSTR of the value: undefined is "", null and objects fail, booleans
// are "-1" and "0" (VARIANT_BOOL's own text), whole numbers their decimal
// digits, other numbers their shortest round-trip text.
std::optional<std::u16string> ScriptValueToText(const ScriptValue& value);
// VT_I4 of the value: undefined is 0, null and objects fail, true is -1,
// numbers round half to even and fail outside the 32-bit range (and for NaN
// and infinities), strings are read as numbers (surrounding blanks allowed)
// and then rounded the same way.
std::optional<int32_t> ScriptValueToInt32(const ScriptValue& value);

}  // namespace parlex::app
