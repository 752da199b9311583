#include "documents/xml_document.h"

#include <windows.h>
#include <io.h>

#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cwchar>
#include <memory>

#include "action/frame.h"
#include "action/install_log.h"
#include "action/installer_session.h"
#include "action/wformat.h"
#include "documents/document_files.h"
#include "documents/linked_folders.h"
#include "documents/paths.h"
#include "documents/text_lists.h"

namespace orvo {

using xercesc::XMLUni;

namespace {

// Process-wide state: the schema flag, the schemas already provided and the
// expected sequence number.
bool g_schemaUnresolved = false;
std::vector<std::wstring> g_providedSchemas;
long long g_expectedSequence = -1;

const wchar_t kChangedKey[] = L"orvo-changed";
int g_changedMark = 1;  // any non-null user data means "changed"

void PrintOut(const std::wstring& text) {
  std::fputs(ToUtf8(text).c_str(), stdout);
  std::fflush(stdout);
}

std::wstring Text(const XMLCh* text) { return text ? std::wstring(text) : std::wstring(); }

std::wstring ErrorText(unsigned long code) {
  std::wstring text = SystemErrorText(code);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
  return text;
}

// The platform is initialized once for the life of the module and never
// terminated: termination would have to run under the loader lock at
// unload, and a fresh image initializes its own copy again.
bool PlatformReady() {
  static bool ready = false;
  if (ready) return true;
  try {
    xercesc::XMLPlatformUtils::Initialize("en_US");
    ready = true;
  } catch (const xercesc::XMLException& e) {
    PrintOut(Text(e.getMessage()) + L"\n");
  } catch (...) {
    PrintOut(L"XML platform could not be initialized\n");
  }
  return ready;
}

xercesc::DOMImplementationLS* LsImplementation() {
  static const XMLCh kLs[] = {'L', 'S', 0};
  return dynamic_cast<xercesc::DOMImplementationLS*>(
      xercesc::DOMImplementationRegistry::getDOMImplementation(kLs));
}

const wchar_t kWhiteSpace[] = L" \t\r\n";

std::wstring Trim(const std::wstring& text) {
  size_t first = text.find_first_not_of(kWhiteSpace);
  if (first == std::wstring::npos) return std::wstring();
  size_t last = text.find_last_not_of(kWhiteSpace);
  return text.substr(first, last - first + 1);
}

bool IsTextNode(const DomNode* node) {
  auto type = node->getNodeType();
  return type == DomNode::TEXT_NODE || type == DomNode::CDATA_SECTION_NODE;
}

// Decimal text as the C library reads it: leading white space and a sign,
// up to the first non-digit, 0 without digits.
long long SequenceValue(const std::wstring& text) { return std::wcstoll(text.c_str(), nullptr, 10); }

// A schema or DTD that had to be fetched over the network could not be.
// The parser's message names no exception type, so its network texts are
// recognised, together with the older form that carried the type.
bool IsUnreachableGrammar(const std::wstring& message) {
  auto has = [&](const wchar_t* part) { return message.find(part) != std::wstring::npos; };
  bool hostUnknown = has(L"unable to resolve host/address") || (has(L"The host/address") && has(L"could not be resolved"));
  bool network = has(L"Type:NetAccessorException") || hostUnknown || has(L"socket for URL") ||
                 has(L"unable to open file 'http:");
  return network && (has(L".xsd") || has(L".dtd") || hostUnknown);
}

// The indentation of a saved document is the writer's own every time: the
// white space between elements read back from the previous save (or from a
// hand-edited file) would otherwise be written again beside it, and blank
// lines would pile up where elements were removed.
void DropLayoutWhiteSpace(DomNode* top) {
  std::vector<DomNode*> pending{top};
  while (!pending.empty()) {
    DomNode* node = pending.back();
    pending.pop_back();
    bool hasElements = false;
    for (DomNode* child = node->getFirstChild(); child; child = child->getNextSibling())
      hasElements = hasElements || child->getNodeType() == DomNode::ELEMENT_NODE;
    if (!hasElements) continue;
    for (DomNode* child = node->getFirstChild(); child;) {
      DomNode* next = child->getNextSibling();
      if (child->getNodeType() == DomNode::TEXT_NODE && Trim(Text(child->getNodeValue())).empty())
        node->removeChild(child);
      else if (child->getNodeType() == DomNode::ELEMENT_NODE)
        pending.push_back(child);
      child = next;
    }
  }
}

bool IsUtf16(const std::wstring& encoding) {
  return _wcsicmp(encoding.c_str(), L"UTF-16") == 0 || _wcsicmp(encoding.c_str(), L"UTF-16LE") == 0;
}

struct SerializerRelease {
  void operator()(xercesc::DOMLSSerializer* s) const { s->release(); }
};
struct OutputRelease {
  void operator()(xercesc::DOMLSOutput* o) const { o->release(); }
};

}  // namespace

const FeatureList& FullValidation() {
  static const FeatureList features = {
      XMLUni::fgDOMValidate,
      XMLUni::fgDOMNamespaces,
      XMLUni::fgXercesSchema,
      XMLUni::fgDOMDatatypeNormalization,
      XMLUni::fgDOMValidateIfSchema,
      XMLUni::fgXercesSchemaFullChecking,
  };
  return features;
}

bool SchemaUnresolved() { return g_schemaUnresolved; }

bool IsChanged(const DomDocument* document) {
  return document && const_cast<DomDocument*>(document)->getUserData(kChangedKey) != nullptr;
}

// No document of the library nests anywhere near this deep; a deeper one
// is refused on loading, so that copying and saving (the serializer walks
// the tree recursively) stay within the stack.
constexpr size_t kMaxElementDepth = 128;

static bool DeeperThanLimit(const DomNode* top) {
  std::vector<std::pair<const DomNode*, size_t>> pending{{top, 0}};
  while (!pending.empty()) {
    auto [node, depth] = pending.back();
    pending.pop_back();
    if (depth > kMaxElementDepth) return true;
    for (DomNode* child = node->getFirstChild(); child; child = child->getNextSibling()) {
      if (child->getNodeType() == DomNode::ELEMENT_NODE) pending.push_back({child, depth + 1});
    }
  }
  return false;
}

void MarkChanged(DomDocument* document, bool changed) {
  if (document) document->setUserData(kChangedKey, changed ? &g_changedMark : nullptr, nullptr);
}

// --- DomErrorHandler ---

bool DomErrorHandler::handleError(const xercesc::DOMError& error) {
  const xercesc::DOMLocator* location = error.getLocation();
  const DomNode* node = location ? location->getRelatedNode() : nullptr;
  long long line = location ? static_cast<long long>(location->getLineNumber()) : 0;
  std::wstring nodeText = node ? Format(L", node %s", Text(node->getNodeName())) : std::wstring();
  const wchar_t* severity = L"FATAL ERROR";
  switch (error.getSeverity()) {
    case xercesc::DOMError::DOM_SEVERITY_WARNING:
      severity = L"WARNING";
      break;
    case xercesc::DOMError::DOM_SEVERITY_ERROR:
      severity = L"ERROR";
      break;
    default:
      break;
  }
  lastMessage_ = Format(L"%s on line %d%s\n%s", severity, line, nodeText, Text(error.getMessage()));
  failed_ = error.getSeverity() != xercesc::DOMError::DOM_SEVERITY_WARNING;
  return !failed_;
}

// --- XmlDocument ---

XmlDocument::XmlDocument() { initialized_ = PlatformReady(); }

XmlDocument::~XmlDocument() {
  if (!initialized_) return;
  document_ = nullptr;
  if (parser_) parser_->release();
  delete errorHandler_;
}

std::wstring XmlDocument::LastError() const { return errorHandler_ ? errorHandler_->lastMessage() : std::wstring(); }

DomDocument* XmlDocument::Load(const std::wstring& path, const FeatureList& features) {
  if (!initialized_) return nullptr;
  path_ = path;
  document_ = nullptr;
  // A second load starts over; the first one's documents go with its parser.
  if (parser_) {
    parser_->release();
    parser_ = nullptr;
  }
  delete errorHandler_;
  errorHandler_ = nullptr;

  try {
    xercesc::DOMImplementationLS* implementation = LsImplementation();
    if (!implementation) return nullptr;
    parser_ = implementation->createLSParser(xercesc::DOMImplementationLS::MODE_SYNCHRONOUS, nullptr);
    errorHandler_ = new DomErrorHandler();
    xercesc::DOMConfiguration* config = parser_->getDomConfig();
    config->setParameter(XMLUni::fgDOMErrorHandler, static_cast<xercesc::DOMErrorHandler*>(errorHandler_));
    for (const std::wstring& feature : features) {
      if (config->canSetParameter(feature.c_str(), true)) config->setParameter(feature.c_str(), true);
    }
    // No document type, so no entity the elevated process would open
    // (file, share or web), in any document, whatever the caller asks.
    if (config->canSetParameter(XMLUni::fgDOMDisallowDoctype, true))
      config->setParameter(XMLUni::fgDOMDisallowDoctype, true);
    if (config->canSetParameter(XMLUni::fgXercesLoadExternalDTD, false))
      config->setParameter(XMLUni::fgXercesLoadExternalDTD, false);
    // Entities defined in terms of each other would otherwise multiply a
    // small hostile file (the index is writable by every user) until the
    // process runs out of memory; past the limit the parse fails.
    static xercesc::SecurityManager limits;
    config->setParameter(XMLUni::fgXercesSecurityManager, static_cast<void*>(&limits));

    for (int attempt = 0; attempt < 2; ++attempt) {
      if (g_schemaUnresolved && config->canSetParameter(XMLUni::fgXercesSchema, false))
        config->setParameter(XMLUni::fgXercesSchema, false);
      errorHandler_->ClearFailed();
      parser_->resetDocumentPool();
      DomDocument* parsed = parser_->parseURI(path.c_str());
      if (parsed && !errorHandler_->failed() && DeeperThanLimit(parsed)) {
        PrintOut(Format(L"%s nests deeper than %d elements: refused\n", path, int(kMaxElementDepth)));
        return nullptr;
      }
      if (parsed && !errorHandler_->failed()) {
        MarkChanged(parsed, false);
        document_ = parsed;
        return parsed;
      }
      if (!IsUnreachableGrammar(errorHandler_->lastMessage())) return nullptr;
      g_schemaUnresolved = true;
    }
  } catch (const xercesc::XMLException& e) {
    PrintOut(Format(L"Exception message is: \n%s\n", Text(e.getMessage())));
  } catch (const xercesc::DOMException& e) {
    PrintOut(Format(L"Exception message is: \n%s\n", Text(e.getMessage())));
  } catch (...) {
  }
  return nullptr;
}

bool XmlDocument::Save(const std::wstring& encoding, const std::wstring& lineEnd) {
  if (!initialized_ || !document_ || path_.empty()) return false;
  if (DeeperThanLimit(document_)) return false;
  // Written as LocalSystem into folders users may own: never through a link.
  if (!LinkOnTheWay(path_).empty()) {
    PrintOut(Format(L"%s is reached through a link: not written\n", path_));
    return false;
  }
  const wchar_t* target = path_.c_str();
  if (_waccess(target, 6) != 0) {
    SetFileAttributesW(target, FILE_ATTRIBUTE_NORMAL);
    if (_waccess(target, 6) != 0) {
      PrintOut(Format(L"%s is is not writable\n", path_));
      return false;
    }
  }

  // The whole document goes to a file beside the target; the target is
  // replaced only when that file is complete.
  PendingFile pending(path_);
  if (!pending.Open()) {
    PrintOut(Format(L"%s could not be written: %s\n", path_, ErrorText(pending.error())));
    return false;
  }
  bool written = false;
  try {
    xercesc::DOMImplementationLS* implementation = LsImplementation();
    if (!implementation) return false;
    std::unique_ptr<xercesc::DOMLSSerializer, SerializerRelease> writer(implementation->createLSSerializer());
    xercesc::DOMConfiguration* config = writer->getDomConfig();
    for (const XMLCh* feature :
         {XMLUni::fgDOMWRTBOM, XMLUni::fgDOMWRTFormatPrettyPrint, XMLUni::fgDOMWRTDiscardDefaultContent}) {
      if (config->canSetParameter(feature, true)) config->setParameter(feature, true);
    }
    // No blank lines around the root's children.
    if (config->canSetParameter(XMLUni::fgDOMWRTXercesPrettyPrint, false))
      config->setParameter(XMLUni::fgDOMWRTXercesPrettyPrint, false);
    DropLayoutWhiteSpace(document_);
    if (!lineEnd.empty()) writer->setNewLine(lineEnd.c_str());
    std::unique_ptr<xercesc::DOMLSOutput, OutputRelease> output(implementation->createLSOutput());
    if (!encoding.empty()) output->setEncoding(encoding.c_str());
    if (lineEnd == L"\r\n" && IsUtf16(encoding)) pending.EndLinesWithCrLf();
    output->setByteStream(&pending);
    written = writer->write(document_, output.get());
  } catch (const xercesc::XMLException& e) {
    PrintOut(Format(L"Exception message is: \n%s\n", Text(e.getMessage())));
    return false;
  } catch (const xercesc::DOMException& e) {
    PrintOut(Format(L"Exception message is: \n%s\n", Text(e.getMessage())));
    return false;
  } catch (...) {
    PrintOut(L"Unexpected Exception \n");
    return false;
  }
  if (!written || !pending.Finish()) {
    PrintOut(Format(L"%s could not be written: %s\n", path_,
                    pending.error() ? ErrorText(pending.error()) : std::wstring(L"serialization failed")));
    return false;
  }
  SetFileAttributesW(target, FILE_ATTRIBUTE_NORMAL);
  if (!pending.Commit()) {
    PrintOut(Format(L"%s could not be replaced: %s\n", path_, ErrorText(pending.error())));
    return false;
  }
  return true;
}

// --- logged load ---

void WriteToInstallLog(const std::wstring& text) { InstallLog::Write(L"%s", text); }

bool LoadDocument(XmlDocument& document, const std::wstring& path, DomDocument*& result, const DocumentLog& log) {
  auto emit = [&](const std::wstring& text) {
    if (log)
      log(text);
    else
      PrintOut(text + L"\n");
  };
  if (!IsExistingFile(path)) {
    emit(Format(L"   !=> File not avaliable to parse: %s", path));
    result = nullptr;
    return false;
  }
  result = document.Load(path, FullValidation());
  if (result) {
    if (g_schemaUnresolved) emit(Format(L" !=> Unresolved Schema! Schema validation disabled when loading %s", path));
    return true;
  }
  emit(Format(L" !=> Failed to load %s", path));
  emit(Format(L"     > %s", document.LastError()));
  return false;
}

// --- embedded documents ---

bool WriteResourceFile(int resourceId, const std::wstring& path) {
  HMODULE module = CurrentResourceModule();
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(resourceId), L"XML_RESOURCE");
  if (!found) return false;
  HGLOBAL loaded = LoadResource(module, found);
  if (!loaded) return false;
  const void* bytes = LockResource(loaded);
  DWORD size = SizeofResource(module, found);
  if (!bytes || size == 0) return false;
  std::wstring folder = ParentFolder(path);
  if (!folder.empty() && !IsFolder(folder)) EnsureFolder(folder);
  // Written whole beside the target, so no half file ever stands at the path.
  PendingFile pending(path);
  if (!pending.Open()) return false;
  pending.Append(bytes, size);
  return pending.Finish() && pending.Commit();
}

