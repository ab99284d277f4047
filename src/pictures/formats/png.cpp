#include "pictures/formats/png.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "base/error.h"
#include "pictures/formats/png_direct.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TPNGGraphic, Bitmap)

namespace {

// libpng reports fatal errors through a function that must not return. Ours keeps the
// message and jumps back to DecodePng, which raises it; only libpng's frames lie between.
// Everything the decode owns is in the session on the heap, so no local object with a
// destructor lives across the jump.
struct PngSession {
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::span<const uint8_t> data;
  size_t position = 0;
  std::jmp_buf jump;
  char message[200] = {};
  // The largest block libpng may take at once. A chunk is allocated at the length it
  // declares before its bytes are read, so until the rows are known no block may be
  // larger than the file itself (plus room for the inflater): a few bytes must not
  // claim gigabytes for a text or a profile.
  size_t allocationLimit = 0;

  ~PngSession() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp message) {
  auto* session = static_cast<PngSession*>(png_get_error_ptr(png));
  std::snprintf(session->message, sizeof session->message, "%s", message);
  std::longjmp(session->jump, 1);
}

// Warnings (an unknown chunk, a bad CRC in an ancillary chunk) are not worth a word: the
// picture is decoded as libpng repairs it.
void OnPngWarning(png_structp, png_const_charp) {}

png_voidp AllocateForSession(png_structp png, png_alloc_size_t size) {
  const auto* session = static_cast<const PngSession*>(png_get_mem_ptr(png));
  return size <= session->allocationLimit ? std::malloc(size) : nullptr;
}

void FreeForSession(png_structp, png_voidp block) { std::free(block); }

void ReadFromSession(png_structp png, png_bytep out, size_t count) {
  auto* session = static_cast<PngSession*>(png_get_io_ptr(png));
  if (count > session->data.size() - session->position) png_error(png, "the file ends early");
  std::memcpy(out, session->data.data() + session->position, count);
  session->position += count;
}

// What the rows become: the Bitmap's format, the bytes per pixel libpng must deliver, and
// whether the Bitmap carries a palette of its own.
struct Layout {
  PixelFormat format;
  size_t bytesPerPixel;
  bool transparent;
};

// Chooses the layout and sets up libpng's transformations for it.
Layout PrepareTransforms(png_structp png, png_infop info, PngTarget target) {
  const int colourType = png_get_color_type(png, info);
  const int depth = png_get_bit_depth(png, info);
  const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  if (depth == 16) png_set_scale_16(png);
  const bool opaque = !(colourType & PNG_COLOR_MASK_ALPHA) && !transparency;
  if (target == PngTarget::Natural && opaque) {
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
      png_set_packing(png);  // 1, 2 and 4-bit indices become one byte each
      return {PixelFormat::Bits8, 1, false};
    }
    if (colourType == PNG_COLOR_TYPE_GRAY) {
      if (depth < 8) png_set_expand_gray_1_2_4_to_8(png);
      return {PixelFormat::Bits8, 1, false};
    }
    png_set_bgr(png);
    return {PixelFormat::Bits24, 3, false};
  }
  if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colourType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (transparency) png_set_tRNS_to_alpha(png);
  if (!(colourType & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png);
  if (opaque) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_bgr(png);
  return {PixelFormat::Bits32, 4, true};
}

// The palette of an 8-bit result: the file's own for palette pictures, a grey ramp for
// grey ones. Indices past a short palette draw as black.
void GivePalette(png_structp png, png_infop info, Bitmap& bitmap) {
  LogPalette record = GreyPaletteRecord();
  png_colorp colours = nullptr;
  int count = 0;
  if (png_get_color_type(png, info) == PNG_COLOR_TYPE_PALETTE &&
      png_get_PLTE(png, info, &colours, &count) == PNG_INFO_PLTE) {
    record.entries.assign(size_t(std::clamp(count, 1, 256)), PaletteEntry{});
    for (size_t i = 0; i < record.entries.size(); ++i)
      record.entries[i] = {colours[i].red, colours[i].green, colours[i].blue, 0};
  }
  bitmap.SetPalette(CreatePalette(record));
}

// Whether the PNG's image data chunks can fill its picture at Deflate's best expansion:
// every row is a filter byte and the pixels at the file's own depth (an interlaced
// picture needs a few more filter bytes, so this is the least any PNG of this size needs).
// The chunks are walked as far as the data holds them.
bool PngDataCanFill(std::span<const uint8_t> data, uint64_t height, uint64_t rowBytes) {
  uint64_t imageData = 0;
  ByteReader chunks(data.subspan(8));
  while (chunks.Remaining() >= 12) {
    const uint32_t length = chunks.U32BE();
    const auto type = chunks.Bytes(4);
    const uint64_t available = std::min<uint64_t>(length, chunks.Remaining());
    if (std::memcmp(type.data(), "IDAT", 4) == 0) imageData += available;
    if (available + 4 > chunks.Remaining()) break;
    chunks.Skip(size_t(available) + 4);  // the data and its CRC
  }
  return CanFill(imageData, kDeflateBestExpansion, height * (1 + rowBytes));
}

void SizeBitmap(Bitmap& bitmap, const Layout& layout, png_uint_32 width, png_uint_32 height) {
  bitmap.Clear();
  bitmap.SetPixelFormat(layout.format);
  bitmap.SetSize(static_cast<int>(width), static_cast<int>(height));
  bitmap.SetTransparent(layout.transparent);
}

}  // namespace

