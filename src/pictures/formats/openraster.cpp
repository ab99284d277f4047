#include "pictures/formats/openraster.h"

#include <minizip/unzip.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/error.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TORAGraphic, TPNGGraphic)
PICTURES_DEFINE_READER_CLASS(TKRAGraphic, TPNGGraphic)

namespace {

constexpr const char* kMergedImage = "mergedimage.png";
// Deflate expands one byte to at most 1032 (a 258-byte match in two one-bit codes).
constexpr uint64_t kDeflateMaxExpansion = 1032;
constexpr int kStored = 0;
constexpr int kDeflated = Z_DEFLATED;

// The archive's bytes as minizip's file: it reads them through these functions.
struct MemoryFile {
  std::span<const uint8_t> bytes;
  uint64_t position = 0;
};

voidpf ZCALLBACK OpenMemory(voidpf opaque, const void*, int) { return opaque; }

uLong ZCALLBACK ReadMemory(voidpf, voidpf stream, void* buffer, uLong size) {
  auto* file = static_cast<MemoryFile*>(stream);
  const uint64_t count = std::min<uint64_t>(size, file->bytes.size() - file->position);
  if (count) std::memcpy(buffer, file->bytes.data() + file->position, count);
  file->position += count;
  return uLong(count);
}

uLong ZCALLBACK WriteMemory(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK TellMemory(voidpf, voidpf stream) { return static_cast<MemoryFile*>(stream)->position; }

long ZCALLBACK SeekMemory(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  auto* file = static_cast<MemoryFile*>(stream);
  const uint64_t base = origin == ZLIB_FILEFUNC_SEEK_CUR   ? file->position
                        : origin == ZLIB_FILEFUNC_SEEK_END ? file->bytes.size()
                                                           : 0;
  if (offset > file->bytes.size() - std::min<uint64_t>(base, file->bytes.size())) return -1;
  file->position = base + offset;
  return 0;
}

int ZCALLBACK CloseMemory(voidpf, voidpf) { return 0; }
int ZCALLBACK ErrorOfMemory(voidpf, voidpf) { return 0; }

struct ZipCloser {
  void operator()(unzFile zip) const { unzClose(zip); }
};
using Zip = std::unique_ptr<void, ZipCloser>;

// The largest PNG a picture within the pixel memory limit needs: at most 8 bytes a pixel
// (16-bit RGBA) where the Bitmap takes 4, plus a filter byte a row and the chunks around.
uint64_t LargestMergedImage() { return 3 * Bitmap::PixelMemoryLimit(); }

// The merged picture's PNG file, inflated from the archive. Its declared size is checked
// against the pixel memory limit and against what its compressed bytes can give before
// any of it is inflated.
std::vector<uint8_t> ReadMergedImage(std::span<const uint8_t> archive, const std::string& format) {
  auto fail = [&](const std::string& what) -> PictureError { return PictureError(format + ": " + what); };
  MemoryFile memory{archive};
  zlib_filefunc64_def functions{OpenMemory, ReadMemory, WriteMemory, TellMemory,
                                SeekMemory, CloseMemory, ErrorOfMemory, &memory};
  const Zip zip(unzOpen2_64("archive", &functions));
  if (!zip) throw fail("the file is not a zip archive");
  if (unzLocateFile(zip.get(), kMergedImage, 1) != UNZ_OK)
    throw fail("the archive holds no merged picture (mergedimage.png)");
  unz_file_info64 info{};
  if (unzGetCurrentFileInfo64(zip.get(), &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
    throw fail("the merged picture's entry is damaged");
  if (info.flag & 1) throw fail("the merged picture is encrypted");
  if (info.compression_method != kStored && info.compression_method != kDeflated)
    throw fail("the merged picture is compressed by a method this reader does not know (" +
               std::to_string(info.compression_method) + ")");
  if (info.uncompressed_size > LargestMergedImage())
    throw BitmapTooLarge(format + ": the merged picture is larger than a picture may be");
  const uint64_t expansion = info.compression_method == kStored ? 1 : kDeflateMaxExpansion;
  if (!CanFill(info.compressed_size, expansion, info.uncompressed_size) ||
      info.compressed_size > archive.size())
    throw fail("the merged picture's size does not match its compressed data");

  if (unzOpenCurrentFile(zip.get()) != UNZ_OK) throw fail("the merged picture's entry is damaged");
  std::vector<uint8_t> png(size_t(info.uncompressed_size));
  size_t filled = 0;
  while (filled < png.size()) {
    const unsigned chunk = unsigned(std::min<size_t>(png.size() - filled, INT_MAX));
    const int got = unzReadCurrentFile(zip.get(), png.data() + filled, chunk);
    if (got <= 0) break;
    filled += size_t(got);
  }
  const int closed = unzCloseCurrentFile(zip.get());
  if (filled != png.size() || closed != UNZ_OK)
    throw fail("the merged picture is damaged (its data does not inflate to its size)");
  return png;
}

void LoadMergedImage(TPNGGraphic& picture, Stream& stream, const std::string& format) {
  picture.Clear();
  std::vector<uint8_t> storage;
  const std::vector<uint8_t> png = ReadMergedImage(stream.ReadRestView(storage), format);
  ViewStream view(png);
  try {
    picture.TPNGGraphic::LoadFromStream(view);
  } catch (const BitmapTooLarge&) {
    throw;
  } catch (const PictureError& error) {
    throw PictureError(format + ": the merged picture is damaged (" + error.what() + ")");
  }
}

}  // namespace

void TORAGraphic::LoadFromStream(Stream& stream) { LoadMergedImage(*this, stream, "ORA"); }

void TKRAGraphic::LoadFromStream(Stream& stream) { LoadMergedImage(*this, stream, "KRA"); }

}  // namespace pictures