void ProvideReferenceSchema(const std::wstring& documentPath) {
  // Users own the folders of their documents: nothing goes through a link.
  if (!LinkOnTheWay(documentPath).empty()) return;
  if (!IsExistingFile(documentPath)) WriteResourceFile(kEmptyReferenceDocument, documentPath);
  std::wstring schema = CombinePath(ParentFolder(documentPath), L"orvo_ref.xsd");
  if (std::find(g_providedSchemas.begin(), g_providedSchemas.end(), schema) != g_providedSchemas.end()) return;
  WriteResourceFile(kReferenceSchema, schema);
  g_providedSchemas.push_back(schema);
}

// --- element operations ---

std::vector<DomElement*> ElementsBelow(const DomElement* element, const wchar_t* tag) {
  std::vector<DomElement*> found;
  if (!element) return found;
  DomNodeList* list = element->getElementsByTagName(tag);
  for (XMLSize_t i = 0; i < list->getLength(); ++i) found.push_back(static_cast<DomElement*>(list->item(i)));
  return found;
}

DomElement* FirstChildElement(const DomNode* parent, const std::wstring& tag) {
  if (!parent) return nullptr;
  for (DomNode* child = parent->getFirstChild(); child; child = child->getNextSibling()) {
    if (child->getNodeType() == DomNode::ELEMENT_NODE && tag == Text(child->getNodeName()))
      return static_cast<DomElement*>(child);
  }
  return nullptr;
}

