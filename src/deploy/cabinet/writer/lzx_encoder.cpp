#include "lzx_encoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "cab_format.h"
#include "huffman.h"

namespace orvo::cab {
namespace {

constexpr uint32_t kFrame = 32768;
constexpr unsigned kMinMatch = 2;
constexpr unsigned kMaxMatch = 257;
constexpr unsigned kNumChars = 256;
constexpr unsigned kMaxSlots = 50;
constexpr unsigned kMainMax = kNumChars + kMaxSlots * 8;
constexpr unsigned kLengthSize = 249;
constexpr unsigned kPretreeSize = 20;
constexpr unsigned kAlignedSize = 8;
constexpr unsigned kMainBits = 16, kLengthBits = 16, kPretreeBits = 15, kAlignedBits = 7;
// What decoders accept as the compressed size of one LZX data block.
constexpr size_t kMaxFrameBytes = 32768 + 6144;
// E8 translation applies to the first 32768 frames only.
constexpr uint64_t kE8Frames = 32768;
constexpr uint32_t kE8TranslationSize = 12000000;

constexpr unsigned kBlockVerbatim = 1, kBlockAligned = 2, kBlockUncompressed = 3;

struct PositionTables {
  uint32_t base[kMaxSlots + 1];
  uint8_t footer[kMaxSlots];
  PositionTables() {
    uint32_t b = 0;
    for (unsigned s = 0; s < kMaxSlots; ++s) {
      footer[s] = uint8_t(s < 4 ? 0 : s < 36 ? (s - 2) / 2 : 17);
      base[s] = b;
      b += 1u << footer[s];
    }
    base[kMaxSlots] = b;
  }
};
const PositionTables kPos;

inline unsigned HighBit(uint32_t v) { return 31 - unsigned(__builtin_clz(v)); }

// Slot of a formatted offset (0..2 repeated offsets, distance + 2 otherwise).
inline unsigned SlotOf(uint32_t f) {
  if (f < 4) return f;
  if (f >= (1u << 18)) return 36 + ((f - (1u << 18)) >> 17);
  unsigned hb = HighBit(f);
  return 2 * hb + ((f >> (hb - 1)) & 1);
}

// Tokens: a literal is its byte; a match is bit 31, (length - 2) << 21, and
// the formatted offset (below 2^21).
constexpr uint32_t kMatchFlag = 0x80000000u;
inline uint32_t MatchToken(unsigned len, uint32_t f) { return kMatchFlag | ((len - 2) << 21) | f; }
inline unsigned TokenLen(uint32_t t) { return ((t >> 21) & 0x3FF) + 2; }
inline uint32_t TokenOffset(uint32_t t) { return t & 0x1FFFFF; }

class BitWriter {
 public:
  void Put(uint32_t bits, unsigned count) {
    if (count == 0) return;
    acc_ = (acc_ << count) | bits;
    n_ += count;
    while (n_ >= 16) {
      n_ -= 16;
      uint16_t w = uint16_t(acc_ >> n_);
      out_.push_back(uint8_t(w));
      out_.push_back(uint8_t(w >> 8));
    }
  }
  void Align() {
    if (n_) Put(0, 16 - n_);
  }
  unsigned Pending() const { return n_; }
  void PutByte(uint8_t b) { out_.push_back(b); }  // only while aligned
  void PutBytes(const uint8_t* p, size_t n) { out_.insert(out_.end(), p, p + n); }
  std::vector<uint8_t>& bytes() { return out_; }

