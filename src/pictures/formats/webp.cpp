#include "pictures/formats/webp.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/error.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TWebPGraphic, Bitmap)

namespace {

[[noreturn]] void Fail(const std::string& what) { throw PictureError("WebP: " + what); }

std::string StatusText(VP8StatusCode status) {
  switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY: return "out of memory";
    case VP8_STATUS_INVALID_PARAM: return "invalid parameter";
    case VP8_STATUS_BITSTREAM_ERROR: return "the picture data is damaged or not WebP";
    case VP8_STATUS_UNSUPPORTED_FEATURE: return "a feature of this file is not supported";
    case VP8_STATUS_NOT_ENOUGH_DATA: return "the file ends early";
    default: return "decoding failed";
  }
}

// Decodes a still picture straight into the Bitmap's rows.
void DecodeStill(std::span<const uint8_t> file, bool alpha, Bitmap& bitmap) {
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) Fail("library version mismatch");
  WebPRGBABuffer& rows = config.output.u.RGBA;
  config.output.colorspace = alpha ? MODE_BGRA : MODE_BGR;
  config.output.is_external_memory = 1;
  rows.rgba = bitmap.ScanLine(0);
  rows.stride = static_cast<int>(bitmap.RowStride());
  rows.size = bitmap.RowStride() * size_t(bitmap.Height());
  const VP8StatusCode status = WebPDecode(file.data(), file.size(), &config);
  WebPFreeDecBuffer(&config.output);
  if (status != VP8_STATUS_OK) Fail(StatusText(status));
}

struct AnimDecoderDeleter {
  void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

// Composes the first frame of an animation on its canvas and copies the canvas over.
void DecodeFirstFrame(std::span<const uint8_t> file, Bitmap& bitmap) {
  WebPAnimDecoderOptions options;
  if (!WebPAnimDecoderOptionsInit(&options)) Fail("library version mismatch");
  options.color_mode = MODE_BGRA;
  options.use_threads = 0;
  const WebPData data{file.data(), file.size()};
  const std::unique_ptr<WebPAnimDecoder, AnimDecoderDeleter> decoder(
      WebPAnimDecoderNew(&data, &options));
  if (!decoder) Fail("the animation is damaged");
  WebPAnimInfo info;
  if (!WebPAnimDecoderGetInfo(decoder.get(), &info)) Fail("the animation is damaged");
  if (int64_t(info.canvas_width) != bitmap.Width() ||
      int64_t(info.canvas_height) != bitmap.Height())
    Fail("the animation's canvas does not match its header");
  uint8_t* canvas = nullptr;
  int timestamp = 0;
  if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) || !canvas)
    Fail("the first frame is damaged");
  const std::span<const uint8_t> pixels(canvas, size_t(info.canvas_width) * 4 * info.canvas_height);
  const size_t rowBytes = size_t(info.canvas_width) * 4;
  for (int y = 0; y < bitmap.Height(); ++y)
    std::memcpy(bitmap.ScanLine(y), pixels.subspan(size_t(y) * rowBytes, rowBytes).data(),
                rowBytes);
}

}  // namespace

void TWebPGraphic::LoadFromStream(Stream& stream) {
  std::vector<uint8_t> storage;
  const std::span<const uint8_t> file = stream.ReadRestView(storage);
  Clear();
  if (file.empty()) Fail(StatusText(VP8_STATUS_NOT_ENOUGH_DATA));
  WebPBitstreamFeatures features;
  const VP8StatusCode status = WebPGetFeatures(file.data(), file.size(), &features);
  if (status != VP8_STATUS_OK) Fail(StatusText(status));
  const bool alpha = features.has_alpha || features.has_animation;
  SetPixelFormat(alpha ? PixelFormat::Bits32 : PixelFormat::Bits24);
  SetSize(features.width, features.height);
  try {
    if (features.has_animation)
      DecodeFirstFrame(file, *this);
    else
      DecodeStill(file, alpha, *this);
  } catch (const PictureError&) {
    Clear();
    throw;
  }
  SetTransparent(alpha);
}

}  // namespace pictures