DomElement* FindChildElement(const DomNode* parent, const std::wstring& tag, const std::wstring& attribute,
                             const std::wstring& value) {
  if (!parent) return nullptr;
  for (DomNode* child = parent->getFirstChild(); child; child = child->getNextSibling()) {
    if (child->getNodeType() != DomNode::ELEMENT_NODE || tag != Text(child->getNodeName())) continue;
    auto* element = static_cast<DomElement*>(child);
    const xercesc::DOMAttr* found = element->getAttributeNode(attribute.c_str());
    if (found && value == Text(found->getValue())) return element;
  }
  return nullptr;
}

std::wstring ElementText(const DomNode* element) {
  if (!element) return std::wstring();
  for (DomNode* child = element->getFirstChild(); child; child = child->getNextSibling()) {
    if (!IsTextNode(child)) continue;
    std::wstring trimmed = Trim(Text(child->getNodeValue()));
    if (!trimmed.empty()) return trimmed;
  }
  return std::wstring();
}

bool SetElementText(DomElement* element, const std::wstring& text) {
  if (!element) return true;
  DomNode* lastText = nullptr;
  bool replaced = false;
  for (DomNode* child = element->getFirstChild(); child; child = child->getNextSibling()) {
    if (!IsTextNode(child)) continue;
    lastText = child;
    std::wstring value = Text(child->getNodeValue());
    std::wstring trimmed = Trim(value);
    if (trimmed.empty()) {
      child->setNodeValue(L"");
      continue;
    }
    size_t at = value.find(trimmed);
    value.replace(at, trimmed.size(), text);
    child->setNodeValue(value.c_str());
    replaced = true;
  }
  if (!replaced) {
    if (lastText)
      lastText->setNodeValue(text.c_str());
    else
      element->setTextContent(text.c_str());
  }
  return true;
}