 private:
  uint64_t acc_ = 0;
  unsigned n_ = 0;
  std::vector<uint8_t> out_;
};

// Histograms of one frame or a run of frames.
struct Stats {
  uint32_t main[kMainMax] = {};
  uint32_t length[kLengthSize] = {};
  uint32_t aligned[kAlignedSize] = {};
  uint64_t verbatimFooterBits = 0;  // footer bits as written in a verbatim block
  uint64_t alignedFooterBits = 0;   // the part still written raw in an aligned block
  void Add(const Stats& o) {
    for (unsigned i = 0; i < kMainMax; ++i) main[i] += o.main[i];
    for (unsigned i = 0; i < kLengthSize; ++i) length[i] += o.length[i];
    for (unsigned i = 0; i < kAlignedSize; ++i) aligned[i] += o.aligned[i];
    verbatimFooterBits += o.verbatimFooterBits;
    alignedFooterBits += o.alignedFooterBits;
  }
};

struct FrameInfo {
  uint64_t start;
  uint32_t size;
  size_t tokBegin, tokEnd;
  uint32_t r[3];  // repeated offsets after the frame's tokens
};

// Pretree encoding of one section of a tree's lengths against the previous
// block's lengths of the same elements.
struct PretreeSym {
  uint8_t sym;
  uint8_t extraBits;
  uint8_t extra;
};

void PretreeSymbols(const uint8_t* lens, const uint8_t* prev, size_t n, std::vector<PretreeSym>& out) {
  out.clear();
  size_t i = 0;
  auto delta = [&](size_t k) { return uint8_t((prev[k] + 17 - lens[k]) % 17); };
  while (i < n) {
    if (lens[i] == 0) {
      size_t run = 1;
      while (i + run < n && lens[i + run] == 0) ++run;
      if (run >= 20) {
        size_t r = std::min<size_t>(run, 51);
        out.push_back({18, 5, uint8_t(r - 20)});
        i += r;
        continue;
      }
      if (run >= 4) {
        out.push_back({17, 4, uint8_t(run - 4)});
        i += run;
        continue;
      }
    } else {
      // A run of one code covers equal new lengths; requiring equal old
      // lengths too keeps the meaning independent of the delta's reference.
      size_t run = 1;
      while (i + run < n && run < 5 && lens[i + run] == lens[i] && prev[i + run] == prev[i]) ++run;
      if (run >= 4) {
        out.push_back({19, 1, uint8_t(run - 4)});
        out.push_back({delta(i), 0, 0});
        i += run;
        continue;
      }
    }
    out.push_back({delta(i), 0, 0});
    ++i;
  }
}

struct PretreeCode {
  uint8_t lens[kPretreeSize];
  uint16_t codes[kPretreeSize];
};

uint64_t PretreePlan(const std::vector<PretreeSym>& syms, PretreeCode& pc) {
  uint32_t freq[kPretreeSize] = {};
  for (const auto& s : syms) ++freq[s.sym];
  BuildCodeLengths(freq, kPretreeSize, kPretreeBits, pc.lens);
  BuildCanonicalCodes(pc.lens, kPretreeSize, pc.codes);
  uint64_t bits = 4 * kPretreeSize;
  for (const auto& s : syms) bits += pc.lens[s.sym] + s.extraBits;
  return bits;
}

uint64_t TreeSectionCost(const uint8_t* lens, const uint8_t* prev, size_t n, std::vector<PretreeSym>& scratch) {
  PretreeSymbols(lens, prev, n, scratch);
  PretreeCode pc;
  return PretreePlan(scratch, pc);
}

void WriteTreeSection(BitWriter& bw, const uint8_t* lens, const uint8_t* prev, size_t n,
                      std::vector<PretreeSym>& scratch) {
  PretreeSymbols(lens, prev, n, scratch);
  PretreeCode pc;
  PretreePlan(scratch, pc);
  for (unsigned i = 0; i < kPretreeSize; ++i) bw.Put(pc.lens[i], 4);
  for (const auto& s : scratch) {
    bw.Put(pc.codes[s.sym], pc.lens[s.sym]);
    bw.Put(s.extra, s.extraBits);
  }
}

// The trees of one planned block and what it costs in bits.
struct BlockPlan {
  unsigned type = kBlockVerbatim;
  uint8_t mainLens[kMainMax];
  uint8_t lengthLens[kLengthSize];
  uint8_t alignedLens[kAlignedSize];
  uint64_t treeBits = 0;  // block header and trees
  uint64_t bits = 0;      // all of it
};

// The most recent positions of each hash of six bytes, sixteen to one
// 64-byte line: one line brings a whole search's candidates, and an eight-bit
// tag from the hash bits below the line's drops strings that merely share
// the line before the window is read. An entry holds a position's low 24 bits; one
// old enough to wrap names some other position, which is checked byte by
// byte like any candidate.
class MatchTable {
 public:
  static constexpr unsigned kWays = 16;
  static constexpr uint32_t kPosMask = 0xFFFFFF;

  explicit MatchTable(unsigned lineBits)
      : shift_(32 - lineBits), mem_(new uint32_t[(size_t(kWays) << lineBits) + kWays]()) {
    uintptr_t a = reinterpret_cast<uintptr_t>(mem_.get());
    lines_ = mem_.get() + ((64 - a % 64) % 64) / sizeof(uint32_t);
  }

  uint32_t* Line(uint32_t hash) { return lines_ + size_t(hash >> shift_) * kWays; }
  void Prefetch(uint32_t hash) { __builtin_prefetch(Line(hash), 1); }
  uint32_t Tag(uint32_t hash) const { return (hash >> (shift_ - 8)) & 0xFF; }
  static uint32_t Entry(uint32_t pos, uint32_t tag) { return (pos << 8) | tag; }

