#include "pictures/formats/exr.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "base/byte_reader.h"
#include "base/error.h"
#include "base/colour_space.h"
#include "pictures/formats/exr_library.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TEXRGraphic, Bitmap)

namespace {

[[noreturn]] void Fail(const std::string& what) { throw PictureError("EXR: " + what); }

// The longest side and the largest tile the library may take; the pixel memory limit
// bounds the picture itself.
constexpr int kMaximumSide = 1 << 20;
constexpr int kMaximumTileSide = 1 << 16;

// Our words for the library's results; the rest keep the library's own.
std::string ResultText(const ExrLibrary& lib, exr_result_t result) {
  switch (result) {
    case EXR_ERR_OUT_OF_MEMORY: return "out of memory";
    case EXR_ERR_FILE_BAD_HEADER: return "not an OpenEXR file, or its header is damaged";
    case EXR_ERR_READ_IO: return "the file ends early";
    case EXR_ERR_MISSING_REQ_ATTR: return "the header lacks a required attribute";
    case EXR_ERR_INVALID_ATTR:
    case EXR_ERR_ATTR_TYPE_MISMATCH:
    case EXR_ERR_ATTR_SIZE_MISMATCH: return "the header holds a damaged attribute";
    case EXR_ERR_BAD_CHUNK_LEADER:
    case EXR_ERR_CORRUPT_CHUNK:
    case EXR_ERR_INCORRECT_CHUNK: return "a block of pixels is damaged";
    case EXR_ERR_FEATURE_NOT_IMPLEMENTED: return "a feature of this file is not supported";
    default: return lib.exr_get_default_error_message(result);
  }
}

// The most bytes of decoded samples one byte of a block can give with each compression,
// at its best: run-length 128 bytes from a 2-byte run, zlib 1032 (PXR24 first drops a
// byte of each float sample), PIZ a run of 255 samples from a 1-bit Huffman code and its
// 8-bit count, B44A a 4x4 block of equal half samples in 3 bytes, and DWA run-length
// coding and zlib one after the other.
uint64_t MaximumExpansion(exr_compression_t compression) {
  switch (compression) {
    case EXR_COMPRESSION_NONE: return 1;
    case EXR_COMPRESSION_RLE: return 64;
    case EXR_COMPRESSION_ZIPS:
    case EXR_COMPRESSION_ZIP: return 1032;
    case EXR_COMPRESSION_PXR24: return 1376;
    case EXR_COMPRESSION_PIZ: return 454;
    case EXR_COMPRESSION_B44:
    case EXR_COMPRESSION_B44A: return 11;
    default: return 64 * 1032;
  }
}

const char* CompressionName(exr_compression_t compression) {
  constexpr const char* kNames[] = {"NONE",  "RLE", "ZIPS", "ZIP",  "PIZ",
                                    "PXR24", "B44", "B44A", "DWAA", "DWAB"};
  return compression >= 0 && size_t(compression) < std::size(kNames) ? kNames[compression] : "this";
}

// The file's bytes as the library reads them.
int64_t ReadFromMemory(exr_const_context_t, void* userdata, void* buffer, uint64_t size,
                       uint64_t offset, exr_stream_error_func_ptr_t) {
  const auto& bytes = *static_cast<const std::span<const uint8_t>*>(userdata);
  if (offset >= bytes.size()) return 0;
  const size_t count = size_t(std::min<uint64_t>(size, bytes.size() - offset));
  std::memcpy(buffer, bytes.subspan(size_t(offset)).data(), count);
  return int64_t(count);
}

int64_t MemorySize(exr_const_context_t, void* userdata) {
  return int64_t(static_cast<const std::span<const uint8_t>*>(userdata)->size());
}

// The library explains its failures to a handler that would print them; its result codes
// say enough.
void IgnoreMessage(exr_const_context_t, exr_result_t, const char*) {}

// What the channels make: colour (any of R, G, B, missing ones black), luminance alone, or
// luminance with chroma. Alpha may come with each.
enum class Kind { Rgb, Luminance, LuminanceChroma };

// A channel of the file as its blocks store it; for the channels the picture is made of,
// also the samples of the line being converted.
struct Channel {
  int role = -1;  // a ChannelRole, or -1 for a channel the picture does not use
  exr_pixel_type_t type = EXR_PIXEL_HALF;
  int sampleBytes = 2;
  int xSampling = 1;
  int ySampling = 1;
  // A subsampled channel has samples only on lines that are multiples of its sampling;
  // the lines between keep the last, also from the block before.
  std::vector<float> line;