std::wstring ChildText(const DomNode* parent, const std::wstring& tag) {
  DomElement* child = FirstChildElement(parent, tag);
  return child ? ElementText(child) : std::wstring();
}

DomElement* SetChildText(DomElement* parent, const std::wstring& tag, const std::wstring& text) {
  if (!parent) return nullptr;
  DomElement* child = FirstChildElement(parent, tag);
  if (!child) {
    child = parent->getOwnerDocument()->createElement(tag.c_str());
    parent->appendChild(child);
  }
  SetElementText(child, text);
  return child;
}

DomElement* SelectElement(const DomElement* start, const std::wstring& path) {
  if (!start) return nullptr;
  std::wstring rest = path;
  rest.erase(0, rest.find_first_not_of(L'/') == std::wstring::npos ? rest.size() : rest.find_first_not_of(L'/'));
  std::wstring step = rest.substr(0, rest.find(L'/'));
  if (step.empty()) return nullptr;
  const DomElement* current = start;
  while (!step.empty()) {
    current = FirstChildElement(current, step);
    if (!current) return nullptr;
    rest.erase(0, std::min(rest.size(), step.size() + 1));
    step = rest.substr(0, rest.find(L'/'));
  }
  return const_cast<DomElement*>(current);
}

DomElement* CopyElement(DomDocument* target, const DomElement* element) {
  if (!target || !element || DeeperThanLimit(element)) return nullptr;
  DomElement* copy = target->createElement(element->getTagName());
  std::wstring text = ElementText(element);
  if (!text.empty()) copy->setTextContent(text.c_str());
  const xercesc::DOMNamedNodeMap* attributes = element->getAttributes();
  for (XMLSize_t i = 0; attributes && i < attributes->getLength(); ++i) {
    const DomNode* attribute = attributes->item(i);
    copy->setAttribute(attribute->getNodeName(), attribute->getNodeValue());
  }
  for (DomNode* child = element->getFirstChild(); child; child = child->getNextSibling()) {
    if (child->getNodeType() == DomNode::ELEMENT_NODE)
      copy->appendChild(CopyElement(target, static_cast<const DomElement*>(child)));
  }
  return copy;
}