  // Bit i set when entry i of a line has the tag.
  static uint32_t TagMask(const uint32_t* entries, uint32_t tag) {
    uint32_t mask = 0;
#if defined(__SSE2__)
    const __m128i t = _mm_set1_epi32(int(tag)), low = _mm_set1_epi32(0xFF);
    for (unsigned k = 0; k < kWays; k += 4) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(entries + k));
      __m128i eq = _mm_cmpeq_epi32(_mm_and_si128(v, low), t);
      mask |= uint32_t(_mm_movemask_ps(_mm_castsi128_ps(eq))) << k;
    }
#else
    for (unsigned i = 0; i < kWays; ++i) mask |= uint32_t((entries[i] & 0xFF) == tag) << i;
#endif
    return mask;
  }
  static uint32_t Distance(uint32_t pos, uint32_t entry) { return (pos - (entry >> 8)) & kPosMask; }

  static void Push(uint32_t* line, uint32_t entry) {
    // Copies whose reads each fall within one earlier write: a read
    // straddling two writes waits for both.
    uint32_t old[kWays];
    std::memcpy(old, line, sizeof old);
    std::memcpy(line + 1, old, 12 * sizeof(uint32_t));
    std::memcpy(line + 13, old + 12, 2 * sizeof(uint32_t));
    line[15] = old[14];
    line[0] = entry;
  }

 private:
  unsigned shift_;
  std::unique_ptr<uint32_t[]> mem_;
  uint32_t* lines_;
};

class LzxCompressor final : public BlockCompressor {
 public:
  LzxCompressor(BlockSink sink, const LzxOptions& o)
      : sink_(std::move(sink)),
        wbits_(o.windowBits),
        slots_(LzxPositionSlots(o.windowBits)),
        mainSize_(kNumChars + 8 * slots_),
        window_(1u << o.windowBits),
        maxDist_(window_ - 3),
        e8_(o.e8Translation),
        table_(std::max(12u, o.windowBits - 4)) {
    unsigned level = std::clamp(o.level, 1u, 9u);
    static const struct { unsigned chain, nice, lazy, good; } kLevels[9] = {
        {4, 16, 0, 8},       {8, 24, 8, 8},        {12, 32, 16, 8},
        {16, 48, 24, 16},    {24, 64, 32, 16},     {32, 96, 48, 32},
        {64, 128, 96, 64},   {128, 192, 160, 128}, {256, 257, 257, 257}};
    maxChain_ = kLevels[level - 1].chain;
    nice_ = kLevels[level - 1].nice;
    lazyBelow_ = kLevels[level - 1].lazy;
    good_ = kLevels[level - 1].good;
    chunkBytes_ = size_t(std::clamp(o.framesPerChunk, 1u, 64u)) * kFrame;
    buf_.resize(2 * size_t(window_) + chunkBytes_ + 64);
    head3_.assign(size_t(1) << kHash3Bits, 0);
    // Searches longer than a line go on through links from each position to
    // the one before it with the same line and tag.
    if (maxChain_ > MatchTable::kWays) prev_.assign(window_, 0);
    std::memset(prevMain_, 0, sizeof prevMain_);
    std::memset(prevLength_, 0, sizeof prevLength_);
    InitCosts();
  }

  bool Write(const uint8_t* data, size_t size) override {
    while (size > 0) {
      size_t pending = fill_ - size_t(done_ - base_);
      size_t take = std::min(size, chunkBytes_ - pending);
      if (fill_ + take > buf_.size() - 64) Slide();
      std::memcpy(&buf_[fill_], data, take);
      fill_ += take;
      data += take;
      size -= take;
      if (pending + take == chunkBytes_ && !ProcessChunk()) return false;
    }
    return true;
  }

  bool Finish() override {
    if (fill_ > size_t(done_ - base_)) return ProcessChunk();
    return true;
  }

 private:
  // The table indexes six-byte strings: on binaries they skip most of the
  // short candidates a four-byte key collects; the three-byte table keeps
  // the nearest short match.
  static constexpr unsigned kHash3Bits = 14;
  static constexpr unsigned kFetchAhead = 32;

  struct Match {
    unsigned len = 0;
    uint32_t dist = 0;
    int rep = -1;  // index of the repeated offset it uses, or -1
    int32_t score = 0;
  };

  // Keeps one window of history before the unparsed data.
  void Slide() {
    uint64_t keepFrom = done_ > window_ ? std::max<uint64_t>(base_, done_ - window_) : base_;
    size_t shift = size_t(keepFrom - base_);
    if (shift == 0) return;
    std::memmove(buf_.data(), buf_.data() + shift, fill_ - shift);
    fill_ -= shift;
    base_ = keepFrom;
  }

