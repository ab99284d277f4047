#include "pictures/formats/jpeg2000.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "base/error.h"
#include "pictures/formats/jpeg2000_library.h"
#include "pictures/palette.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TJPEG2000Graphic, Bitmap)

namespace {

// The JP2 signature box, which starts every file of the JP2 family (JP2, JPX).
constexpr uint8_t kJp2Signature[] = {0, 0, 0, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
constexpr uint16_t kStartOfCodestream = 0xFF4F;
constexpr uint16_t kImageAndTileSize = 0xFF51;
// Every tile has at least one tile-part, whose header is at least its start marker
// segment (12 bytes) and its start-of-data marker (2 bytes).
constexpr uint64_t kSmallestTilePart = 14;
// Pictures of at least this many pixels are decoded on two threads.
constexpr uint64_t kThreadedPixels = 1u << 20;

[[noreturn]] void Fail(const std::string& what) { throw PictureError("JPEG 2000: " + what); }

// What the codestream's image and tile size marker (SIZ) declares.
struct Declared {
  bool container = false;  // a JP2 family file rather than a bare codestream
  uint64_t width = 0, height = 0;
  uint64_t componentSamples = 0;  // all components' samples together, as subsampled
  uint64_t tiles = 0;
  uint64_t codestreamBytes = 0;
};

uint64_t CeilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

// The contents of a JP2 family file's first contiguous codestream box ("jp2c"), as far as
// the file holds them.
std::span<const uint8_t> CodestreamBox(std::span<const uint8_t> file) {
  ByteReader boxes(file);
  while (boxes.Remaining() >= 8) {
    uint64_t length = boxes.U32BE();
    const std::span<const uint8_t> type = boxes.Bytes(4);
    uint64_t header = 8;
    if (length == 1) {
      length = boxes.U64BE();
      header = 16;
    }
    const uint64_t available = boxes.Remaining();
    if (length != 0 && length < header) Fail("a box of the file is damaged");
    const uint64_t contents = length == 0 ? available : length - header;  // 0: to the end
    if (std::memcmp(type.data(), "jp2c", 4) == 0)
      return boxes.Bytes(size_t(std::min(contents, available)));
    if (contents > available) break;
    boxes.Skip(size_t(contents));
  }
  Fail("the file holds no codestream");
}

Declared ReadSiz(std::span<const uint8_t> codestream) {
  ByteReader siz(codestream);
  if (siz.U16BE() != kStartOfCodestream || siz.U16BE() != kImageAndTileSize)
    Fail("the codestream does not start with its size marker");
  siz.Skip(4);  // the marker's length and the capabilities
  const uint32_t xsiz = siz.U32BE(), ysiz = siz.U32BE();
  const uint32_t xosiz = siz.U32BE(), yosiz = siz.U32BE();
  const uint32_t xtsiz = siz.U32BE(), ytsiz = siz.U32BE();
  const uint32_t xtosiz = siz.U32BE(), ytosiz = siz.U32BE();
  const uint16_t csiz = siz.U16BE();
  if (xsiz <= xosiz || ysiz <= yosiz || csiz == 0 || xtsiz == 0 || ytsiz == 0 ||
      xtosiz > xosiz || ytosiz > yosiz || uint64_t(xtosiz) + xtsiz <= xosiz ||
      uint64_t(ytosiz) + ytsiz <= yosiz)
    Fail("the image and tile sizes are not sound");
  Declared declared;
  declared.width = xsiz - xosiz;
  declared.height = ysiz - yosiz;
  declared.tiles = CeilDiv(xsiz - xtosiz, xtsiz) * CeilDiv(ysiz - ytosiz, ytsiz);
  declared.codestreamBytes = codestream.size();
  for (uint16_t c = 0; c < csiz; ++c) {
    siz.Skip(1);  // depth and signedness
    const uint8_t dx = siz.U8(), dy = siz.U8();
    if (dx == 0 || dy == 0) Fail("a component's sampling is not sound");
    declared.componentSamples += (CeilDiv(xsiz, dx) - CeilDiv(xosiz, dx)) *
                                 (CeilDiv(ysiz, dy) - CeilDiv(yosiz, dy));
  }
  return declared;
}

// Reads what the file declares and refuses pictures that would cost more than the file
// can justify, before the library allocates anything for them.
Declared ReadDeclared(std::span<const uint8_t> file) {
  try {
    const bool container =
        file.size() >= sizeof kJp2Signature && std::memcmp(file.data(), kJp2Signature, sizeof kJp2Signature) == 0;
    Declared declared = ReadSiz(container ? CodestreamBox(file) : file);
    declared.container = container;
    CheckedBufferSize({declared.width, declared.height, 4});
    // OpenJPEG keeps every decoded sample as a 32-bit number.
    CheckedBufferSize({declared.componentSamples, 4});
    if (declared.tiles > declared.codestreamBytes / kSmallestTilePart)
      Fail("the file is too short for its " + std::to_string(declared.tiles) + " tiles");
    return declared;
  } catch (const StreamReadError&) {
    Fail("the file ends early");
  }
}

// The file's bytes as OpenJPEG reads them.
struct MemoryInput {
  std::span<const uint8_t> bytes;
  size_t position = 0;
};

OPJ_SIZE_T ReadInput(void* buffer, OPJ_SIZE_T count, void* data) {
  auto& input = *static_cast<MemoryInput*>(data);
  if (input.position >= input.bytes.size()) return OPJ_SIZE_T(-1);  // the end
  const size_t n = std::min<size_t>(count, input.bytes.size() - input.position);
  std::memcpy(buffer, input.bytes.subspan(input.position, n).data(), n);
  input.position += n;
  return n;
}

OPJ_OFF_T SkipInput(OPJ_OFF_T count, void* data) {
  auto& input = *static_cast<MemoryInput*>(data);
  const OPJ_OFF_T target = std::clamp<OPJ_OFF_T>(OPJ_OFF_T(input.position) + count, 0,
                                                 OPJ_OFF_T(input.bytes.size()));
  const OPJ_OFF_T moved = target - OPJ_OFF_T(input.position);
  input.position = size_t(target);
  return moved;
}

OPJ_BOOL SeekInput(OPJ_OFF_T position, void* data) {
  auto& input = *static_cast<MemoryInput*>(data);
  if (position < 0 || uint64_t(position) > input.bytes.size()) return OPJ_FALSE;
  input.position = size_t(position);
  return OPJ_TRUE;
}

// The first error OpenJPEG reports is the cause; those after it follow from it.
void KeepFirstError(const char* message, void* data) {
  auto& kept = *static_cast<std::string*>(data);
  if (!kept.empty() || !message) return;
  kept = message;
  while (!kept.empty() && (kept.back() == '\n' || kept.back() == ' ')) kept.pop_back();
}

void IgnoreMessage(const char*, void*) {}

// OpenJPEG's codec and stream are both untyped pointers: each has its own deleter.
struct CodecDeleter {
  const OpenJpegLibrary* lib;
  void operator()(opj_codec_t* codec) const { lib->opj_destroy_codec(codec); }
};
struct StreamDeleter {
  const OpenJpegLibrary* lib;
  void operator()(opj_stream_t* stream) const { lib->opj_stream_destroy(stream); }
};
struct ImageDeleter {
  const OpenJpegLibrary* lib;
  void operator()(opj_image_t* image) const { lib->opj_image_destroy(image); }
};

// One decoded component as the picture uses it: its samples at every pixel of a row (a
// subsampled component repeats its samples), made unsigned and kept within 0..Maximum().
class Plane {
 public:
  Plane(const opj_image_t& image, const opj_image_comp_t& component)
      : component_(component),
        precision_(std::clamp(component.prec, 1u, 31u)),
        offset_(component.sgnd ? int64_t(1) << (precision_ - 1) : 0),
        maximum_(int32_t((int64_t(1) << precision_) - 1)),
        rowOrigin_(image.y0),
        row_(image.x1 - image.x0) {
    if (!component.data || component.w == 0 || component.h == 0 || component.dx == 0 ||
        component.dy == 0)
      Fail("a component was not decoded");
    for (size_t x = 0; x < row_.size(); ++x)
      columns_.push_back(Index((image.x0 + x) / component.dx, component.x0, component.w));
    // Most components are sampled at every pixel: their rows are read as they are.
    aligned_ = component.dx == 1 && component.x0 == image.x0 && component.w >= row_.size();
    if (precision_ <= kLookedUpBits)
      for (int64_t sample = 0; sample <= maximum_; ++sample) eight_.push_back(Scale(sample));
  }

  int32_t Maximum() const { return maximum_; }
  int32_t Middle() const { return int32_t((int64_t(maximum_) + 1) / 2); }

  // The samples of row y of the picture.
  std::span<const int32_t> Row(uint32_t y) {
    const uint32_t line = Index((rowOrigin_ + uint64_t(y)) / component_.dy, component_.y0, component_.h);
    const std::span<const OPJ_INT32> samples =
        std::span<const OPJ_INT32>(component_.data, size_t(component_.w) * component_.h)
            .subspan(size_t(line) * component_.w, component_.w);
    const auto unsigned_ = [&](OPJ_INT32 sample) {
      return int32_t(std::clamp<int64_t>(int64_t(sample) + offset_, 0, maximum_));
    };
    if (aligned_)
      for (size_t x = 0; x < row_.size(); ++x) row_[x] = unsigned_(samples[x]);
    else
      for (size_t x = 0; x < row_.size(); ++x) row_[x] = unsigned_(samples[columns_[x]]);
    return row_;
  }

  // A sample scaled from 0..Maximum() to 0..255, rounded.
  uint8_t Eight(int32_t sample) const {
    return eight_.empty() ? Scale(sample) : eight_[size_t(sample)];
  }
  // A value in this component's units (such as a colour computed from it) scaled likewise.
  uint8_t Scale(int64_t value) const { return uint8_t((value * 255 + maximum_ / 2) / maximum_); }

 private:
  // Components of up to this many bits scale through a table.
  static constexpr uint32_t kLookedUpBits = 16;

  // The component's own index of a position on its grid, kept within the component.
  static uint32_t Index(uint64_t position, uint32_t origin, uint32_t size) {
    return uint32_t(std::min<uint64_t>(position > origin ? position - origin : 0, size - 1));
  }

  const opj_image_comp_t& component_;
  uint32_t precision_;
  int64_t offset_;
  int32_t maximum_;
  uint32_t rowOrigin_;
  bool aligned_ = false;
  std::vector<uint32_t> columns_;
  std::vector<int32_t> row_;
  std::vector<uint8_t> eight_;
};

enum class Colours { Grey, RGB, YCC, CMYK };

// How the components are read: the colour model, the colour components in order and the
// alpha component, if any.
struct Layout {
  Colours colours;
  std::vector<const opj_image_comp_t*> colour;
  const opj_image_comp_t* alpha = nullptr;
};

Layout ChooseLayout(const opj_image_t& image) {
  const std::span<const opj_image_comp_t> components(image.comps, image.numcomps);
  Layout layout{Colours::Grey, {}, nullptr};
  for (const opj_image_comp_t& c : components) {
    if (c.alpha && !layout.alpha)
      layout.alpha = &c;
    else if (!c.alpha)
      layout.colour.push_back(&c);
  }
  const size_t count = layout.colour.size();
  switch (image.color_space) {
    case OPJ_CLRSPC_GRAY: layout.colours = Colours::Grey; break;
    case OPJ_CLRSPC_SRGB: layout.colours = count >= 3 ? Colours::RGB : Colours::Grey; break;
    case OPJ_CLRSPC_SYCC: layout.colours = count >= 3 ? Colours::YCC : Colours::Grey; break;
    case OPJ_CLRSPC_CMYK:
      if (count < 4) Fail("a CMYK picture needs four components");
      layout.colours = Colours::CMYK;
      break;
    case OPJ_CLRSPC_EYCC: Fail("the e-sYCC colour space is not supported");
    default:
      // A bare codestream says nothing of its colours: three components with subsampled
      // chroma are luma and chroma, three others red, green and blue.
      layout.colours = count < 3                                         ? Colours::Grey
                       : layout.colour[1]->dx > 1 || layout.colour[1]->dy > 1 ? Colours::YCC
                                                                          : Colours::RGB;
      break;
  }
  // Without a channel definition, a component beyond the colours is taken for alpha.
  const size_t used = layout.colours == Colours::Grey ? 1 : layout.colours == Colours::CMYK ? 4 : 3;
  if (!layout.alpha && count == used + 1) layout.alpha = layout.colour[used];
  layout.colour.resize(used);
  return layout;
}

// Luma and chroma (sYCC, full range) to red, green and blue in the luma's units, as the
// ITU-R BT.601 matrix gives them (truncated, as OpenJPEG's own tools do).
void YccToRgb(int64_t y, int64_t cb, int64_t cr, int64_t maximum, int64_t rgb[3]) {
  const double b = double(cb), r = double(cr);
  rgb[0] = std::clamp<int64_t>(y + int64_t(1.402 * r), 0, maximum);
  rgb[1] = std::clamp<int64_t>(y - int64_t(0.344 * b + 0.714 * r), 0, maximum);
  rgb[2] = std::clamp<int64_t>(y + int64_t(1.772 * b), 0, maximum);
}

// One row of the picture from the rows of its colour planes, as blue, green, red (and
// alpha, set afterwards) or, for grey without alpha, one byte a pixel.
void ColourRow(Colours colours, std::span<Plane> planes, std::span<const std::span<const int32_t>> rows,
               std::span<uint8_t> out, size_t bytes) {
  const size_t width = rows[0].size();
  switch (colours) {
    case Colours::Grey:
      for (size_t x = 0; x < width; ++x) {
        const uint8_t grey = planes[0].Eight(rows[0][x]);
        for (size_t i = 0; i < std::min<size_t>(bytes, 3); ++i) out[x * bytes + i] = grey;
      }
      break;
    case Colours::RGB:
      for (size_t x = 0; x < width; ++x) {
        out[x * bytes] = planes[2].Eight(rows[2][x]);
        out[x * bytes + 1] = planes[1].Eight(rows[1][x]);
        out[x * bytes + 2] = planes[0].Eight(rows[0][x]);
      }
      break;
    case Colours::YCC:
      for (size_t x = 0; x < width; ++x) {
        int64_t rgb[3];
        YccToRgb(rows[0][x], rows[1][x] - planes[1].Middle(), rows[2][x] - planes[2].Middle(),
                 planes[0].Maximum(), rgb);
        for (size_t i = 0; i < 3; ++i) out[x * bytes + i] = planes[0].Scale(rgb[2 - i]);
      }
      break;
    case Colours::CMYK:
      // No ink is 0; the result is what the inks leave of white.
      for (size_t x = 0; x < width; ++x) {
        const auto left = [&](size_t p) { return 1.0 - double(rows[p][x]) / planes[p].Maximum(); };
        const double k = left(3);
        for (size_t i = 0; i < 3; ++i) out[x * bytes + i] = uint8_t(255.0 * left(2 - i) * k);
      }
      break;
  }
}

// The planes of the colour components in order, then alpha's, if any.
std::vector<Plane> MakePlanes(const opj_image_t& image, const Layout& layout) {
  std::vector<Plane> planes;
  for (const opj_image_comp_t* c : layout.colour) planes.emplace_back(image, *c);
  if (layout.alpha) planes.emplace_back(image, *layout.alpha);
  return planes;
}

// Writes the decoded components into the Bitmap, row by row.
void ConvertComponents(std::vector<Plane>& planes, const Layout& layout, Bitmap& bitmap) {
  const bool alpha = layout.alpha != nullptr;
  const size_t bytes = layout.colours == Colours::Grey && !alpha ? 1 : alpha ? 4 : 3;
  const size_t width = size_t(bitmap.Width());
  std::vector<std::span<const int32_t>> rows(planes.size());
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (size_t p = 0; p < planes.size(); ++p) rows[p] = planes[p].Row(uint32_t(y));
    const std::span<uint8_t> out(bitmap.ScanLine(y), width * bytes);
    ColourRow(layout.colours, planes, rows, out, bytes);
    if (alpha)
      for (size_t x = 0; x < width; ++x) out[x * 4 + 3] = planes.back().Eight(rows.back()[x]);
  }
}

}  // namespace