DomElement* NextInSequence(const DomNodeList* list, bool restart) {
  // Kept as wide as the values read, so a number beyond int is passed
  // once and never again; nothing lies beyond the largest.
  long long previous = restart ? -1 : g_expectedSequence;
  if (previous == LLONG_MAX) return nullptr;
  long long expected = previous + 1;
  if (!list) {
    g_expectedSequence = expected;
    return nullptr;
  }
  // One pass finds the expected number or, across a gap, the smallest
  // larger one: the same answer as counting up one by one.
  DomElement* match = nullptr;
  long long best = LLONG_MAX;
  for (XMLSize_t i = 0; i < list->getLength(); ++i) {
    DomNode* node = list->item(i);
    if (!node || node->getNodeType() != DomNode::ELEMENT_NODE) continue;
    auto* element = static_cast<DomElement*>(node);
    const xercesc::DOMAttr* attribute = element->getAttributeNode(L"Sequence");
    if (!attribute) continue;
    long long value = SequenceValue(Text(attribute->getValue()));
    if (value >= expected && (!match || value < best)) {
      best = value;
      match = element;
    }
  }
  if (!match) {
    g_expectedSequence = expected;
    return nullptr;
  }
  g_expectedSequence = best;
  return match;
}

void MarkIdAttribute(DomDocument* document, const std::wstring& tag, const std::wstring& attribute) {
  if (!document) return;
  DomNodeList* elements = document->getElementsByTagName(tag.c_str());
  for (XMLSize_t i = 0; elements && i < elements->getLength(); ++i) {
    auto* element = static_cast<DomElement*>(elements->item(i));
    if (element->hasAttribute(attribute.c_str())) element->setIdAttribute(attribute.c_str(), true);
  }
}

std::wstring AttributeText(const DomElement* element, const std::wstring& name) {
  return element ? Text(element->getAttribute(name.c_str())) : std::wstring();
}

}  // namespace orvo
