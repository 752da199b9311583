// How reference documents are matched as the file system would: folders
// and file names without regard to case and after the trailing dots and
// spaces the system drops, product codes as whole entries of a "ref".
#pragma once
#include <string>

#include "documents/text_lists.h"
#include "documents/xml_document.h"

namespace orvo {

// The product codes of a "ref" (codes written one after the other, each in
// braces); text outside braces stays one entry of its own.
TextList ProductCodes(const std::wstring& refs);
bool HasProductCode(const std::wstring& refs, const std::wstring& productCode);
std::wstring WithoutProductCode(const std::wstring& refs, const std::wstring& productCode);

// The child element with the tag whose path attribute names the same path.
DomElement* FindPathChild(const DomNode* parent, const std::wstring& tag, const std::wstring& attribute,
                          const std::wstring& path);

// Folds ExtractionPath, SubDirectory and File elements that name one folder
// or file into the first of them, their references joined, so that no file
// has two reference lists. True when anything changed.
bool MergeSamePathEntries(DomElement* root);

}  // namespace orvo
