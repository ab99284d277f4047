// The Bitmap: an in-memory raster picture, and the base of every picture reader.
//
// Rows are stored top-down (row 0 is the top row), each padded to a multiple of 4 bytes as
// in a Windows bitmap. New pixel memory is zero (a reader that writes every row may skip
// the clearing through RowFill). A Bitmap's pixel memory is limited to
// kDefaultPixelMemoryLimit (1 GiB) so that a lying header cannot exhaust memory; setting a
// size beyond it raises BitmapTooLarge and leaves the Bitmap as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "pictures/palette.h"
#include "pictures/reader_class.h"

namespace pictures {

class Stream;

enum class PixelFormat {
  None,    // an empty Bitmap that has no pixel format yet
  Device,  // the screen's format: 32 bits a pixel, blue, green, red, unused
  Bits1,
  Bits4,
  Bits8,
  Bits15,  // little-endian words: bits 10-14 red, 5-9 green, 0-4 blue
  Bits24,  // blue, green, red
  Bits32,  // blue, green, red, alpha
};

int BitsPerPixel(PixelFormat format);
// Bytes from one row's start to the next in a Bitmap of this format and width.
size_t StrideFor(PixelFormat format, int width);
const char* PixelFormatName(PixelFormat format);  // "1", "4", "8", "15", "24", "32", "device"

inline constexpr uint64_t kDefaultPixelMemoryLimit = uint64_t(1) << 30;

// The product of the factors, raising BitmapTooLarge when it overflows or exceeds the
// pixel memory limit. Readers size their work buffers with it before allocating.
size_t CheckedBufferSize(std::initializer_list<uint64_t> factors);

// Guards against decompression bombs: true when `dataBytes` bytes of file data, each of
// which expands to at most `maxExpansion` bytes of output at the format's best (its longest
// run per packet, its longest string per code, 1 for raw data), can fill `neededBytes`.
bool CanFill(uint64_t dataBytes, uint64_t maxExpansion, uint64_t neededBytes);
// Raises StreamReadError unless CanFill holds; readers call it before they allocate.
void RequireFill(uint64_t dataBytes, uint64_t maxExpansion, uint64_t neededBytes);
// Deflate expands a byte to at most 1032 (a 258-byte match in two one-bit codes): the
// bound of PNG data and of Deflate-coded TIFF strips.
inline constexpr uint64_t kDeflateBestExpansion = 1032;

class Bitmap {
 public:
  Bitmap() = default;
  virtual ~Bitmap() = default;
  Bitmap(const Bitmap& other) { Assign(other); }
  Bitmap& operator=(const Bitmap& other) {
    if (this != &other) Assign(other);
    return *this;
  }

  static const ReaderClass& StaticClass();
  virtual const ReaderClass& Class() const { return StaticClass(); }

  // Decodes a picture from the stream's position into this Bitmap. The Bitmap itself
  // reads Windows bitmap files; readers replace this.
  virtual void LoadFromStream(Stream& stream);
  // Opens the file read-only and calls LoadFromStream at position 0. A file that changed
  // while it was read fails with StreamReadError, whatever the reader made of it.
  virtual void LoadFile(const std::string& path);

  // Writes a Windows bitmap file of the Bitmap's own pixel format (the dialog saves 24-bit
  // Bitmaps), bottom-up, with a colour table for the palette formats.
  void SaveToStream(Stream& stream) const;
  // Saves to a file through a temporary name, so a failure leaves no partial file; the
  // rows go from the pixel memory to the file without an intermediate copy.
  void SaveToFile(const std::string& path) const;

  // Makes this Bitmap a copy of `other` (pixels, format, palette, transparency).
  void Assign(const Bitmap& other);
  // Releases the picture: no pixel format, no size, no palette.
  void Clear();
  bool Empty() const { return width_ == 0 || height_ == 0; }

  PixelFormat GetPixelFormat() const { return format_; }
  // Changing the format discards the pixels (all zero afterwards) and gives 1-, 4- and
  // 8-bit Bitmaps their starting palette (black and white, standard 16, halftone 256).
  void SetPixelFormat(PixelFormat format);

