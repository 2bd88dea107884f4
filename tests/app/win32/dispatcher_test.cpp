// The page's external object through IDispatch, as the script engine calls
// it: names, argument types and order, the operations they reach, and that
// a page of another origin reaches nothing.
#include <windows.h>
#include <dispex.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <deque>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "app/win32/tray_messages.h"
#include "fake_caller.h"
#include "main_dlg_fixture.h"
#include "platform/win32/com_ptr.h"
#include "resource.h"

namespace parlex::app::win32::testing {
namespace {

using parlex::win32::ComPtr;

// Script values, owned (cleared at the end of the test).
struct Args {
  std::vector<VARIANT> values;  // in the script's order
  // Stable addresses for by-reference values.
  std::deque<BSTR> referenced;
  std::deque<LONG> referencedNumbers;
  ~Args() {
    for (VARIANT& v : values) ::VariantClear(&v);
    for (BSTR b : referenced) ::SysFreeString(b);
  }
  Args& Str(std::wstring_view text) {
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    values.push_back(v);
    return *this;
  }
  Args& NullStr() {
    return Add(VT_BSTR, [](VARIANT& v) { v.bstrVal = nullptr; });
  }
  Args& I4(LONG n) {
    return Add(VT_I4, [n](VARIANT& v) { v.lVal = n; });
  }
  Args& R8(double d) {
    return Add(VT_R8, [d](VARIANT& v) { v.dblVal = d; });
  }
  Args& Bool(bool b) {
    return Add(VT_BOOL, [b](VARIANT& v) { v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE; });
  }
  Args& Null() {
    return Add(VT_NULL, [](VARIANT&) {});
  }
  Args& Empty() {
    return Add(VT_EMPTY, [](VARIANT&) {});
  }
  Args& Dispatch() {
    return Add(VT_DISPATCH, [](VARIANT& v) { v.pdispVal = nullptr; });
  }
  Args& Missing() {
    return Add(VT_ERROR, [](VARIANT& v) { v.scode = DISP_E_PARAMNOTFOUND; });
  }
  // By reference, as a script passes a variable of a host's own.
  Args& StrRef(std::wstring_view text) {
    referenced.push_back(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    return Add(VT_BSTR | VT_BYREF, [this](VARIANT& v) { v.pbstrVal = &referenced.back(); });
  }
  Args& I4Ref(LONG n) {
    referencedNumbers.push_back(n);
    return Add(VT_I4 | VT_BYREF, [this](VARIANT& v) { v.plVal = &referencedNumbers.back(); });
  }

  template <class F>
  Args& Add(VARTYPE type, F fill) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = type;
    fill(v);
    values.push_back(v);
    return *this;
  }
};

// Invokes as a script engine does: arguments reversed. Answers the HRESULT.
HRESULT Call(IDispatch* object, DISPID id, Args& args, VARIANT* result = nullptr,
             WORD flags = DISPATCH_METHOD) {
  // By-reference elements are not cleared by Args (VariantClear leaves the
  // referenced value alone), so a plain reversed copy is right.
  std::vector<VARIANT> reversed(args.values.rbegin(), args.values.rend());
  DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()),
                    0};
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr);
}

HRESULT Call(IDispatch* object, DISPID id) {
  Args none;
  return Call(object, id, none);
}

// `embeded` as the page reads it: a property.
VARIANT Embeded(IDispatch* object, WORD flags = DISPATCH_PROPERTYGET) {
  VARIANT result;
  ::VariantInit(&result);
  Args none;
  EXPECT_EQ(Call(object, 400, none, &result, flags), S_OK);
  return result;
}

class DispatcherTest : public MainDlgTest {
 protected:
  void SetUp() override {
    MainDlgTest::SetUp();
    hwnd = dialog.Create();
    ASSERT_TRUE(hwnd);
    external = dialog.External();
    ShellRecorder::requests.clear();
  }

  // The balloons the calls raised, as title and text.
  static std::vector<std::pair<std::wstring, std::wstring>> Balloons() {
    std::vector<std::pair<std::wstring, std::wstring>> out;
    for (const ShellRequest& r : ShellRecorder::Of(NIM_MODIFY)) {
      if (r.flags == NIF_INFO) out.emplace_back(r.title, r.text);
    }
    return out;
  }

  TestMainDlg dialog;
  HWND hwnd = nullptr;
  IDispatch* external = nullptr;
};

