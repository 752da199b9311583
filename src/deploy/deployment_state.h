// The process-wide state that file deployment shares between installation,
// its message handler and the cabinet extractor. It lives as long as the
// library is loaded; nothing resets it between actions.
#pragma once
#include <string>

#include "documents/text_lists.h"
#include "documents/xml_document.h"

namespace orvo {

struct DeploymentState {
  // Product code of the installation, written into each file's "ref".
  std::wstring productCode;
  // Folder of the running extraction, with one trailing backslash.
  std::wstring targetFolder;
  // Elements of the reference document that the running extraction records
  // into; they point into a document that lives for one extraction.
  DomElement* extractionPathElement = nullptr;
  DomElement* subDirectoryElement = nullptr;
  // The current directory is shared: reference documents are left alone.
  bool suppressRefCounts = false;
  // Existing files of the current directory are never overwritten.
  bool noOverwrite = false;
  // The installation repairs files: changed files are written again.
  bool repairFiles = false;
  // Bytes written that did not yet make a whole progress tick.
  unsigned tickRemainder = 0;
  // Progress ticks sent so far.
  unsigned ticksAdded = 0;
  // The user cancelled. Set by a cancel answer anywhere in file deployment;
  // every later step stops at its next turn. Nothing clears it.
  bool abortRequested = false;
  // The product's folders as OrvoInit resolved them (hand-over field 5):
  // the only index folders taken as given.
  TextList productFolders;

  static DeploymentState& Instance() {
    static DeploymentState state;
    return state;
  }
};

}  // namespace orvo
