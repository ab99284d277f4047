#include "pictures/formats/jxl.h"

#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/error.h"
#include "pictures/formats/jxl_library.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TJXLGraphic, Bitmap)

namespace {

// Pictures of at least this many pixels are decoded on two threads; below it, starting
// them costs more than they save.
constexpr uint64_t kThreadedPixels = 1u << 20;
constexpr size_t kThreads = 2;

[[noreturn]] void Fail(const std::string& what) { throw PictureError("JXL: " + what); }

// libjxl's failures carry no text of their own: each status has ours.
std::string StatusText(JxlDecoderStatus status) {
  switch (status) {
    case JXL_DEC_ERROR: return "the picture data is damaged";
    case JXL_DEC_NEED_MORE_INPUT: return "the file ends early";
    case JXL_DEC_SUCCESS: return "the file holds no picture";
    default: return "the decoder stopped unexpectedly (status " + std::to_string(int(status)) + ")";
  }
}

void Check(JxlDecoderStatus status) {
  if (status != JXL_DEC_SUCCESS) Fail(StatusText(status));
}

// sRGB as libjxl describes colour spaces: the D65 white, the sRGB primaries (for colour
// pictures) and the sRGB transfer curve.
JxlColorEncoding SrgbEncoding(bool grey) {
  JxlColorEncoding srgb{};
  srgb.color_space = grey ? JXL_COLOR_SPACE_GRAY : JXL_COLOR_SPACE_RGB;
  srgb.white_point = JXL_WHITE_POINT_D65;
  srgb.primaries = JXL_PRIMARIES_SRGB;
  srgb.transfer_function = JXL_TRANSFER_FUNCTION_SRGB;
  srgb.rendering_intent = JXL_RENDERING_INTENT_RELATIVE;
  return srgb;
}

bool IsSrgb(const JxlColorEncoding& e) {
  const bool colourOk = e.color_space == JXL_COLOR_SPACE_GRAY ||
                        (e.color_space == JXL_COLOR_SPACE_RGB && e.primaries == JXL_PRIMARIES_SRGB);
  return colourOk && e.white_point == JXL_WHITE_POINT_D65 &&
         e.transfer_function == JXL_TRANSFER_FUNCTION_SRGB;
}

struct JxlDeleter {
  const JxlLibrary* lib;
  void operator()(JxlDecoder* decoder) const { lib->JxlDecoderDestroy(decoder); }
  void operator()(void* runner) const { lib->JxlResizableParallelRunnerDestroy(runner); }
};

// A colour transform from the picture's own colour space to sRGB, freed with its library.
class ColourTransform {
 public:
  ColourTransform(const JxlLibrary& lib, std::span<const uint8_t> icc, bool grey, bool alpha)
      : lib_(lib) {
    const cmsUInt32Number input = grey ? (alpha ? TYPE_GRAYA_FLT : TYPE_GRAY_FLT)
                                       : (alpha ? TYPE_RGBA_FLT : TYPE_RGB_FLT);
    const cmsUInt32Number output = alpha ? TYPE_BGRA_8 : TYPE_BGR_8;
    cmsHPROFILE source =
        lib.cmsOpenProfileFromMemTHR(lib.colourContext, icc.data(), cmsUInt32Number(icc.size()));
    cmsHPROFILE srgb = lib.cmsCreate_sRGBProfileTHR(lib.colourContext);
    // No cache: the transform is shared by the decoder's threads.
    if (source && srgb)
      transform_ = lib.cmsCreateTransformTHR(
          lib.colourContext, source, input, srgb, output, INTENT_RELATIVE_COLORIMETRIC,
          cmsFLAGS_NOCACHE | (alpha ? cmsFLAGS_COPY_ALPHA : 0));
    if (source) lib.cmsCloseProfile(source);
    if (srgb) lib.cmsCloseProfile(srgb);
    if (!transform_) Fail("the picture's colour profile cannot be turned into sRGB");
  }
  ~ColourTransform() { lib_.cmsDeleteTransform(transform_); }
  ColourTransform(const ColourTransform&) = delete;
  ColourTransform& operator=(const ColourTransform&) = delete;

