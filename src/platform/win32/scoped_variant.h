// Owner of one VARIANT: cleared (its string freed, its interface released)
// when it goes out of scope.
#pragma once

#include <oleauto.h>

#include <string_view>

namespace parlex::win32 {

class ScopedVariant {
 public:
  ScopedVariant() { ::VariantInit(&m_value); }
  explicit ScopedVariant(std::wstring_view text) {
    ::VariantInit(&m_value);
    m_value.vt = VT_BSTR;
    m_value.bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  ~ScopedVariant() { ::VariantClear(&m_value); }

  VARIANT* Get() { return &m_value; }
  const VARIANT* Get() const { return &m_value; }

 private:
  VARIANT m_value;
};

}  // namespace parlex::win32
