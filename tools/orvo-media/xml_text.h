// Just enough XML for the media documents: escaping for the writer, and a
// small non-validating reader that keeps each element's place in the text,
// so a document can be edited by splicing without rewriting the rest.
#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace orvo::media {

// UTF-8 to the platform's wide text (UTF-16 or UTF-32); bad bytes become U+FFFD.
std::wstring WidenUtf8(const std::string& text);

// Text for element content and for attribute values in double quotes.
std::string EscapeXml(const std::string& text);

struct XmlElement {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;  // decoded values
  std::vector<std::unique_ptr<XmlElement>> children;
  std::string text;  // the element's own character data, decoded, concatenated
  unsigned line = 0;
  size_t begin = 0;         // offset of "<name"
  size_t contentBegin = 0;  // just after the start tag (== end for "<name/>")
  size_t contentEnd = 0;    // offset of "</name>" (== end for "<name/>")
  size_t end = 0;           // just after the element
  bool selfClosing = false;

  const std::string* Attribute(const std::string& attribute) const;
  const XmlElement* Child(const std::string& child) const;
};

struct XmlDocument {
  std::string text;  // UTF-8, as parsed; offsets point into it
  bool utf16 = false;  // the file was UTF-16 (little endian) and is written back so
  std::unique_ptr<XmlElement> root;
};

// Parses UTF-8 (with or without BOM) or UTF-16 with BOM. False with
// "line N: why" when the text is not well-formed.
bool ParseXml(const std::string& bytes, XmlDocument* document, std::string* error);

// The bytes to write for `utf8Text` in the document's own encoding.
std::string EncodeLike(const XmlDocument& document, const std::string& utf8Text);

}  // namespace orvo::media
