#include "pictures/formats/heif.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/error.h"
#include "pictures/formats/heif_boxes.h"
#include "pictures/formats/heif_library.h"
#include "base/pixel_helpers.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(THEIFGraphic, Bitmap)
PICTURES_DEFINE_READER_CLASS(TAVIFGraphic, THEIFGraphic)

namespace {

// The longest side libheif may decode: a square of this side fits the pixel limit.
constexpr int kMaximumSide = 16384;

struct HeifDeleter {
  const HeifLibrary* lib;
  void operator()(heif_context* context) const { lib->heif_context_free(context); }
  void operator()(heif_image_handle* handle) const { lib->heif_image_handle_release(handle); }
  void operator()(heif_image* image) const { lib->heif_image_release(image); }
  void operator()(heif_decoding_options* options) const {
    lib->heif_decoding_options_free(options);
  }
};
template <typename T>
using HeifPtr = std::unique_ptr<T, HeifDeleter>;

// libheif's failures carry a message of their own; a failure without one is named by
// its code.
std::string ErrorText(const heif_error& error) {
  if (error.message && *error.message) return error.message;
  return "error " + std::to_string(int(error.code));
}

bool SidesWithinLimit(uint64_t width, uint64_t height) {
  return width <= uint64_t(kMaximumSide) && height <= uint64_t(kMaximumSide);
}

// True when four bytes a pixel fit the pixel memory limit.
bool WithinPixelLimit(uint64_t width, uint64_t height) {
  try {
    CheckedBufferSize({width, height, 4});
    return true;
  } catch (const BitmapTooLarge&) {
    return false;
  }
}

// True when a picture of this size is within what the reader lets a decoder make: each
// side within kMaximumSide, and four bytes a pixel within the pixel memory limit.
bool WithinLimits(uint64_t width, uint64_t height) {
  return SidesWithinLimit(width, height) && WithinPixelLimit(width, height);
}

std::string SizeText(uint64_t width, uint64_t height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

// Why the decoders may not be given this file, or empty. libheif checks only the sizes
// that the items' properties declare; it sizes a grid's or an overlay's canvas from its
// own description, and the HEVC and AV1 decoders size their frames from the coded
// stream's own parameters.
std::string OversizedDeclaration(const heif_boxes::DeclaredSizes& declared) {
  for (const heif_boxes::CodedSize& coded : declared.coded) {
    if (!WithinLimits(coded.width, coded.height))
      return std::string(coded.codec == heif_boxes::Codec::HEVC ? "the HEVC" : "the AV1") +
             " stream declares a picture of " + SizeText(coded.width, coded.height) +
             ", too large to decode";
  }
  for (const heif_boxes::Canvas& canvas : declared.canvases) {
    // The canvas is held to the pixel memory limit here whatever libheif's own limit on
    // it: versions differ (a longest side, or a count of pixels).
    const std::string name = canvas.rows ? "the image grid of " : "the image overlay of ";
    if (!WithinPixelLimit(canvas.width, canvas.height))
      return name + SizeText(canvas.width, canvas.height) + " is too large to decode";
    // Tiles that cannot cover the canvas would leave libheif allocating a picture made
    // mostly of nothing.
    const bool tilesKnown = canvas.tileWidth && canvas.tileHeight;
    const bool tilesCover = canvas.width <= canvas.columns * canvas.tileWidth &&
                            canvas.height <= canvas.rows * canvas.tileHeight;
    if (canvas.rows && tilesKnown && !tilesCover)
      return name + SizeText(canvas.width, canvas.height) + " is larger than its " +
             SizeText(canvas.columns, canvas.rows) + " tiles of at most " +
             SizeText(canvas.tileWidth, canvas.tileHeight) + " can fill";
  }
  return {};
}

}  // namespace

void THEIFGraphic::LoadFromStream(Stream& stream) {
  // A view of a mapped file, so that a file whose boxes are wrong is not read whole.
  std::vector<uint8_t> storage;
  const std::span<const uint8_t> file = stream.ReadRestView(storage);
  Clear();
  const auto fail = [this](const std::string& what) {
    Clear();
    throw PictureError(MessagePrefix() + what);
  };
  const auto check = [&](const heif_error& error) {
    if (error.code != heif_error_Ok) fail(ErrorText(error));
  };

  std::string unavailable;
  const HeifLibrary* lib = LoadHeifLibrary(unavailable);
  if (!lib) fail(unavailable);
  const HeifDeleter release{lib};
  const HeifPtr<heif_context> context(lib->heif_context_alloc(), release);
  if (!context) fail("out of memory");
  // Every image of the file (the alpha and other auxiliary images too) is refused by
  // libheif when a side reaches this, before it takes memory for it.
  lib->heif_context_set_maximum_image_size_limit(context.get(), kMaximumSide);
  check(lib->heif_context_read_from_memory_without_copy(context.get(), file.data(), file.size(),
                                                   nullptr));
  heif_image_handle* rawHandle = nullptr;
  check(lib->heif_context_get_primary_image_handle(context.get(), &rawHandle));
  const HeifPtr<heif_image_handle> handle(rawHandle, release);

  // Refuse pictures beyond the limit before the decoder allocates anything for them.
  const int storedWidth = lib->heif_image_handle_get_width(handle.get());
  const int storedHeight = lib->heif_image_handle_get_height(handle.get());
  if (storedWidth <= 0 || storedHeight <= 0) fail("the picture has no size");
  CheckedBufferSize({uint64_t(storedWidth), uint64_t(storedHeight), 4});
  const std::string oversized = OversizedDeclaration(heif_boxes::FindDeclaredSizes(file));
  if (!oversized.empty()) fail(oversized);

  const bool alpha = lib->heif_image_handle_has_alpha_channel(handle.get()) != 0;
  const HeifPtr<heif_decoding_options> options(lib->heif_decoding_options_alloc(), release);
  heif_image* rawImage = nullptr;
  check(lib->heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                          options.get()));
  const HeifPtr<heif_image> image(rawImage, release);

  // The decoded size is the one after rotation and cropping.
  const int width = lib->heif_image_get_width(image.get(), heif_channel_interleaved);
  const int height = lib->heif_image_get_height(image.get(), heif_channel_interleaved);
  const int bits = lib->heif_image_get_bits_per_pixel(image.get(), heif_channel_interleaved);
  int stride = 0;
  const uint8_t* plane = lib->heif_image_get_plane_readonly(image.get(), heif_channel_interleaved,
                                                       &stride);
  const int channels = alpha ? 4 : 3;
  if (!plane || width <= 0 || height <= 0 || bits != 8 * channels ||
      stride < width * channels)
    fail("unexpected decoded picture layout");

  SetPixelFormat(alpha ? PixelFormat::Bits32 : PixelFormat::Bits24);
  SetSize(width, height);
  const std::span<const uint8_t> pixels(plane, size_t(stride) * size_t(height));
  const ColorConverter convert = alpha ? RGBAToBGRA : RGBToBGR;
  for (int y = 0; y < height; ++y)
    convert(pixels.subspan(size_t(y) * size_t(stride)).data(), ScanLine(y), 8,
            uint32_t(width) * uint32_t(channels));
  SetTransparent(alpha);
}

}  // namespace pictures
