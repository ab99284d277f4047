// Feeds arbitrary packed bytes to the run-length decoders. The first byte chooses the
// decoder (and the Targa pixel depth), the next two the output size; the output buffer is
// exactly that long, so any write past it is caught.
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "compression/rle.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint8_t choice = data[0];
  const size_t unpacked = size_t(data[1]) | size_t(data[2]) << 8;
  // The packed bytes get a buffer of their own, so a read past them is caught as well.
  const std::vector<uint8_t> packed(data + 3, data + size);
  std::vector<uint8_t> out(unpacked);
  const uint8_t* source = packed.data();
  const auto packedSize = static_cast<int32_t>(packed.size());
  const auto unpackedSize = static_cast<int32_t>(unpacked);
  switch (choice % 8) {
    case 0: pictures::TPackbitsRLE().Decode(source, out.data(), packedSize, unpackedSize); break;
    case 1: pictures::TPCXRLE().Decode(source, out.data(), packedSize, unpackedSize); break;
    case 2:
    case 3: {
      pictures::TSGIRLE sgi;
      sgi.SampleSize = choice % 8 == 2 ? 1 : 2;
      sgi.Decode(source, out.data(), packedSize, unpackedSize);
      break;
    }
    case 4: {
      pictures::TCUTRLE().Decode(source, out.data(), packedSize, unpackedSize);
      if (source < packed.data() || source > packed.data() + packed.size()) __builtin_trap();
      break;
    }
    case 5: pictures::TRLADecoder().Decode(source, out.data(), packedSize, unpackedSize); break;
    default: {
      static const uint32_t kDepths[] = {8, 15, 16, 24, 32, 0, 12, 24};
      const uint32_t consumed = pictures::DecodeTargaRLE(
          source, out.data(), static_cast<uint32_t>(unpacked / 2 + (choice >> 6)),
          kDepths[(choice >> 3) & 7], static_cast<uint32_t>(packed.size()),
          static_cast<uint32_t>(unpacked));
      if (consumed > packed.size()) __builtin_trap();
      // Read in pieces, the packet reader must give the bytes of one whole decode.
      const uint32_t depth = kDepths[(choice >> 3) & 7];
      if (depth % 8 == 4 || depth == 0) break;
      std::vector<uint8_t> whole(unpacked), pieces(unpacked);
      pictures::DecodeTargaRLE(packed.data(), whole.data(), static_cast<uint32_t>(unpacked),
                               depth, static_cast<uint32_t>(packed.size()),
                               static_cast<uint32_t>(unpacked));
      pictures::TargaPacketReader packets(packed.data(), packed.size(), (depth + 7) / 8);
      const size_t piece = size_t(choice >> 6) * 7 + 1;
      for (size_t at = 0; at < unpacked;) {
        const size_t n = std::min(piece, unpacked - at);
        const size_t got = packets.Read(pieces.data() + at, n);
        at += got;
        if (got < n) break;
      }
      if (whole != pieces) __builtin_trap();
      break;
    }
  }
  if (source != packed.data() && choice % 8 != 4) __builtin_trap();
  return 0;
}
