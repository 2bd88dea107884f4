#include "app/qt/chat_page_qt.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QUuid>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <limits>
#include <vector>

#include "app/bridge.h"
#include "app/support_events.h"

namespace parlex::app::qt {

namespace {

// Defines window.external in the page's own world as the document is
// created. Everything it uses is taken before the page can replace it, and
// it runs no code of the page while building a call: arguments are passed
// by their type only (the program converts them as the Windows build's
// automation does), so getters, toString and toJSON of the page are never
// invoked. The first call asks the program whether this frame may use the
// object at all; frames of other origins keep the browser's own
// window.external. %1 is the marker as a script string.
constexpr char kShim[] = R"JS((function () {
  'use strict';
  var win = window;
  var ask = win.prompt;
  var apply = Reflect.apply;
  var stringify = JSON.stringify;
  var freeze = Object.freeze;
  var defineProperty = Object.defineProperty;
  var slice = String.prototype.slice;
  var marker = %1;

  function encode(value) {
    switch (typeof value) {
      case 'undefined': return '["u"]';
      case 'boolean': return value ? '["b",true]' : '["b",false]';
      case 'number':
        if (value !== value) return '["n","NaN"]';
        if (value === Infinity) return '["n","Infinity"]';
        if (value === -Infinity) return '["n","-Infinity"]';
        return '["n",' + stringify(value) + ']';
      case 'string': return '["s",' + stringify(value) + ']';
      default: return value === null ? '["z"]' : '["o"]';
    }
  }

  function call(name, args) {
    var payload = '{"name":"' + name + '","args":[';
    for (var i = 0; i < args.length; ++i) payload += (i ? ',' : '') + encode(args[i]);
    payload += ']}';
    try {
      var answer = apply(ask, win, [marker, payload]);
      return typeof answer === 'string' ? answer : '';
    } catch (e) {
      return '';
    }
  }

  if (call('embeded', []) !== '1') return;

  // Read as a property it is truthy and == true; called, it answers true.
  function embeded() { return call('embeded', arguments) === '1'; }
  defineProperty(embeded, 'valueOf', { value: function valueOf() { return true; } });

  var external = {
    maxmize: function maxmize() { call('maxmize', arguments); },
    notify: function notify(title, text) { call('notify', arguments); },
    quit: function quit() { call('quit', arguments); },
    embeded: freeze(embeded),
    // Returns after the capture has ended and, after a send, after the
    // page's onFileSent has had the reply.
    capture: function capture(companyId, visitorId) {
      var answer = call('capture', arguments);
      if (answer.length === 0 || answer[0] !== 'S') return;
      var reply = apply(slice, answer, [1]);
      try {
        var onFileSent = win.onFileSent;
        if (typeof onFileSent === 'function') apply(onFileSent, win, [reply]);
      } catch (e) {
      }
    }
  };
  try {
    defineProperty(win, 'external', {
      value: freeze(external), configurable: false, enumerable: true, writable: false
    });
  } catch (e) {
  }
})();
)JS";

std::u16string ToU16(const QString& text) { return text.toStdU16String(); }

// One argument as the object passed it: [type] or [type, value].
ScriptValue ArgumentOf(const QJsonValue& encoded) {
  const QJsonArray pair = encoded.toArray();
  const QString type = pair.at(0).toString();
  const QJsonValue value = pair.at(1);
  if (type == QLatin1String("u")) return ScriptValue::Undefined();
  if (type == QLatin1String("z")) return ScriptValue::Null();
  if (type == QLatin1String("b") && value.isBool()) return ScriptValue::Bool(value.toBool());
  if (type == QLatin1String("s") && value.isString()) return ScriptValue::String(ToU16(value.toString()));
  if (type == QLatin1String("n")) {
    if (value.isDouble()) return ScriptValue::Number(value.toDouble());
    const QString special = value.toString();
    if (special == QLatin1String("NaN")) return ScriptValue::Number(std::numeric_limits<double>::quiet_NaN());
    if (special == QLatin1String("Infinity"))
      return ScriptValue::Number(std::numeric_limits<double>::infinity());
    if (special == QLatin1String("-Infinity")) {
      return ScriptValue::Number(-std::numeric_limits<double>::infinity());
    }
  }
  return ScriptValue::Object();  // converts to nothing
}

