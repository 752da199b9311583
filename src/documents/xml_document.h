// The one wrapper through which the library reads, validates, edits and
// writes its XML documents, and the small element operations the rest of
// the library uses instead of raw DOM calls. XMLCh is wchar_t in this build,
// so std::wstring and the DOM's strings interoperate directly.
#pragma once
#include <xercesc/dom/DOM.hpp>

#include <functional>
#include <string>
#include <vector>

namespace orvo {

using DomDocument = xercesc::DOMDocument;
using DomElement = xercesc::DOMElement;
using DomNode = xercesc::DOMNode;
using DomNodeList = xercesc::DOMNodeList;

// Parser feature names, set to true in the order given.
using FeatureList = std::vector<std::wstring>;
// Validation, namespaces, schema processing, datatype normalization,
// validate-if-schema, full schema checking.
const FeatureList& FullValidation();

// The embedded documents (resources of type "XML_RESOURCE").
enum XmlResource : int {
  kEmptyReferenceDocument = 5000,
  kReferenceSchema = 5001,
  kEmptyAppIndex = 6002,
  kAppIndexSchema = 6004,
};

// Receives the parser's problems; keeps the text of the latest one.
class DomErrorHandler : public xercesc::DOMErrorHandler {
 public:
  DomErrorHandler() = default;
  ~DomErrorHandler() override = default;
  // "ERROR on line 12, node Cabinet\n<parser text>"; true (go on) only
  // for a warning.
  bool handleError(const xercesc::DOMError& error) override;

  const std::wstring& lastMessage() const { return lastMessage_; }
  bool failed() const { return failed_; }
  void ClearFailed() { failed_ = false; }

 private:
  std::wstring lastMessage_;
  bool failed_ = false;
};

// Set once a schema or DTD could not be fetched; from then on every load in
// the process runs without schema processing.
bool SchemaUnresolved();

// The changed mark every loaded document carries (cleared by Load).
bool IsChanged(const DomDocument* document);
void MarkChanged(DomDocument* document, bool changed = true);

class XmlDocument {
 public:
  XmlDocument();
  ~XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // The parsed document, or nullptr; it and its nodes live as long as this
  // object. No features: the parser's defaults (no validation).
  DomDocument* Load(const std::wstring& path, const FeatureList& features = FeatureList());
  // The handler's latest message; empty before any load.
  std::wstring LastError() const;
  // Rewrites the file the document was loaded from (only a file that
  // exists; read-only is cleared). The whole document is written beside
  // it first and replaces it only when complete, so a failure leaves the
  // old file as it was. False when nothing was loaded. The white space
  // between elements is dropped from the document: the writer indents anew,
  // and with "UTF-16" and CR LF every line of the file ends with CR LF.
  bool Save(const std::wstring& encoding = L"UTF-16", const std::wstring& lineEnd = L"\r\n");

  bool initialized() const { return initialized_; }
  DomDocument* document() const { return document_; }
  DomElement* root() const { return document_ ? document_->getDocumentElement() : nullptr; }
  const std::wstring& path() const { return path_; }
  bool changed() const { return IsChanged(document_); }
  void SetChanged(bool changed = true) { MarkChanged(document_, changed); }

 private:
  bool initialized_ = false;
  xercesc::DOMLSParser* parser_ = nullptr;
  DomDocument* document_ = nullptr;
  DomErrorHandler* errorHandler_ = nullptr;
  std::wstring path_;
};

// Receives each formatted line of LoadDocument; none: standard output.
using DocumentLog = std::function<void(const std::wstring& text)>;
// A DocumentLog that writes one record of the running action's log.
void WriteToInstallLog(const std::wstring& text);

// Loads with full validation and logs why it could not.
bool LoadDocument(XmlDocument& document, const std::wstring& path, DomDocument*& result,
                  const DocumentLog& log = DocumentLog());

// Writes an embedded document byte for byte, creating the folder.
bool WriteResourceFile(int resourceId, const std::wstring& path);
// The empty reference document if it is missing, and "orvo_ref.xsd" beside
// it once per folder and process.
void ProvideReferenceSchema(const std::wstring& documentPath);

// Element operations; names compare exactly.
DomElement* FirstChildElement(const DomNode* parent, const std::wstring& tag);
// All elements of that name at any depth below the element, in document
// order; none for a null element.
std::vector<DomElement*> ElementsBelow(const DomElement* element, const wchar_t* tag);
DomElement* FindChildElement(const DomNode* parent, const std::wstring& tag, const std::wstring& attribute,
                             const std::wstring& value);
// The first non-empty text or CDATA child, trimmed.
std::wstring ElementText(const DomNode* element);
// Replaces the text and keeps the white space around it.
bool SetElementText(DomElement* element, const std::wstring& text);
std::wstring ChildText(const DomNode* parent, const std::wstring& tag);
// Creates the child (appended last) when missing; returns it.
DomElement* SetChildText(DomElement* parent, const std::wstring& tag, const std::wstring& text);
// "A/B", leading slashes ignored; nullptr for a missing step or no step.
DomElement* SelectElement(const DomElement* start, const std::wstring& path);
// A deep copy of elements, attributes and trimmed text; not attached.
DomElement* CopyElement(DomDocument* target, const DomElement* element);
// The next element by its "Sequence" attribute; the expected number is
// process-wide. Restart yields the lowest Sequence of at least 0.
DomElement* NextInSequence(const DomNodeList* list, bool restart);
// Makes getElementById find elements of that tag by that attribute.
void MarkIdAttribute(DomDocument* document, const std::wstring& tag, const std::wstring& attribute);

// An attribute's value; empty when the element or the attribute is missing.
std::wstring AttributeText(const DomElement* element, const std::wstring& name);

}  // namespace orvo