  void Apply(const void* pixels, uint8_t* out, size_t count) const {
    lib_.cmsDoTransform(transform_, pixels, out, cmsUInt32Number(count));
  }

 private:
  const JxlLibrary& lib_;
  cmsHTRANSFORM transform_ = nullptr;
};

// What the decoder's pixel callback writes into: the Bitmap's rows, and how the pixels the
// decoder delivers become the Bitmap's.
struct Output {
  Bitmap* bitmap;
  size_t channels;                    // grey, grey and alpha, RGB or RGBA, as delivered
  size_t bitmapBytes;                 // 3 or 4 bytes a pixel in the Bitmap
  const ColourTransform* transform;  // null: the decoder delivers 8-bit sRGB
};

// 8-bit grey, grey and alpha, RGB or RGBA to the Bitmap's blue, green, red (and alpha).
void EightBitToBitmap(const uint8_t* in, uint8_t* out, size_t count, size_t channels,
                      size_t outBytes) {
  for (size_t i = 0; i < count; ++i, in += channels, out += outBytes) {
    const bool grey = channels <= 2;
    out[0] = grey ? in[0] : in[2];
    out[1] = grey ? in[0] : in[1];
    out[2] = in[0];
    if (outBytes == 4) out[3] = in[channels - 1];
  }
}

// Called by the decoder with a run of pixels of one row, possibly from several threads at
// once, each with its own run.
void WritePixels(void* opaque, size_t x, size_t y, size_t count, const void* pixels) {
  const Output& output = *static_cast<const Output*>(opaque);
  Bitmap& bitmap = *output.bitmap;
  if (y >= size_t(bitmap.Height()) || x > size_t(bitmap.Width()) ||
      count > size_t(bitmap.Width()) - x)
    return;  // libjxl keeps to the picture it declared; this only guards the Bitmap
  uint8_t* out = bitmap.ScanLine(int(y)) + x * output.bitmapBytes;
  if (output.transform)
    output.transform->Apply(pixels, out, count);
  else
    EightBitToBitmap(static_cast<const uint8_t*>(pixels), out, count, output.channels,
                     output.bitmapBytes);
}

std::vector<uint8_t> DataProfile(const JxlLibrary& lib, const JxlDecoder* decoder) {
  size_t size = 0;
  Check(lib.JxlDecoderGetICCProfileSize(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size));
  std::vector<uint8_t> icc(size);
  Check(lib.JxlDecoderGetColorAsICCProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                           icc.data(), icc.size()));
  return icc;
}

// How the decoder delivers the pixels: 8-bit sRGB where it can, else 32-bit floats in the
// picture's own colour space with `transform` set to turn them into sRGB. A lossy picture
// is stored in the codec's own colour space and can be delivered in any other: it is
// asked for sRGB. A lossless one comes in the colour space it was stored in.
JxlPixelFormat ChooseDelivery(const JxlLibrary& lib, JxlDecoder* dec, const JxlBasicInfo& info,
                              std::unique_ptr<ColourTransform>& transform) {
  const bool grey = info.num_color_channels == 1;
  const bool alpha = info.alpha_bits != 0;
  if (!info.uses_original_profile) {
    const JxlColorEncoding srgb = SrgbEncoding(grey);
    lib.JxlDecoderSetPreferredColorProfile(dec, &srgb);
  }
  JxlColorEncoding delivered{};
  const bool srgb = lib.JxlDecoderGetColorAsEncodedProfile(
                        dec, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &delivered) == JXL_DEC_SUCCESS &&
                    IsSrgb(delivered);
  if (!srgb) transform = std::make_unique<ColourTransform>(lib, DataProfile(lib, dec), grey, alpha);
  return {uint32_t((grey ? 1 : 3) + (alpha ? 1 : 0)), srgb ? JXL_TYPE_UINT8 : JXL_TYPE_FLOAT,
          JXL_NATIVE_ENDIAN, 0};
}

}  // namespace

