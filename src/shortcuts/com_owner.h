// Owners for the COM objects of one shortcut operation: the apartment,
// entered for the operation and left after it, and interface pointers.
#pragma once
#include <objbase.h>

namespace orvo {

class ComApartment {
 public:
  ComApartment() : result_(CoInitialize(nullptr)) {}
  // Only a successful (or repeated) initialisation is balanced: a thread
  // already in another apartment model must not lose it.
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  HRESULT result_;
};

template <class T>
class ComPointer {
 public:
  ComPointer() = default;
  ~ComPointer() { reset(); }
  ComPointer(const ComPointer&) = delete;
  ComPointer& operator=(const ComPointer&) = delete;

  T* get() const { return pointer_; }
  T* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  // For out-parameters: releases the current interface first.
  void** put() {
    reset();
    return reinterpret_cast<void**>(&pointer_);
  }
  void reset() {
    if (pointer_) pointer_->Release();
    pointer_ = nullptr;
  }

 private:
  T* pointer_ = nullptr;
};

}  // namespace orvo
