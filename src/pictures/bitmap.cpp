#include "pictures/bitmap.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/mman.h>

#include "base/error.h"
#include "pictures/stream.h"

namespace pictures {

namespace {

std::atomic<uint64_t> pixelMemoryLimit{kDefaultPixelMemoryLimit};

}  // namespace

size_t StrideFor(PixelFormat format, int width) {
  return ((uint64_t(width) * BitsPerPixel(format) + 31) / 32) * 4;
}

namespace {

std::string LimitText() {
  uint64_t limit = pixelMemoryLimit.load();
  if (limit % (uint64_t(1) << 30) == 0) return std::to_string(limit >> 30) + " GiB";
  if (limit % (uint64_t(1) << 20) == 0) return std::to_string(limit >> 20) + " MiB";
  return std::to_string(limit) + " bytes";
}

}  // namespace

int BitsPerPixel(PixelFormat format) {
  switch (format) {
    case PixelFormat::None: return 0;
    case PixelFormat::Bits1: return 1;
    case PixelFormat::Bits4: return 4;
    case PixelFormat::Bits8: return 8;
    case PixelFormat::Bits15: return 16;
    case PixelFormat::Bits24: return 24;
    case PixelFormat::Bits32:
    case PixelFormat::Device: return 32;
  }
  return 0;
}

const char* PixelFormatName(PixelFormat format) {
  switch (format) {
    case PixelFormat::None: return "none";
    case PixelFormat::Device: return "device";
    case PixelFormat::Bits1: return "1";
    case PixelFormat::Bits4: return "4";
    case PixelFormat::Bits8: return "8";
    case PixelFormat::Bits15: return "15";
    case PixelFormat::Bits24: return "24";
    case PixelFormat::Bits32: return "32";
  }
  return "none";
}

size_t CheckedBufferSize(std::initializer_list<uint64_t> factors) {
  const uint64_t limit = pixelMemoryLimit.load();
  uint64_t product = 1;
  for (uint64_t factor : factors) {
    if (factor != 0 && product > limit / factor)
      throw BitmapTooLarge("The picture needs more than " + LimitText() + " of memory");
    product *= factor;
  }
  if (product > limit)
    throw BitmapTooLarge("The picture needs more than " + LimitText() + " of memory");
  return static_cast<size_t>(product);
}

bool CanFill(uint64_t dataBytes, uint64_t maxExpansion, uint64_t neededBytes) {
  if (neededBytes == 0) return true;
  if (maxExpansion == 0) return false;
  // Divide rather than multiply, so that no product can overflow.
  const uint64_t inputNeeded = neededBytes / maxExpansion + (neededBytes % maxExpansion != 0);
  return dataBytes >= inputNeeded;
}

void RequireFill(uint64_t dataBytes, uint64_t maxExpansion, uint64_t neededBytes) {
  if (!CanFill(dataBytes, maxExpansion, neededBytes)) throw StreamReadError();
}

void Bitmap::SetPixelMemoryLimit(uint64_t bytes) { pixelMemoryLimit = bytes; }
uint64_t Bitmap::PixelMemoryLimit() { return pixelMemoryLimit.load(); }

namespace {

// Pictures of at least this many bytes get their own mapping, aligned to and advised for
// the kernel's 2 MiB huge pages: a 36 MB picture then costs some 18 page faults instead of
// some 9,000, and the kernel's fresh pages are zero without a pass of ours.
constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kMapThreshold = 4 * kHugePage;

uint8_t* MapHugePages(size_t bytes, size_t& mappedBytes) {
  const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  const size_t reserved = rounded + kHugePage;
  void* address = ::mmap(nullptr, reserved, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (address == MAP_FAILED) return nullptr;
  // Keep the 2 MiB-aligned part of the reservation and give back the rest.
  const auto start = reinterpret_cast<uintptr_t>(address);
  const uintptr_t aligned = (start + kHugePage - 1) & ~uintptr_t(kHugePage - 1);
  if (aligned > start) ::munmap(address, aligned - start);
  const uintptr_t end = aligned + rounded;
  if (start + reserved > end) ::munmap(reinterpret_cast<void*>(end), start + reserved - end);
  ::madvise(reinterpret_cast<void*>(aligned), rounded, MADV_HUGEPAGE);
  mappedBytes = rounded;
  return reinterpret_cast<uint8_t*>(aligned);
}

}  // namespace

void Bitmap::PixelDeleter::operator()(uint8_t* p) const {
  if (mappedBytes)
    ::munmap(p, mappedBytes);
  else
    std::free(p);
}

Bitmap::PixelMemory Bitmap::AllocatePixels(size_t bytes, bool clear) {
  if (bytes >= kMapThreshold) {
    size_t mapped = 0;
    if (uint8_t* p = MapHugePages(bytes, mapped)) return PixelMemory(p, PixelDeleter{mapped});
  }
  // calloc hands out fresh zero pages without touching them; memory used before must be
  // cleared, which a reader that fills every row can do without.
  return PixelMemory(static_cast<uint8_t*>(clear ? std::calloc(bytes, 1) : std::malloc(bytes)));
}

const ReaderClass& Bitmap::StaticClass() {
  static const ReaderClass descriptor{
      "Bitmap", nullptr, []() -> std::unique_ptr<Bitmap> { return std::make_unique<Bitmap>(); }};
  return descriptor;
}

void Bitmap::LoadFile(const std::string& path) {
  FileStream stream(path);
  try {
    LoadFromStream(stream);
  } catch (...) {
    // A reader's complaint about bytes that changed under it is the read error.
    stream.Verify();
    throw;
  }
  stream.Verify();
}

void Bitmap::Assign(const Bitmap& other) {
  PixelMemory copy;
  size_t bytes = other.stride_ * size_t(other.height_);
  if (bytes) {
    copy = AllocatePixels(bytes, false);
    if (!copy) throw BitmapTooLarge("Out of memory for a picture copy");
    std::memcpy(copy.get(), other.pixels_.get(), bytes);
  }
  format_ = other.format_;
  width_ = other.width_;
  height_ = other.height_;
  stride_ = other.stride_;
  pixels_ = std::move(copy);
  palette_ = other.palette_;
  transparent_ = other.transparent_;
}

void Bitmap::Clear() {
  format_ = PixelFormat::None;
  width_ = height_ = 0;
  stride_ = 0;
  pixels_.reset();
  palette_.reset();
  transparent_ = false;
}

void Bitmap::SetPixelFormat(PixelFormat format) {
  const int width = width_, height = height_;
  format_ = format;
  width_ = height_ = 0;
  stride_ = 0;
  pixels_.reset();
  switch (format) {
    case PixelFormat::Bits1: {
      LogPalette record(2);
      record.entries[1] = {255, 255, 255, 0};
      palette_ = CreatePalette(record);
      break;
    }
    case PixelFormat::Bits4: {
      LogPalette record;
      record.entries.assign(StandardPalette16().begin(), StandardPalette16().end());
      palette_ = CreatePalette(record);
      break;
    }
    case PixelFormat::Bits8: {
      LogPalette record;
      record.entries.assign(HalftonePalette256().begin(), HalftonePalette256().end());
      palette_ = CreatePalette(record);
      break;
    }
    default:
      palette_.reset();
  }
  if (format != PixelFormat::None) SetSize(width, height);
}

void Bitmap::SetSize(int width, int height) { Resize(width, height, true); }

Bitmap::RowFill::RowFill(Bitmap& bitmap, int width, int height, size_t memoryBytes)
    : bitmap_(bitmap) {
  bitmap.Resize(width, height, false, memoryBytes);
}

Bitmap::RowFill::~RowFill() {
  if (!done_ && bitmap_.pixels_)
    std::memset(bitmap_.pixels_.get(), 0, bitmap_.stride_ * size_t(bitmap_.height_));
}

void Bitmap::Resize(int width, int height, bool clear, size_t memoryBytes) {
  if (width < 0 || height < 0)
    throw PictureError("Invalid picture size " + std::to_string(width) + " x " +
                       std::to_string(height));
  if (width == width_ && height == height_ && memoryBytes == 0) return;
  PixelFormat format = format_ == PixelFormat::None ? PixelFormat::Bits24 : format_;
  size_t stride = StrideFor(format, width);
  size_t bytes = CheckedBufferSize({stride, uint64_t(height)});
  // Rows kept from the present pixels must be cleared where they are not copied.
  clear = clear || (height_ > 0 && width_ > 0);
  PixelMemory pixels;
  if (bytes) {
    pixels = AllocatePixels(std::max(bytes, memoryBytes), clear);
    if (!pixels) throw BitmapTooLarge("Out of memory for a picture of " +
                                      std::to_string(width) + " x " + std::to_string(height));
    const size_t rowBytes = (uint64_t(width) * BitsPerPixel(format) + 7) / 8;
    if (!clear && rowBytes < stride)
      for (int y = 0; y < height; ++y)
        std::memset(pixels.get() + size_t(y) * stride + rowBytes, 0, stride - rowBytes);
  }
  const int keepRows = std::min(height, height_);
  const size_t keepBytes = std::min(stride, stride_);
  for (int y = 0; y < keepRows && keepBytes; ++y)
    std::memcpy(pixels.get() + y * stride, pixels_.get() + y * stride_, keepBytes);
  if (format_ == PixelFormat::None) format_ = format;
  width_ = width;
  height_ = height;
  stride_ = stride;
  pixels_ = std::move(pixels);
}

size_t Bitmap::RowBytes() const { return (uint64_t(width_) * BitsPerPixel(format_) + 7) / 8; }

uint8_t* Bitmap::ScanLine(int y) {
  if (y < 0 || y >= height_) throw PictureError("Scan line index out of range");
  return pixels_.get() + size_t(y) * stride_;
}

const uint8_t* Bitmap::ScanLine(int y) const {
  if (y < 0 || y >= height_) throw PictureError("Scan line index out of range");
  return pixels_.get() + size_t(y) * stride_;
}

const std::vector<PaletteEntry>& Bitmap::Palette() const {
  static const std::vector<PaletteEntry> none;
  return palette_ ? *palette_ : none;
}

void Bitmap::SetPalette(PaletteHandle palette) {
  if (!palette) return;
  if (palette->size() > 256)
    palette = std::make_shared<const std::vector<PaletteEntry>>(palette->begin(),
                                                                palette->begin() + 256);
  palette_ = std::move(palette);
}

namespace {

// Blue, green, red of every palette index; indices past a short palette are black.
std::array<std::array<uint8_t, 3>, 256> PaletteLookup(const Bitmap& picture) {
  std::array<std::array<uint8_t, 3>, 256> lookup{};
  const auto& palette = picture.Palette();
  for (size_t i = 0; i < palette.size() && i < 256; ++i)
    lookup[i] = {palette[i].blue, palette[i].green, palette[i].red};
  return lookup;
}

inline uint8_t Widen5(unsigned v) { return static_cast<uint8_t>(v << 3 | v >> 2); }

void ConvertRow(const Bitmap& picture, const std::array<std::array<uint8_t, 3>, 256>& lookup,
                const uint8_t* row, uint8_t* out, int width) {
  switch (picture.GetPixelFormat()) {
    case PixelFormat::Bits1:
      for (int x = 0; x < width; ++x, out += 3)
        std::memcpy(out, lookup[(row[x >> 3] >> (7 - (x & 7))) & 1].data(), 3);
      break;
    case PixelFormat::Bits4:
      for (int x = 0; x < width; ++x, out += 3)
        std::memcpy(out, lookup[(x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4].data(), 3);
      break;
    case PixelFormat::Bits8:
      for (int x = 0; x < width; ++x, out += 3) std::memcpy(out, lookup[row[x]].data(), 3);
      break;
    case PixelFormat::Bits15:
      for (int x = 0; x < width; ++x, out += 3) {
        unsigned word = row[2 * x] | row[2 * x + 1] << 8;
        out[0] = Widen5(word & 0x1F);
        out[1] = Widen5(word >> 5 & 0x1F);
        out[2] = Widen5(word >> 10 & 0x1F);
      }
      break;
    case PixelFormat::Bits24:
      std::memcpy(out, row, size_t(width) * 3);
      break;
    case PixelFormat::Bits32:
      if (picture.Transparent()) {
        // Real transparency shows the white page the picture is put on.
        for (int x = 0; x < width; ++x, out += 3, row += 4) {
          const unsigned alpha = row[3];
          for (int c = 0; c < 3; ++c)
            out[c] = static_cast<uint8_t>((row[c] * alpha + 255 * (255 - alpha) + 127) / 255);
        }
        break;
      }
      [[fallthrough]];
    case PixelFormat::Device:
      for (int x = 0; x < width; ++x, out += 3, row += 4) {
        out[0] = row[0];
        out[1] = row[1];
        out[2] = row[2];
      }
      break;
    case PixelFormat::None:
      break;
  }
}

}  // namespace

void RowToBGR(const Bitmap& picture, int y, uint8_t* out) {
  ConvertRow(picture, PaletteLookup(picture), picture.ScanLine(y), out, picture.Width());
}

void DrawOnCanvas(Bitmap& canvas, const Bitmap& picture) {
  if (canvas.GetPixelFormat() != PixelFormat::Bits24)
    throw PictureError("Pictures can only be drawn onto a 24-bit canvas");
  const int width = std::min(canvas.Width(), picture.Width());
  const int height = std::min(canvas.Height(), picture.Height());
  if (width <= 0 || height <= 0) return;
  const auto lookup = PaletteLookup(picture);
  for (int y = 0; y < height; ++y)
    ConvertRow(picture, lookup, picture.ScanLine(y), canvas.ScanLine(y), width);
}

}  // namespace pictures
