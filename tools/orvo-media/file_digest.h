// The SHA-256 of a file, as the pack document records it.
#pragma once
#include <filesystem>
#include <string>

namespace orvo::media {

// 64 lower-case hexadecimal digits; empty when the file cannot be read.
std::string FileSha256(const std::filesystem::path& path);

}  // namespace orvo::media
