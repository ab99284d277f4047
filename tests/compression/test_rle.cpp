#include "compression/rle.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/case_names.h"

namespace pictures {
namespace {

using Bytes = std::vector<uint8_t>;
using test_support::PrintTo;

constexpr uint8_t kPoison = 0xEE;  // packed bytes past PackedSize: reading them shows
constexpr uint8_t kUntouched = 0x5A;  // output bytes past what the decoder may write
constexpr size_t kMargin = 16;

enum class Kind { Packbits, PCX, SGI8, SGI16, CUT, RLA, XCF };

// One plane of an XCF tile through the decoders' shape: Source moves past the packets used,
// and stays where it was when they cannot fill the plane exactly.
class XCFPlaneDecoder : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t* Dest, int32_t PackedSize,
              int32_t UnpackedSize) override {
    Source += DecodeXCFPlane(Source, size_t(PackedSize), Dest, size_t(UnpackedSize), 1);
  }
};

std::unique_ptr<TDecoder> MakeDecoder(Kind kind) {
  switch (kind) {
    case Kind::Packbits: return std::make_unique<TPackbitsRLE>();
    case Kind::PCX: return std::make_unique<TPCXRLE>();
    case Kind::SGI8: return std::make_unique<TSGIRLE>();
    case Kind::SGI16: {
      auto d = std::make_unique<TSGIRLE>();
      d->SampleSize = 2;
      return d;
    }
    case Kind::CUT: return std::make_unique<TCUTRLE>();
    case Kind::RLA: return std::make_unique<TRLADecoder>();
    case Kind::XCF: return std::make_unique<XCFPlaneDecoder>();
  }
  return nullptr;
}

struct Case {
  std::string name;
  Kind kind;
  Bytes packed;          // followed in memory by poison bytes that must not be read
  int32_t unpackedSize;  // the output buffer is longer, and must stay untouched past this
  Bytes expected;        // what the decoder writes; every later output byte stays untouched
  int sourceAdvance = 0; // how far a CUT line moves Source
};

class RunLength : public ::testing::TestWithParam<Case> {};

// PackBits literals and runs of every length, enough of them for the decoder's path that
// checks no bounds: packed when `expanded` is false, else what they expand to.
Bytes EveryPackbitsPacket(bool expanded) {
  Bytes out;
  for (int n = 1; n <= 128; ++n) {
    if (!expanded) out.push_back(uint8_t(n - 1));
    for (int i = 0; i < n; ++i) out.push_back(uint8_t(n + i));
    if (n == 1) continue;
    if (expanded) {
      out.insert(out.end(), size_t(n), uint8_t(n));
    } else {
      out.push_back(uint8_t(1 - n));
      out.push_back(uint8_t(n));
    }
  }
  return out;
}

TEST_P(RunLength, DecodesWithinBounds) {
  const Case& c = GetParam();
  Bytes source = c.packed;
  source.insert(source.end(), kMargin, kPoison);
  Bytes out(static_cast<size_t>(c.unpackedSize) + kMargin, kUntouched);
  const uint8_t* p = source.data();
  MakeDecoder(c.kind)->Decode(p, out.data(), static_cast<int32_t>(c.packed.size()),
                              c.unpackedSize);
  Bytes want = c.expected;
  want.resize(out.size(), kUntouched);
  EXPECT_EQ(out, want);
  EXPECT_EQ(p - source.data(), c.sourceAdvance);
}

