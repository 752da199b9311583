// Cabinets a patch carries as Binary rows: the immediate half copies each
// stream into a temporary file and hands the list on in "orvo_Patch".
#pragma once

namespace orvo {

// 1 when the last stream copy attempted succeeded, else 0.
int ExtractPatchStreams();

}  // namespace orvo