void TJPEG2000Graphic::LoadFromStream(Stream& stream) {
  std::vector<uint8_t> storage;
  const std::span<const uint8_t> file = stream.ReadRestView(storage);
  Clear();
  const Declared declared = ReadDeclared(file);
  std::string unavailable;
  const OpenJpegLibrary* lib = LoadOpenJpegLibrary(unavailable);
  if (!lib) Fail(unavailable);

  std::string error;  // outlives the codec, whose handler writes it
  const std::unique_ptr<opj_codec_t, CodecDeleter> codec(
      lib->opj_create_decompress(declared.container ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K), {lib});
  if (!codec) Fail("out of memory");
  lib->opj_set_error_handler(codec.get(), KeepFirstError, &error);
  lib->opj_set_warning_handler(codec.get(), IgnoreMessage, nullptr);
  lib->opj_set_info_handler(codec.get(), IgnoreMessage, nullptr);
  const auto check = [&](OPJ_BOOL done, const char* stage) {
    if (!done) Fail(error.empty() ? stage : error);
  };
  opj_dparameters_t parameters;
  lib->opj_set_default_decoder_parameters(&parameters);
  check(lib->opj_setup_decoder(codec.get(), &parameters), "the decoder cannot be set up");
  // A file cut short fails rather than showing as grey what it lacks.
  lib->opj_decoder_set_strict_mode(codec.get(), OPJ_TRUE);
  lib->opj_codec_set_threads(codec.get(),
                             declared.width * declared.height >= kThreadedPixels ? 2 : 1);

  MemoryInput input{file};
  const std::unique_ptr<opj_stream_t, StreamDeleter> source(
      lib->opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE), {lib});
  if (!source) Fail("out of memory");
  lib->opj_stream_set_user_data(source.get(), &input, nullptr);
  lib->opj_stream_set_user_data_length(source.get(), file.size());
  lib->opj_stream_set_read_function(source.get(), ReadInput);
  lib->opj_stream_set_skip_function(source.get(), SkipInput);
  lib->opj_stream_set_seek_function(source.get(), SeekInput);

  opj_image_t* rawImage = nullptr;
  const bool header = lib->opj_read_header(source.get(), codec.get(), &rawImage);
  const std::unique_ptr<opj_image_t, ImageDeleter> image(rawImage, {lib});
  check(header && image, "the header cannot be read");
  if (uint64_t(image->x1) - image->x0 != declared.width ||
      uint64_t(image->y1) - image->y0 != declared.height || image->numcomps == 0)
    Fail("the header does not match the codestream's size marker");
  check(lib->opj_decode(codec.get(), source.get(), image.get()), "the picture cannot be decoded");
  // Whatever follows the last tile cannot change the picture, so it is not read.

  const Layout layout = ChooseLayout(*image);
  std::vector<Plane> planes = MakePlanes(*image, layout);
  const bool grey = layout.colours == Colours::Grey && !layout.alpha;
  SetPixelFormat(grey ? PixelFormat::Bits8 : layout.alpha ? PixelFormat::Bits32 : PixelFormat::Bits24);
  if (grey) SetPalette(CreatePalette(GreyPaletteRecord()));
  RowFill fill(*this, int(declared.width), int(declared.height));
  ConvertComponents(planes, layout, *this);
  fill.Done();
  SetTransparent(layout.alpha != nullptr);
}

}  // namespace pictures
