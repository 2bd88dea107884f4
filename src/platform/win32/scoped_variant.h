// Owner of one VARIANT: cleared (its string freed, its interface released)
// when it goes out of scope.
#pragma once

#include <oleauto.h>

#include <string_view>

namespace parlex::win32 {

class ScopedVariant {
 public:
  ScopedVariant() { ::VariantInit(&value_); }
  explicit ScopedVariant(std::wstring_view text) {
    ::VariantInit(&value_);
    value_.vt = VT_BSTR;
    value_.bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  ~ScopedVariant() { ::VariantClear(&value_); }

  VARIANT* Get() { return &value_; }
  const VARIANT* Get() const { return &value_; }

 private:
  VARIANT value_;
};

}  // namespace parlex::win32
