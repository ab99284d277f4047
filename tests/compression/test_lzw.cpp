#include "compression/lzw.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/error.h"
#include "support/case_names.h"
#include "support/tool_files.h"

namespace pictures {
namespace {

using Bytes = std::vector<uint8_t>;
using test_support::PrintTo;
using test_support::RunCommand;
using test_support::ShellQuote;

constexpr uint8_t kUntouched = 0x5A;
constexpr size_t kMargin = 16;

enum class Flavour { Tiff, Gif };

// Packs codes of the given widths in the flavour's bit order: TIFF most significant bit
// first, GIF least significant bit first.
Bytes PackCodes(Flavour flavour, const std::vector<std::pair<uint32_t, int>>& codes) {
  Bytes out;
  uint64_t acc = 0;
  int bits = 0;
  for (auto [code, width] : codes) {
    if (flavour == Flavour::Gif) {
      acc |= uint64_t(code) << bits;
      bits += width;
      for (; bits >= 8; bits -= 8, acc >>= 8) out.push_back(static_cast<uint8_t>(acc));
    } else {
      acc = acc << width | code;
      bits += width;
      for (; bits >= 8; bits -= 8) out.push_back(static_cast<uint8_t>(acc >> (bits - 8)));
    }
  }
  if (bits > 0)
    out.push_back(static_cast<uint8_t>(flavour == Flavour::Gif ? acc : acc << (8 - bits)));
  return out;
}

std::unique_ptr<TDecoder> MakeDecoder(Flavour flavour, uint8_t initialCodeSize) {
  if (flavour == Flavour::Tiff) return std::make_unique<TTIFFLZW>();
  auto gif = std::make_unique<TGIFLZW>();
  gif->InitialCodeSize = initialCodeSize;
  return gif;
}

// Decodes into a buffer kMargin bytes longer than unpackedSize, filled with kUntouched.
constexpr int32_t kAllPacked = INT32_MIN;

Bytes Decode(TDecoder& decoder, const Bytes& packed, int32_t unpackedSize,
             int32_t packedSize = kAllPacked) {
  Bytes out(static_cast<size_t>(unpackedSize) + kMargin, kUntouched);
  const uint8_t* p = packed.data();
  decoder.Decode(p, out.data(),
                 packedSize == kAllPacked ? static_cast<int32_t>(packed.size()) : packedSize,
                 unpackedSize);
  EXPECT_EQ(p, packed.data()) << "the source pointer must not move";
  return out;
}

Bytes Untouched(Bytes written, size_t total) {
  written.resize(total, kUntouched);
  return written;
}

struct HandCase {
  std::string name;
  Flavour flavour;
  uint8_t initialCodeSize;
  std::vector<std::pair<uint32_t, int>> codes;
  int32_t unpackedSize;
  Bytes expected;       // bytes written; the rest of the buffer stays untouched
  std::string error;    // the message when decoding must fail
};

// Literal codes 0, 1, 2, ... of the given width, `count` of them, after a clear code.
std::vector<std::pair<uint32_t, int>> Literals(uint32_t clear, int width, int count) {
  std::vector<std::pair<uint32_t, int>> codes{{clear, width}};
  for (int i = 0; i < count; ++i) codes.push_back({uint32_t(i), width});
  return codes;
}

Bytes Counting(int count) {
  Bytes b;
  for (int i = 0; i < count; ++i) b.push_back(uint8_t(i));
  return b;
}

std::vector<HandCase> HandCases() {
  std::vector<HandCase> cases = {
      // Clear, A, B, then entry 258 = "AB", the end code, and codes after it that would
      // be invalid: they are never read.
      {"TiffClearToEnd", Flavour::Tiff, 8,
       {{256, 9}, {'A', 9}, {'B', 9}, {258, 9}, {257, 9}, {400, 9}}, 10,
       {'A', 'B', 'A', 'B'}, ""},
      // A code equal to the next free entry is the previous string plus its first byte.
      {"TiffCodeEqualToFreeCode", Flavour::Tiff, 8, {{256, 9}, {'A', 9}, {258, 9}, {257, 9}},
       10, {'A', 'A', 'A'}, ""},
      {"TiffNoClearAtStart", Flavour::Tiff, 8, {{'x', 9}, {'y', 9}, {258, 9}}, 10,
       {'x', 'y', 'x', 'y'}, ""},
      {"TiffCodeAboveFreeCode", Flavour::Tiff, 8, {{256, 9}, {'A', 9}, {259, 9}}, 10, {'A'},
       "TIF LZW: invalid opcode."},
      // Decoding stops before a code once the output is full; the last string is cut.
      {"TiffStringCutAtOutputEnd", Flavour::Tiff, 8,
       {{256, 9}, {'A', 9}, {'B', 9}, {258, 9}, {259, 9}}, 3, {'A', 'B', 'A'}, ""},
      {"TiffNoCodeAfterOutputFull", Flavour::Tiff, 8, {{256, 9}, {'A', 9}, {'B', 9}, {300, 9}},
       2, {'A', 'B'}, ""},
      // A clear code in the middle restarts the width and the free entry.
      {"TiffClearInTheMiddle", Flavour::Tiff, 8,
       {{256, 9}, {'A', 9}, {'B', 9}, {256, 9}, {'C', 9}, {'D', 9}, {258, 9}, {257, 9}}, 10,
       {'A', 'B', 'C', 'D', 'C', 'D'}, ""},
      // The first code of a table naming the next free entry writes that entry's last byte
      // (none yet: 0), and the self-referencing entry that follows cannot loop.
      {"TiffFirstCodeIsFreeCode", Flavour::Tiff, 8,
       {{256, 9}, {258, 9}, {'A', 9}, {258, 9}, {259, 9}, {257, 9}}, 20,
       {0, 'A', 0, 'A', 'A', 0}, ""},

      // Entry 7 is made with the code 6, so the end code after it is 4 bits wide.
      {"GifClearToEnd", Flavour::Gif, 2, {{4, 3}, {1, 3}, {2, 3}, {6, 3}, {5, 4}, {7, 4}}, 10,
       {1, 2, 1, 2}, ""},
      {"GifCodeEqualToFreeCode", Flavour::Gif, 2, {{4, 3}, {3, 3}, {6, 3}, {5, 3}}, 10,
       {3, 3, 3}, ""},
      {"GifCodeAboveFreeCode", Flavour::Gif, 8, {{256, 9}, {1, 9}, {259, 9}}, 10, {1},
       "GIF LZW: invalid opcode."},
      // The width grows once the entry at the mask (7) is filled: entries 6 and 7 come with
      // the second and third code, so the fourth code is 4 bits wide.
      {"GifSmallCodeSizeGrows", Flavour::Gif, 2,
       {{4, 3}, {0, 3}, {1, 3}, {2, 3}, {7, 4}, {5, 4}}, 10, {0, 1, 2, 1, 2}, ""},
      // A minimum code size too large for a 12-bit table decodes nothing.
      {"GifCodeSizeTooLarge", Flavour::Gif, 12, {{0, 13}, {1, 13}}, 4, {}, ""},
  };

  // TIFF: after a clear, 254 literal codes make entries 258..510; the code that makes
  // entry 510 is the last 9-bit one (the width grows one entry early).
  {
    HandCase c{"TiffWidthGrowsAfterEntry510", Flavour::Tiff, 8, Literals(256, 9, 254), 0, {}, ""};
    c.codes.push_back({300, 10});  // entry 300 = bytes 42, 43
    c.codes.push_back({257, 10});
    c.expected = Counting(254);
    c.expected.insert(c.expected.end(), {42, 43});
    c.unpackedSize = static_cast<int32_t>(c.expected.size());
    cases.push_back(c);
  }
  // GIF, minimum code size 8: the code that makes entry 511 is still 9 bits wide, the
  // next one is 10 bits wide.
  {
    HandCase c{"GifWidthGrowsAfterEntry511", Flavour::Gif, 8, Literals(256, 9, 255), 0, {}, ""};
    c.codes.push_back({511, 10});  // entry 511 = bytes 253, 254
    c.codes.push_back({257, 10});
    c.expected = Counting(255);
    c.expected.insert(c.expected.end(), {253, 254});
    c.unpackedSize = static_cast<int32_t>(c.expected.size());
    cases.push_back(c);
  }
  return cases;
}

class LzwHandMade : public ::testing::TestWithParam<HandCase> {};

TEST_P(LzwHandMade, Decodes) {
  const HandCase& c = GetParam();
  auto decoder = MakeDecoder(c.flavour, c.initialCodeSize);
  const Bytes packed = PackCodes(c.flavour, c.codes);
  if (!c.error.empty()) {
    Bytes out(static_cast<size_t>(c.unpackedSize), 0);
    const uint8_t* p = packed.data();
    try {
      decoder->Decode(p, out.data(), static_cast<int32_t>(packed.size()), c.unpackedSize);
      FAIL() << "no error";
    } catch (const PictureError& e) {
      EXPECT_EQ(std::string(e.what()), c.error);
    }
    return;
  }
  const Bytes out = Decode(*decoder, packed, c.unpackedSize);
  EXPECT_EQ(out, Untouched(c.expected, out.size()));
}

INSTANTIATE_TEST_SUITE_P(Codes, LzwHandMade, ::testing::ValuesIn(HandCases()),
                         [](const auto& info) { return info.param.name; });

TEST(LzwSizes, EmptyOrNegativeSizesWriteNothing) {
  const Bytes packed = PackCodes(Flavour::Tiff, {{256, 9}, {'A', 9}, {257, 9}});
  for (Flavour flavour : {Flavour::Tiff, Flavour::Gif}) {
    auto decoder = MakeDecoder(flavour, 8);
    EXPECT_EQ(Decode(*decoder, packed, 0), Bytes(kMargin, kUntouched));
    EXPECT_EQ(Decode(*decoder, packed, 4, 0), Bytes(4 + kMargin, kUntouched));
    EXPECT_EQ(Decode(*decoder, packed, 4, -3), Bytes(4 + kMargin, kUntouched));
  }
}

// The data that expands most: after a root code, every code names the newest string, one
// byte longer than the one before, and once the table is full the longest string again
// and again. Readers refuse pictures that more data than this could not fill, so the
// bound must hold for it.
TEST(LzwSizes, TheLongestExpansionStaysWithinTheBound) {
  for (Flavour flavour : {Flavour::Tiff, Flavour::Gif}) {
    const unsigned rootBits = flavour == Flavour::Tiff ? 8 : 2;
    const uint32_t clear = 1u << rootBits;
    int width = rootBits + 1;
    std::vector<std::pair<uint32_t, int>> codes = {{clear, width}, {0, width}};
    for (uint32_t next = clear + 2; codes.size() < 6000;) {
      codes.push_back({std::min<uint32_t>(next, 4095), width});
      if (next == 4096) continue;
      // GIF widens once the entry at the mask is made, TIFF one entry earlier.
      if (flavour == Flavour::Tiff) ++next;
      if (next == (1u << width) - 1 && width < 12) ++width;
      if (flavour == Flavour::Gif) ++next;
    }
    const Bytes packed = PackCodes(flavour, codes);
    const uint64_t bound = LZWMaxUnpacked(packed.size(), rootBits);
    auto decoder = MakeDecoder(flavour, uint8_t(rootBits));
    constexpr int32_t kRoom = 24'000'000;
    const Bytes out = Decode(*decoder, packed, kRoom);
    const size_t written = std::find(out.begin(), out.end(), kUntouched) - out.begin();
    EXPECT_GT(written, 15'000'000u);  // the chain was decoded as built, to its end
    EXPECT_LT(written, size_t(kRoom));
    EXPECT_LE(written, bound);
  }
}

// A plain LZW encoder for the tests below: the codes of `data` after a clear code, with
// the widths the decoder expects, and how many bytes the output holds after each code.
struct Encoded {
  std::vector<std::pair<uint32_t, int>> codes;
  std::vector<size_t> produced;
  std::vector<uint32_t> free;  // the decoder's next free entry after each code
};

Encoded Encode(Flavour flavour, int rootBits, const Bytes& data) {
  const uint32_t clear = 1u << rootBits;
  std::map<std::pair<uint32_t, uint8_t>, uint32_t> table;  // (string, next byte) -> entry
  uint32_t next = clear + 2;  // the encoder's next entry
  uint32_t decoderFree = 0;   // the decoder's free entry, 0 before its first string
  Encoded e;
  auto emit = [&](uint32_t code, size_t length) {
    const uint32_t f = decoderFree ? decoderFree : clear + 2;
    const int bits = std::bit_width(flavour == Flavour::Tiff ? f + 1 : f);
    e.codes.push_back({code, std::clamp(bits, rootBits + 1, 12)});
    if (code != clear) decoderFree = decoderFree ? std::min(decoderFree + 1, 4096u) : clear + 2;
    e.produced.push_back((e.produced.empty() ? 0 : e.produced.back()) + length);
    e.free.push_back(decoderFree ? decoderFree : clear + 2);
  };
  emit(clear, 0);
  uint32_t w = data[0];
  size_t length = 1;
  for (size_t i = 1; i < data.size(); ++i) {
    const auto found = table.find({w, data[i]});
    if (found != table.end()) {
      w = found->second;
      ++length;
      continue;
    }
    emit(w, length);
    if (next < 4096) table[{w, data[i]}] = next++;
    w = data[i];
    length = 1;
  }
  emit(w, length);
  return e;
}

// Decoding that stops early, at an end code, at an invalid code or where the packed bytes
// run out, after strings of many lengths: the output holds what the codes before gave, and
// every byte after it is as it was, including the bytes just after the last string.
TEST(LzwEarlyStop, BytesAfterTheOutputStayAsTheyWere) {
  Bytes data(3000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t((i * i / 7 + i / 13) % 11);
  enum class Stop { EndCode, InvalidCode, PackedEnd };
  for (Flavour flavour : {Flavour::Tiff, Flavour::Gif}) {
    const int rootBits = 8;
    const Encoded encoded = Encode(flavour, rootBits, data);
    ASSERT_GT(encoded.codes.size(), 400u);
    for (size_t count : {2, 3, 40, 111, 250, 399}) {
      for (Stop stop : {Stop::EndCode, Stop::InvalidCode, Stop::PackedEnd}) {
        SCOPED_TRACE(std::to_string(count) + " codes, stop " + std::to_string(int(stop)));
        std::vector<std::pair<uint32_t, int>> codes(encoded.codes.begin(),
                                                     encoded.codes.begin() + long(count));
        const int width = encoded.codes[count].second;
        if (stop == Stop::EndCode) codes.push_back({(1u << rootBits) + 1, width});
        if (stop == Stop::InvalidCode) {
          const uint32_t invalid = encoded.free[count - 1] + 1;
          ASSERT_LT(invalid, 1u << width);
          codes.push_back({invalid, width});
        }
        const Bytes packed = PackCodes(flavour, codes);
        auto decoder = MakeDecoder(flavour, uint8_t(rootBits));
        Bytes out(data.size() + kMargin, kUntouched);
        const uint8_t* p = packed.data();
        const size_t length = encoded.produced[count - 1];
        try {
          decoder->Decode(p, out.data(), static_cast<int32_t>(packed.size()),
                          static_cast<int32_t>(data.size()));
          EXPECT_NE(stop, Stop::InvalidCode) << "no error";
        } catch (const PictureError& e) {
          EXPECT_EQ(stop, Stop::InvalidCode) << e.what();
        }
        EXPECT_EQ(out, Untouched(Bytes(data.begin(), data.begin() + long(length)), out.size()));
      }
    }
  }
}

// Encodes pictures with independent LZW encoders and prints, for each block, the
// flavour, the minimum code size, the packed bytes and the bytes the encoder was given
// (or, for whole GIF files, what PIL decodes from them):
//  - libtiff through PIL and through tiffcp (TIFF strips);
//  - PIL, ImageMagick and giflib (the first image of a GIF file);
//  - a plain encoder written here from the format descriptions, for cases the tools do
//    not produce: tables that fill up without a clear code (GIF allows this and keeps
//    using the full table), clear codes at other places, no clear code at the start, no
//    end code. Its GIF output is checked against PIL's decoder before it is used.
constexpr const char* kVectorScript = R"PY(
import io, random, struct, subprocess, sys
from PIL import Image, TiffImagePlugin

folder, out_path = sys.argv[1], sys.argv[2]
records = []
rng = random.Random(1234)

def record(name, flavour, ics, packed, raw):
    records.append((name, flavour, ics, packed, raw))

def picture(w, h, levels):
    px = bytearray(w * h)
    for y in range(h):
        for x in range(w):
            band = (x // 24 + y // 16) % 4
            if band == 0: v = (x + 2 * y) % levels
            elif band == 1: v = rng.randrange(levels)
            elif band == 2: v = (y // 4) % levels
            else: v = (x * x + y) % levels
            px[y * w + x] = v
    return bytes(px)

def tiff_strips(name, data, raw, row_bytes):
    t = Image.open(io.BytesIO(data))
    assert t.tag_v2[259] == 5, 'not LZW'
    assert t.tag_v2.get(317, 1) == 1, 'predictor'
    rps = t.tag_v2.get(278, t.size[1])
    for i, (o, c) in enumerate(zip(t.tag_v2[273], t.tag_v2[279])):
        rows = min(rps, t.size[1] - i * rps)
        record('%s strip %d' % (name, i), b'T', 8, data[o:o + c],
               raw[i * rps * row_bytes:(i * rps + rows) * row_bytes])

def gif_lzw(data):
    i = 13
    if data[10] & 0x80: i += 3 * (2 << (data[10] & 7))
    while data[i] != 0x2C:
        assert data[i] == 0x21
        i += 2
        while data[i]: i += data[i] + 1
        i += 1
    flags = data[i + 9]
    i += 10
    if flags & 0x80: i += 3 * (2 << (flags & 7))
    assert not flags & 0x40, 'interlaced'
    ics = data[i]
    i += 1
    packed = bytearray()
    while data[i]:
        packed += data[i + 1:i + 1 + data[i]]
        i += data[i] + 1
    return ics, bytes(packed)

def gif_record(name, data):
    ics, packed = gif_lzw(data)
    record(name, b'G', ics, packed, Image.open(io.BytesIO(data)).tobytes())

# libtiff (through PIL and tiffcp).
w, h = 640, 300
grey = picture(w, h, 256)
buf = io.BytesIO()
Image.frombytes('L', (w, h), grey).save(buf, format='TIFF', compression='tiff_lzw')
tiff_strips('pil grey', buf.getvalue(), grey, w)
rgb = bytes(v for i in range(w * h // 2) for v in (grey[i], grey[-1 - i], (grey[i] * 7) & 255))
buf = io.BytesIO()
Image.frombytes('RGB', (w, h // 2), rgb).save(buf, format='TIFF', compression='tiff_lzw')
tiff_strips('pil rgb', buf.getvalue(), rgb, 3 * w)
Image.frombytes('L', (w, h), grey).save(folder + '/plain.tif')
subprocess.run(['tiffcp', '-c', 'lzw', '-r', '100000', folder + '/plain.tif',
                folder + '/lzw.tif'], check=True)
tiff_strips('tiffcp one strip', open(folder + '/lzw.tif', 'rb').read(), grey, w)

# GIF from PIL (minimum code size 8).
pal = bytes(v for i in range(256) for v in (i, 255 - i, (i * 5) & 255))
im = Image.frombytes('P', (w, h), grey)
im.putpalette(pal)
buf = io.BytesIO()
im.save(buf, format='GIF', interlace=False, optimize=False)
gif_record('pil gif', buf.getvalue())

# GIF from ImageMagick and giflib with smaller colour tables.
for bits in (1, 2, 4, 7):
    levels = 1 << bits
    small = picture(160, 120, levels)
    rgbs = bytes(v for p in small for v in ((p * 255) // (levels - 1), (p * 37) & 255, 0))
    open(folder + '/in.rgb', 'wb').write(rgbs)
    subprocess.run(['/usr/bin/convert', '-size', '160x120', '-depth', '8',
                    'rgb:' + folder + '/in.rgb', folder + '/im.gif'], check=True)
    gif_record('imagemagick %d colours' % levels, open(folder + '/im.gif', 'rb').read())
    with open(folder + '/in.rgb', 'rb') as src, open(folder + '/gl.gif', 'wb') as dst:
        subprocess.run(['gif2rgb', '-1', '-c', str(max(bits, 1)), '-s', '160', '120'],
                       stdin=src, stdout=dst, check=True)
    gif_record('giflib %d colours' % levels, open(folder + '/gl.gif', 'rb').read())

# The plain encoder. `width` follows the decoder: GIF codes widen once the entry at the
# mask exists, TIFF codes one entry earlier; a full table (4096 entries) takes no more.
def encode(data, flavour, ics, clear_at=None, eoi=True, initial_clear=True):
    clear = 1 << ics
    first_free = clear + 2
    codes = []
    dec = {'free': first_free, 'first': True}
    def emit(code):
        f = dec['free']
        width = (f + 1).bit_length() if flavour == b'T' else f.bit_length()
        codes.append((code, min(12, max(ics + 1, width))))
        if code == clear:
            dec['free'], dec['first'] = first_free, True
        elif dec['first']:
            dec['first'] = False
        else:
            dec['free'] = min(f + 1, 4096)
    def new_table():
        return {bytes([i]): i for i in range(clear)}, first_free
    table, nxt = new_table()
    if initial_clear: emit(clear)
    w = b''
    for c in data:
        wc = w + bytes([c])
        if wc in table:
            w = wc
            continue
        emit(table[w])
        if nxt < 4096:
            table[wc] = nxt
            nxt += 1
        if clear_at is not None and nxt >= clear_at:
            emit(clear)
            table, nxt = new_table()
        w = bytes([c])
    if w: emit(table[w])
    if eoi: emit(clear + 1)
    out, acc, nbits = bytearray(), 0, 0
    for code, width in codes:
        if flavour == b'G':
            acc |= code << nbits
            nbits += width
            while nbits >= 8:
                out.append(acc & 255)
                acc >>= 8
                nbits -= 8
        else:
            acc = (acc << width) | code
            nbits += width
            while nbits >= 8:
                nbits -= 8
                out.append((acc >> nbits) & 255)
            acc &= (1 << nbits) - 1
    if nbits: out.append((acc << (8 - nbits) if flavour == b'T' else acc) & 255)
    return bytes(out)

def gif_file(width, height, ics, packed):
    blocks = b''.join(bytes([len(packed[i:i + 255])]) + packed[i:i + 255]
                      for i in range(0, len(packed), 255))
    return (b'GIF89a' + struct.pack('<HHBBB', width, height, 0xF7, 0, 0) + pal +
            b',' + struct.pack('<HHHHB', 0, 0, width, height, 0) + bytes([ics]) + blocks +
            b'\0;')

def own(name, flavour, ics, data, w, **options):
    packed = encode(data, flavour, ics, **options)
    if flavour == b'G':
        decoded = Image.open(io.BytesIO(gif_file(w, len(data) // w, ics, packed))).tobytes()
        assert decoded == data, name + ': PIL does not decode the encoder output'
    record(name, flavour, ics, packed, data)

noise = bytes(rng.randrange(256) for _ in range(60000)) + grey[:60000]
own('gif table full without clear', b'G', 8, noise, 600)
own('gif 3-bit table full without clear', b'G', 3,
    bytes(v & 7 for v in noise[:40000]) + bytes(40000), 400)
own('gif clear after entry 4095', b'G', 8, noise, 600, clear_at=4096)
own('gif clear at 1000, no end code', b'G', 8, noise, 600, clear_at=1000, eoi=False)
own('gif no clear at start', b'G', 5, bytes(v & 31 for v in noise[:20000]), 200,
    initial_clear=False)
own('tiff table full without clear', b'T', 8, noise, 600)
own('tiff clear after entry 4093', b'T', 8, noise, 600, clear_at=4094)
own('tiff no clear at start, no end code', b'T', 8, noise[:30000], 600, initial_clear=False,
    eoi=False)

with open(out_path, 'wb') as f:
    for name, flavour, ics, packed, raw in records:
        n = name.encode()
        f.write(bytes([len(n)]) + n + flavour + bytes([ics]) +
                struct.pack('<II', len(packed), len(raw)) + packed + raw)
)PY";

struct Vector {
  std::string name;
  Flavour flavour;
  uint8_t initialCodeSize;
  Bytes packed;
  Bytes raw;
};

const std::vector<Vector>& ToolVectors() {
  static const std::vector<Vector> vectors = [] {
    std::vector<Vector> result;
    test_support::TempDir dir;
    const std::string script = dir.File("vectors.py");
    const std::string text = kVectorScript;
    test_support::WriteFileBytes(script, Bytes(text.begin(), text.end()));
    const auto run = RunCommand(std::string(test_support::kPython) + " " + ShellQuote(script) +
                                " " + ShellQuote(dir.Path()) + " " +
                                ShellQuote(dir.File("vectors.bin")));
    if (run.status != 0) {
      ADD_FAILURE() << "the encoders failed:\n" << run.output;
      return result;
    }
    const Bytes all = test_support::ReadFileBytes(dir.File("vectors.bin"));
    size_t i = 0;
    auto u32 = [&](size_t at) {
      return uint32_t(all[at]) | uint32_t(all[at + 1]) << 8 | uint32_t(all[at + 2]) << 16 |
             uint32_t(all[at + 3]) << 24;
    };
    while (i < all.size()) {
      Vector v;
      const size_t nameLength = all[i++];
      v.name.assign(all.begin() + i, all.begin() + i + nameLength);
      i += nameLength;
      v.flavour = all[i++] == 'T' ? Flavour::Tiff : Flavour::Gif;
      v.initialCodeSize = all[i++];
      const uint32_t packedLength = u32(i), rawLength = u32(i + 4);
      i += 8;
      v.packed.assign(all.begin() + i, all.begin() + i + packedLength);
      i += packedLength;
      v.raw.assign(all.begin() + i, all.begin() + i + rawLength);
      i += rawLength;
      result.push_back(std::move(v));
    }
    return result;
  }();
  return vectors;
}

TEST(LzwIndependentEncoders, DecodeWhatTheEncoderWasGiven) {
  const auto& vectors = ToolVectors();
  ASSERT_GE(vectors.size(), 20u);
  // One decoder per flavour is reused, as readers do for the strips of a file.
  TTIFFLZW tiff;
  TGIFLZW gif;
  for (const Vector& v : vectors) {
    SCOPED_TRACE(v.name);
    TDecoder& decoder = v.flavour == Flavour::Tiff ? static_cast<TDecoder&>(tiff) : gif;
    gif.InitialCodeSize = v.initialCodeSize;
    const int32_t size = static_cast<int32_t>(v.raw.size());
    EXPECT_EQ(Decode(decoder, v.packed, size), Untouched(v.raw, size + kMargin));
  }
}

TEST(LzwIndependentEncoders, ShortOutputOrInputStaysInBounds) {
  TTIFFLZW tiff;
  TGIFLZW gif;
  for (const Vector& v : ToolVectors()) {
    SCOPED_TRACE(v.name);
    TDecoder& decoder = v.flavour == Flavour::Tiff ? static_cast<TDecoder&>(tiff) : gif;
    gif.InitialCodeSize = v.initialCodeSize;
    // An output buffer of a third of the picture: its bytes are the picture's, nothing
    // lands after it.
    const int32_t third = static_cast<int32_t>(v.raw.size() / 3);
    Bytes expected(v.raw.begin(), v.raw.begin() + third);
    EXPECT_EQ(Decode(decoder, v.packed, third), Untouched(expected, third + kMargin));
    // Half the packed bytes: a prefix of the picture, the rest untouched. The copy of the
    // packed half has nothing after it, so a read past the end would be seen by ASan.
    const Bytes half(v.packed.begin(), v.packed.begin() + v.packed.size() / 2);
    const int32_t size = static_cast<int32_t>(v.raw.size());
    const Bytes out = Decode(decoder, half, size);
    size_t decoded = 0;
    while (decoded < v.raw.size() && out[decoded] == v.raw[decoded]) ++decoded;
    EXPECT_GT(decoded, v.raw.size() / 4);
    EXPECT_EQ(Bytes(out.begin() + decoded, out.end()), Bytes(out.size() - decoded, kUntouched));
  }
}

}  // namespace
}  // namespace pictures
