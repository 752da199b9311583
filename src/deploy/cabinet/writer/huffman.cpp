#include "huffman.h"

#include <algorithm>
#include <vector>

namespace orvo::cab {

void BuildCodeLengths(const uint32_t* freq, size_t n, unsigned maxBits, uint8_t* lengths,
                      bool keepEmpty) {
  std::fill(lengths, lengths + n, uint8_t(0));
  std::vector<uint32_t> used;
  used.reserve(n);
  for (size_t i = 0; i < n; ++i)
    if (freq[i]) used.push_back(uint32_t(i));
  if (used.empty() && keepEmpty) return;
  if (used.size() < 2) {
    // A lone symbol still needs a partner: a one-symbol code is incomplete.
    uint32_t a = used.empty() ? 0 : used[0];
    uint32_t b = a == 0 ? 1 : 0;
    lengths[a] = lengths[b] = 1;
    return;
  }

  // Leaves sorted by weight; internal nodes are created in non-decreasing
  // weight order, so two queues give the optimal tree without a heap.
  std::stable_sort(used.begin(), used.end(),
                   [&](uint32_t x, uint32_t y) { return freq[x] < freq[y]; });
  size_t leaves = used.size();
  std::vector<uint64_t> weight(2 * leaves);
  std::vector<int32_t> parent(2 * leaves, -1);
  for (size_t i = 0; i < leaves; ++i) weight[i] = freq[used[i]];
  size_t nextLeaf = 0, nextNode = leaves, endNode = leaves;
  auto take = [&]() -> size_t {
    if (nextLeaf < leaves && (nextNode >= endNode || weight[nextLeaf] <= weight[nextNode]))
      return nextLeaf++;
    return nextNode++;
  };
  while (endNode < 2 * leaves - 1) {
    size_t a = take(), b = take();
    weight[endNode] = weight[a] + weight[b];
    parent[a] = parent[b] = int32_t(endNode);
    ++endNode;
  }
  // Depths, walking from the root down (parents have higher indices).
  std::vector<unsigned> depth(endNode, 0);
  for (size_t i = endNode - 1; i-- > 0;) depth[i] = depth[size_t(parent[i])] + 1;

  // Count codes per length; fold anything longer than maxBits back in while
  // keeping the Kraft sum exact (move a pair up, split a shorter code).
  unsigned maxDepth = 0;
  for (size_t i = 0; i < leaves; ++i) maxDepth = std::max(maxDepth, depth[i]);
  std::vector<uint32_t> count(std::max(maxDepth, maxBits) + 2, 0);
  for (size_t i = 0; i < leaves; ++i) ++count[depth[i]];
  for (unsigned len = maxDepth; len > maxBits; --len) {
    while (count[len] > 0) {
      unsigned j = len - 2;
      while (count[j] == 0) --j;
      count[len] -= 2;
      count[len - 1] += 1;
      count[j + 1] += 2;
      count[j] -= 1;
    }
  }
  // Most frequent symbols get the shortest codes.
  size_t k = leaves;
  for (unsigned len = 1; len <= maxBits; ++len)
    for (uint32_t c = 0; c < count[len]; ++c) lengths[used[--k]] = uint8_t(len);
}

void BuildCanonicalCodes(const uint8_t* lengths, size_t n, uint16_t* codes) {
  uint32_t count[33] = {};
  for (size_t i = 0; i < n; ++i) ++count[lengths[i]];
  count[0] = 0;
  uint32_t next[33] = {};
  uint32_t code = 0;
  for (unsigned len = 1; len <= 32; ++len) {
    code = (code + count[len - 1]) << 1;
    next[len] = code;
  }
  for (size_t i = 0; i < n; ++i) codes[i] = lengths[i] ? uint16_t(next[lengths[i]]++) : 0;
}

}  // namespace orvo::cab
