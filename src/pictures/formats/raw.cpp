#include "pictures/formats/raw.h"

#include <algorithm>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/pixel_helpers.h"
#include "pictures/child_process.h"
#include "pictures/formats/raw_library.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TRAWGraphic, Bitmap)

namespace {

[[noreturn]] void Fail(const std::string& what) { throw PictureError("RAW: " + what); }

// Our words for LibRaw's results; the rest keep LibRaw's own.
std::string ResultText(const RawLibrary& lib, int result) {
  switch (result) {
    case LIBRAW_FILE_UNSUPPORTED:
      return "not a camera raw file, or one of a camera that LibRaw does not know";
    case LIBRAW_REQUEST_FOR_NONEXISTENT_IMAGE: return "the file holds no picture";
    case LIBRAW_UNSUFFICIENT_MEMORY: return "out of memory";
    case LIBRAW_DATA_ERROR: return "the raw data is damaged";
    case LIBRAW_IO_ERROR: return "the file ends early";
    case LIBRAW_TOO_BIG: return "the picture is too large to decode";
    default: return lib.libraw_strerror(result);
  }
}

// The most sensor pixels one byte of a raw file can describe. The most compact coding that
// LibRaw reads is the lossy JPEG of some DNG files, where an 8 x 8 block of a flat picture
// takes a bit or two; the lossless codings of sensor data come nowhere near that.
constexpr uint64_t kMaximumPixelsPerByte = 512;

// LibRaw develops into a working picture of four 16-bit samples a pixel.
constexpr uint64_t kWorkingBytesPerPixel = 8;

// LibRaw reports damaged data as it decodes (and goes on, as dcraw does), and fails when
// the data ends early; its own handler would print the report.
void IgnoreDataError(void*, const char*, const int) {}

struct RawDeleter {
  const RawLibrary* lib;
  void operator()(libraw_data_t* raw) const { lib->libraw_close(raw); }
  void operator()(libraw_processed_image_t* image) const { lib->libraw_dcraw_clear_mem(image); }
};
template <typename T>
using RawPtr = std::unique_ptr<T, RawDeleter>;

// What the developing process sends first: a message when it failed, else the size and
// channels of the picture whose rows follow (blue, green, red, or grey), top row first.
struct Developed {
  uint32_t messageBytes = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t channels = 0;
};

// The longest failure message taken from the developing process.
constexpr uint32_t kMaximumMessage = 4096;

// Develops the file with LibRaw and sends the picture.
void Develop(const RawLibrary& lib, std::span<const uint8_t> file, int out) {
  const auto check = [&lib](int result) {
    if (result != LIBRAW_SUCCESS) Fail(ResultText(lib, result));
  };
  const RawDeleter release{&lib};
  const RawPtr<libraw_data_t> raw(lib.libraw_init(LIBRAW_OPIONS_NO_MEMERR_CALLBACK), release);
  if (!raw) Fail("out of memory");
  lib.libraw_set_dataerror_handler(raw.get(), IgnoreDataError, nullptr);
  libraw_output_params_t& params = raw->params;
  params.use_camera_wb = 1;
  // LibRaw's buffer for the sensor data is held to the pixel memory limit too.
  params.max_raw_memory_mb = unsigned(std::max<uint64_t>(Bitmap::PixelMemoryLimit() >> 20, 1));
  if (file.empty()) Fail(ResultText(lib, LIBRAW_IO_ERROR));
  // LibRaw only reads the buffer, through a stream of its own.
  check(lib.libraw_open_buffer(raw.get(), const_cast<uint8_t*>(file.data()), file.size()));

  const libraw_image_sizes_t& sizes = raw->sizes;
  if (!CanFill(file.size(), kMaximumPixelsPerByte,
               uint64_t(sizes.raw_width) * uint64_t(sizes.raw_height)))
    Fail("the file is too small for the picture it declares");
  CheckedBufferSize({sizes.width, sizes.height, kWorkingBytesPerPixel});
  check(lib.libraw_unpack(raw.get()));
  check(lib.libraw_dcraw_process(raw.get()));
  int result = LIBRAW_SUCCESS;
  const RawPtr<libraw_processed_image_t> image(lib.libraw_dcraw_make_mem_image(raw.get(), &result),
                                               release);
  check(result);
  if (!image) Fail("out of memory");
  // The sensor data and the working picture (ten bytes a pixel) are not needed any more.
  lib.libraw_recycle(raw.get());
  const Developed developed{0, image->width, image->height, image->colors};
  const size_t rowBytes = size_t(developed.width) * size_t(developed.channels);
  if (image->type != LIBRAW_IMAGE_BITMAP || image->bits != 8 ||
      (developed.channels != 1 && developed.channels != 3) ||
      uint64_t(image->data_size) < uint64_t(rowBytes) * uint64_t(developed.height))
    Fail("unexpected developed picture layout");

  WriteValueToParent(out, developed);
  const std::span<const uint8_t> pixels(image->data, image->data_size);
  std::vector<uint8_t> bgr(rowBytes);
  for (int y = 0; y < developed.height; ++y) {
    const std::span<const uint8_t> row = pixels.subspan(size_t(y) * rowBytes, rowBytes);
    if (developed.channels == 1) {
      WriteToParent(out, row);
      continue;
    }
    RGBToBGR(row.data(), bgr.data(), 8, uint32_t(rowBytes));
    WriteToParent(out, bgr);
  }
}

// The developing process: what Develop sends, or the message of its failure.
void DevelopInChild(const RawLibrary& lib, std::span<const uint8_t> file, int out) {
  std::string message;
  try {
    Develop(lib, file, out);
    return;
  } catch (const PictureError& error) {
    message = error.what();
  } catch (const std::bad_alloc&) {
    message = "RAW: out of memory";
  }
  message.resize(std::min<size_t>(message.size(), kMaximumMessage));
  WriteValueToParent(out, Developed{uint32_t(message.size()), 0, 0, 0});
  WriteToParent(out, {reinterpret_cast<const uint8_t*>(message.data()), message.size()});
}

// Raises the error for a developing process that ended before it sent all of its picture.
[[noreturn]] void FailEnded(ChildProcess& child) {
  const std::string how = child.Finish();
  if (child.Signal() != 0) Fail("LibRaw crashed on this file (" + how + ")");
  Fail("the developing process ended early (" + (how.empty() ? "exit status 0" : how) + ")");
}

}  // namespace