  float At(int x) const {
    return line.empty() ? 0.0f : line[std::min(size_t(x / xSampling), line.size() - 1)];
  }
};

enum ChannelRole { kRed, kGreen, kBlue, kAlpha, kLuma, kRedChroma, kBlueChroma, kRoles };
constexpr const char* kRoleNames[kRoles] = {"R", "G", "B", "A", "Y", "RY", "BY"};

// The weights of red, green and blue in luminance, for the file's primaries (Rec. 709,
// which sRGB shares, unless the header names others): the middle row of the matrix from
// RGB to XYZ, whose white has Y = 1.
struct LumaWeights {
  float red = 0.2126f, green = 0.7152f, blue = 0.0722f;
};

LumaWeights WeightsFor(const exr_attr_chromaticities_t& c) {
  const double X[3] = {c.red_x / c.red_y, c.green_x / c.green_y, c.blue_x / c.blue_y};
  const double Z[3] = {(1 - c.red_x - c.red_y) / c.red_y, (1 - c.green_x - c.green_y) / c.green_y,
                       (1 - c.blue_x - c.blue_y) / c.blue_y};
  const double white[3] = {c.white_x / c.white_y, 1, (1 - c.white_x - c.white_y) / c.white_y};
  // Scale each primary (X, 1, Z) so that the three add up to the white: Cramer's rule.
  const auto det = [](const double a[3], const double b[3], const double d[3]) {
    return a[0] * (b[1] * d[2] - b[2] * d[1]) - a[1] * (b[0] * d[2] - b[2] * d[0]) +
           a[2] * (b[0] * d[1] - b[1] * d[0]);
  };
  const double columns[3][3] = {{X[0], 1, Z[0]}, {X[1], 1, Z[1]}, {X[2], 1, Z[2]}};
  const double d = det(columns[0], columns[1], columns[2]);
  const double r = det(white, columns[1], columns[2]) / d;
  const double g = det(columns[0], white, columns[2]) / d;
  const double b = det(columns[0], columns[1], white) / d;
  if (!(r > 0 && g > 0 && b > 0) || !std::isfinite(r + g + b)) return {};
  return {float(r), float(g), float(b)};
}

// Samples as files store them, little-endian.
void SamplesToFloat(std::span<const uint8_t> bytes, exr_pixel_type_t type,
                    std::vector<float>& out) {
  const size_t size = type == EXR_PIXEL_HALF ? 2 : 4;
  out.resize(bytes.size() / size);
  for (size_t i = 0; i < out.size(); ++i) {
    const uint8_t* sample = bytes.subspan(i * size, size).data();
    out[i] = type == EXR_PIXEL_HALF    ? HalfToFloat(LoadU16LE(sample))
             : type == EXR_PIXEL_FLOAT ? std::bit_cast<float>(LoadU32LE(sample))
                                       : float(LoadU32LE(sample));
  }
}

// Alpha is stored linear, as coverage: 0..1 to 0..255, NaN as 0.
uint8_t AlphaByte(float alpha) {
  if (!(alpha > 0)) return 0;
  return alpha >= 1 ? 255 : uint8_t(alpha * 255.0f + 0.5f);
}

int64_t FloorDivide(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

// Reads the first part of one file into a Bitmap, a block (a chunk of scan lines or a
// tile) at a time. The library reads and decompresses each block; its samples are taken
// from the block's uncompressed layout here (line by line, in each line the channels in
// the header's order), since OpenEXR 3.1's core library writes subsampled channels into a
// caller's buffers beyond their end.
class ExrDecode {
 public:
  ExrDecode(const ExrLibrary& lib, exr_context_t context, Bitmap& bitmap)
      : lib_(lib), context_(context), bitmap_(bitmap) {}
  ~ExrDecode() {
    if (decoderStarted_) lib_.exr_decoding_destroy(context_, &decoder_);
  }
  ExrDecode(const ExrDecode&) = delete;
  ExrDecode& operator=(const ExrDecode&) = delete;

  void Check(exr_result_t result) const {
    if (result != EXR_ERR_SUCCESS) Fail(ResultText(lib_, result));
  }

  // Reads the header's description of the picture and checks it against the file.
  void Prepare(uint64_t fileBytes);
  void Run();

 private:
  void FindChannels(int64_t width, int64_t height, uint64_t& decodedBytes);
  std::span<const uint8_t> DecodeBlock(const exr_chunk_info_t& block);
  void CheckDecoding(exr_result_t result) const;
  void ConvertBlock(std::span<const uint8_t> samples, int left, int top, int width, int lines);
  void ConvertRow(uint8_t* out, int width) const;
  bool Present(ChannelRole role) const { return used_[role] != nullptr; }
  float At(ChannelRole role, int x) const { return used_[role] ? used_[role]->At(x) : 0.0f; }

  const ExrLibrary& lib_;
  exr_context_t context_;
  Bitmap& bitmap_;
  exr_decode_pipeline_t decoder_{};  // all zero, as EXR_DECODE_PIPELINE_INITIALIZER makes it
  bool decoderStarted_ = false;
  exr_storage_t storage_ = EXR_STORAGE_SCANLINE;
  exr_attr_box2i_t window_{};
  exr_compression_t compression_ = EXR_COMPRESSION_NONE;
  int width_ = 0, height_ = 0;
  Kind kind_ = Kind::Rgb;
  std::vector<Channel> channels_;     // all of the file's, in its order
  const Channel* used_[kRoles] = {};  // the ones the picture is made of
  LumaWeights weights_;
};

void ExrDecode::Prepare(uint64_t fileBytes) {
  Check(lib_.exr_get_storage(context_, 0, &storage_));
  if (storage_ != EXR_STORAGE_SCANLINE && storage_ != EXR_STORAGE_TILED)
    Fail("deep pictures (several samples a pixel) are not supported");
  Check(lib_.exr_get_data_window(context_, 0, &window_));
  const int64_t width = int64_t(window_.max.x) - window_.min.x + 1;
  const int64_t height = int64_t(window_.max.y) - window_.min.y + 1;
  if (width <= 0 || height <= 0) Fail("the picture has no size");
  uint64_t decodedBytes = 0;
  FindChannels(width, height, decodedBytes);

  // A small file must not make the library and the Bitmap take memory for a picture that
  // its blocks cannot hold, nor for a table of more blocks than it has room for.
  Check(lib_.exr_get_compression(context_, 0, &compression_));
  if (!CanFill(fileBytes, MaximumExpansion(compression_), decodedBytes))
    Fail("the file is too small for the picture it declares");
  int32_t blocks = 0;
  Check(lib_.exr_get_chunk_count(context_, 0, &blocks));
  if (uint64_t(blocks) * 8 > fileBytes) Fail("the file ends early");

  const bool alpha = Present(kAlpha);
  const PixelFormat format = alpha                      ? PixelFormat::Bits32
                             : kind_ == Kind::Luminance ? PixelFormat::Bits8
                                                        : PixelFormat::Bits24;
  CheckedBufferSize({uint64_t(width), uint64_t(height), 4});
  width_ = int(width);
  height_ = int(height);
  bitmap_.SetPixelFormat(format);
  if (format == PixelFormat::Bits8) bitmap_.SetPalette(CreatePalette(GreyPaletteRecord()));
  bitmap_.SetSize(width_, height_);
  bitmap_.SetTransparent(alpha);
}

// Notes every channel's layout, which of them the picture is made of, and the bytes of
// samples they declare in all.
void ExrDecode::FindChannels(int64_t width, int64_t height, uint64_t& decodedBytes) {
  const exr_attr_chlist_t* list = nullptr;
  Check(lib_.exr_get_channels(context_, 0, &list));
  channels_.resize(size_t(std::max(list->num_channels, 0)));
  for (size_t i = 0; i < channels_.size(); ++i) {
    const exr_attr_chlist_entry_t& entry = list->entries[i];
    Channel& channel = channels_[i];
    channel.type = entry.pixel_type;
    channel.sampleBytes = entry.pixel_type == EXR_PIXEL_HALF ? 2 : 4;
    channel.xSampling = std::max(entry.x_sampling, 1);
    channel.ySampling = std::max(entry.y_sampling, 1);
    decodedBytes += uint64_t(width / channel.xSampling) * uint64_t(height / channel.ySampling) *
                    uint64_t(channel.sampleBytes);
    for (int role = 0; role < kRoles; ++role)
      if (entry.name.str && std::strcmp(entry.name.str, kRoleNames[role]) == 0) channel.role = role;
  }
  const auto has = [this](ChannelRole role) {
    return std::any_of(channels_.begin(), channels_.end(),
                       [role](const Channel& c) { return c.role == role; });
  };
  if (has(kRed) || has(kGreen) || has(kBlue))
    kind_ = Kind::Rgb;
  else if (has(kLuma) && has(kRedChroma) && has(kBlueChroma))
    kind_ = Kind::LuminanceChroma;
  else if (has(kLuma))
    kind_ = Kind::Luminance;
  else
    Fail("the picture has no R, G, B or Y channel");
  for (Channel& channel : channels_) {
    const bool chroma = channel.role == kRedChroma || channel.role == kBlueChroma;
    if ((chroma && kind_ != Kind::LuminanceChroma) || (channel.role == kLuma && kind_ == Kind::Rgb))
      channel.role = -1;
    if (channel.role >= 0) used_[channel.role] = &channel;
  }
  exr_attr_chromaticities_t chromaticities;
  if (kind_ == Kind::LuminanceChroma &&
      lib_.exr_attr_get_chromaticities(context_, 0, "chromaticities", &chromaticities) ==
          EXR_ERR_SUCCESS)
    weights_ = WeightsFor(chromaticities);
}

void ExrDecode::Run() {
  if (storage_ == EXR_STORAGE_SCANLINE) {
    int32_t lines = 0;
    Check(lib_.exr_get_scanlines_per_chunk(context_, 0, &lines));
    if (lines <= 0) Fail("a block of pixels is damaged");
    for (int64_t y = window_.min.y; y <= window_.max.y; y += lines) {
      exr_chunk_info_t block;
      Check(lib_.exr_read_scanline_chunk_info(context_, 0, int(y), &block));
      const int top = int(y - window_.min.y);
      ConvertBlock(DecodeBlock(block), 0, top, width_, std::min(block.height, height_ - top));
    }
    return;
  }
  uint32_t tileWidth = 0, tileHeight = 0;
  exr_tile_level_mode_t levels;
  exr_tile_round_mode_t rounding;
  Check(lib_.exr_get_tile_descriptor(context_, 0, &tileWidth, &tileHeight, &levels, &rounding));
  if (tileWidth == 0 || tileHeight == 0) Fail("a block of pixels is damaged");
  for (const Channel& channel : channels_)
    if (channel.xSampling != 1 || channel.ySampling != 1)
      Fail("a tiled picture has subsampled channels");
  // The first level of a mipmapped picture is the picture at full size.
  const int across = int((uint64_t(width_) + tileWidth - 1) / tileWidth);
  const int down = int((uint64_t(height_) + tileHeight - 1) / tileHeight);
  for (int ty = 0; ty < down; ++ty)
    for (int tx = 0; tx < across; ++tx) {
      exr_chunk_info_t block;
      Check(lib_.exr_read_tile_chunk_info(context_, 0, tx, ty, 0, 0, &block));
      const int left = int(uint64_t(tx) * tileWidth), top = int(uint64_t(ty) * tileHeight);
      ConvertBlock(DecodeBlock(block), left, top, std::min(block.width, width_ - left),
                   std::min(block.height, height_ - top));
    }
}

// Reads and decompresses one block; the result lives until the next block is decoded.
std::span<const uint8_t> ExrDecode::DecodeBlock(const exr_chunk_info_t& block) {
  const bool started = decoderStarted_;
  decoderStarted_ = true;
  Check(started ? lib_.exr_decoding_update(context_, 0, &block, &decoder_)
                : lib_.exr_decoding_initialize(context_, 0, &block, &decoder_));
  for (int i = 0; i < decoder_.channel_count; ++i) decoder_.channels[i].decode_to_ptr = nullptr;
  CheckDecoding(lib_.exr_decoding_choose_default_routines(context_, 0, &decoder_));
  decoder_.unpack_and_convert_fn = nullptr;
  CheckDecoding(lib_.exr_decoding_run(context_, 0, &decoder_));
  if (!decoder_.unpacked_buffer) return {};
  return {static_cast<const uint8_t*>(decoder_.unpacked_buffer),
          size_t(decoder_.chunk.unpacked_size)};
}

// The library may lack the decoder of a compression that files use (OpenEXR 3.1's core
// library has none for DWAA and DWAB).
void ExrDecode::CheckDecoding(exr_result_t result) const {
  if (result == EXR_ERR_FEATURE_NOT_IMPLEMENTED)
    Fail(std::string(CompressionName(compression_)) +
         " compression is not supported by the OpenEXR library");
  Check(result);
}

// Converts the `lines` lines of a decoded block whose pixels start at (left, top) of the
// picture into the Bitmap's rows.
void ExrDecode::ConvertBlock(std::span<const uint8_t> samples, int left, int top, int width,
                             int lines) {
  if (width <= 0 || lines <= 0) return;
  ByteReader data(samples);
  const int64_t x0 = int64_t(window_.min.x) + left, x1 = x0 + width - 1;
  const int pixelBytes = BitsPerPixel(bitmap_.GetPixelFormat()) / 8;
  try {
    for (int r = 0; r < lines; ++r) {
      const int64_t y = int64_t(window_.min.y) + top + r;
      for (Channel& channel : channels_) {
        if (y - FloorDivide(y, channel.ySampling) * channel.ySampling != 0) continue;
        const int64_t count =
            FloorDivide(x1, channel.xSampling) - FloorDivide(x0 - 1, channel.xSampling);
        const std::span<const uint8_t> bytes =
            data.Bytes(size_t(count) * size_t(channel.sampleBytes));
        if (channel.role >= 0) SamplesToFloat(bytes, channel.type, channel.line);
      }
      ConvertRow(bitmap_.ScanLine(top + r) + size_t(left) * size_t(pixelBytes), width);
    }
  } catch (const StreamReadError&) {
    Fail("a block of pixels is damaged");
  }
}

void ExrDecode::ConvertRow(uint8_t* out, int width) const {
  const bool alpha = Present(kAlpha);
  for (int x = 0; x < width; ++x) {
    float red = 0, green = 0, blue = 0;
    switch (kind_) {
      case Kind::Rgb:
        red = At(kRed, x);
        green = At(kGreen, x);
        blue = At(kBlue, x);
        break;
      case Kind::Luminance: red = green = blue = At(kLuma, x); break;
      case Kind::LuminanceChroma: {
        // Chroma is stored relative to luminance: RY = (R - Y) / Y, BY = (B - Y) / Y.
        const float luma = At(kLuma, x);
        red = (At(kRedChroma, x) + 1) * luma;
        blue = (At(kBlueChroma, x) + 1) * luma;
        green = (luma - red * weights_.red - blue * weights_.blue) / weights_.green;
        break;
      }
    }
    if (!alpha) {
      if (kind_ == Kind::Luminance) {
        *out++ = LinearToSRGB8(red);
        continue;
      }
      *out++ = LinearToSRGB8(blue);
      *out++ = LinearToSRGB8(green);
      *out++ = LinearToSRGB8(red);
      continue;
    }
    // OpenEXR stores colours multiplied by their alpha; the Bitmap holds them undivided.
    const float a = At(kAlpha, x);
    if (a > 0) {
      red /= a;
      green /= a;
      blue /= a;
    }
    *out++ = LinearToSRGB8(blue);
    *out++ = LinearToSRGB8(green);
    *out++ = LinearToSRGB8(red);
    *out++ = AlphaByte(a);
  }
}

struct ContextCloser {
  const ExrLibrary* lib;
  void operator()(exr_context_t context) const { lib->exr_finish(&context); }
};

}  // namespace

void TEXRGraphic::LoadFromStream(Stream& stream) {
  std::vector<uint8_t> storage;
  std::span<const uint8_t> file = stream.ReadRestView(storage);
  Clear();
  std::string unavailable;
  const ExrLibrary* lib = LoadExrLibrary(unavailable);
  if (!lib) Fail(unavailable);

  exr_context_initializer_t init = EXR_DEFAULT_CONTEXT_INITIALIZER;
  init.error_handler_fn = IgnoreMessage;
  init.user_data = &file;
  init.read_fn = ReadFromMemory;
  init.size_fn = MemorySize;
  init.max_image_width = init.max_image_height = kMaximumSide;
  init.max_tile_width = init.max_tile_height = kMaximumTileSide;
  exr_context_t rawContext = nullptr;
  const exr_result_t started = lib->exr_start_read(&rawContext, "picture", &init);
  const std::unique_ptr<std::remove_pointer_t<exr_context_t>, ContextCloser> context(
      rawContext, ContextCloser{lib});
  try {
    if (started != EXR_ERR_SUCCESS) Fail(ResultText(*lib, started));
    ExrDecode decode(*lib, context.get(), *this);
    decode.Prepare(file.size());
    decode.Run();
  } catch (const PictureError&) {
    Clear();
    throw;
  }
}

}  // namespace pictures
