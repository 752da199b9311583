#include "content_pack.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>

#include "file_io.h"

namespace orvo::cab {
namespace {

// UTF-8 to code points; false on malformed input.
bool DecodeUtf8(std::string_view s, std::vector<uint32_t>& out) {
  out.clear();
  for (size_t i = 0; i < s.size();) {
    uint8_t c = uint8_t(s[i]);
    unsigned extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 9;
    if (extra == 9 || i + extra >= s.size()) return false;
    uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
    for (unsigned k = 1; k <= extra; ++k) {
      uint8_t cc = uint8_t(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    static const uint32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    out.push_back(cp);
    i += extra + 1;
  }
  return true;
}

std::string FoldCase(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

std::time_t ToTimeT(std::filesystem::file_time_type ft) {
  using namespace std::chrono;
  // There is no clock conversion before C++20: bridge through both clocks'
  // current times, read in a fixed order, and let a millisecond absorb the
  // microseconds between the two reads, so a whole second is not lost.
  const auto fileNow = std::filesystem::file_time_type::clock::now();
  const auto sysNow = system_clock::now();
  auto sys = time_point_cast<system_clock::duration>(ft - fileNow + sysNow) + milliseconds(1);
  return system_clock::to_time_t(floor<seconds>(sys));
}

}  // namespace

std::optional<std::string> NormalizeRelativePath(std::string_view path) {
  std::string out;
  size_t i = 0;
  if (path.size() >= 2 && path[1] == ':') return std::nullopt;  // drive
  if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return std::nullopt;
  while (i <= path.size()) {
    size_t j = path.find_first_of("/\\", i);
    if (j == std::string_view::npos) j = path.size();
    std::string_view part = path.substr(i, j - i);
    if (part.empty() || part == "." || part == "..") return std::nullopt;
    if (part.find_first_of(std::string_view("\0:*?\"<>|", 8)) != std::string_view::npos) return std::nullopt;
    if (!out.empty()) out += '\\';
    out.append(part);
    i = j + 1;
  }
  return out;
}

std::string StoredNameFor(size_t index, std::string_view relativePath) {
  size_t slash = relativePath.find_last_of("/\\");
  std::string_view leaf = slash == std::string_view::npos ? relativePath : relativePath.substr(slash + 1);
  char num[24];
  std::snprintf(num, sizeof num, "%05zu_", index);
  std::string name = num;
  for (char c : leaf) {
    if (name.size() >= kIndexKeyColumns) break;
    bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                c == '-' || c == '_';
    name += keep ? c : '_';
  }
  return name;
}

std::optional<std::vector<uint8_t>> IndexFileBytes(
    const std::vector<std::pair<std::string, std::string>>& entries) {
  std::vector<std::vector<uint32_t>> lines;
  bool wide = false;
  std::vector<uint32_t> cps;
  for (const auto& [key, path] : entries) {
    if (key.empty() || key.size() > kIndexKeyColumns || key.back() == ' ' || key.back() == '\t') return std::nullopt;
    std::vector<uint32_t> line(key.begin(), key.end());
    for (uint32_t c : line)
      if (c >= 0x80 || c < 0x20) return std::nullopt;
    line.resize(kIndexKeyColumns, ' ');
    if (!DecodeUtf8(path, cps)) return std::nullopt;
    for (uint32_t c : cps) {
      if (c == '\n' || c == '\r') return std::nullopt;
      if (c > 0xFF) wide = true;
    }
    line.insert(line.end(), cps.begin(), cps.end());
    lines.push_back(std::move(line));
  }
  // The reader judges the encoding from the first bytes and keeps a
  // carriage return in the line, so lines end with a bare line feed. The
  // first line carries no entry: in UTF-16 it is the byte-order mark alone
  // (the reader would otherwise make it part of the first key); in single
  // bytes it is a CR LF pair, which no UTF-16 text contains as one unit.
  std::vector<uint8_t> out;
  if (wide) {
    auto put = [&](uint32_t c) {
      if (c >= 0x10000) {
        c -= 0x10000;
        uint16_t hi = uint16_t(0xD800 + (c >> 10)), lo = uint16_t(0xDC00 + (c & 0x3FF));
        out.insert(out.end(), {uint8_t(hi), uint8_t(hi >> 8), uint8_t(lo), uint8_t(lo >> 8)});
      } else {
        out.insert(out.end(), {uint8_t(c), uint8_t(c >> 8)});
      }
    };
    put(0xFEFF);
    put('\n');
    for (const auto& line : lines) {
      for (uint32_t c : line) put(c);
      put('\n');
    }
  } else {
    out = {'\r', '\n'};
    for (const auto& line : lines) {
      for (uint32_t c : line) out.push_back(uint8_t(c));
      out.push_back('\n');
    }
  }
  return out;
}

bool PackItems(const std::string& cabinetPath, const std::vector<PackItem>& items, const PackOptions& options,
               PackResult* result, std::string* error) {
  auto fail = [&](std::string what) {
    if (error) *error = std::move(what);
    return false;
  };
  std::vector<std::pair<std::string, std::string>> index;
  std::set<std::string> seen;
  for (size_t i = 0; i < items.size(); ++i) {
    auto rel = NormalizeRelativePath(items[i].relativePath);
    if (!rel) return fail("bad relative path: '" + items[i].relativePath + "'");
    // Target folders are case-insensitive on the machines that install.
    if (!seen.insert(FoldCase(*rel)).second) return fail("duplicate path: '" + *rel + "'");
    index.emplace_back(StoredNameFor(i + 1, *rel), *rel);
  }
  auto indexBytes = IndexFileBytes(index);
  if (!indexBytes) return fail("path not representable in " + std::string(kIndexFileName));

  CabinetWriter writer(cabinetPath, options.set);
  std::time_t now = std::time(nullptr);
  FileEntry indexEntry{kIndexFileName};
  DosDateTimeFromTime(now, &indexEntry.date, &indexEntry.time);
  bool ok = writer.StartFolder(options.compression) &&
            writer.AddFile(indexEntry, indexBytes->data(), indexBytes->size());
  uint64_t inFolder = indexBytes->size();
  for (size_t i = 0; ok && i < items.size(); ++i) {
    const PackItem& it = items[i];
    if (options.folderSize && inFolder >= options.folderSize) {
      ok = writer.StartFolder(options.compression);
      inFolder = 0;
    }
    FileEntry e{index[i].first, it.date, it.time, it.attribs};
    if (!ok) break;
    if (!it.sourcePath.empty()) {
      uint64_t before = writer.totals().uncompressedBytes;
      ok = writer.AddFileFromPath(e, it.sourcePath);
      inFolder += writer.totals().uncompressedBytes - before;
    } else {
      ok = writer.AddFile(e, it.bytes.data(), it.bytes.size());
      inFolder += it.bytes.size();
    }
  }
  ok = ok && writer.Finish();
  if (!ok) return fail(writer.error());
  if (result) {
    result->cabinets = writer.cabinetPaths();
    result->index = std::move(index);
    result->totals = writer.totals();
  }
  return true;
}

bool CollectFolder(const std::string& root, std::vector<PackItem>* items, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path base = fs::u8path(root);
  if (!fs::is_directory(base, ec)) {
    if (error) *error = "not a folder: " + root;
    return false;
  }
  std::vector<PackItem> found;
  for (fs::recursive_directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::directory_entry& de = *it;
    fs::path rel = de.path().lexically_relative(base);
    std::string relText = rel.generic_u8string();
    if (de.is_directory(ec)) {
      if (fs::directory_iterator(de.path(), ec) == fs::directory_iterator()) {
        PackItem p;
        p.relativePath = relText + "/" + kPlaceholderName;
        found.push_back(std::move(p));
      }
      continue;
    }
    if (!de.is_regular_file(ec)) continue;
    PackItem p;
    p.relativePath = relText;
    p.sourcePath = de.path().u8string();
    DosDateTimeFromTime(ToTimeT(de.last_write_time(ec)), &p.date, &p.time);
    fs::perms perms = de.status(ec).permissions();
    if ((perms & fs::perms::owner_write) == fs::perms::none) p.attribs |= kAttribReadOnly;
    found.push_back(std::move(p));
  }
  if (ec) {
    if (error) *error = "cannot read folder " + root + ": " + ec.message();
    return false;
  }
  std::sort(found.begin(), found.end(),
            [](const PackItem& a, const PackItem& b) { return a.relativePath < b.relativePath; });
  *items = std::move(found);
  return true;
}

bool PackFolder(const std::string& cabinetPath, const std::string& root, const PackOptions& options,
                PackResult* result, std::string* error) {
  std::vector<PackItem> items;
  return CollectFolder(root, &items, error) && PackItems(cabinetPath, items, options, result, error);
}

}  // namespace orvo::cab
