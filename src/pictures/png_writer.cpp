#include "pictures/png_writer.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "base/error.h"
#include "pictures/atomic_file.h"

namespace pictures {

namespace {

enum class Kind { Paletted, Alpha, Colour };

// As in the reader: libpng's fatal errors jump back to WritePng, which raises them. The
// session on the heap owns everything, so no local object with a destructor lives across
// the jump.
struct WriteSession {
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::vector<uint8_t> file;
  std::vector<uint8_t> row;  // one row of blue, green, red for pictures drawn through RowToBGR
  std::vector<png_color> palette;
  Kind kind = Kind::Colour;
  std::jmp_buf jump;
  char message[200] = {};

  ~WriteSession() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp message) {
  auto* session = static_cast<WriteSession*>(png_get_error_ptr(png));
  std::snprintf(session->message, sizeof session->message, "%s", message);
  std::longjmp(session->jump, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

void AppendToSession(png_structp png, png_bytep data, size_t count) {
  auto* session = static_cast<WriteSession*>(png_get_io_ptr(png));
  try {
    session->file.insert(session->file.end(), data, data + count);
  } catch (const std::bad_alloc&) {
    png_error(png, "out of memory");
  }
}

void FlushNothing(png_structp) {}

Kind KindOf(const Bitmap& picture) {
  switch (picture.GetPixelFormat()) {
    case PixelFormat::Bits1:
    case PixelFormat::Bits4:
    case PixelFormat::Bits8: return Kind::Paletted;
    case PixelFormat::Bits32: return picture.Transparent() ? Kind::Alpha : Kind::Colour;
    default: return Kind::Colour;
  }
}

// Every index a row can hold gets an entry: indices past a short palette are black, as
// they are drawn.
std::vector<png_color> PngPalette(const Bitmap& picture) {
  std::vector<png_color> palette(size_t(1) << BitsPerPixel(picture.GetPixelFormat()));
  const auto& entries = picture.Palette();
  for (size_t i = 0; i < palette.size() && i < entries.size(); ++i)
    palette[i] = {entries[i].red, entries[i].green, entries[i].blue};
  return palette;
}

void WritePng(const Bitmap& picture, WriteSession& session) {
  session.kind = KindOf(picture);
  if (session.kind == Kind::Paletted) session.palette = PngPalette(picture);
  if (session.kind == Kind::Colour)
    session.row.resize(CheckedBufferSize({uint64_t(picture.Width()), 3}));
  if (setjmp(session.jump)) throw PictureError(std::string("PNG: ") + session.message);
  const Kind kind = session.kind;

  png_structp png = session.png;
  png_infop info = session.info;
  png_set_write_fn(png, &session, AppendToSession, FlushNothing);
  const int depth = kind == Kind::Paletted ? BitsPerPixel(picture.GetPixelFormat()) : 8;
  const int colourType = kind == Kind::Paletted ? PNG_COLOR_TYPE_PALETTE
                         : kind == Kind::Alpha  ? PNG_COLOR_TYPE_RGB_ALPHA
                                                : PNG_COLOR_TYPE_RGB;
  png_set_IHDR(png, info, png_uint_32(picture.Width()), png_uint_32(picture.Height()), depth,
               colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (kind == Kind::Paletted)
    png_set_PLTE(png, info, session.palette.data(), int(session.palette.size()));
  png_write_info(png, info);
  if (kind != Kind::Paletted) png_set_bgr(png);
  for (int y = 0; y < picture.Height(); ++y) {
    if (kind == Kind::Colour) {
      RowToBGR(picture, y, session.row.data());
      png_write_row(png, session.row.data());
    } else {
      png_write_row(png, picture.ScanLine(y));
    }
  }
  png_write_end(png, nullptr);
}

}  // namespace

void SavePngToFile(const Bitmap& picture, const std::string& path) {
  if (picture.Empty()) throw PictureError("PNG: the picture is empty");
  const std::unique_ptr<WriteSession> session = std::make_unique<WriteSession>();
  session->png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, session.get(), OnPngError, OnPngWarning);
  if (!session->png) throw PictureError("PNG: out of memory");
  session->info = png_create_info_struct(session->png);
  if (!session->info) throw PictureError("PNG: out of memory");
  WritePng(picture, *session);
  WriteFileAtomically(path, session->file);
}

}  // namespace pictures