  int Width() const { return width_; }
  int Height() const { return height_; }
  // Width and height may be set in either order; pixels inside both sizes are kept.
  void SetWidth(int width) { SetSize(width, height_); }
  void SetHeight(int height) { SetSize(width_, height); }
  void SetSize(int width, int height);

  // Bytes from one row's start to the next (a multiple of 4).
  size_t RowStride() const { return stride_; }
  // Bytes of a row that hold pixels: (width * bits + 7) / 8.
  size_t RowBytes() const;
  // Row y, 0 at the top. Raises PictureError("Scan line index out of range") outside.
  uint8_t* ScanLine(int y);
  const uint8_t* ScanLine(int y) const;

  // The palette in effect (empty for 15, 24, 32 bits and the device format).
  const std::vector<PaletteEntry>& Palette() const;
  // Gives the Bitmap a created palette (an empty handle is ignored). A palette longer than
  // 256 entries keeps its first 256.
  void SetPalette(PaletteHandle palette);

  // A transparent 32-bit Bitmap (icons, pictures with real transparency) is drawn over
  // white through its alpha channel; any other 32-bit Bitmap is drawn as if fully opaque.
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool transparent) { transparent_ = transparent; }

  // The pixel memory limit for every Bitmap of the process (fuzz targets lower it).
  static void SetPixelMemoryLimit(uint64_t bytes);
  static uint64_t PixelMemoryLimit();

 protected:
  // For a reader that writes every byte of every row itself: sets the size as SetSize
  // does, but without first clearing the pixel memory of an empty Bitmap (the padding
  // after each row is cleared). Unless Done() is called, the destructor clears all pixel
  // memory, so a reader that fails half-way leaves no unset bytes behind. A reader that
  // decodes in place may ask for `memoryBytes` of pixel memory in all: what lies past the
  // last row is its work space, not part of the picture.
  class RowFill {
   public:
    RowFill(Bitmap& bitmap, int width, int height, size_t memoryBytes = 0);
    ~RowFill();
    RowFill(const RowFill&) = delete;
    RowFill& operator=(const RowFill&) = delete;
    void Done() { done_ = true; }

   private:
    Bitmap& bitmap_;
    bool done_ = false;
  };

 private:
  void Resize(int width, int height, bool clear, size_t memoryBytes = 0);

  // Pixel memory comes from malloc, or for large pictures straight from mmap (see
  // AllocatePixels); the deleter knows which.
  struct PixelDeleter {
    size_t mappedBytes;  // 0 (as value-initialised): the memory came from malloc
    void operator()(uint8_t* p) const;
  };
  using PixelMemory = std::unique_ptr<uint8_t, PixelDeleter>;
  static PixelMemory AllocatePixels(size_t bytes, bool clear);

  PixelFormat format_ = PixelFormat::None;
  int width_ = 0;
  int height_ = 0;
  size_t stride_ = 0;
  PixelMemory pixels_;
  PaletteHandle palette_;
  bool transparent_ = false;
};

// Converts one row of `picture` to blue, green, red triples (3 * Width() bytes): palette
// indices are looked up (indices past a short palette give black), 15-bit pixels widened,
// the alpha of opaque 32-bit pixels dropped, and transparent 32-bit pictures blended over
// white, the page a host puts them on. Every conversion of a picture to 24 bits goes
// through this one rule.
void RowToBGR(const Bitmap& picture, int y, uint8_t* out);

// Draws `picture` onto the 24-bit `canvas` with its top-left corner at (0, 0), clipped to
// the canvas, each row converted as RowToBGR does. Raises PictureError when the canvas is
// not 24-bit.
void DrawOnCanvas(Bitmap& canvas, const Bitmap& picture);

// Saves `picture` as a 24-bit Windows bitmap file: the same bytes as drawing it onto a new
// 24-bit Bitmap of its size and saving that, but in one pass from the picture's rows to
// the file. 24-bit rows are written from where they are, others converted a batch of rows
// at a time with RowToBGR. The file is written under a temporary name and renamed, so a
// failure leaves no file behind. Raises PictureError or FileCreateError.
void SaveAs24BitBitmap(const Bitmap& picture, const std::string& path);

}  // namespace pictures
