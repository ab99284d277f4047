#include "pictures/formats/cut.h"

#include <algorithm>
#include <array>
#include <climits>
#include <filesystem>
#include <system_error>
#include <vector>

#include "compression/rle.h"
#include "base/byte_reader.h"
#include "base/error.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TCUTGraphic, Bitmap)

namespace {

constexpr size_t kPaletteBlockSize = 512;
constexpr size_t kLargestIndexOffset = 12;
constexpr size_t kFirstEntryOffset = 40;
// An entry is taken from a block only if it starts at this offset or earlier; entries never
// cross into the next block.
constexpr size_t kLastEntryStart = 506;
constexpr size_t kEntrySize = 6;
constexpr size_t kMaxEntries = 256;
// 78 entries in the first block and 85 in each further one: 256 entries need 4 blocks.
constexpr size_t kMaxPaletteBytes = 4 * kPaletteBlockSize;

bool EqualIgnoringAsciiCase(const std::string& a, const std::string& b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace

std::string CUTPaletteName(const std::string& pictureName) {
  const size_t separator = pictureName.find_last_of("\\:/");
  const size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
  const size_t dot = pictureName.rfind('.');
  if (dot == std::string::npos || dot < nameStart) return pictureName + ".pal";
  return pictureName.substr(0, dot) + ".pal";
}

std::string FindCUTPaletteFile(const std::string& name) {
  namespace fs = std::filesystem;
  if (name.empty()) return {};
  std::error_code error;
  const fs::path path(name);
  if (fs::is_regular_file(path, error)) return name;

  // The palette file's name may differ in case from the picture's, as it may on Windows.
  const std::string wanted = path.filename().string();
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  std::vector<std::string> matches;
  fs::directory_iterator entry(folder, error);
  for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
    std::error_code kindError;
    if (EqualIgnoringAsciiCase(entry->path().filename().string(), wanted) &&
        entry->is_regular_file(kindError))
      matches.push_back(entry->path().filename().string());
  }
  if (matches.empty()) return {};
  std::sort(matches.begin(), matches.end());
  return path.has_parent_path() ? (folder / matches.front()).string() : matches.front();
}

LogPalette ReadCUTPalette(Stream& stream) {
  std::vector<uint8_t> bytes(kMaxPaletteBytes);
  bytes.resize(stream.Read(bytes.data(), bytes.size()));
  ByteReader file(bytes);
  file.Seek(kLargestIndexOffset);
  const size_t count = std::min<size_t>(size_t(file.U16LE()) + 1, kMaxEntries);

  LogPalette record(count);
  size_t blockStart = 0;
  size_t offset = kFirstEntryOffset;
  for (PaletteEntry& entry : record.entries) {
    if (offset > kLastEntryStart) {
      blockStart += kPaletteBlockSize;
      offset = 0;
    }
    file.Seek(blockStart + offset);
    // Each value is a 16-bit word of which only the low byte is taken; the values are not
    // scaled by the maxima in the header.
    entry.red = uint8_t(file.U16LE());
    entry.green = uint8_t(file.U16LE());
    entry.blue = uint8_t(file.U16LE());
    offset += kEntrySize;
  }
  return record;
}

void TCUTGraphic::LoadFile(const std::string& path) {
  paletteFileName_ = CUTPaletteName(path);
  Bitmap::LoadFile(path);
}

void TCUTGraphic::LoadFromStream(Stream& stream) {
  Clear();
  SetPixelFormat(PixelFormat::Bits8);
  const int width = ReadU16LE(stream);
  const int height = ReadU16LE(stream);
  ReadU16LE(stream);  // reserved

  LogPalette palette;
  const std::string paletteFile = FindCUTPaletteFile(paletteFileName_);
  if (paletteFile.empty()) {
    palette = GreyPaletteRecord();
  } else {
    FileStream paletteStream(paletteFile);
    palette = ReadCUTPalette(paletteStream);
  }

  // A run packet (a count and a value) gives at most 127 pixels; data that cannot fill the
  // picture even so is not a picture of that size.
  constexpr uint64_t kLongestRunPerByte = 64;
  RequireFill(uint64_t(stream.Remaining()), kLongestRunPerByte, uint64_t(width) * height);
  SetSize(width, height);
  SetPalette(CreatePalette(palette));
  if (width == 0 || height == 0) return;

  // Every row is a 16-bit length, packets and a closing zero; the decoder leaves `place` at
  // the next row. It stops at the end of the data and at the end of the row, so a row
  // without its closing zero ends the picture and its missing pixels stay black.
  const std::vector<uint8_t> data = stream.ReadRest();
  const uint8_t* place = data.data();
  const uint8_t* const end = data.data() + data.size();
  TCUTRLE decoder;
  for (int y = 0; y < height && place < end; ++y) {
    const auto left = std::min<size_t>(size_t(end - place), INT32_MAX);
    decoder.Decode(place, ScanLine(y), int32_t(left), width);
  }
}

}  // namespace pictures