void TJXLGraphic::LoadFromStream(Stream& stream) {
  std::vector<uint8_t> storage;
  const std::span<const uint8_t> file = stream.ReadRestView(storage);
  Clear();
  std::string unavailable;
  const JxlLibrary* lib = LoadJxlLibrary(unavailable);
  if (!lib) Fail(unavailable);
  const JxlSignature signature = lib->JxlSignatureCheck(file.data(), file.size());
  if (signature == JXL_SIG_NOT_ENOUGH_BYTES) Fail(StatusText(JXL_DEC_NEED_MORE_INPUT));
  if (signature != JXL_SIG_CODESTREAM && signature != JXL_SIG_CONTAINER)
    Fail("not a JPEG XL file");

  const JxlDeleter release{lib};
  // The runner must be given before the decoding starts; it works on the calling thread
  // until it is told to start more, once the picture's size is known. It outlives the
  // decoder that uses it.
  const std::unique_ptr<void, JxlDeleter> runner(lib->JxlResizableParallelRunnerCreate(nullptr),
                                                 release);
  const std::unique_ptr<JxlDecoder, JxlDeleter> decoder(lib->JxlDecoderCreate(nullptr), release);
  if (!decoder || !runner) Fail("out of memory");
  JxlDecoder* dec = decoder.get();
  Check(lib->JxlDecoderSubscribeEvents(
      dec, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE));
  // Alpha is blended over white later, which needs it as it is, not premultiplied.
  Check(lib->JxlDecoderSetUnpremultiplyAlpha(dec, JXL_TRUE));
  Check(lib->JxlDecoderSetParallelRunner(dec, lib->JxlResizableParallelRunner, runner.get()));
  // The input is not closed: libjxl then reports a file that ends early by asking for
  // more, where a closed input would make it print a complaint to the terminal.
  Check(lib->JxlDecoderSetInput(dec, file.data(), file.size()));

  JxlBasicInfo info{};
  JxlPixelFormat format{};
  std::unique_ptr<ColourTransform> transform;
  std::unique_ptr<RowFill> fill;
  Output output{this, 0, 0, nullptr};
  try {
    for (;;) {
      const JxlDecoderStatus status = lib->JxlDecoderProcessInput(dec);
      if (status == JXL_DEC_BASIC_INFO) {
        Check(lib->JxlDecoderGetBasicInfo(dec, &info));
        // The size after orientation: libjxl turns the picture upright as it decodes.
        CheckedBufferSize({info.xsize, info.ysize, 4});
        if (uint64_t(info.xsize) * info.ysize >= kThreadedPixels)
          lib->JxlResizableParallelRunnerSetThreads(runner.get(), kThreads);
      } else if (status == JXL_DEC_COLOR_ENCODING) {
        const bool alpha = info.alpha_bits != 0;
        format = ChooseDelivery(*lib, dec, info, transform);
        SetPixelFormat(alpha ? PixelFormat::Bits32 : PixelFormat::Bits24);
        fill = std::make_unique<RowFill>(*this, int(info.xsize), int(info.ysize));
        output = {this, format.num_channels, alpha ? 4u : 3u, transform.get()};
      } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
        if (!fill) Fail(StatusText(JXL_DEC_ERROR));
        Check(lib->JxlDecoderSetImageOutCallback(dec, &format, WritePixels, &output));
      } else if (status == JXL_DEC_FULL_IMAGE) {
        if (!fill) Fail(StatusText(JXL_DEC_ERROR));
        break;  // the first frame; an animation's later frames are not read
      } else {
        Fail(StatusText(status));
      }
    }
  } catch (const PictureError&) {
    fill.reset();
    Clear();
    throw;
  }
  fill->Done();
  SetTransparent(info.alpha_bits != 0);
}

}  // namespace pictures
