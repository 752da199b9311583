// Extraction by stored names for the native build, on the portable decoder.
// The Windows build uses the installer's own extractor instead.
#pragma once
#include <string>

namespace orvo::cabtool {

struct NativeExtractResult {
  unsigned written = 0;
  unsigned refused = 0;
  unsigned failed = 0;
  std::string error;  // why the copy stopped, when it did
};

// Places each file of the cabinet (and the cabinets continuing it) under its
// stored name below `folder`, with its stored time and read-only state.
bool ExtractStoredNames(const std::string& cabinetPath, const std::string& folder, bool verbose,
                        NativeExtractResult* result);

}  // namespace orvo::cabtool