// LL LL is a CUT line's length word, which the decoder skips.
const Case kCases[] = {
    // PackBits: a run of 3, then a literal of 3; 0x80 is skipped.
    {"PackbitsRunAndLiteral", Kind::Packbits, {0xFE, 0xAA, 0x02, 0x01, 0x02, 0x03}, 6,
     {0xAA, 0xAA, 0xAA, 0x01, 0x02, 0x03}},
    {"PackbitsNoOp", Kind::Packbits, {0x80, 0x00, 0x07, 0x80}, 4, {0x07}},
    {"PackbitsLongestRun", Kind::Packbits, {0x81, 0x01}, 200, Bytes(128, 0x01)},
    {"PackbitsLiteralCutByPackedEnd", Kind::Packbits, {0x05, 0x01, 0x02}, 10, {0x01, 0x02}},
    {"PackbitsRunValueMissing", Kind::Packbits, {0x01, 0x09, 0x08, 0xFD}, 10, {0x09, 0x08}},
    {"PackbitsRunCutByOutput", Kind::Packbits, {0x81, 0x03, 0x00, 0x04}, 5, Bytes(5, 0x03)},
    {"PackbitsLiteralCutByOutput", Kind::Packbits, {0x03, 1, 2, 3, 4}, 2, {1, 2}},
    {"PackbitsNoOutputRoom", Kind::Packbits, {0x00, 0x01}, 0, {}},
    {"PackbitsEveryPacketLength", Kind::Packbits, EveryPackbitsPacket(false),
     int32_t(EveryPackbitsPacket(true).size()), EveryPackbitsPacket(true)},
    {"PackbitsEveryPacketLengthCutByOutput", Kind::Packbits, EveryPackbitsPacket(false), 5000,
     [] { Bytes all = EveryPackbitsPacket(true); all.resize(5000); return all; }()},

    // PCX: a run, a run cut to the room left, plain bytes, an empty run.
    {"PcxRun", Kind::PCX, {0xC3, 0x07}, 3, {0x07, 0x07, 0x07}},
    {"PcxRunCutToRoom", Kind::PCX, {0xC5, 0x07}, 2, {0x07, 0x07}},
    {"PcxPlainByte", Kind::PCX, {0xBF, 0x00, 0x3F}, 3, {0xBF, 0x00, 0x3F}},
    {"PcxEmptyRunConsumesPair", Kind::PCX, {0xC0, 0x55, 0x01}, 1, {0x01}},
    {"PcxLongestRun", Kind::PCX, {0xFF, 0x02, 0x03}, 64, [] {
       Bytes b(63, 0x02);
       b.push_back(0x03);
       return b;
     }()},
    {"PcxStopsAtUnpackedSize", Kind::PCX, {0x01, 0x02, 0x03, 0x04}, 2, {0x01, 0x02}},
    {"PcxPackedEndsEarly", Kind::PCX, {0x01, 0xC4}, 8, {0x01}},
    {"PcxManyPacketsFastPath", Kind::PCX, [] {
       Bytes b;
       for (int i = 0; i < 40; ++i) b.insert(b.end(), {0xC2, uint8_t(i), uint8_t(i)});
       return b;
     }(), 120, [] {
       Bytes b;
       for (int i = 0; i < 40; ++i) b.insert(b.end(), {uint8_t(i), uint8_t(i), uint8_t(i)});
       return b;
     }()},

    // SGI, 8-bit samples: a literal of 3, a run of 2, then the count of 0 ends the row.
    {"Sgi8LiteralRunEnd", Kind::SGI8, {0x83, 0x01, 0x02, 0x03, 0x02, 0x09, 0x00, 0x05, 0x06},
     20, {0x01, 0x02, 0x03, 0x09, 0x09}},
    {"Sgi8NoEndStopsAtPackedEnd", Kind::SGI8, {0x84, 0x01, 0x02}, 20, {0x01, 0x02}},
    {"Sgi8RunCutByOutput", Kind::SGI8, {0x7F, 0x04}, 3, {0x04, 0x04, 0x04}},
    {"Sgi8LiteralCutByOutput", Kind::SGI8, {0x84, 1, 2, 3, 4, 0x00}, 2, {1, 2}},
    // SGI, 16-bit samples: a literal of one sample keeps its high byte.
    {"Sgi16Literal", Kind::SGI16, {0x00, 0x81, 0x12, 0x34, 0x00, 0x00}, 4, {0x12}},
    {"Sgi16RunAndLiteral", Kind::SGI16,
     {0x00, 0x03, 0xAB, 0xCD, 0x00, 0x82, 0x01, 0x02, 0x03, 0x04, 0x00, 0x00}, 10,
     {0xAB, 0xAB, 0xAB, 0x01, 0x03}},
    {"Sgi16HalfSampleIgnored", Kind::SGI16, {0x00, 0x82, 0x01, 0x02, 0x03}, 10, {0x01}},
    {"Sgi16RunValueMissing", Kind::SGI16, {0x00, 0x05, 0x01}, 10, {}},

    // CUT: a run of 2, a literal of 1, then the zero byte; Source ends past it.
    {"CutLine", Kind::CUT, {0x05, 0x00, 0x82, 0x05, 0x01, 0x07, 0x00, 0x99}, 10,
     {0x05, 0x05, 0x07}, 7},
    {"CutFullOutputStillFindsLineEnd", Kind::CUT,
     {0x09, 0x00, 0x03, 1, 2, 3, 0x84, 0x08, 0x00, 0x44}, 2, {1, 2}, 9},
    {"CutNoZeroEndsAtPackedEnd", Kind::CUT, {0x09, 0x00, 0x02, 1, 2, 0x83}, 10, {1, 2}, 6},
    {"CutLiteralPastPackedEnd", Kind::CUT, {0x09, 0x00, 0x05, 1, 2}, 10, {1, 2}, 5},
    {"CutShorterThanLengthWord", Kind::CUT, {0x09}, 10, {}, 1},

    // RLA: the sign meanings are the reverse of PackBits.
    {"RlaRun", Kind::RLA, {0x02, 0x04}, 3, {0x04, 0x04, 0x04}},
    {"RlaLiteral", Kind::RLA, {0xFE, 0x01, 0x02}, 2, {0x01, 0x02}},
    {"RlaLongestLiteral", Kind::RLA, [] {
       Bytes b{0x80};
       for (int i = 0; i < 128; ++i) b.push_back(uint8_t(i));
       return b;
     }(), 128, [] {
       Bytes b;
       for (int i = 0; i < 128; ++i) b.push_back(uint8_t(i));
       return b;
     }()},
    {"RlaRunCutByOutput", Kind::RLA, {0x7F, 0x01}, 4, Bytes(4, 0x01)},
    {"RlaLiteralCutByPackedEnd", Kind::RLA, {0xFC, 0x01}, 4, {0x01}},

    // XCF: short runs and literals, then the long forms with a 16-bit count; a packet past
    // the plane, or packets that end before it is full, fail with Source where it was.
    {"XcfShortRunAndLiteral", Kind::XCF, {0x02, 0x07, 0xFE, 0x01, 0x02}, 5, {7, 7, 7, 1, 2}, 5},
    {"XcfLongRun", Kind::XCF, {0x7F, 0x01, 0x00, 0x09}, 256, Bytes(256, 0x09), 4},
    {"XcfLongLiteral", Kind::XCF, {0x80, 0x00, 0x03, 1, 2, 3, 0x00}, 3, {1, 2, 3}, 6},
    {"XcfRunPastPlane", Kind::XCF, {0x03, 0x05}, 3, {}, 0},
    {"XcfPacketsEndEarly", Kind::XCF, {0x01, 0x05}, 4, {0x05, 0x05}, 0},
};

