// Cabinet reference documents: which cabinet put which file into which
// folder, and which products hold a reference to each file. The operations
// work on the elements that the deployment state keeps for the running
// extraction.
#pragma once
#include <string>

#include "documents/xml_document.h"

namespace orvo {

// Finds or creates the Cabinet and ExtractionPath elements for the cabinet
// and the deployment state's targetFolder, and keeps the latter as
// extractionPathElement. False for a document without a root.
bool LocateExtractionPath(DomDocument* document, const std::wstring& cabinet);
// Clears the deployment state's elements and everything kept about the
// document they point into; before that document goes.
void ForgetExtractionElements();
// Finds or creates the SubDirectory element of a folder relative to the
// extraction folder ("" and "\" both mean the extraction folder itself).
void LocateSubDirectory(const std::wstring& relativeFolder);
// Whether the file may be written; records it in the current document.
bool DecideFileCopy(const std::wstring& filePath);
// True when the element records no hash, or the recorded hash is the file's.
bool FileHashMatches(const DomElement* file, const std::wstring& filePath);
// The installer's file hash in the documents' text form ("%u;%u;%u;%u;");
// empty when the file cannot be hashed.
std::wstring FileHashText(const std::wstring& filePath);

}  // namespace orvo
