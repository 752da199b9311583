#include "action/wformat.h"

#include "action/utf8.h"

#include <cstdio>

namespace orvo {
namespace {

void Pad(std::wstring& out, std::wstring_view body, size_t width, bool left, wchar_t fill) {
  size_t padding = body.size() < width ? width - body.size() : 0;
  if (!left && fill == L'0' && !body.empty() && (body[0] == L'-' || body[0] == L'+')) {
    out += body[0];
    out.append(padding, L'0');
    out.append(body.substr(1));
    return;
  }
  if (!left) out.append(padding, fill);
  out.append(body);
  if (left) out.append(padding, L' ');
}

std::wstring Digits(uint64_t v, unsigned base, bool upper) {
  const wchar_t* set = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
  wchar_t buf[32];
  size_t n = 0;
  do {
    buf[n++] = set[v % base];
    v /= base;
  } while (v);
  std::wstring r;
  while (n) r += buf[--n];
  return r;
}

}  // namespace

std::wstring FormatArgs(std::wstring_view format, const FormatArg* args, size_t count) {
  std::wstring out;
  out.reserve(format.size() + 32);
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    wchar_t c = format[i];
    if (c != L'%') {
      out += c;
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == L'%') {
      out += L'%';
      ++i;
      continue;
    }
    size_t j = i + 1;
    bool left = false, plus = false;
    wchar_t fill = L' ';
    for (; j < format.size(); ++j) {
      if (format[j] == L'-') left = true;
      else if (format[j] == L'0') fill = L'0';
      else if (format[j] == L'+') plus = true;
      else if (format[j] == L' ' || format[j] == L'#') continue;
      else break;
    }
    size_t width = 0;
    for (; j < format.size() && format[j] >= L'0' && format[j] <= L'9'; ++j) width = width * 10 + (format[j] - L'0');
    bool hasPrecision = false;
    size_t precision = 0;
    if (j < format.size() && format[j] == L'.') {
      hasPrecision = true;
      for (++j; j < format.size() && format[j] >= L'0' && format[j] <= L'9'; ++j)
        precision = precision * 10 + (format[j] - L'0');
    }
    // Length modifiers carry no meaning here: the argument knows its type.
    while (j < format.size() && (format[j] == L'l' || format[j] == L'h' || format[j] == L'I' ||
                                 format[j] == L'6' || format[j] == L'4' || format[j] == L'z'))
      ++j;
    if (j >= format.size()) {
      out.append(format.substr(i));
      break;
    }
    wchar_t conv = format[j];
    i = j;
    if (next >= count) continue;  // missing argument: write nothing for it
    const FormatArg& a = args[next++];
    std::wstring body;
    switch (conv) {
      case L's':
      case L'S':
        if (a.kind == FormatArg::kText) {
          body.assign(a.text);
          if (hasPrecision && body.size() > precision) body.resize(precision);
        } else if (a.kind == FormatArg::kSigned) {
          body = std::to_wstring(a.s);
        } else {
          body = std::to_wstring(a.u);
        }
        Pad(out, body, width, left, L' ');
        break;
      case L'c':
        body.assign(1, a.kind == FormatArg::kText ? (a.text.empty() ? L' ' : a.text[0])
                                                  : static_cast<wchar_t>(a.kind == FormatArg::kSigned ? a.s : a.u));
        Pad(out, body, width, left, L' ');
        break;
      case L'd':
      case L'i':
      case L'u':
      case L'x':
      case L'X': {
        if (a.kind == FormatArg::kText) {
          body.assign(a.text);
        } else if (a.kind == FormatArg::kFloat) {
          body = std::to_wstring(static_cast<int64_t>(a.f));
        } else {
          bool neg = false;
          uint64_t mag;
          if (a.kind == FormatArg::kSigned) {
            // %u and %x of a negative value show its 32-bit pattern, as printf would.
            if (conv == L'd' || conv == L'i') {
              neg = a.s < 0;
              mag = neg ? uint64_t(0) - uint64_t(a.s) : uint64_t(a.s);
            } else {
              mag = a.s < 0 && a.s >= INT32_MIN ? uint64_t(uint32_t(a.s)) : uint64_t(a.s);
            }
          } else {
            mag = a.u;
          }
          unsigned base = (conv == L'x' || conv == L'X') ? 16 : 10;
          body = Digits(mag, base, conv == L'X');
          if (hasPrecision && body.size() < precision) body.insert(0, precision - body.size(), L'0');
          if (neg) body.insert(0, 1, L'-');
          else if (plus && (conv == L'd' || conv == L'i')) body.insert(0, 1, L'+');
        }
        Pad(out, body, width, left, hasPrecision ? L' ' : fill);
        break;
      }
      case L'f':
      case L'g': {
        double v = a.kind == FormatArg::kFloat ? a.f : a.kind == FormatArg::kSigned ? double(a.s) : double(a.u);
        wchar_t buf[64];
        swprintf(buf, 64, conv == L'f' ? L"%.*f" : L"%.*g", int(hasPrecision ? precision : 6), v);
        Pad(out, buf, width, left, fill);
        break;
      }
      default:
        out += L'%';
        out += conv;
        --next;
        break;
    }
  }
  return out;
}

std::string ToUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::wstring FromUtf8(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    unsigned char c = text[i];
    uint32_t cp;
    size_t len;
    if (c < 0x80) { cp = c; len = 1; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; len = 2; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; len = 3; }
    else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; len = 4; }
    else { out += L'\xFFFD'; ++i; continue; }
    if (i + len > text.size()) { out += L'\xFFFD'; break; }
    bool ok = true;
    for (size_t k = 1; k < len; ++k) {
      unsigned char t = text[i + k];
      if ((t & 0xC0) != 0x80) { ok = false; break; }
      cp = (cp << 6) | (t & 0x3F);
    }
    if (!ok) { out += L'\xFFFD'; ++i; continue; }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += wchar_t(0xD800 + (cp >> 10));
      out += wchar_t(0xDC00 + (cp & 0x3FF));
    } else {
      out += wchar_t(cp);
    }
  }
  return out;
}

}  // namespace orvo