DISPID IdOf(IDispatch* object, const wchar_t* name, HRESULT* hr) {
  DISPID id = 12345;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  *hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  return id;
}

TEST_F(DispatcherTest, TheHostHandsThePageThisObjectWithItsFiveNamesExactly) {
  // What the browser's host gives the page as its external object.
  auto* host = parlex::win32::CAxHost::FromWindow(::GetDlgItem(hwnd, IDC_EXPLORER));
  ASSERT_TRUE(host);
  ComPtr<IDispatch> fromHost;
  ASSERT_EQ(host->GetExternal(fromHost.Put()), S_OK);
  EXPECT_EQ(fromHost.Get(), external);
  fromHost.Reset();

  HRESULT hr = E_FAIL;
  const std::pair<const wchar_t*, DISPID> table[] = {
      {L"maxmize", 100}, {L"notify", 200}, {L"quit", 300}, {L"embeded", 400}, {L"capture", 500}};
  for (const auto& [name, id] : table) {
    EXPECT_EQ(IdOf(external, name, &hr), id) << name;
    EXPECT_EQ(hr, S_OK);
  }
  for (const wchar_t* name :
       {L"Quit", L"maximize", L"NOTIFY", L"embedded", L"capture ", L"", L"onFileSent"}) {
    EXPECT_EQ(IdOf(external, name, &hr), DISPID_UNKNOWN) << name;
    EXPECT_EQ(hr, DISP_E_UNKNOWNNAME) << name;
  }
  // Only the first name is looked at.
  LPOLESTR two[] = {const_cast<LPOLESTR>(L"quit"), const_cast<LPOLESTR>(L"title")};
  DISPID ids[2] = {0, 777};
  EXPECT_EQ(external->GetIDsOfNames(IID_NULL, two, 2, LOCALE_USER_DEFAULT, ids), S_OK);
  EXPECT_EQ(ids[0], 300);

  UINT count = 9;
  EXPECT_EQ(external->GetTypeInfoCount(&count), E_NOTIMPL);
  ITypeInfo* info = nullptr;
  EXPECT_EQ(external->GetTypeInfo(0, 0, &info), E_NOTIMPL);

  // Counts: the window's own hold is the first.
  EXPECT_EQ(external->AddRef(), 3u);  // the host holds one
  EXPECT_EQ(external->Release(), 2u);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(external->QueryInterface(IID_IOleObject, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(external->QueryInterface(IID_IOleClientSite, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  ASSERT_EQ(external->QueryInterface(IID_IUnknown, &out), S_OK);
  EXPECT_EQ(out, external);
  EXPECT_EQ(external->Release(), 2u);
}

TEST_F(DispatcherTest, EmbededIsTrueOnTheChatServiceAndFalseElsewhere) {
  VARIANT property = Embeded(external);
  EXPECT_EQ(property.vt, VT_BOOL);
  EXPECT_EQ(property.boolVal, VARIANT_TRUE);
  VARIANT method = Embeded(external, DISPATCH_METHOD);
  EXPECT_EQ(method.vt, VT_BOOL);
  EXPECT_EQ(method.boolVal, VARIANT_TRUE);
  // No result slot: nothing written, no error.
  EXPECT_EQ(Call(external, 400), S_OK);

  const std::u16string chat = PARLEX_CHAT_URL;
  const std::u16string hostAndPort = chat.substr(7, chat.find(u'/', 7) - 7);
  for (std::u16string foreign : {u"http://" + hostAndPort + u"0/embeded", u"https://" + hostAndPort + u"/",
                                 std::u16string(u"about:blank"), std::u16string(u""),
                                 std::u16string(u"http://example.invalid/") + chat}) {
    dialog.address = foreign;
    VARIANT answer = Embeded(external);
    EXPECT_EQ(answer.vt, VT_BOOL);
    EXPECT_EQ(answer.boolVal, VARIANT_FALSE);
  }
}

TEST_F(DispatcherTest, NotifyTakesTwoArgumentsAsTextAndShowsTheBalloonCut) {
  Args plain, numbers, mixed, empties, byRef, nullText, huge;
  plain.Str(L"标题").Str(L"正文");
  numbers.I4(12).R8(2.5);
  mixed.Bool(true).Bool(false);
  empties.Empty().NullStr();
  byRef.StrRef(L"引用").I4Ref(-7);
  const std::wstring mega(1 << 20, L'长');
  huge.Str(mega).Str(mega);
  for (Args* args : {&plain, &numbers, &mixed, &empties, &byRef, &huge}) {
    EXPECT_EQ(Call(external, 200, *args), S_OK);
  }
  const std::vector<std::pair<std::wstring, std::wstring>> expected{
      {L"标题", L"正文"}, {L"12", L"2.5"},  {L"-1", L"0"},
      {L"", L""},         {L"引用", L"-7"}, {std::wstring(63, L'长'), std::wstring(255, L'长')}};
  EXPECT_EQ(Balloons(), expected);

  // Wrong counts and values that are no text: no balloon, no error.
  Args one, three, null, object;
  one.Str(L"a");
  three.Str(L"a").Str(L"b").Str(L"c");
  null.Str(L"a").Null();
  object.Dispatch().Str(L"b");
  for (Args* args : {&one, &three, &null, &object}) EXPECT_EQ(Call(external, 200, *args), S_OK);
  EXPECT_EQ(Call(external, 200), S_OK);
  EXPECT_EQ(Balloons().size(), expected.size());
  // The caller's values are untouched by the conversions.
  EXPECT_EQ(byRef.values[0].vt, VT_BSTR | VT_BYREF);
  EXPECT_EQ(numbers.values[0].vt, VT_I4);
}

TEST_F(DispatcherTest, CaptureTakesTheCompanyFirstAsWholeNumbersAndNeverNests) {
  Args ints, texts, reals, refs;
  ints.I4(12).I4(34);
  texts.Str(L"12").Str(L" 34 ");
  reals.R8(12.0).R8(34.5);  // rounds half to even
  refs.I4Ref(12).StrRef(L"34");
  for (Args* args : {&ints, &texts, &reals, &refs}) EXPECT_EQ(Call(external, 500, *args), S_OK);
  using Capture = std::pair<int32_t, int32_t>;
  EXPECT_EQ(dialog.captures, (std::vector<Capture>{{12, 34}, {12, 34}, {12, 34}, {12, 34}}));

  Args one, three, null, word, outOfRange, nan, mega;
  one.I4(12);
  three.I4(1).I4(2).I4(3);
  null.Null().I4(34);
  word.Str(L"twelve").I4(34);
  outOfRange.R8(1e10).I4(34);
  nan.R8(std::numeric_limits<double>::quiet_NaN()).I4(34);
  mega.Str(std::wstring(1 << 20, L'9')).I4(34);
  for (Args* args : {&one, &three, &null, &word, &outOfRange, &nan, &mega}) {
    EXPECT_EQ(Call(external, 500, *args), S_OK);
  }
  EXPECT_EQ(dialog.captures.size(), 4u);

  // A page timer calling again while the capture runs: ignored, not nested.
  dialog.captures.clear();
  dialog.duringCapture = [&] {
    Args again;
    again.I4(56).I4(78);
    EXPECT_EQ(Call(external, 500, again), S_OK);
  };
  EXPECT_EQ(Call(external, 500, ints), S_OK);
  dialog.duringCapture = nullptr;
  EXPECT_EQ(Call(external, 500, ints), S_OK);
  EXPECT_EQ(dialog.captures, (std::vector<Capture>{{12, 34}, {12, 34}}));
}

TEST_F(DispatcherTest, MaxmizeShowsTheHiddenWindowMaximizedAndQuitRemovesTheIconThenEndsWith0) {
  Args ignored;
  ignored.Str(L"any").I4(1);
  ASSERT_FALSE(::IsWindowVisible(hwnd));
  EXPECT_EQ(Call(external, 100, ignored), S_OK);
  EXPECT_TRUE(::IsWindowVisible(hwnd));
  EXPECT_TRUE(::IsZoomed(hwnd));

  EXPECT_EQ(Call(external, 300, ignored), S_OK);
  EXPECT_FALSE(::IsWindow(hwnd));
  ASSERT_EQ(ShellRecorder::requests.size(), 1u);
  EXPECT_EQ(ShellRecorder::requests[0].message, static_cast<DWORD>(NIM_DELETE));
  EXPECT_TRUE(ShellRecorder::requests[0].ownerAlive);
  EXPECT_EQ(loop.Run(), 0);
}

// Fifty calls a hostile or broken page could make: unknown ids, wrong
// counts and types, nulls, huge strings.
void FiftyHostileCalls(IDispatch* object, bool includeQuit) {
  const std::wstring mega(1 << 20, L'x');
  const DISPID ids[] = {-1, 0, 1, 99, 101, 200, 300, 400, 500, 100, 600, 0x7fffffff};
  for (int i = 0; i < 50; ++i) {
    DISPID id = ids[i % std::size(ids)];
    if (id == 300 && !includeQuit) id = 301;
    Args args;
    for (int n = 0; n < i % 4; ++n) {
      switch ((i + n) % 9) {
        case 0:
          args.Str(mega);
          break;
        case 1:
          args.Null();
          break;
        case 2:
          args.Empty();
          break;
        case 3:
          args.Dispatch();
          break;
        case 4:
          args.Missing();
          break;
        case 5:
          args.R8(std::numeric_limits<double>::infinity());
          break;
        case 6:
          args.I4(std::numeric_limits<LONG>::min());
          break;
        case 7:
          args.NullStr();
          break;
        default:
          args.StrRef(mega);
          break;
      }
    }
    VARIANT result;
    ::VariantInit(&result);
    EXPECT_EQ(
        Call(object, id, args, i % 2 ? &result : nullptr, i % 3 ? DISPATCH_METHOD : DISPATCH_PROPERTYGET),
        S_OK);
    ::VariantClear(&result);
    // No arguments at all, and a count without an array.
    DISPPARAMS broken{nullptr, nullptr, static_cast<UINT>(i % 3), 0};
    EXPECT_EQ(object->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, i % 2 ? &broken : nullptr, nullptr, nullptr,
                             nullptr),
              S_OK);
  }
}

// What a call that must reach nothing left: the window as it was (there,
// hidden), no shell request, no capture and no quit posted.
void ExpectNothingReached(HWND hwnd, const std::vector<std::pair<int32_t, int32_t>>& captures) {
  Pump();
  EXPECT_TRUE(::IsWindow(hwnd));
  EXPECT_FALSE(::IsWindowVisible(hwnd));
  EXPECT_TRUE(ShellRecorder::requests.empty());
  EXPECT_TRUE(captures.empty());
  MSG msg;
  EXPECT_FALSE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

TEST_F(DispatcherTest, APageOfAnotherOriginReachesNothingEvenWithFiftyHostileCalls) {
  dialog.address = u"http://127.0.0.1:1/embeded";
  Args title, capture;
  title.Str(L"t").Str(L"x");
  capture.I4(12).I4(34);
  EXPECT_EQ(Call(external, 100), S_OK);
  EXPECT_EQ(Call(external, 200, title), S_OK);
  EXPECT_EQ(Call(external, 500, capture), S_OK);
  EXPECT_EQ(Call(external, 300), S_OK);
  FiftyHostileCalls(external, true);
  ExpectNothingReached(hwnd, dialog.captures);

  // The same from the chat service (quit left out): no crash, and every
  // balloon it raised fits the record.
  dialog.address = PARLEX_CHAT_URL u"embeded";
  FiftyHostileCalls(external, false);
  EXPECT_TRUE(::IsWindow(hwnd));
  for (const auto& [t, x] : Balloons()) {
    EXPECT_LE(t.size(), 63u);
    EXPECT_LE(x.size(), 255u);
  }
}

// As the script engine calls: through IDispatchEx, naming the calling frame.
HRESULT CallFrom(IDispatchEx* object, IServiceProvider* caller, DISPID id, Args& args,
                 VARIANT* result = nullptr) {
  std::vector<VARIANT> reversed(args.values.rbegin(), args.values.rend());
  DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()),
                    0};
  return object->InvokeEx(id, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, nullptr, caller);
}

// embeded as the caller reads it; VARIANT_TRUE or VARIANT_FALSE.
VARIANT_BOOL EmbededFor(IDispatchEx* object, IServiceProvider* caller) {
  VARIANT result;
  ::VariantInit(&result);
  Args none;
  EXPECT_EQ(CallFrom(object, caller, 400, none, &result), S_OK);
  EXPECT_EQ(result.vt, VT_BOOL);
  return result.boolVal;
}

struct Caller {
  Caller(const std::u16string& href, FakeCallerKind kind = kFakeCallerWindow)
      : provider(FakeCallerCreate(reinterpret_cast<const wchar_t*>(href.c_str()), kind)) {}
  ~Caller() {
    EXPECT_EQ(FakeCallerRefsHeldElsewhere(provider), 0) << "the caller's window is still held";
    provider->Release();
  }
  IServiceProvider* provider;
};

TEST_F(DispatcherTest, TheCallingFrameDecidesNotThePageAroundIt) {
  ComPtr<IDispatchEx> ex;
  ASSERT_EQ(external->QueryInterface(__uuidof(IDispatchEx), ex.PutVoid()), S_OK);
  EXPECT_EQ(static_cast<IDispatch*>(ex.Get()), external);
  // The names through GetDispID are the table's, exactly.
  for (const auto& [name, expected] :
       std::vector<std::pair<const wchar_t*, DISPID>>{{L"capture", 500},
                                                      {L"embeded", 400},
                                                      {L"Capture", DISPID_UNKNOWN},
                                                      {L"onFileSent", DISPID_UNKNOWN}}) {
    BSTR bstr = ::SysAllocString(name);
    DISPID id = 12345;
    EXPECT_EQ(ex->GetDispID(bstr, fdexNameCaseInsensitive, &id),
              expected == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK)
        << name;
    EXPECT_EQ(id, expected) << name;
    ::SysFreeString(bstr);
  }

  // The chat page is the page shown throughout.
  const std::u16string chat = PARLEX_CHAT_URL;
  const std::u16string hostAndPort = chat.substr(7, chat.find(u'/', 7) - 7);
  dialog.address = chat + u"embeded";
  Args capture, title;
  capture.I4(12).I4(34);
  title.Str(L"t").Str(L"x");

  // A frame of the chat service itself reaches the operations.
  {
    Caller own(chat + u"embeded/frame?x=1");
    EXPECT_EQ(EmbededFor(ex.Get(), own.provider), VARIANT_TRUE);
    EXPECT_EQ(CallFrom(ex.Get(), own.provider, 500, capture), S_OK);
    EXPECT_EQ(CallFrom(ex.Get(), own.provider, 200, title), S_OK);
    EXPECT_GE(FakeCallerWindowRequests(own.provider), 1);
  }
  EXPECT_EQ(dialog.captures, (std::vector<std::pair<int32_t, int32_t>>{{12, 34}}));
  EXPECT_EQ(Balloons().size(), 1u);

  // Frames of other origins inside it reach nothing, whatever they call;
  // so does a frame whose address cannot be read.
  dialog.captures.clear();
  ShellRecorder::requests.clear();
  std::vector<std::unique_ptr<Caller>> foreign;
  foreign.push_back(std::make_unique<Caller>(u"http://example.invalid/" + chat));
  foreign.push_back(std::make_unique<Caller>(u"https://" + hostAndPort + u"/embeded"));
  foreign.push_back(std::make_unique<Caller>(u"http://" + hostAndPort + u"0/embeded"));
  foreign.push_back(std::make_unique<Caller>(u"about:blank"));
  foreign.push_back(std::make_unique<Caller>(chat + u"embeded", kFakeCallerUnreadableHref));
  for (size_t i = 0; i < foreign.size(); ++i) {
    SCOPED_TRACE(i);
    const auto& frame = foreign[i];
    EXPECT_EQ(EmbededFor(ex.Get(), frame->provider), VARIANT_FALSE);
    Args none;
    for (DISPID id : {100, 300}) EXPECT_EQ(CallFrom(ex.Get(), frame->provider, id, none), S_OK);
    EXPECT_EQ(CallFrom(ex.Get(), frame->provider, 500, capture), S_OK);
    EXPECT_EQ(CallFrom(ex.Get(), frame->provider, 200, title), S_OK);
    EXPECT_EQ(FakeCallerWindowRequests(frame->provider), 5);
  }
  foreign.clear();
  ExpectNothingReached(hwnd, dialog.captures);

  // Without a usable caller the page shown decides, as with Invoke.
  Caller noWindow(u"", kFakeCallerNoWindow);
  for (IServiceProvider* none : {static_cast<IServiceProvider*>(nullptr), noWindow.provider}) {
    dialog.address = chat + u"embeded";
    EXPECT_EQ(EmbededFor(ex.Get(), none), VARIANT_TRUE);
    dialog.address = u"http://example.invalid/";
    EXPECT_EQ(EmbededFor(ex.Get(), none), VARIANT_FALSE);
  }
}

}  // namespace
}  // namespace parlex::app::win32::testing