INSTANTIATE_TEST_SUITE_P(Decoders, RunLength, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

TEST(RunLengthSizes, NegativeSizesReadAndWriteNothing) {
  const Bytes packed = {0x02, 0x04, 0x00};
  for (Kind kind : {Kind::Packbits, Kind::PCX, Kind::SGI8, Kind::SGI16, Kind::RLA}) {
    Bytes out(4, kUntouched);
    const uint8_t* p = packed.data();
    MakeDecoder(kind)->Decode(p, out.data(), -5, 4);
    MakeDecoder(kind)->Decode(p, out.data(), 3, -5);
    EXPECT_EQ(out, Bytes(4, kUntouched));
    EXPECT_EQ(p, packed.data());
  }
}

// An empty output may come without a buffer; nothing may be written through it.
TEST(RunLengthSizes, EmptyOutputWithoutBuffer) {
  const Bytes packed = {0x02, 0x04, 0x04, 0x00, 0x81, 0x05, 0x00};
  for (Kind kind : {Kind::Packbits, Kind::PCX, Kind::SGI8, Kind::SGI16, Kind::CUT, Kind::RLA}) {
    const uint8_t* p = packed.data();
    MakeDecoder(kind)->Decode(p, nullptr, static_cast<int32_t>(packed.size()), 0);
  }
  // Found by fuzzing: a raw Targa packet with no room left in the row.
  const Bytes targa = {0x00, 0x05, 0x81, 0x01};
  EXPECT_EQ(DecodeTargaRLE(targa.data(), nullptr, 3, 8, 4, 0), 4u);
}

struct TargaCase {
  std::string name;
  uint32_t bitsPerPixel;
  Bytes packed;
  uint32_t count;
  uint32_t destSize;
  Bytes expected;  // bytes written; the rest of the buffer stays untouched
  uint32_t consumed;
};

class TargaRunLength : public ::testing::TestWithParam<TargaCase> {};

TEST_P(TargaRunLength, ExpandsPackets) {
  const TargaCase& c = GetParam();
  Bytes source = c.packed;
  source.insert(source.end(), kMargin, kPoison);
  Bytes out(c.destSize + kMargin, kUntouched);
  const uint32_t consumed = DecodeTargaRLE(source.data(), out.data(), c.count, c.bitsPerPixel,
                                           static_cast<uint32_t>(c.packed.size()), c.destSize);
  Bytes want = c.expected;
  want.resize(out.size(), kUntouched);
  EXPECT_EQ(out, want);
  EXPECT_EQ(consumed, c.consumed);

  // Read a piece at a time, the packet reader gives the same bytes, whatever the pieces.
  if (c.count < c.destSize || c.bitsPerPixel % 8 == 4) return;  // cut early; unknown depth
  for (const size_t piece : {1, 2, 5, 64}) {
    TargaPacketReader packets(source.data(), c.packed.size(), (c.bitsPerPixel + 7) / 8);
    Bytes pieces(c.destSize + kMargin, kUntouched);
    for (size_t at = 0; at < c.destSize;) {
      const size_t n = std::min<size_t>(piece, c.destSize - at);
      const size_t got = packets.Read(pieces.data() + at, n);
      at += got;
      if (got < n) break;
    }
    EXPECT_EQ(pieces, want) << "pieces of " << piece;
  }
}

const TargaCase kTargaCases[] = {
    {"RunOf24BitPixels", 24, {0x81, 1, 2, 3}, 6, 6, {1, 2, 3, 1, 2, 3}, 4},
    {"RawThenRun8Bit", 8, {0x01, 7, 8, 0x82, 9}, 5, 5, {7, 8, 9, 9, 9}, 5},
    {"Run16Bit", 16, {0x83, 0x34, 0x12}, 8, 8, {0x34, 0x12, 0x34, 0x12, 0x34, 0x12, 0x34, 0x12}, 3},
    {"Run15BitIsTwoBytes", 15, {0x80, 0x01, 0x02}, 2, 2, {0x01, 0x02}, 3},
    {"Raw32Bit", 32, {0x00, 1, 2, 3, 4}, 4, 4, {1, 2, 3, 4}, 5},
    {"StopsOnceCountIsReached", 8, {0x81, 5, 0x81, 6}, 2, 8, {5, 5}, 2},
    // A packet that crosses the end of the row is expanded whole, as far as the buffer goes.
    {"PacketCrossesRowEnd", 8, {0x84, 5}, 3, 8, {5, 5, 5, 5, 5}, 2},
    {"PacketCutAtDestSize", 24, {0x83, 1, 2, 3, 0x81, 4, 5, 6}, 15, 7, {1, 2, 3, 1, 2, 3, 1}, 8},
    {"RawCutAtDestSize", 8, {0x03, 1, 2, 3, 4, 0x80, 9}, 5, 2, {1, 2}, 7},
    {"RawCutBySourceEnd", 8, {0x05, 1, 2}, 6, 6, {1, 2}, 3},
    {"RunPixelCutBySourceEnd", 24, {0x81, 1, 2}, 6, 6, {}, 3},
    {"RawCutInsidePixel", 32, {0x01, 1, 2, 3, 4, 5, 6}, 8, 8, {1, 2, 3, 4, 5, 6}, 7},
    {"RunsAndRawMixed15Bit", 15, {0x81, 1, 2, 0x01, 3, 4, 5, 6, 0x80, 7, 8}, 10, 10,
     {1, 2, 1, 2, 3, 4, 5, 6, 7, 8}, 11},
    {"UnknownDepth", 12, {0x81, 1, 2, 3}, 6, 6, {}, 0},
};

INSTANTIATE_TEST_SUITE_P(Targa, TargaRunLength, ::testing::ValuesIn(kTargaCases),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace pictures