void DecodePng(std::span<const uint8_t> data, Bitmap& bitmap, PngTarget target) {
  const std::unique_ptr<PngSession> session = std::make_unique<PngSession>();
  session->data = data;
  session->allocationLimit = data.size() + (1u << 20);
  session->png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, session.get(), OnPngError,
                                          OnPngWarning, session.get(), AllocateForSession,
                                          FreeForSession);
  if (!session->png) throw PictureError("out of memory");
  session->info = png_create_info_struct(session->png);
  if (!session->info) throw PictureError("out of memory");
  if (setjmp(session->jump)) throw PictureError(session->message);

  png_structp png = session->png;
  png_infop info = session->info;
  png_set_read_fn(png, session.get(), ReadFromSession);
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  CheckedBufferSize({width, height, 4});
  // A small file must not claim a large picture: its rows as stored (before the
  // transformations below) have to fit in what its image data can inflate to.
  if (!PngDataCanFill(data, height, png_get_rowbytes(png, info)))
    png_error(png, "too little image data");
  const Layout layout = PrepareTransforms(png, info, target);
  const int passes = png_set_interlace_handling(png);
  // png_read_update_info allocates the row buffers (the previous and the present row, at
  // the widest a pixel becomes on its way through the transformations: 64 bits) and may
  // grow them later: a row of a wide picture can be larger than the file. The image data
  // has been found able to fill the rows, so they are no bomb.
  session->allocationLimit += (uint64_t(width) + 7) * 8 + 64;
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != size_t(width) * layout.bytesPerPixel)
    png_error(png, "unexpected row layout");

  SizeBitmap(bitmap, layout, width, height);
  if (layout.format == PixelFormat::Bits8) GivePalette(png, info, bitmap);
  for (int pass = 0; pass < passes; ++pass)
    for (png_uint_32 y = 0; y < height; ++y)
      png_read_row(png, bitmap.ScanLine(static_cast<int>(y)), nullptr);
}

bool TPNGGraphic::LoadDirect(Stream& stream, std::span<const uint8_t> file) {
  const std::optional<PngDirectPlan> plan = PlanDirectPng(file);
  // Pictures too large, and data that cannot fill them, are refused by the libpng path.
  if (!plan ||
      uint64_t(plan->width) * plan->height * 4 > PixelMemoryLimit() ||
      !CanFill(plan->imageDataBytes, kDeflateBestExpansion,
               uint64_t(plan->height) * (1 + plan->RowBytes())))
    return false;
  // With the image data joined, the file's own memory is not needed while the picture
  // takes its memory.
  std::vector<uint8_t> joined;
  const std::span<const uint8_t> imageData = JoinImageData(*plan, joined);
  if (!joined.empty()) stream.ReleaseMemory();
  Clear();
  SetPixelFormat(plan->alpha ? PixelFormat::Bits32 : PixelFormat::Bits24);
  const size_t stride = StrideFor(GetPixelFormat(), int(plan->width));
  RowFill fill(*this, int(plan->width), int(plan->height),
               DirectPngMemoryBytes(*plan, stride));
  const std::span<uint8_t> memory(ScanLine(0), DirectPngMemoryBytes(*plan, stride));
  if (!DecodeDirectPng(*plan, imageData, memory, stride)) {
    Clear();
    return false;
  }
  fill.Done();
  SetTransparent(plan->alpha);
  return true;
}

void TPNGGraphic::LoadFromStream(Stream& stream) {
  std::vector<uint8_t> storage;
  const std::span<const uint8_t> file = stream.ReadRestView(storage);
  try {
    if (!LoadDirect(stream, file)) DecodePng(file, *this, PngTarget::Natural);
  } catch (const BitmapTooLarge&) {
    Clear();
    throw;
  } catch (const PictureError& error) {
    Clear();
    throw PictureError(std::string("PNG: ") + error.what());
  }
}

}  // namespace pictures