  const uint8_t* At(uint64_t pos) const { return &buf_[size_t(pos - base_)]; }
  uint64_t FillEnd() const { return base_ + fill_; }
  uint8_t* At(uint64_t pos) { return &buf_[size_t(pos - base_)]; }

  static uint32_t Read32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
  }
  static uint64_t Read64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
  }
  static uint32_t Hash6(const uint8_t* p) { return uint32_t(((Read64(p) << 16) * 0x9E3779B97F4A7C15ull) >> 32); }
  static uint32_t Hash3(const uint8_t* p) { return ((Read32(p) & 0xFFFFFFu) * 506832829u) >> (32 - kHash3Bits); }

  static unsigned MatchLength(const uint8_t* a, const uint8_t* b, unsigned limit) {
    unsigned n = 0;
    while (n + 8 <= limit) {
      uint64_t x, y;
      std::memcpy(&x, a + n, 8);
      std::memcpy(&y, b + n, 8);
      uint64_t d = x ^ y;
      if (d) return n + unsigned(__builtin_ctzll(d) >> 3);
      n += 8;
    }
    while (n < limit && a[n] == b[n]) ++n;
    return n;
  }

  // Cost estimates in 1/16 bit, refreshed from every compressed block.
  void InitCosts() {
    litCost_ = 8 * 16;
    for (unsigned i = 0; i < kMaxSlots * 8; ++i) mainCost_[i] = uint16_t((i < 24 ? 7 : 10) * 16);
    for (unsigned i = 0; i < kLengthSize; ++i) lengthCost_[i] = uint16_t((i < 16 ? 5 : 9) * 16);
  }

  void UpdateCosts(const BlockPlan& plan, const Stats& st) {
    uint64_t litBits = 0, lits = 0;
    for (unsigned i = 0; i < kNumChars; ++i) {
      litBits += uint64_t(st.main[i]) * plan.mainLens[i];
      lits += st.main[i];
    }
    if (lits) litCost_ = int32_t(std::max<uint64_t>(16, litBits * 16 / lits));
    for (unsigned i = 0; i < slots_ * 8; ++i) {
      uint8_t l = plan.mainLens[kNumChars + i];
      mainCost_[i] = uint16_t((l ? l : 14) * 16);
    }
    for (unsigned i = 0; i < kLengthSize; ++i) {
      uint8_t l = plan.lengthLens[i];
      lengthCost_[i] = uint16_t((l ? l : 12) * 16);
    }
  }

  int32_t MatchCost(unsigned len, unsigned slot) const {
    unsigned header = std::min(len - 2, 7u);
    int32_t c = mainCost_[slot * 8 + header] + kPos.footer[slot] * 16;
    if (header == 7) c += lengthCost_[len - 9];
    return c;
  }

  void Insert(uint64_t pos, uint32_t tag, uint32_t* line) {
    if (!prev_.empty()) {
      // The link is to the newest entry of the same tag: one that has left
      // the line is reached no other way.
      uint32_t tags = MatchTable::TagMask(line, tag);
      prev_[uint32_t(pos) & (window_ - 1)] = tags ? line[__builtin_ctz(tags)] : 0;
    }
    MatchTable::Push(line, MatchTable::Entry(uint32_t(pos), tag));
    head3_[Hash3(At(pos))] = uint32_t(pos) + 1;
  }

  void Insert(uint64_t pos) {
    uint32_t h = Hash6(At(pos));
    Insert(pos, table_.Tag(h), table_.Line(h));
  }

  // The parse visits every position in order: fetching the table lines a
  // few positions ahead hides most of their latency.
  void FetchAhead(uint64_t pos) {
    uint64_t to = std::min(pos + kFetchAhead, std::max<uint64_t>(FillEnd(), 8) - 8);
    if (fetched_ < pos) fetched_ = pos;
    for (; fetched_ < to; ++fetched_) table_.Prefetch(Hash6(At(fetched_)));
  }

  // Best match at pos (inserting pos into the hash tables first).
  Match Find(uint64_t pos, unsigned limit, bool canHash, unsigned maxChain) {
    Match best;
    FetchAhead(pos);
    const uint8_t* cur = At(pos);
    uint32_t near3 = 0;
    uint32_t cands[MatchTable::kWays] = {};
    // The line's candidates with the right tag, fetched while the repeated
    // offsets are tried.
    uint32_t dists[MatchTable::kWays];
    unsigned n = 0;
    uint32_t pos32 = uint32_t(pos);
    if (canHash) {
      uint32_t hash = Hash6(cur), tag = table_.Tag(hash);
      uint32_t* line = table_.Line(hash);
      std::memcpy(cands, line, sizeof cands);
      near3 = head3_[Hash3(cur)];
      Insert(pos, tag, line);
      for (uint32_t tags = MatchTable::TagMask(cands, tag); tags && n < maxChain; tags &= tags - 1) {
        uint32_t d = MatchTable::Distance(pos32, cands[__builtin_ctz(tags)]);
        if (d - 1 >= maxDist_) continue;  // empty, or out of the window
        __builtin_prefetch(cur - d);
        dists[n++] = d;
      }
    }
    if (limit < kMinMatch) return best;
    auto consider = [&](unsigned len, uint32_t dist, int rep) {
      unsigned slot = rep >= 0 ? unsigned(rep) : SlotOf(dist + 2);
      int32_t score = int32_t(len) * litCost_ - MatchCost(len, slot);
      if (score > best.score) {
        best.len = len;
        best.dist = dist;
        best.rep = rep;
        best.score = score;
      }
    };
    unsigned repBest = 0;
    for (int k = 0; k < 3; ++k) {
      uint32_t d = r_[k];
      if (d > pos) continue;
      unsigned len = MatchLength(cur, cur - d, limit);
      if (len >= kMinMatch) {
        consider(len, d, k);
        repBest = std::max(repBest, len);
      }
    }
    if (repBest >= nice_ || repBest == limit) return best;

    unsigned bestLen = std::max(repBest, 1u);
    if (near3 && limit >= 3) {
      uint64_t c = near3 - 1;
      uint32_t d = uint32_t(pos - c);
      if (d <= maxDist_ && d > 0) {
        unsigned len = MatchLength(cur, At(c), limit);
        if (len >= 3) {
          consider(len, d, -1);
          bestLen = std::max(bestLen, len);
        }
      }
    }
    if (canHash && limit >= 4 && bestLen < limit) {
      // A good match in hand makes a long search less worthwhile.
      unsigned chain = bestLen >= good_ ? maxChain / 4 + 1 : maxChain;
      n = std::min(n, chain);
      bool more = n > 0 && n < chain && !prev_.empty();
      uint32_t last = n ? dists[n - 1] : 0;
      bool done = false;
      for (unsigned i = 0; i < n && !done; ++i) done = Try(cur, dists[i], limit, bestLen, consider);
      // Then older ones through each position's link.
      for (chain -= n; more && !done && chain; --chain) {
        uint32_t e = prev_[uint32_t(pos - last) & (window_ - 1)];
        uint32_t d = MatchTable::Distance(pos32, e);
        if (e == 0 || d <= last || d > maxDist_) break;
        last = d;
        done = Try(cur, d, limit, bestLen, consider);
      }
    }
    return best;
  }

  // Checks the candidate at distance d; true once the search can stop.
  template <class Consider>
  bool Try(const uint8_t* cur, uint32_t d, unsigned limit, unsigned& bestLen, Consider& consider) const {
    const uint8_t* cand = cur - d;
    if (cand[bestLen] != cur[bestLen] || Read32(cand) != Read32(cur)) return false;
    unsigned len = MatchLength(cur, cand, limit);
    if (len <= bestLen) return false;
    consider(len, d, -1);
    bestLen = len;
    return len >= nice_ || len == limit;
  }

  void EmitMatch(const Match& m) {
    uint32_t f;
    if (m.rep == 0) {
      f = 0;
    } else if (m.rep == 1) {
      f = 1;
      std::swap(r_[0], r_[1]);
    } else if (m.rep == 2) {
      f = 2;
      std::swap(r_[0], r_[2]);
    } else {
      f = m.dist + 2;
      r_[2] = r_[1];
      r_[1] = r_[0];
      r_[0] = m.dist;
    }
    tokens_.push_back(MatchToken(m.len, f));
  }

  // Translates E8 call targets in place, frame by frame, the inverse of
  // what the decoder does to its output.
  void TranslateE8(uint64_t start, uint64_t end) {
    for (uint64_t fs = start; fs < end; fs += kFrame) {
      uint32_t size = uint32_t(std::min<uint64_t>(kFrame, end - fs));
      if (fs / kFrame >= kE8Frames || size <= 10) continue;
      uint8_t* p = At(fs);
      for (uint32_t i = 0; i < size - 10;) {
        if (p[i] != 0xE8) {
          ++i;
          continue;
        }
        int64_t cur = int64_t(fs + i);
        int64_t rel = int32_t(ReadLe32(p + i + 1));
        int64_t abs = rel;
        const int64_t fsize = kE8TranslationSize;
        if (rel >= -cur && rel < fsize - cur)
          abs = rel + cur;
        else if (rel >= fsize - cur && rel < fsize)
          abs = rel - fsize;
        WriteLe32(p + i + 1, uint32_t(int32_t(abs)));
        i += 5;
      }
    }
  }

  void Parse(uint64_t start, uint64_t end) {
    tokens_.clear();
    frames_.clear();
    uint64_t pos = start;
    auto frameEnd = [&](uint64_t p) { return std::min(end, (p / kFrame + 1) * kFrame); };
    auto canHash = [&](uint64_t p) { return p + 8 <= end; };
    auto limitAt = [&](uint64_t p) { return unsigned(std::min<uint64_t>(kMaxMatch, frameEnd(p) - p)); };
    frames_.push_back({start, 0, 0, 0, {}});
    auto closeFrames = [&]() {
      while (pos >= frames_.back().start + kFrame || pos == end) {
        FrameInfo& fr = frames_.back();
        fr.size = uint32_t(pos - fr.start);
        fr.tokEnd = tokens_.size();
        std::copy(r_, r_ + 3, fr.r);
        if (pos == end) break;
        frames_.push_back({pos, 0, tokens_.size(), 0, {}});
      }
    };
    Match cur = Find(pos, limitAt(pos), canHash(pos), maxChain_);
    while (pos < end) {
      if (cur.len < kMinMatch) {
        tokens_.push_back(*At(pos));
        ++pos;
        closeFrames();
        if (pos < end) cur = Find(pos, limitAt(pos), canHash(pos), maxChain_);
        continue;
      }
      uint64_t skipFrom = pos + 1;
      if (cur.len < lazyBelow_ && pos + 1 < frameEnd(pos)) {
        Match next = Find(pos + 1, limitAt(pos + 1), canHash(pos + 1),
                          cur.len >= good_ ? maxChain_ / 4 + 1 : maxChain_);
        if (next.score > cur.score) {
          tokens_.push_back(*At(pos));
          ++pos;
          cur = next;
          continue;
        }
        skipFrom = pos + 2;
      }
      EmitMatch(cur);
      uint64_t stop = pos + cur.len;
      for (uint64_t q = skipFrom; q < stop; ++q) {
        FetchAhead(q);
        if (canHash(q)) Insert(q);
      }
      pos = stop;
      closeFrames();
      if (pos < end) cur = Find(pos, limitAt(pos), canHash(pos), maxChain_);
    }
  }

  void FrameStats(const FrameInfo& fr, Stats& st) const {
    for (size_t t = fr.tokBegin; t < fr.tokEnd; ++t) {
      uint32_t tok = tokens_[t];
      if (!(tok & kMatchFlag)) {
        ++st.main[tok];
        continue;
      }
      unsigned len = TokenLen(tok);
      uint32_t f = TokenOffset(tok);
      unsigned slot = SlotOf(f);
      unsigned header = std::min(len - 2, 7u);
      ++st.main[kNumChars + slot * 8 + header];
      if (header == 7) ++st.length[len - 9];
      unsigned fb = kPos.footer[slot];
      st.verbatimFooterBits += fb;
      if (fb >= 3) {
        st.alignedFooterBits += fb - 3;
        ++st.aligned[(f - kPos.base[slot]) & 7];
      } else {
        st.alignedFooterBits += fb;
      }
    }
  }

  // Trees for a run of frames and its size in bits, with the tree deltas
  // taken against the given previous lengths.
  void PlanBlock(const Stats& st, const uint8_t* prevMain, const uint8_t* prevLength, BlockPlan& plan) {
    BuildCodeLengths(st.main, mainSize_, kMainBits, plan.mainLens);
    std::fill(plan.mainLens + mainSize_, plan.mainLens + kMainMax, uint8_t(0));
    BuildCodeLengths(st.length, kLengthSize, kLengthBits, plan.lengthLens, /*keepEmpty=*/true);
    uint64_t bits = 3 + 24;
    bits += TreeSectionCost(plan.mainLens, prevMain, kNumChars, scratch_);
    bits += TreeSectionCost(plan.mainLens + kNumChars, prevMain + kNumChars, mainSize_ - kNumChars, scratch_);
    bits += TreeSectionCost(plan.lengthLens, prevLength, kLengthSize, scratch_);
    plan.treeBits = bits;
    for (unsigned i = 0; i < mainSize_; ++i) bits += uint64_t(st.main[i]) * plan.mainLens[i];
    for (unsigned i = 0; i < kLengthSize; ++i) bits += uint64_t(st.length[i]) * plan.lengthLens[i];
    uint32_t alignedFreq[kAlignedSize];
    uint32_t alignedUses = 0;
    for (unsigned i = 0; i < kAlignedSize; ++i) {
      alignedFreq[i] = st.aligned[i] + 1;  // every code present: no lone symbol
      alignedUses += st.aligned[i];
    }
    BuildCodeLengths(alignedFreq, kAlignedSize, kAlignedBits, plan.alignedLens);
    uint64_t alignedBits = 3 * kAlignedSize + st.alignedFooterBits;
    for (unsigned i = 0; i < kAlignedSize; ++i) alignedBits += uint64_t(st.aligned[i]) * plan.alignedLens[i];
    if (alignedUses && alignedBits < st.verbatimFooterBits) {
      plan.type = kBlockAligned;
      plan.treeBits += 3 * kAlignedSize;
      bits += alignedBits;
    } else {
      plan.type = kBlockVerbatim;
      bits += st.verbatimFooterBits;
    }
    plan.bits = bits;
  }

  uint64_t FrameBits(const Stats& st, const BlockPlan& plan) const {
    uint64_t bits = 0;
    for (unsigned i = 0; i < mainSize_; ++i) bits += uint64_t(st.main[i]) * plan.mainLens[i];
    for (unsigned i = 0; i < kLengthSize; ++i) bits += uint64_t(st.length[i]) * plan.lengthLens[i];
    if (plan.type == kBlockAligned) {
      bits += st.alignedFooterBits;
      for (unsigned i = 0; i < kAlignedSize; ++i) bits += uint64_t(st.aligned[i]) * plan.alignedLens[i];
    } else {
      bits += st.verbatimFooterBits;
    }
    return bits;
  }

  static uint64_t RawBits(uint32_t size) { return (uint64_t(size) + 16) * 8; }

  bool ProcessChunk() {
    uint64_t start = done_;
    uint64_t end = base_ + fill_;
    if (e8_) TranslateE8(start, end);
    Parse(start, end);
    done_ = end;

    size_t nf = frames_.size();
    std::vector<Stats> stats(nf);
    for (size_t i = 0; i < nf; ++i) FrameStats(frames_[i], stats[i]);

    // Greedy grouping: a frame joins the run before it when one set of
    // trees for both costs no more than two; frames that do not compress
    // are stored as uncompressed blocks.
    size_t i = 0;
    while (i < nf) {
      BlockPlan plan;
      PlanBlock(stats[i], prevMain_, prevLength_, plan);
      if (plan.bits >= RawBits(frames_[i].size)) {
        if (!EmitRaw(frames_[i])) return false;
        ++i;
        continue;
      }
      Stats run = stats[i];
      size_t j = i + 1;
      while (j < nf) {
        BlockPlan alone, merged;
        PlanBlock(stats[j], plan.mainLens, plan.lengthLens, alone);
        if (alone.bits >= RawBits(frames_[j].size)) break;
        Stats both = run;
        both.Add(stats[j]);
        PlanBlock(both, prevMain_, prevLength_, merged);
        if (merged.bits > plan.bits + alone.bits) break;
        // Every frame must stay within what a decoder reads as one block.
        bool fits = true;
        for (size_t k = i; k <= j && fits; ++k)
          fits = (FrameBits(stats[k], merged) + (k == i ? merged.treeBits : 0)) / 8 + 40 < kMaxFrameBytes;
        if (!fits) break;
        plan = merged;
        run = both;
        ++j;
      }
      if (!EmitCompressed(plan, run, i, j)) return false;
      i = j;
    }
    return true;
  }

  void StartFrame() {
    if (!headerWritten_) {
      bw_.Put(e8_ ? 1 : 0, 1);
      if (e8_) {
        bw_.Put(kE8TranslationSize >> 16, 16);
        bw_.Put(kE8TranslationSize & 0xFFFF, 16);
      }
      headerWritten_ = true;
    }
  }

  bool EndFrame(uint32_t size) {
    bw_.Align();
    std::vector<uint8_t>& out = bw_.bytes();
    bool ok = sink_(out.data(), out.size(), size);
    out.clear();
    if (!ok && error_.empty()) error_ = "data block rejected";
    return ok;
  }

  bool EmitRaw(const FrameInfo& fr) {
    StartFrame();
    bw_.Put(kBlockUncompressed, 3);
    bw_.Put(fr.size, 24);
    // The byte-aligned part starts after 1 to 16 bits of padding.
    if (bw_.Pending() == 0)
      bw_.Put(0, 16);
    else
      bw_.Align();
    uint8_t r[12];
    for (int k = 0; k < 3; ++k) WriteLe32(r + 4 * k, fr.r[k]);
    bw_.PutBytes(r, 12);
    bw_.PutBytes(At(fr.start), fr.size);
    if (fr.size & 1) bw_.PutByte(0);
    return EndFrame(fr.size);
  }

  bool EmitCompressed(const BlockPlan& plan, const Stats& run, size_t first, size_t last) {
    uint16_t mainCodes[kMainMax], lengthCodes[kLengthSize], alignedCodes[kAlignedSize];
    BuildCanonicalCodes(plan.mainLens, mainSize_, mainCodes);
    BuildCanonicalCodes(plan.lengthLens, kLengthSize, lengthCodes);
    BuildCanonicalCodes(plan.alignedLens, kAlignedSize, alignedCodes);
    uint32_t total = 0;
    for (size_t k = first; k < last; ++k) total += frames_[k].size;

    StartFrame();
    bw_.Put(plan.type, 3);
    bw_.Put(total, 24);
    if (plan.type == kBlockAligned)
      for (unsigned i = 0; i < kAlignedSize; ++i) bw_.Put(plan.alignedLens[i], 3);
    WriteTreeSection(bw_, plan.mainLens, prevMain_, kNumChars, scratch_);
    WriteTreeSection(bw_, plan.mainLens + kNumChars, prevMain_ + kNumChars, mainSize_ - kNumChars, scratch_);
    WriteTreeSection(bw_, plan.lengthLens, prevLength_, kLengthSize, scratch_);
    std::memcpy(prevMain_, plan.mainLens, sizeof prevMain_);
    std::memcpy(prevLength_, plan.lengthLens, sizeof prevLength_);

    bool aligned = plan.type == kBlockAligned;
    for (size_t k = first; k < last; ++k) {
      const FrameInfo& fr = frames_[k];
      if (k != first) StartFrame();
      for (size_t t = fr.tokBegin; t < fr.tokEnd; ++t) {
        uint32_t tok = tokens_[t];
        if (!(tok & kMatchFlag)) {
          bw_.Put(mainCodes[tok], plan.mainLens[tok]);
          continue;
        }
        unsigned len = TokenLen(tok);
        uint32_t f = TokenOffset(tok);
        unsigned slot = SlotOf(f);
        unsigned header = std::min(len - 2, 7u);
        unsigned sym = kNumChars + slot * 8 + header;
        bw_.Put(mainCodes[sym], plan.mainLens[sym]);
        if (header == 7) bw_.Put(lengthCodes[len - 9], plan.lengthLens[len - 9]);
        unsigned fb = kPos.footer[slot];
        uint32_t extra = f - kPos.base[slot];
        if (aligned && fb >= 3) {
          bw_.Put(extra >> 3, fb - 3);
          bw_.Put(alignedCodes[extra & 7], plan.alignedLens[extra & 7]);
        } else {
          bw_.Put(extra, fb);
        }
      }
      if (bw_.bytes().size() > kMaxFrameBytes) {
        error_ = "LZX frame exceeds the data block limit";
        return false;
      }
      if (!EndFrame(fr.size)) return false;
    }
    UpdateCosts(plan, run);
    return true;
  }

  BlockSink sink_;
  unsigned wbits_, slots_, mainSize_;
  uint32_t window_, maxDist_;
  bool e8_;
  unsigned maxChain_ = 32, nice_ = 96, lazyBelow_ = 48, good_ = 32;
  size_t chunkBytes_ = 0;

  std::vector<uint8_t> buf_;
  uint64_t base_ = 0;  // stream position of buf_[0]
  size_t fill_ = 0;
  uint64_t done_ = 0;  // stream position up to which everything is parsed

  MatchTable table_;
  std::vector<uint32_t> head3_, prev_;
  uint64_t fetched_ = 0;  // lines fetched up to here
  uint32_t r_[3] = {1, 1, 1};

  int32_t litCost_ = 0;
  uint16_t mainCost_[kMaxSlots * 8];
  uint16_t lengthCost_[kLengthSize];

  std::vector<uint32_t> tokens_;
  std::vector<FrameInfo> frames_;
  std::vector<PretreeSym> scratch_;

  uint8_t prevMain_[kMainMax];
  uint8_t prevLength_[kLengthSize];
  BitWriter bw_;
  bool headerWritten_ = false;
};

}  // namespace

unsigned LzxPositionSlots(unsigned windowBits) {
  switch (windowBits) {
    case 15: return 30;
    case 16: return 32;
    case 17: return 34;
    case 18: return 36;
    case 19: return 38;
    case 20: return 42;
    case 21: return 50;
    default: return 0;
  }
}

std::unique_ptr<BlockCompressor> MakeLzxCompressor(BlockSink sink, const LzxOptions& options) {
  if (LzxPositionSlots(options.windowBits) == 0) return nullptr;
  return std::make_unique<LzxCompressor>(std::move(sink), options);
}

}  // namespace orvo::cab
