#include "xml_text.h"

#include <cstdint>

#include "action/utf8.h"

namespace orvo::media {
namespace {

constexpr unsigned kMaxDepth = 200;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsNameStart(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == '_' || u == ':' || u >= 0x80;
}
bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

// UTF-16 code units to UTF-8; false on an unpaired surrogate.
bool Utf16ToUtf8(const std::string& bytes, size_t start, bool bigEndian, std::string* out) {
  out->clear();
  for (size_t i = start; i + 1 < bytes.size(); i += 2) {
    auto unit = [&](size_t at) {
      uint8_t a = uint8_t(bytes[at]), b = uint8_t(bytes[at + 1]);
      return uint32_t(bigEndian ? (a << 8 | b) : (b << 8 | a));
    };
    uint32_t cp = unit(i);
    if (cp >= 0xD800 && cp < 0xDC00) {
      if (i + 3 >= bytes.size()) return false;
      uint32_t low = unit(i + 2);
      if (low < 0xDC00 || low >= 0xE000) return false;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    } else if (cp >= 0xDC00 && cp < 0xE000) {
      return false;
    }
    AppendUtf8(*out, cp);
  }
  return bytes.size() % 2 == start % 2;
}

// Offset of the first byte that is not part of valid UTF-8, or npos.
size_t InvalidUtf8At(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (len == 0 || (len == 2 && c < 0xC2) || i + len > text.size()) return i;
    for (size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return i;
    }
    i += len;
  }
  return std::string::npos;
}

class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) {}

  bool Document(std::unique_ptr<XmlElement>* root, std::string* error) {
    bool ok = Prolog() && Element(root, 0) && Epilog();
    if (!ok) *error = "line " + std::to_string(LineAt(failAt_)) + ": " + why_;
    return ok;
  }

 private:
  const std::string& text_;
  size_t pos_ = 0;
  size_t failAt_ = 0;
  std::string why_;
  size_t lineCountedTo_ = 0;
  unsigned line_ = 1;

  unsigned LineAt(size_t offset) {
    if (offset < lineCountedTo_) {
      lineCountedTo_ = 0;
      line_ = 1;
    }
    for (; lineCountedTo_ < offset && lineCountedTo_ < text_.size(); ++lineCountedTo_) line_ += text_[lineCountedTo_] == '\n';
    return line_;
  }

  bool Fail(const std::string& why, size_t at = std::string::npos) {
    failAt_ = at == std::string::npos ? pos_ : at;
    why_ = why;
    return false;
  }
  bool At(const char* s) const { return text_.compare(pos_, std::char_traits<char>::length(s), s) == 0; }
  bool AtEnd() const { return pos_ >= text_.size(); }
  void SkipSpace() {
    while (!AtEnd() && IsSpace(text_[pos_])) ++pos_;
  }

  bool Name(std::string* name) {
    size_t start = pos_;
    if (AtEnd() || !IsNameStart(text_[pos_])) return Fail("a name was expected");
    while (!AtEnd() && IsNameChar(text_[pos_])) ++pos_;
    *name = text_.substr(start, pos_ - start);
    return true;
  }

  // Skips past `close`, failing with `what` when it never comes.
  bool SkipPast(const char* close, const char* what) {
    size_t found = text_.find(close, pos_);
    if (found == std::string::npos) return Fail(std::string("unterminated ") + what);
    pos_ = found + std::char_traits<char>::length(close);
    return true;
  }

  bool Comment() {
    pos_ += 4;
    size_t found = text_.find("--", pos_);
    if (found == std::string::npos) return Fail("unterminated comment");
    if (text_.compare(found, 3, "-->") != 0) return Fail("\"--\" inside a comment", found);
    pos_ = found + 3;
    return true;
  }

  bool ProcessingInstruction() {
    size_t start = pos_;
    pos_ += 2;
    std::string target;
    if (!Name(&target)) return false;
    if (target.size() == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' && (target[2] | 0x20) == 'l') {
      return Fail("an XML declaration is allowed only at the very beginning", start);
    }
    return SkipPast("?>", "processing instruction");
  }

  bool Misc() {
    for (;;) {
      SkipSpace();
      if (At("<!--")) {
        if (!Comment()) return false;
      } else if (At("<?")) {
        if (!ProcessingInstruction()) return false;
      } else {
        return true;
      }
    }
  }

  bool Prolog() {
    if (At("<?xml") && pos_ + 5 < text_.size() && IsSpace(text_[pos_ + 5])) {
      if (!SkipPast("?>", "XML declaration")) return false;
    }
    if (!Misc()) return false;
    if (At("<!DOCTYPE")) return Fail("document type declarations are not supported");
    if (AtEnd()) return Fail("no root element");
    if (text_[pos_] != '<') return Fail("text before the root element");
    return true;
  }

  bool Epilog() {
    if (!Misc()) return false;
    if (!AtEnd()) return Fail("content after the root element");
    return true;
  }

  // A reference after '&': appends what it stands for.
  bool Reference(std::string* out) {
    size_t start = pos_;
    size_t semi = text_.find(';', pos_);
    if (semi == std::string::npos || semi - pos_ > 12) return Fail("'&' that starts no reference", start);
    std::string name = text_.substr(pos_ + 1, semi - pos_ - 1);
    pos_ = semi + 1;
    if (name == "lt") *out += '<';
    else if (name == "gt") *out += '>';
    else if (name == "amp") *out += '&';
    else if (name == "quot") *out += '"';
    else if (name == "apos") *out += '\'';
    else if (name.size() > 1 && name[0] == '#') {
      bool hex = name[1] == 'x';
      std::string digits = name.substr(hex ? 2 : 1);
      if (digits.empty()) return Fail("bad character reference &" + name + ";", start);
      uint32_t cp = 0;
      for (char c : digits) {
        int d = c >= '0' && c <= '9' ? c - '0' : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0) return Fail("bad character reference &" + name + ";", start);
        cp = cp * (hex ? 16 : 10) + uint32_t(d);
        if (cp > 0x10FFFF) return Fail("bad character reference &" + name + ";", start);
      }
      bool allowed = cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp < 0xD800) ||
                     (cp >= 0xE000 && cp < 0xFFFE) || cp >= 0x10000;
      if (!allowed) return Fail("character reference &" + name + "; is not a character", start);
      AppendUtf8(*out, cp);
    } else {
      return Fail("unknown entity &" + name + ";", start);
    }
    return true;
  }

  bool CheckChar(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 && c != '\t' && c != '\n' && c != '\r') return Fail("control character in the text");
    return true;
  }

  bool AttributeValue(std::string* value) {
    if (AtEnd() || (text_[pos_] != '"' && text_[pos_] != '\'')) return Fail("an attribute value in quotes was expected");
    char quote = text_[pos_++];
    for (;;) {
      if (AtEnd()) return Fail("unterminated attribute value");
      char c = text_[pos_];
      if (c == quote) {
        ++pos_;
        return true;
      }
      if (c == '<') return Fail("'<' in an attribute value");
      if (c == '&') {
        if (!Reference(value)) return false;
        continue;
      }
      if (!CheckChar(c)) return false;
      // White space in a value reads as a space.
      *value += IsSpace(c) ? ' ' : c;
      ++pos_;
    }
  }

  bool Element(std::unique_ptr<XmlElement>* out, unsigned depth) {
    if (depth > kMaxDepth) return Fail("elements nested too deeply");
    auto element = std::make_unique<XmlElement>();
    element->begin = pos_;
    element->line = LineAt(pos_);
    ++pos_;  // '<'
    if (!Name(&element->name)) return false;
    for (;;) {
      size_t beforeSpace = pos_;
      SkipSpace();
      if (At("/>")) {
        pos_ += 2;
        element->selfClosing = true;
        element->contentBegin = element->contentEnd = element->end = pos_;
        *out = std::move(element);
        return true;
      }
      if (At(">")) {
        ++pos_;
        break;
      }
      if (pos_ == beforeSpace) return Fail("'>' or white space was expected in the tag of " + element->name);
      size_t attributeAt = pos_;
      std::string name, value;
      if (!Name(&name)) return false;
      SkipSpace();
      if (!At("=")) return Fail("'=' was expected after attribute " + name);
      ++pos_;
      SkipSpace();
      if (!AttributeValue(&value)) return false;
      if (element->Attribute(name)) return Fail("attribute " + name + " given twice", attributeAt);
      element->attributes.emplace_back(std::move(name), std::move(value));
    }
    element->contentBegin = pos_;
    for (;;) {
      if (AtEnd()) return Fail("element " + element->name + " is not closed", element->begin);
      char c = text_[pos_];
      if (c == '<') {
        if (At("</")) {
          element->contentEnd = pos_;
          pos_ += 2;
          std::string name;
          if (!Name(&name)) return false;
          if (name != element->name) {
            return Fail("end tag </" + name + "> does not match <" + element->name + "> of line " +
                        std::to_string(element->line));
          }
          SkipSpace();
          if (!At(">")) return Fail("'>' was expected to end </" + name);
          element->end = ++pos_;
          *out = std::move(element);
          return true;
        }
        if (At("<!--")) {
          if (!Comment()) return false;
        } else if (At("<![CDATA[")) {
          size_t start = pos_ + 9;
          pos_ = start;
          if (!SkipPast("]]>", "CDATA section")) return false;
          element->text += text_.substr(start, pos_ - 3 - start);
        } else if (At("<?")) {
          if (!ProcessingInstruction()) return false;
        } else if (At("<!")) {
          return Fail("markup declarations are not supported here");
        } else {
          std::unique_ptr<XmlElement> child;
          if (!Element(&child, depth + 1)) return false;
          element->children.push_back(std::move(child));
        }
      } else if (c == '&') {
        if (!Reference(&element->text)) return false;
      } else {
        if (!CheckChar(c)) return false;
        if (At("]]>")) return Fail("\"]]>\" in text");
        element->text += c;
        ++pos_;
      }
    }
  }
};

}  // namespace

