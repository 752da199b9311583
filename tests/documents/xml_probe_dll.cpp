// A DLL made of the library's objects, loaded and unloaded again and again
// by the load-cycle test the way the installer treats the real one.
#include <windows.h>

#include "documents/xml_document.h"
#include "documents/paths.h"

using namespace orvo;

// Adds one product to the index in the folder (created from the embedded
// documents on the first call) and returns how many it then holds, or a
// negative step number on failure.
extern "C" __declspec(dllexport) int XmlProbeAddProduct(const wchar_t* folder) {
  std::wstring index = std::wstring(folder) + L"appIndex.xml";
  if (!PathExists(index) && !WriteResourceFile(kEmptyAppIndex, index)) return -1;
  if (!WriteResourceFile(kAppIndexSchema, std::wstring(folder) + L"appIndex.xsd")) return -2;
  int count = 0;
  {
    XmlDocument document;
    DomDocument* dom = nullptr;
    if (!LoadDocument(document, index, dom, [](const std::wstring&) {})) return -3;
    DomElement* product = dom->createElement(L"Product");
    product->setAttribute(L"ProductCode", L"{P}");
    product->appendChild(dom->createElement(L"Properties"));
    product->appendChild(dom->createElement(L"Directories"));
    dom->getDocumentElement()->appendChild(product);
    if (!document.Save()) return -4;
  }
  XmlDocument reread;
  DomDocument* dom = nullptr;
  if (!LoadDocument(reread, index, dom, [](const std::wstring&) {})) return -5;
  for (DomNode* n = dom->getDocumentElement()->getFirstChild(); n; n = n->getNextSibling())
    if (n->getNodeType() == DomNode::ELEMENT_NODE) ++count;
  return count;
}
