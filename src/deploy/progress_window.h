// The package's progress window, found by its title, shown while the files
// are installed.
#pragma once
#include <windows.h>

#include <string>

namespace orvo {

// Shows the window while it lives and hides it again on every way out.
class ShownWindow {
 public:
  explicit ShownWindow(const std::wstring& title) {
    if (!title.empty()) window_ = FindWindowW(nullptr, title.c_str());
    if (window_) ShowWindow(window_, SW_SHOW);
  }
  ~ShownWindow() {
    if (window_) ShowWindow(window_, SW_HIDE);
  }
  ShownWindow(const ShownWindow&) = delete;
  ShownWindow& operator=(const ShownWindow&) = delete;

 private:
  HWND window_ = nullptr;
};

}  // namespace orvo
