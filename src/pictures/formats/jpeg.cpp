#include "pictures/formats/jpeg.h"

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

#include "base/error.h"
#include "pictures/orientation.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TJPEGImage, Bitmap)

namespace {

// A progressive file may hold any number of scans, each of which makes libjpeg go over
// the whole picture again; real files have a dozen or so. Beyond this many the file is
// taken as broken rather than spending minutes on it.
constexpr int kMaxScans = 1000;

// libjpeg reports fatal errors through error_exit, which must not return. Ours keeps
// libjpeg's message and jumps back to LoadFromStream, which raises it as a PictureError.
// Only libjpeg's own C frames lie between the setjmp and the longjmp.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

struct ProgressManager {
  jpeg_progress_mgr pub;
  ErrorManager* error;
};

// Everything one decode owns, on the heap so that no local object with a destructor is
// live across the setjmp in LoadFromStream.
struct Session {
  jpeg_decompress_struct cinfo{};
  ErrorManager error{};
  ProgressManager progress{};
  std::vector<uint8_t> data;  // the file's bytes, where the stream does not hold them
  std::vector<uint8_t> row;  // a decoded row of grey or CMYK samples

  ~Session() { jpeg_destroy_decompress(&cinfo); }
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  auto* error = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, error->message);
  std::longjmp(error->jump, 1);
}

// Warnings (corrupt data that libjpeg works around, a file that ends early) are silent:
// libjpeg fills what is missing and the picture is shown as far as it goes.
void OutputMessage(j_common_ptr) {}

void ProgressMonitor(j_common_ptr cinfo) {
  auto* progress = reinterpret_cast<ProgressManager*>(cinfo->progress);
  auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (dinfo->input_scan_number > kMaxScans) {
    std::snprintf(progress->error->message, JMSG_LENGTH_MAX,
                  "JPEG image has more than %d scans", kMaxScans);
    std::longjmp(progress->error->jump, 1);
  }
}

// At their best compression, Huffman-coded data spends at least this many sixty-fourths
// of a byte on each block of 8 x 8 samples of each component: a bit on each block's DC
// difference and, in a sequential file, another on its end of block (the shortest code is
// one bit long). In a progressive file an end-of-band run covers thousands of blocks at
// once, but every block still gets its DC code.
int SixtyFourthsOfAByteABlock(const jpeg_decompress_struct& cinfo) {
  return cinfo.progressive_mode ? 8 : 16;
}

// Whether the bytes after the first scan header can fill every block of every component
// that the frame declares. libjpeg fills the blocks of data that ends early with grey and
// says so only in a warning, so without this check a file of a few bytes could declare a
// picture of a gigabyte. The arithmetic coder has no such bound: once it has learnt a
// flat picture it spends a tiny fraction of a bit on a block (2048 x 2048 pixels of one
// colour take some 200 bytes), so for it the pixel memory limit is the guard.
bool DataCanFillFrame(const jpeg_decompress_struct& cinfo, uint64_t dataBytes) {
  if (cinfo.arith_code) return true;
  uint64_t blocks = 0;
  for (int c = 0; c < cinfo.num_components; ++c)
    blocks += uint64_t(cinfo.comp_info[c].width_in_blocks) * cinfo.comp_info[c].height_in_blocks;
  return CanFill(dataBytes, 64, blocks * uint64_t(SixtyFourthsOfAByteABlock(cinfo)));
}

// CMYK (and the CMYK that YCCK decodes to) is stored inverted, 255 meaning no ink, as
// Adobe applications write it. Files without Adobe's marker are read the same way: nearly
// all CMYK JPEG files come from those applications, and other readers assume it too.
void CmykRowToBGR(const uint8_t* cmyk, uint8_t* out, JDIMENSION width) {
  for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, out += 3) {
    const unsigned k = cmyk[3];
    out[0] = static_cast<uint8_t>((cmyk[2] * k + 127) / 255);
    out[1] = static_cast<uint8_t>((cmyk[1] * k + 127) / 255);
    out[2] = static_cast<uint8_t>((cmyk[0] * k + 127) / 255);
  }
}

