#pragma once
// Calls on a dispatch object the way a page script does: names looked up with
// GetIDsOfNames, arguments handed to Invoke last first.
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

namespace page_test {

// An argument owned by the test: a BSTR is freed with it.
struct Argument {
  VARIANT value;
  explicit Argument(const wchar_t* text) {
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(text);
  }
  explicit Argument(long number) {
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = number;
  }
  Argument(const Argument& other) {
    VariantInit(&value);
    VariantCopy(&value, const_cast<VARIANT*>(&other.value));
  }
  Argument& operator=(const Argument&) = delete;
  ~Argument() { VariantClear(&value); }
};

inline DISPID idOf(IDispatch* object, const wchar_t* name, HRESULT* hr = nullptr) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  const HRESULT result = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (hr) *hr = result;
  return id;
}

// Calls method `name` with `arguments` in the order the script writes them.
inline HRESULT callByName(IDispatch* object, const wchar_t* name, const std::vector<Argument>& arguments,
                          VARIANT* result = nullptr) {
  HRESULT hr = S_OK;
  const DISPID id = idOf(object, name, &hr);
  if (FAILED(hr)) return hr;
  std::vector<VARIANT> reversed;
  for (auto it = arguments.rbegin(); it != arguments.rend(); ++it) reversed.push_back(it->value);
  DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  UINT argumentError = 0;
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, nullptr, &argumentError);
}

}  // namespace page_test
