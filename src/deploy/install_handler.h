// The message handler that file installation gives the cabinet extractor:
// it records each written file in the reference document, decides about
// overwrites, reports progress and forwards the extractor's messages.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "action/wformat.h"

namespace orvo {

// An ExtractHandler: 0 to go on, EXTRACT_SKIP to skip a file, 2 once the
// user has cancelled.
int InstallHandler(int code, std::wstring_view format, const FormatArg* args, size_t count);
// Sends the ticks that the bounded progress rate still holds back; after
// every extraction through InstallHandler.
void FlushProgress();

// The folder of a path relative to the running extraction's folder, or
// false for a path that is no content of the extraction (outside the
// folder, or the extractor's own temporary index file).
bool RelativeExtractionFolder(const std::wstring& folder, std::wstring& relative);
bool IsExtractedContent(const std::wstring& filePath);

}  // namespace orvo
