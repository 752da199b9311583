// `orvo-media check`: reads the media as the installer would and lists what
// would go wrong, one line per problem.
#pragma once
#include <string>

namespace orvo::media {

// Prints each problem of the media below `mediaRoot` on standard output;
// returns how many there were.
unsigned CheckMedia(const std::string& mediaRoot, bool verbose);

}  // namespace orvo::media
