#!/usr/bin/env python3
"""Makes the LZX and Quantum test cabinets of this folder.

No tool at hand writes either method, so this script carries small encoders
of its own, written from the published format descriptions. They favour
coverage over ratio: every block type, repeated offsets, trees sent as
deltas with every pretree code, E8 translation, every window size, matches
reaching almost a whole window back. Each cabinet is checked with
`cabextract -t` and extracted with cabextract to the original bytes before
it is kept; vectors.txt lists every file with its size and CRC-32.

Usage: make_vectors.py [output folder]   (default: this script's folder)
"""
import heapq
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

FRAME = 32768


# ---------------------------------------------------------------- content

def text_data(n, seed):
    rng = random.Random(seed)
    words = [b"cabinet", b"folder", b"the ", b"data ", b"orvo", b"\r\n", b"block", b" of ",
             b"files", b"window", b"install", b", ", b"profile", b"registry"]
    out = bytearray()
    while len(out) < n:
        out += rng.choice(words)
        if rng.random() < 0.15:
            out += str(rng.randrange(1000)).encode()
    return bytes(out[:n])


def noise_data(n, seed):
    return random.Random(seed).randbytes(n)


def x86_data(n, seed, size):
    """Text and noise with CALL instructions whose operands hit every case of
    the E8 translation: inside the file, before it, beyond the size."""
    rng = random.Random(seed)
    out = bytearray()
    while len(out) < n:
        r = rng.random()
        if r < 0.3:
            pos = len(out)
            kind = rng.randrange(5)
            if kind == 4:
                # translated to a negative value
                low = max(-pos, size - pos)
                rel = rng.randrange(low, size) if low < size else 0
            elif kind == 0:
                rel = rng.randrange(-pos, size - pos) if size > pos else -rng.randrange(pos + 1)
            elif kind == 1:
                rel = rng.randrange(size, size + 100000)
            elif kind == 2:
                rel = -pos - rng.randrange(1, 100000)
            else:
                rel = rng.randrange(-2**31, 2**31)
            out += b"\xe8" + struct.pack("<i", max(-2**31, min(2**31 - 1, rel)))
        elif r < 0.8:
            out += text_data(rng.randrange(5, 60), rng.randrange(1 << 30))
        elif r < 0.9:
            out += b"\xe8" * rng.randrange(1, 9)
        else:
            out += noise_data(rng.randrange(3, 20), rng.randrange(1 << 30))
    return bytes(out[:n])


def plant_frame_ends(data):
    """CALLs right at the edge of the translated part of a frame: one at the
    11th byte from a frame's end (translated), one at the 10th (left)."""
    out = bytearray(data)
    for k, back in ((1, 11), (2, 10)):
        at = k * FRAME - back
        out[at - 8:k * FRAME] = b"." * (8 + back)
        out[at:at + 5] = b"\xe8" + struct.pack("<i", 1000)
    return bytes(out)