// The script's arguments presented as COM holds them: element 0 is the
// script's last argument.
class PageArgs final : public IBridgeArgs {
 public:
  explicit PageArgs(std::vector<ScriptValue> inScriptOrder) : values_(std::move(inScriptOrder)) {}
  size_t Count() const override { return values_.size(); }
  std::optional<std::u16string> Text(size_t index) const override {
    if (index >= values_.size()) return std::nullopt;
    return ScriptValueToText(values_[values_.size() - 1 - index]);
  }
  std::optional<int32_t> Int32(size_t index) const override {
    if (index >= values_.size()) return std::nullopt;
    return ScriptValueToInt32(values_[values_.size() - 1 - index]);
  }

 private:
  std::vector<ScriptValue> values_;
};

// Clears the running-capture mark however the capture ends.
class CaptureMark {
 public:
  explicit CaptureMark(bool& mark) : mark_(mark) { mark_ = true; }
  ~CaptureMark() { mark_ = false; }
  CaptureMark(const CaptureMark&) = delete;
  CaptureMark& operator=(const CaptureMark&) = delete;

 private:
  bool& mark_;
};

}  // namespace

ChatPageQt::ChatPageQt(IChatPageHost& host, const QString& chatBaseUrl, QObject* parent)
    : QWebEnginePage(parent),
      host_(host),
      chatBaseUrl_(ToU16(chatBaseUrl)),
      marker_(QStringLiteral("parlex-bridge:") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {
  QWebEngineScript shim;
  shim.setName(QStringLiteral("parlex-external"));
  shim.setInjectionPoint(QWebEngineScript::DocumentCreation);
  shim.setWorldId(QWebEngineScript::MainWorld);
  shim.setRunsOnSubFrames(true);
  const QString markerLiteral =
      QString::fromUtf8(QJsonDocument(QJsonArray{marker_}).toJson(QJsonDocument::Compact));
  shim.setSourceCode(QString::fromUtf8(kShim).arg(markerLiteral.mid(1, markerLiteral.size() - 2)));
  scripts().insert(shim);
}

ChatPageQt::~ChatPageQt() = default;

bool ChatPageQt::javaScriptPrompt(const QUrl& securityOrigin, const QString& msg, const QString& defaultValue,
                                  QString* result) {
  if (msg != marker_) return QWebEnginePage::javaScriptPrompt(securityOrigin, msg, defaultValue, result);
  // A call of the object: answered here, never shown to the agent.
  const QString answer = Call(securityOrigin, defaultValue);
  if (result != nullptr) *result = answer;
  return true;
}

QString ChatPageQt::Call(const QUrl& securityOrigin, const QString& payload) {
  // Checked at each call: a frame of another origin reaches nothing.
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(payload.toUtf8(), &error);
  const QJsonObject object = document.object();
  const std::u16string origin = ToU16(securityOrigin.toString(QUrl::FullyEncoded));
  if (!IsChatOrigin(origin, chatBaseUrl_)) {
    LogRefusedBridgeCall(ToU16(object.value(QLatin1String("name")).toString()), origin);
    return QString();
  }
  if (error.error != QJsonParseError::NoError || !document.isObject()) return QString();
  const std::optional<int32_t> dispid = BridgeDispIdOf(ToU16(object.value(QLatin1String("name")).toString()));
  if (!dispid) return QString();
  std::vector<ScriptValue> values;
  for (const QJsonValue& encoded : object.value(QLatin1String("args")).toArray())
    values.push_back(ArgumentOf(encoded));

  const BridgeCall call = DecideBridgeCall(*dispid, PageArgs(std::move(values)));
  switch (call.op) {
    case BridgeOp::kMaximize:
      host_.Maximize();
      break;
    case BridgeOp::kNotify:
      host_.Notify(call.title, call.text);
      break;
    case BridgeOp::kQuit:
      host_.Quit();
      break;
    case BridgeOp::kEmbeded:
      return QStringLiteral("1");
    case BridgeOp::kCapture: {
      // A page timer firing during the capture's own loop does not start a
      // second one.
      if (capturing_) break;
      CaptureOutcome outcome;
      {
        CaptureMark mark(capturing_);
        outcome = host_.Capture(call.companyId, call.visitorId);
      }
      if (outcome.sent) return QStringLiteral("S") + QString::fromStdU16String(outcome.reply);
      break;
    }
    case BridgeOp::kNone:
      break;
  }
  return QString();
}

}  // namespace parlex::app::qt
