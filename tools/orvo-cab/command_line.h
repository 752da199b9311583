// Command-line pieces the portable tools share: sizes given in bytes, and
// the arguments as UTF-8 from the system's UTF-16 on Windows.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "action/utf8.h"

namespace orvo::tools {

// A positive decimal number of at most 12 digits.
inline bool ParseSize(const std::string& text, uint64_t* value) {
  if (text.empty() || text.size() > 12) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + uint64_t(c - '0');
  }
  *value = v;
  return v > 0;
}

#ifdef _WIN32
inline std::vector<std::string> Utf8Arguments(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    std::string text;
    for (const wchar_t* p = argv[i]; *p; ++p) {
      uint32_t cp = uint16_t(*p);
      if (cp >= 0xD800 && cp < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (uint16_t(p[1]) - 0xDC00);
        ++p;
      }
      AppendUtf8(text, cp);
    }
    args.push_back(text);
  }
  return args;
}
#endif

}  // namespace orvo::tools
