// Installer properties that the chosen Orvos' pack documents define, set
// so that the preferred Orvo wins over what it inherits, which wins over
// the imperial Orvo, which wins over all others.
#pragma once

namespace orvo {

class Orvo;
class OrvoCatalog;

int SetApplicationDefaults(OrvoCatalog& catalog);
bool ApplyApplicationDefaults(const Orvo& orvo);

}  // namespace orvo
