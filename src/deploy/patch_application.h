// The deferred half of patch cabinets: each temporary file that the
// immediate half listed is extracted as a cabinet into a folder named after
// its stream in the temporary folder.
#pragma once
#include <string>

namespace orvo {

// The patch data: "stream,file" entries joined with ";". Returns 0.
int ApplyPatchStreams(const std::wstring& patchData);

}  // namespace orvo