void GreyRowToBGR(const uint8_t* grey, uint8_t* out, JDIMENSION width) {
  for (JDIMENSION x = 0; x < width; ++x, out += 3) out[0] = out[1] = out[2] = grey[x];
}

// The orientation recorded in the first APP1 segment that holds EXIF data, or 1.
int OrientationOf(const jpeg_decompress_struct& cinfo) {
  for (jpeg_saved_marker_ptr marker = cinfo.marker_list; marker; marker = marker->next) {
    if (marker->marker == JPEG_APP0 + 1 && marker->data_length >= 6 &&
        std::memcmp(marker->data, "Exif\0\0", 6) == 0)
      return ExifOrientation(std::span<const uint8_t>(marker->data, marker->data_length));
  }
  return 1;
}

}  // namespace

void TJPEGImage::LoadFromStream(Stream& stream) {
  const std::unique_ptr<Session> session = std::make_unique<Session>();
  const std::span<const uint8_t> data = stream.ReadRestView(session->data);
  Clear();

  jpeg_decompress_struct& cinfo = session->cinfo;
  cinfo.err = jpeg_std_error(&session->error.pub);
  session->error.pub.error_exit = ErrorExit;
  session->error.pub.output_message = OutputMessage;
  if (setjmp(session->error.jump)) throw PictureError(session->error.message);

  jpeg_create_decompress(&cinfo);
  session->progress.pub.progress_monitor = ProgressMonitor;
  session->progress.error = &session->error;
  cinfo.progress = &session->progress.pub;
  // libjpeg's own work memory (the coefficients of a progressive file) stays within the
  // pixel memory limit; beyond it libjpeg fails, as it has no backing store.
  cinfo.mem->max_memory_to_use = static_cast<long>(
      std::min<uint64_t>(Bitmap::PixelMemoryLimit(), uint64_t(LONG_MAX)));
  jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);  // EXIF, for the orientation
  jpeg_read_header(&cinfo, TRUE);

  // Refuse pictures beyond the limit, or beyond what the data can fill, before libjpeg
  // allocates anything for them.
  CheckedBufferSize({cinfo.image_width, cinfo.image_height, 3});
  if (!DataCanFillFrame(cinfo, cinfo.src->bytes_in_buffer)) {
    cinfo.err->msg_code = JWRN_JPEG_EOF;
    (*cinfo.err->format_message)(reinterpret_cast<j_common_ptr>(&cinfo), session->error.message);
    throw PictureError(session->error.message);
  }
  if (jpeg_has_multiple_scans(&cinfo))
    CheckedBufferSize({cinfo.image_width, cinfo.image_height, uint64_t(cinfo.num_components), 2});

  switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
      cinfo.out_color_space = JCS_GRAYSCALE;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      cinfo.out_color_space = JCS_CMYK;
      break;
    default:
      cinfo.out_color_space = JCS_EXT_BGR;
      break;
  }
  jpeg_start_decompress(&cinfo);

  SetPixelFormat(PixelFormat::Bits24);
  SetSize(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height));
  const bool direct = cinfo.out_color_space == JCS_EXT_BGR;
  if (!direct)
    session->row.resize(CheckedBufferSize({cinfo.output_width, uint64_t(cinfo.output_components)}));
  while (cinfo.output_scanline < cinfo.output_height) {
    uint8_t* line = ScanLine(static_cast<int>(cinfo.output_scanline));
    JSAMPROW target = direct ? line : session->row.data();
    if (jpeg_read_scanlines(&cinfo, &target, 1) != 1) break;
    if (cinfo.out_color_space == JCS_GRAYSCALE)
      GreyRowToBGR(target, line, cinfo.output_width);
    else if (cinfo.out_color_space == JCS_CMYK)
      CmykRowToBGR(target, line, cinfo.output_width);
  }
  // The decode is not finished with jpeg_finish_decompress: whatever follows the last row
  // (trailing markers or junk) cannot change the picture, so it is not read.

  // Phone and camera photos are stored as the sensor saw them; EXIF says how to turn them.
  ApplyOrientation(*this, OrientationOf(cinfo));
}

}  // namespace pictures
