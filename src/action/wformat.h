// Type-safe printf-style formatting of wide text. The log formats use %s,
// %d, %u, %x and field widths; arguments are checked at compile time by
// type instead of trusting the format, so a wrong argument cannot crash.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace orvo {

struct FormatArg {
  enum Kind { kText, kSigned, kUnsigned, kFloat } kind;
  std::wstring_view text;
  int64_t s = 0;
  uint64_t u = 0;
  double f = 0;

  FormatArg(const wchar_t* v) : kind(kText), text(v ? v : L"(null)") {}
  FormatArg(wchar_t* v) : FormatArg(static_cast<const wchar_t*>(v)) {}
  FormatArg(const std::wstring& v) : kind(kText), text(v) {}
  FormatArg(std::wstring_view v) : kind(kText), text(v) {}
  FormatArg(double v) : kind(kFloat), f(v) {}
  template <class T, class = std::enable_if_t<std::is_integral_v<T> || std::is_enum_v<T>>>
  FormatArg(T v) : kind(kText) {
    if constexpr (std::is_enum_v<T>) {
      kind = kSigned;
      s = static_cast<int64_t>(v);
    } else if constexpr (std::is_signed_v<T>) {
      kind = kSigned;
      s = v;
    } else {
      kind = kUnsigned;
      u = v;
    }
  }
};

std::wstring FormatArgs(std::wstring_view format, const FormatArg* args, size_t count);

template <class... A>
std::wstring Format(std::wstring_view format, const A&... args) {
  if constexpr (sizeof...(A) == 0) {
    return FormatArgs(format, nullptr, 0);
  } else {
    const FormatArg list[] = {FormatArg(args)...};
    return FormatArgs(format, list, sizeof...(A));
  }
}

// UTF-8 <-> UTF-16 for the few places that meet narrow text.
std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);

}  // namespace orvo
