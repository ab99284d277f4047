// Feeds arbitrary packed bytes to the LZW decoders. The first byte chooses TIFF or GIF
// (bit 7) and the GIF minimum code size (bits 0-3); the next two bytes give the output
// size, and the output buffer is exactly that long. Each input is decoded twice by the same
// decoder, as readers decode one strip after another.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <vector>

#include "compression/lzw.h"
#include "base/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const bool tiff = data[0] & 0x80;
  const size_t unpacked = size_t(data[1]) | size_t(data[2]) << 8;
  const std::vector<uint8_t> packed(data + 3, data + size);
  std::unique_ptr<pictures::TDecoder> decoder;
  if (tiff) {
    decoder = std::make_unique<pictures::TTIFFLZW>();
  } else {
    auto gif = std::make_unique<pictures::TGIFLZW>();
    gif->InitialCodeSize = data[0] & 0x0F;
    decoder = std::move(gif);
  }
  for (int round = 0; round < 2; ++round) {
    std::vector<uint8_t> out(unpacked);
    const uint8_t* source = packed.data();
    try {
      decoder->Decode(source, out.data(), static_cast<int32_t>(packed.size()),
                      static_cast<int32_t>(unpacked));
    } catch (const pictures::PictureError&) {
    }
    if (source != packed.data()) __builtin_trap();
  }
  return 0;
}