// LibRaw 0.20 crashes on some crafted files (a colour filter pattern of 36 entries in a
// DNG's directory, for one), so it develops each file in a child process: a crash there
// is this picture's error, not the end of the program.
void TRAWGraphic::LoadFromStream(Stream& stream) {
  std::vector<uint8_t> storage;
  const std::span<const uint8_t> file = stream.ReadRestView(storage);
  Clear();
  std::string unavailable;
  const RawLibrary* lib = LoadRawLibrary(unavailable);
  if (!lib) Fail(unavailable);

  ChildProcess child([&](int out) { DevelopInChild(*lib, file, out); }, "RAW: ");
  Developed developed;
  if (!child.ReadValue(developed)) FailEnded(child);
  if (developed.messageBytes > 0) {
    std::string message(std::min(developed.messageBytes, kMaximumMessage), '\0');
    if (!child.Read({reinterpret_cast<uint8_t*>(message.data()), message.size()}))
      FailEnded(child);
    throw PictureError(message);
  }
  if (developed.width <= 0 || developed.height <= 0 ||
      (developed.channels != 1 && developed.channels != 3))
    Fail("unexpected developed picture layout");
  try {
    SetPixelFormat(developed.channels == 1 ? PixelFormat::Bits8 : PixelFormat::Bits24);
    if (developed.channels == 1) SetPalette(CreatePalette(GreyPaletteRecord()));
    SetSize(developed.width, developed.height);
    const size_t rowBytes = size_t(developed.width) * size_t(developed.channels);
    for (int y = 0; y < Height(); ++y)
      if (!child.Read({ScanLine(y), rowBytes})) FailEnded(child);
    if (!child.Finish().empty()) FailEnded(child);
  } catch (const PictureError&) {
    Clear();
    throw;
  }
}

}  // namespace pictures
