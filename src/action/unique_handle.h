// Owners of one Windows or installer handle each, closed in the destructor.
#pragma once
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <utility>

namespace orvo {

template <class T, class Traits>
class unique_any {
 public:
  unique_any() = default;
  explicit unique_any(T value) : value_(value) {}
  unique_any(const unique_any&) = delete;
  unique_any& operator=(const unique_any&) = delete;
  unique_any(unique_any&& other) noexcept : value_(other.release()) {}
  unique_any& operator=(unique_any&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~unique_any() { reset(); }

  T get() const { return value_; }
  explicit operator bool() const { return Traits::IsValid(value_); }
  T release() { return std::exchange(value_, Traits::Invalid()); }
  void reset(T value = Traits::Invalid()) {
    T old = std::exchange(value_, value);
    if (Traits::IsValid(old)) Traits::Close(old);
  }
  // For out-parameters: releases the current value first.
  T* put() {
    reset();
    return &value_;
  }

 private:
  T value_ = Traits::Invalid();
};

struct MsiHandleTraits {
  static MSIHANDLE Invalid() { return 0; }
  static bool IsValid(MSIHANDLE h) { return h != 0; }
  static void Close(MSIHANDLE h) { MsiCloseHandle(h); }
};
struct FileHandleTraits {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
struct KernelHandleTraits {
  static HANDLE Invalid() { return nullptr; }
  static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
struct FindHandleTraits {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Close(HANDLE h) { FindClose(h); }
};
struct RegKeyTraits {
  static HKEY Invalid() { return nullptr; }
  static bool IsValid(HKEY h) { return h != nullptr; }
  static void Close(HKEY h) { RegCloseKey(h); }
};
struct LocalMemTraits {
  static HLOCAL Invalid() { return nullptr; }
  static bool IsValid(HLOCAL h) { return h != nullptr; }
  static void Close(HLOCAL h) { LocalFree(h); }
};
struct ModuleTraits {
  static HMODULE Invalid() { return nullptr; }
  static bool IsValid(HMODULE h) { return h != nullptr; }
  static void Close(HMODULE h) { FreeLibrary(h); }
};

using unique_msihandle = unique_any<MSIHANDLE, MsiHandleTraits>;
using unique_hfile = unique_any<HANDLE, FileHandleTraits>;
using unique_handle = unique_any<HANDLE, KernelHandleTraits>;
using unique_hfind = unique_any<HANDLE, FindHandleTraits>;
using unique_hkey = unique_any<HKEY, RegKeyTraits>;
using unique_hlocal = unique_any<HLOCAL, LocalMemTraits>;
using unique_hmodule = unique_any<HMODULE, ModuleTraits>;

}  // namespace orvo