std::string EscapeXml(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      // Kept as written: a raw line break in an attribute would read as a space.
      case '\n': out += "&#10;"; break;
      case '\r': out += "&#13;"; break;
      case '\t': out += "&#9;"; break;
      default: out += c;
    }
  }
  return out;
}

std::wstring WidenUtf8(const std::string& text) {
  std::wstring out;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (len == 0 || i + len > text.size()) {
      out += L'\xFFFD';
      ++i;
      continue;
    }
    uint32_t cp = len == 1 ? c : c & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (uint8_t(text[i + k]) & 0x3F);
    if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
      out += wchar_t(0xD800 + ((cp - 0x10000) >> 10));
      out += wchar_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += wchar_t(cp);
    }
    i += len;
  }
  return out;
}

const std::string* XmlElement::Attribute(const std::string& attribute) const {
  for (const auto& [name, value] : attributes) {
    if (name == attribute) return &value;
  }
  return nullptr;
}

const XmlElement* XmlElement::Child(const std::string& child) const {
  for (const auto& c : children) {
    if (c->name == child) return c.get();
  }
  return nullptr;
}

bool ParseXml(const std::string& bytes, XmlDocument* document, std::string* error) {
  document->utf16 = false;
  document->root.reset();
  if (bytes.size() >= 2 && (uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE)) {
    document->utf16 = true;
    if (!Utf16ToUtf8(bytes, 2, false, &document->text)) {
      *error = "broken UTF-16 text";
      return false;
    }
  } else if (bytes.size() >= 2 && (uint8_t(bytes[0]) == 0xFE && uint8_t(bytes[1]) == 0xFF)) {
    document->utf16 = true;
    if (!Utf16ToUtf8(bytes, 2, true, &document->text)) {
      *error = "broken UTF-16 text";
      return false;
    }
  } else {
    bool bom = bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
    document->text = bom ? bytes.substr(3) : bytes;
    size_t bad = InvalidUtf8At(document->text);
    if (bad != std::string::npos) {
      unsigned line = 1;
      for (size_t i = 0; i < bad; ++i) line += document->text[i] == '\n';
      *error = "line " + std::to_string(line) + ": not UTF-8 text";
      return false;
    }
  }
  return Parser(document->text).Document(&document->root, error);
}

std::string EncodeLike(const XmlDocument& document, const std::string& utf8Text) {
  if (!document.utf16) return utf8Text;
  std::string out = "\xFF\xFE";
  for (size_t i = 0; i < utf8Text.size();) {
    unsigned char c = static_cast<unsigned char>(utf8Text[i]);
    size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 4;
    uint32_t cp = len == 1 ? c : c & (0x7F >> len);
    for (size_t k = 1; k < len && i + k < utf8Text.size(); ++k) cp = (cp << 6) | (uint8_t(utf8Text[i + k]) & 0x3F);
    i += len;
    auto put = [&](uint32_t unit) {
      out += char(unit & 0xFF);
      out += char(unit >> 8);
    };
    if (cp >= 0x10000) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}

}  // namespace orvo::media
