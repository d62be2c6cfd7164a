#pragma once
// Owners of the system objects both deliverables open, so that every early
// return closes what it opened.
#include <windows.h>

#include <utility>

namespace terminal {

template <typename T, typename Traits>
class Unique {
 public:
  Unique() = default;
  explicit Unique(T value) : value_(value) {}
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  Unique(Unique&& other) noexcept : value_(other.release()) {}
  Unique& operator=(Unique&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~Unique() { reset(); }

  T get() const { return value_; }
  explicit operator bool() const { return Traits::valid(value_); }
  T release() { return std::exchange(value_, Traits::invalid()); }
  // Keeps the caller's last error: code reads GetLastError() right after
  // handing a new object to an owner (ERROR_ALREADY_EXISTS of a named object).
  void reset(T value = Traits::invalid()) {
    if (Traits::valid(value_)) {
      const DWORD error = GetLastError();
      Traits::close(value_);
      SetLastError(error);
    }
    value_ = value;
  }
  // For out-parameters of the API that opens the object.
  T* put() {
    reset();
    return &value_;
  }

 private:
  T value_ = Traits::invalid();
};

struct HandleTraits {  // kernel handles where null means none
  static HANDLE invalid() { return nullptr; }
  static bool valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) { CloseHandle(h); }
};
struct FileHandleTraits : HandleTraits {  // CreateFile and snapshots answer INVALID_HANDLE_VALUE
  static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
};
struct KeyTraits {
  static HKEY invalid() { return nullptr; }
  static bool valid(HKEY k) { return k != nullptr; }
  static void close(HKEY k) { RegCloseKey(k); }
};
struct FindTraits {
  static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
  static bool valid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void close(HANDLE h) { FindClose(h); }
};
struct ViewTraits {
  static void* invalid() { return nullptr; }
  static bool valid(void* v) { return v != nullptr; }
  static void close(void* v) { UnmapViewOfFile(v); }
};
struct GdiTraits {
  static HGDIOBJ invalid() { return nullptr; }
  static bool valid(HGDIOBJ o) { return o != nullptr; }
  static void close(HGDIOBJ o) { DeleteObject(o); }
};

using UniqueHandle = Unique<HANDLE, HandleTraits>;
using UniqueFile = Unique<HANDLE, FileHandleTraits>;
using UniqueKey = Unique<HKEY, KeyTraits>;
using UniqueFind = Unique<HANDLE, FindTraits>;
using UniqueView = Unique<void*, ViewTraits>;
using UniqueGdi = Unique<HGDIOBJ, GdiTraits>;

// Starts a thread nobody waits for: its handle is closed at once. False when
// it could not be started; `parameter` is then still the caller's to free.
inline bool startDetachedThread(LPTHREAD_START_ROUTINE threadMain, void* parameter) {
  const UniqueHandle thread(CreateThread(nullptr, 0, threadMain, parameter, 0, nullptr));
  return static_cast<bool>(thread);
}

// Holds a COM interface pointer and releases it.
template <typename I>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { reset(); }
  I* get() const { return p_; }
  I* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  I** put() {
    reset();
    return &p_;
  }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  I* p_ = nullptr;
};

}  // namespace terminal