def far_data(window, seed, head=3000):
    """A random head, filler that matches only itself, and the head again,
    so that the last copy lies almost a whole window back."""
    head_bytes = noise_data(head, seed)
    gap = window - head - 64
    filler = (b"\x01\x02\x03\x04\x05\x06\x07" * (gap // 7 + 1))[:gap]
    return head_bytes + filler + head_bytes + text_data(2000, seed)


# ---------------------------------------------------------------- Huffman

def code_lengths(freqs, limit):
    """Huffman code lengths, at most `limit` long; a lone symbol gets a
    partner so that every tree sent is complete."""
    used = [i for i, f in enumerate(freqs) if f]
    lengths = [0] * len(freqs)
    if not used:
        return lengths
    if len(used) == 1:
        other = 1 if used[0] == 0 else 0
        lengths[used[0]] = lengths[other] = 1
        return lengths
    f = list(freqs)
    while True:
        heap = [(f[i], i, (i,)) for i in used]
        heapq.heapify(heap)
        depth = {i: 0 for i in used}
        serial = len(freqs)
        while len(heap) > 1:
            a = heapq.heappop(heap)
            b = heapq.heappop(heap)
            for s in a[2] + b[2]:
                depth[s] += 1
            serial += 1
            heapq.heappush(heap, (a[0] + b[0], serial, a[2] + b[2]))
        if max(depth.values()) <= limit:
            for s, d in depth.items():
                lengths[s] = d
            return lengths
        f = [(x + 1) // 2 if x else 0 for x in f]


def canonical_codes(lengths):
    codes = [0] * len(lengths)
    code = 0
    for length in range(1, 17):
        for s, l in enumerate(lengths):
            if l == length:
                codes[s] = code
                code += 1
        code <<= 1
    return codes


# ---------------------------------------------------------------- LZX

class LzxBits:
    """16-bit little-endian words filled from the most significant bit."""

    def __init__(self):
        self.out = bytearray()
        self.word = 0
        self.used = 0

    def put(self, value, n):
        for i in range(n - 1, -1, -1):
            self.word = (self.word << 1) | ((value >> i) & 1)
            self.used += 1
            if self.used == 16:
                self.out += struct.pack("<H", self.word)
                self.word = 0
                self.used = 0

    def align(self):
        if self.used:
            self.put(0, 16 - self.used)

    def raw(self, data):
        assert self.used == 0
        self.out += data


def lzx_slots(window_bits):
    return {15: 30, 16: 32, 17: 34, 18: 36, 19: 38, 20: 42, 21: 50}[window_bits]


LZX_EXTRA = [0 if i < 4 else min((i - 2) // 2, 17) for i in range(50)]
LZX_BASE = []
_b = 0
for _e in LZX_EXTRA:
    LZX_BASE.append(_b)
    _b += 1 << _e


def lzx_slot_of(formatted):
    slot = 0
    while slot + 1 < 50 and LZX_BASE[slot + 1] <= formatted:
        slot += 1
    return slot


def e8_encode(data, size):
    out = bytearray(data)
    for frame_start in range(0, len(out), FRAME):
        if frame_start // FRAME >= 32768:
            break
        n = min(FRAME, len(out) - frame_start)
        if n <= 10:
            continue
        i = 0
        while i < n - 10:
            p = frame_start + i
            if out[p] == 0xE8:
                rel = struct.unpack_from("<i", out, p + 1)[0]
                cur = p
                if -cur <= rel < size:
                    value = rel + cur if rel < size - cur else rel - size
                    struct.pack_into("<i", out, p + 1, value)
                i += 5
            else:
                i += 1
    return bytes(out)


class Matcher:
    """Greedy LZ77 parse that prefers the repeated offsets."""

    def __init__(self, data, window, min_len, max_len, max_offset, depth=12):
        self.data = data
        self.window = window
        self.min_len = min_len
        self.max_len = max_len
        self.max_offset = max_offset
        self.depth = depth
        self.heads = {}

    def insert(self, i):
        if i + 3 <= len(self.data):
            self.heads.setdefault(self.data[i:i + 3], []).append(i)

    def common(self, a, b, limit):
        d = self.data
        n = 0
        while n < limit:
            step = min(32, limit - n)
            if d[a + n:a + n + step] == d[b + n:b + n + step]:
                n += step
            else:
                while n < limit and d[a + n] == d[b + n]:
                    n += 1
                break
        return n

    def best(self, i, limit, repeats):
        """(length, offset) of the best match at i, at most `limit` long."""
        limit = min(limit, self.max_len)
        best = (0, 0)
        if limit < self.min_len:
            return best
        for off in repeats:
            if 0 < off <= i and off <= self.max_offset:
                n = self.common(i - off, i, limit)
                if n >= self.min_len and n > best[0]:
                    best = (n, off)
        chain = self.heads.get(self.data[i:i + 3], [])
        for j in reversed(chain[-self.depth:]):
            off = i - j
            if off > self.max_offset:
                break
            n = self.common(j, i, limit)
            if n > best[0] + 1 or (n > best[0] and best[1] not in repeats):
                best = (n, off)
        return best


class LzxEncoder:
    """Blocks are given as a plan of (type, length); tokens never cross a
    frame, and the trees of each block go out as deltas of the last ones."""

    def __init__(self, window_bits, e8_size=None, rng_seed=1):
        self.bits = window_bits
        self.window = 1 << window_bits
        self.main_syms = 256 + 8 * lzx_slots(window_bits)
        self.e8_size = e8_size
        self.r = [1, 1, 1]
        self.prev_main = [0] * self.main_syms
        self.prev_length = [0] * 249
        self.rng = random.Random(rng_seed)
        self.stats = {"pre17": 0, "pre18": 0, "pre19": 0, "rep1": 0, "rep2": 0, "rep0": 0, "len2": 0}

    def parse(self, data, start, end, matcher):
        """Tokens for data[start:end]: ints (literals) or (length, offset)."""
        tokens = []
        i = start
        r = list(self.r)
        while i < end:
            frame_end = (i // FRAME + 1) * FRAME
            limit = min(end, frame_end) - i
            length, off = matcher.best(i, limit, r)
            if length >= 2 and not (length == 2 and off > 2048):
                tokens.append((length, off))
                if off == r[0]:
                    pass
                elif off == r[1]:
                    r[1] = r[0]
                    r[0] = off
                elif off == r[2]:
                    r[2] = r[0]
                    r[0] = off
                else:
                    r = [off, r[0], r[1]]
                for k in range(i, i + min(length, 4)):
                    matcher.insert(k)
                i += length
            else:
                tokens.append(data[i])
                matcher.insert(i)
                i += 1
        return tokens

    def symbols(self, tokens, aligned):
        """Main-tree symbols with their extra fields; updates R0..R2."""
        out = []
        r = self.r
        for t in tokens:
            if isinstance(t, int):
                out.append((t, None, None, None))
                continue
            length, off = t
            if off == r[0]:
                slot = 0
                self.stats["rep0"] += 1
            elif off == r[1]:
                slot = 1
                r[1] = r[0]
                r[0] = off
                self.stats["rep1"] += 1
            elif off == r[2]:
                slot = 2
                r[2] = r[0]
                r[0] = off
                self.stats["rep2"] += 1
            else:
                slot = lzx_slot_of(off + 2)
                r[2] = r[1]
                r[1] = r[0]
                r[0] = off
            if length == 2:
                self.stats["len2"] += 1
            header = min(length - 2, 7)
            footer = length - 9 if header == 7 else None
            extra = None
            if slot >= 3:
                extra = (off + 2 - LZX_BASE[slot], LZX_EXTRA[slot])
            out.append((256 + slot * 8 + header, footer, extra, slot))
        return out

    def write_lengths(self, w, new, prev, first, last):
        """One stretch of a tree through a pretree, with runs (17, 18) and
        repeats (19) wherever they fit."""
        codes = []
        x = first
        while x < last:
            v = new[x]
            run = 1
            while x + run < last and new[x + run] == v:
                run += 1
            if v == 0 and run >= 20:
                n = min(run, 51)
                codes.append((18, n - 20, 5))
                x += n
                self.stats["pre18"] += 1
            elif v == 0 and run >= 4:
                n = min(run, 19)
                codes.append((17, n - 4, 4))
                x += n
                self.stats["pre17"] += 1
            elif run >= 4 and self.rng.random() < 0.7:
                # The value comes from the delta against the first entry only.
                n = min(run, 5)
                codes.append((19, n - 4, 1, (prev[x] - v) % 17))
                x += n
                self.stats["pre19"] += 1
            else:
                codes.append(((prev[x] - v) % 17,))
                x += 1
        freqs = [0] * 20
        for c in codes:
            freqs[c[0]] += 1
            if c[0] == 19:
                freqs[c[3]] += 1
        pre = code_lengths(freqs, 15)
        pcode = canonical_codes(pre)
        for l in pre:
            w.put(l, 4)
        for c in codes:
            w.put(pcode[c[0]], pre[c[0]])
            if c[0] in (17, 18):
                w.put(c[1], c[2])
            elif c[0] == 19:
                w.put(c[1], 1)
                w.put(pcode[c[3]], pre[c[3]])
        for x in range(first, last):
            prev[x] = new[x]

    def encode(self, data, plan, align_uncompressed=()):
        """Compressed frames (one per data block) of data under the plan.
        Blocks listed in align_uncompressed get their preceding block
        stretched until their header ends exactly on a 16-bit boundary, so
        that the full 16 bits of padding are needed."""
        src = e8_encode(data, self.e8_size) if self.e8_size is not None else data
        matcher = Matcher(src, self.window, 2, 257, self.window - 3)
        frames = []
        w = LzxBits()
        if self.e8_size is None:
            w.put(0, 1)
        else:
            w.put(1, 1)
            w.put(self.e8_size >> 16, 16)
            w.put(self.e8_size & 0xFFFF, 16)
        pos = 0
        state = None
        plan = list(plan)
        k = 0
        while k < len(plan):
            kind, length = plan[k]
            length = min(length, len(src) - pos)
            if k + 1 in align_uncompressed and plan[k + 1][0] == 3:
                # Find a length of this block that aligns the next header.
                base = (self.r[:], self.prev_main[:], self.prev_length[:], w.out[:], w.word, w.used,
                        len(frames), {key: list(v) for key, v in matcher.heads.items()},
                        self.rng.getstate(), dict(self.stats))
                for extra in range(0, 64):
                    trial = min(length + extra, len(src) - pos)
                    self._block(src, pos, trial, kind, matcher, w, frames)
                    if (w.used + 27) % 16 == 0:
                        length = trial
                        break
                    (r, pm, pl, out, word, used, nf, heads, rs, st) = base
                    self.r, self.prev_main, self.prev_length = r[:], pm[:], pl[:]
                    w.out, w.word, w.used = bytearray(out), word, used
                    del frames[nf:]
                    matcher.heads = {key: list(v) for key, v in heads.items()}
                    self.rng.setstate(rs)
                    self.stats = dict(st)
                else:
                    raise RuntimeError("could not align the stored block")
                plan[k + 1] = (3, plan[k + 1][1] - (length - plan[k][1]))
            else:
                self._block(src, pos, length, kind, matcher, w, frames)
            pos += length
            k += 1
        assert pos == len(src), (pos, len(src))
        if w.used or w.out:
            w.align()
            frames.append(bytes(w.out))
        return frames

    def _block(self, src, pos, length, kind, matcher, w, frames):
        w.put(kind, 3)
        w.put(length >> 8, 16)
        w.put(length & 0xFF, 8)
        if kind == 3:
            w.put(0, 16 - w.used if w.used else 16)
            w.raw(struct.pack("<III", *self.r))
            at = pos
            while at < pos + length:
                n = min(pos + length, (at // FRAME + 1) * FRAME) - at
                w.raw(src[at:at + n])
                for i in range(at, at + n, 3):
                    matcher.insert(i)
                at += n
                if at % FRAME == 0:
                    if at == pos + length and length % 2:
                        w.raw(b"\0")
                    frames.append(bytes(w.out))
                    w.out = bytearray()
            if length % 2 and at % FRAME != 0:
                w.raw(b"\0")
            return
        tokens = self.parse(src, pos, pos + length, matcher)
        syms = self.symbols(tokens, kind == 2)
        aligned = kind == 2
        mfreq = [0] * self.main_syms
        lfreq = [0] * 249
        afreq = [0] * 8
        for s, footer, extra, slot in syms:
            mfreq[s] += 1
            if footer is not None:
                lfreq[footer] += 1
            if aligned and extra and extra[1] >= 3:
                afreq[extra[0] & 7] += 1
        main_len = code_lengths(mfreq, 16)
        length_len = code_lengths(lfreq, 16)
        mcode = canonical_codes(main_len)
        lcode = canonical_codes(length_len)
        if aligned:
            align_len = code_lengths(afreq, 7)
            if not any(align_len):
                align_len = [3] * 8
            acode = canonical_codes(align_len)
            for l in align_len:
                w.put(l, 3)
        self.write_lengths(w, main_len, self.prev_main, 0, 256)
        self.write_lengths(w, main_len, self.prev_main, 256, self.main_syms)
        self.write_lengths(w, length_len, self.prev_length, 0, 249)
        out_pos = pos
        for (s, footer, extra, slot), t in zip(syms, tokens):
            w.put(mcode[s], main_len[s])
            if footer is not None:
                w.put(lcode[footer], length_len[footer])
            if extra:
                value, n = extra
                if aligned and n >= 3:
                    w.put(value >> 3, n - 3)
                    w.put(acode[value & 7], align_len[value & 7])
                elif n:
                    w.put(value, n)
            out_pos += 1 if isinstance(t, int) else t[0]
            if out_pos % FRAME == 0:
                w.align()
                frames.append(bytes(w.out))
                w.out = bytearray()


# ---------------------------------------------------------------- Quantum

Q_EXTRA = [0 if i < 4 else (i - 2) // 2 for i in range(42)]
Q_BASE = []
_b = 0
for _e in Q_EXTRA:
    Q_BASE.append(_b)
    _b += 1 << _e
QL_EXTRA = [0 if i < 6 or i == 26 else (i - 2) // 4 for i in range(27)]
QL_BASE = []
_b = 0
for _e in QL_EXTRA:
    QL_BASE.append(_b)
    _b += 1 << _e


class QModel:
    def __init__(self, start, n):
        self.n = n
        self.shifts = 4
        self.sym = [start + i for i in range(n + 1)]
        self.cum = [n - i for i in range(n + 1)]

    def index(self, symbol):
        return self.sym.index(symbol, 0, self.n)

    def bump(self, k):
        for i in range(k + 1):
            self.cum[i] += 8
        if self.cum[0] > 3800:
            self.shifts -= 1
            if self.shifts:
                for i in range(self.n - 1, -1, -1):
                    self.cum[i] >>= 1
                    if self.cum[i] <= self.cum[i + 1]:
                        self.cum[i] = self.cum[i + 1] + 1
            else:
                self.shifts = 50
                for i in range(self.n):
                    self.cum[i] = (self.cum[i] - self.cum[i + 1] + 1) >> 1
                for i in range(self.n - 1):
                    for j in range(i + 1, self.n):
                        if self.cum[i] < self.cum[j]:
                            self.cum[i], self.cum[j] = self.cum[j], self.cum[i]
                            self.sym[i], self.sym[j] = self.sym[j], self.sym[i]
                for i in range(self.n - 1, -1, -1):
                    self.cum[i] += self.cum[i + 1]


class QuantumEncoder:
    def __init__(self, window_bits):
        self.bits = window_bits
        self.window = 1 << window_bits
        slots = 2 * window_bits
        self.selector = QModel(0, 7)
        self.literal = [QModel(64 * i, 64) for i in range(4)]
        self.off3 = QModel(0, min(slots, 24))
        self.off4 = QModel(0, min(slots, 36))
        self.off_long = QModel(0, slots)
        self.length = QModel(0, 27)

    # -- arithmetic coder, one frame at a time
    def start_frame(self):
        self.low, self.high = 0, 0xFFFF
        self.pending = 0
        self.shifts = 0
        self.abits = []
        self.raws = []

    def emit(self, bit):
        self.abits.append(bit)
        self.abits.extend([1 - bit] * self.pending)
        self.pending = 0

    def code(self, model, symbol):
        k = model.index(symbol)
        rng = self.high - self.low + 1
        total = model.cum[0]
        self.high = (self.low + (model.cum[k] * rng) // total - 1) & 0xFFFF
        self.low = (self.low + (model.cum[k + 1] * rng) // total) & 0xFFFF
        model.bump(k)
        while True:
            if not ((self.low ^ self.high) & 0x8000):
                self.emit(self.high >> 15)
            elif (self.low & 0x4000) and not (self.high & 0x4000):
                self.pending += 1
                self.low &= 0x3FFF
                self.high |= 0x4000
            else:
                break
            self.low = (self.low << 1) & 0xFFFF
            self.high = ((self.high << 1) | 1) & 0xFFFF
            self.shifts += 1

    def raw(self, value, n):
        # The decoder reads these right after the 16 + shifts coder bits it
        # has taken in so far.
        if n:
            self.raws.append((16 + self.shifts, [(value >> i) & 1 for i in range(n - 1, -1, -1)]))

    def end_frame(self):
        self.pending += 1
        self.emit(0 if self.low < 0x4000 else 1)
        need = max([16 + self.shifts] + [at for at, _ in self.raws])
        self.abits.extend([0] * (need - len(self.abits)))
        bits = []
        raws = iter(self.raws)
        nxt = next(raws, None)
        for j in range(len(self.abits) + 1):
            while nxt is not None and nxt[0] == j:
                bits += nxt[1]
                nxt = next(raws, None)
            if j < len(self.abits):
                bits.append(self.abits[j])
        assert nxt is None
        bits += [0] * (-len(bits) % 8)
        out = bytearray()
        for i in range(0, len(bits), 8):
            v = 0
            for b in bits[i:i + 8]:
                v = (v << 1) | b
            out.append(v)
        return bytes(out)

    def encode(self, data):
        max3 = Q_BASE[self.off3.n - 1] + (1 << Q_EXTRA[self.off3.n - 1])
        max4 = Q_BASE[self.off4.n - 1] + (1 << Q_EXTRA[self.off4.n - 1])
        matcher = Matcher(data, self.window, 3, 259, self.window)
        frames = []
        for frame_start in range(0, len(data), FRAME):
            frame_end = min(len(data), frame_start + FRAME)
            self.start_frame()
            i = frame_start
            while i < frame_end:
                length, off = matcher.best(i, frame_end - i, [])
                if length == 3 and off > max3:
                    length = 0
                if length == 4 and off > max4:
                    length = 3 if off <= max3 else 0
                if length >= 3:
                    if length == 3:
                        self.code(self.selector, 4)
                        self.offset(self.off3, off)
                    elif length == 4:
                        self.code(self.selector, 5)
                        self.offset(self.off4, off)
                    else:
                        self.code(self.selector, 6)
                        slot = max(s for s in range(27) if QL_BASE[s] <= length - 5)
                        self.code(self.length, slot)
                        self.raw(length - 5 - QL_BASE[slot], QL_EXTRA[slot])
                        self.offset(self.off_long, off)
                    for k in range(i, i + min(length, 4)):
                        matcher.insert(k)
                    i += length
                else:
                    b = data[i]
                    self.code(self.selector, b >> 6)
                    self.code(self.literal[b >> 6], b)
                    matcher.insert(i)
                    i += 1
            frames.append(self.end_frame())
        return frames

    def offset(self, model, off):
        slot = max(s for s in range(model.n) if Q_BASE[s] <= off - 1)
        self.code(model, slot)
        self.raw(off - 1 - Q_BASE[slot], Q_EXTRA[slot])


# ---------------------------------------------------------------- cabinets

def checksum(data, seed=0):
    s = seed
    n = len(data) // 4
    for (w,) in struct.iter_unpack("<I", data[:4 * n]):
        s ^= w
    t = 0
    for b in data[4 * n:]:
        t = (t << 8) | b
    return s ^ t


def cabinet(folders, set_id=0x7A11):
    """folders: [(type word, frames, [(name, data)])] with one frame of
    compressed bytes per data block."""
    nfiles = sum(len(f[2]) for f in folders)
    header_len = 36
    folder_at = header_len
    files_at = folder_at + 8 * len(folders)
    entries = bytearray()
    for index, (_, _, files) in enumerate(folders):
        offset = 0
        for name, data in files:
            entries += struct.pack("<IIHHHH", len(data), offset, index, 0x5A21, 0x6C40, 0x20)
            entries += name.encode() + b"\0"
            offset += len(data)
    data_at = files_at + len(entries)
    folder_table = bytearray()
    blocks = bytearray()
    for type_word, frames, files in folders:
        total = sum(len(d) for _, d in files)
        folder_table += struct.pack("<IHH", data_at + len(blocks), len(frames), type_word)
        for k, frame in enumerate(frames):
            uncomp = min(FRAME, total - k * FRAME)
            head = struct.pack("<HH", len(frame), uncomp)
            blocks += struct.pack("<I", checksum(head, checksum(frame))) + head + frame
    size = data_at + len(blocks)
    head = struct.pack("<4sIIIIIBBHHHHH", b"MSCF", 0, size, 0, files_at, 0, 3, 1, len(folders), nfiles, 0,
                       set_id, 0)
    return head + folder_table + entries + blocks


def check_with_cabextract(path, folders):
    with tempfile.TemporaryDirectory() as tmp:
        t = subprocess.run(["cabextract", "-t", path], capture_output=True, text=True)
        if t.returncode != 0:
            raise SystemExit("cabextract -t failed on %s:\n%s%s" % (path, t.stdout, t.stderr))
        subprocess.run(["cabextract", "-q", "-d", tmp, path], check=True)
        for _, _, files in folders:
            for name, data in files:
                with open(os.path.join(tmp, name), "rb") as f:
                    if f.read() != data:
                        raise SystemExit("cabextract gives other bytes for %s in %s" % (name, path))


# ---------------------------------------------------------------- the vectors

def lzx_folder(window_bits, files, plan=None, e8_size=None, align_uncompressed=(), seed=1):
    data = b"".join(d for _, d in files)
    enc = LzxEncoder(window_bits, e8_size, seed)
    plan = plan or [(1, len(data))]
    frames = enc.encode(data, plan, align_uncompressed)
    assert len(frames) == (len(data) + FRAME - 1) // FRAME, (len(frames), len(data))
    return (3 | (window_bits << 8), frames, files), enc.stats


def quantum_folder(window_bits, files):
    data = b"".join(d for _, d in files)
    frames = QuantumEncoder(window_bits).encode(data)
    return (2 | (window_bits << 8), frames, files)


def vectors():
    out = {}
    # Every block type in one folder: blocks that span frames, a stored
    # block of odd size, one whose header ends on a word boundary, repeated
    # offsets, CALL translation with a small translation size.
    e8_size = 150000
    blocks = [("calls.bin", plant_frame_ends(x86_data(120000, 7, e8_size))), ("notes.txt", text_data(50000, 8)),
              ("noise.bin", noise_data(9001, 9)), ("tail.txt", text_data(31000, 10))]
    plan = [(1, 40000), (2, 45000), (3, 12345), (1, 300), (3, 5000), (2, 60000), (3, 1), (1, 47655)]
    folder, stats = lzx_folder(16, blocks, plan, e8_size, align_uncompressed=(4,))
    assert all(stats[k] for k in stats), stats
    out["lzx-blocks.cab"] = [folder]
    # Each window size, with a match reaching nearly a whole window back;
    # aligned blocks for the larger ones, whose offsets have enough bits.
    folders = []
    for bits in range(15, 22):
        files = [("far%d.bin" % bits, far_data(1 << bits, bits)), ("text%d.txt" % bits, text_data(20000, bits))]
        kind = 2 if bits >= 18 else 1
        folders.append(lzx_folder(bits, files, [(kind, 1 << 24)], e8_size=None if bits % 2 else 1 << 24,
                                  seed=bits)[0])
    out["lzx-windows.cab"] = folders
    # Quantum: each window size, several frames, enough symbols for the
    # models to be rescaled and rebuilt many times.
    folders = []
    for bits in range(10, 22):
        # The smallest window gets enough symbols for the models' periodic
        # rebuild (every 50th rescaling) to happen several times.
        text = 60000 if bits == 10 else 12000
        files = [("mix%d.bin" % bits, text_data(text, bits) + noise_data(500, bits) + x86_data(6000, bits, 1 << 20))]
        if bits >= 15:
            files.append(("far%d.bin" % bits, far_data(1 << bits, bits + 100)))
        folders.append(quantum_folder(bits, files))
    out["quantum-windows.cab"] = folders
    return out


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    if not shutil.which("cabextract"):
        raise SystemExit("cabextract is needed to check the vectors")
    lines = []
    for name, folders in vectors().items():
        path = os.path.join(target, name)
        with open(path, "wb") as f:
            f.write(cabinet(folders))
        check_with_cabextract(path, folders)
        for _, _, files in folders:
            for fname, data in files:
                lines.append("%s %s %d %08x" % (name, fname, len(data), zlib.crc32(data)))
        print("%s: %d bytes, checked" % (name, os.path.getsize(path)))
    with open(os.path.join(target, "vectors.txt"), "w") as f:
        f.write("# cabinet file size crc32 (made by make_vectors.py)\n")
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
