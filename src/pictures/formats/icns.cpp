#include "pictures/formats/icns.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_reader.h"
#include "base/error.h"
#include "pictures/formats/jpeg2000.h"
#include "pictures/formats/png.h"
#include "pictures/stream.h"

namespace pictures {

PICTURES_DEFINE_READER_CLASS(TICNSGraphic, Bitmap)

namespace {

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint8_t kJp2Signature[8] = {0, 0, 0, 12, 'j', 'P', ' ', ' '};
constexpr uint8_t kJ2kCodestream[4] = {0xFF, 0x4F, 0xFF, 0x51};

[[noreturn]] void Fail(const std::string& what) { throw PictureError("ICNS: " + what); }

bool StartsWith(std::span<const uint8_t> data, std::span<const uint8_t> prefix) {
  return data.size() >= prefix.size() && std::memcmp(data.data(), prefix.data(), prefix.size()) == 0;
}

// How an entry's picture is stored: the order is the preference between pictures of one
// size (a PNG keeps most, then JPEG 2000, which may be lossy, then ARGB, then run-length
// colours with a mask of their own).
enum class Storage { RunLengthRgb, Argb, Jpeg2000, Png };

// The entries this reader knows: their type, their nominal size, the mask that goes with
// run-length colours, and whether they hold only PNG or JPEG 2000.
struct EntryType {
  std::string_view type;
  int size;
  std::string_view mask;
  bool pngOrJpeg2000;
};

constexpr EntryType kEntryTypes[] = {
    {"is32", 16, "s8mk", false},  {"il32", 32, "l8mk", false}, {"ih32", 48, "h8mk", false},
    {"it32", 128, "t8mk", false}, {"icp4", 16, "s8mk", false}, {"icp5", 32, "l8mk", false},
    {"ic04", 16, "", false},      {"ic05", 32, "", false},     {"icp6", 64, "", true},
    {"ic07", 128, "", true},      {"ic08", 256, "", true},     {"ic09", 512, "", true},
    {"ic10", 1024, "", true},     {"ic11", 32, "", true},      {"ic12", 64, "", true},
    {"ic13", 256, "", true},      {"ic14", 512, "", true},
};

struct Entry {
  std::string_view type;
  std::span<const uint8_t> data;
};

struct Candidate {
  const EntryType* type;
  std::span<const uint8_t> data;
  Storage storage;
  int size;  // width and height
};

std::vector<Entry> ReadEntries(std::span<const uint8_t> file) {
  ByteReader in(file);
  if (file.size() < 8 || std::memcmp(in.Bytes(4).data(), "icns", 4) != 0)
    Fail("not an Apple icon file");
  in.U32BE();  // the file's length: the entries say where they end
  std::vector<Entry> entries;
  while (in.Remaining() >= 8) {
    const auto type = in.Bytes(4);
    const uint32_t length = in.U32BE();
    // An entry's length counts its own 8 bytes; one that runs past the end ends the list.
    if (length < 8 || length - 8 > in.Remaining()) break;
    entries.push_back({std::string_view(reinterpret_cast<const char*>(type.data()), 4), in.Bytes(length - 8)});
  }
  return entries;
}

// The size a PNG entry declares in its header, or nothing for a header cut short.
std::optional<int> PngSize(std::span<const uint8_t> data) {
  if (data.size() < 24) return std::nullopt;
  return int(std::min<uint32_t>(LoadU32BE(&data[16]), 1u << 30));
}

std::optional<Candidate> Describe(const Entry& entry) {
  const auto known = std::find_if(std::begin(kEntryTypes), std::end(kEntryTypes),
                                  [&](const EntryType& t) { return t.type == entry.type; });
  if (known == std::end(kEntryTypes)) return std::nullopt;
  if (StartsWith(entry.data, kPngSignature)) {
    const std::optional<int> size = PngSize(entry.data);
    if (!size) return std::nullopt;
    return Candidate{known, entry.data, Storage::Png, *size};
  }
  // The JPEG 2000 entries are taken at their nominal size, which only the decoding checks.
  if (StartsWith(entry.data, kJp2Signature) || StartsWith(entry.data, kJ2kCodestream))
    return Candidate{known, entry.data, Storage::Jpeg2000, known->size};
  if (known->pngOrJpeg2000) return std::nullopt;
  const bool argb = StartsWith(entry.data, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>("ARGB"), 4));
  return Candidate{known, entry.data, argb ? Storage::Argb : Storage::RunLengthRgb, known->size};
}

// The run-length channels of the old entries: a byte below 0x80 copies the next byte + 1
// bytes, any other byte repeats the next byte (byte - 125) times.
void ExpandChannel(ByteReader& in, std::span<uint8_t> channel) {
  size_t filled = 0;
  while (filled < channel.size()) {
    const uint8_t control = in.U8();
    const bool run = control & 0x80;
    const size_t count = run ? size_t(control) - 125 : size_t(control) + 1;
    if (count > channel.size() - filled) Fail("a run-length entry runs past its channel");
    if (run)
      std::fill_n(channel.begin() + ptrdiff_t(filled), count, in.U8());
    else
      in.Copy(&channel[filled], count);
    filled += count;
  }
}

// The channels of an old entry, one plane each (red, green, blue; or alpha, red, green,
// blue), each `pixels` bytes.
std::vector<uint8_t> ReadPlanes(const Candidate& c, size_t pixels) {
  std::span<const uint8_t> data = c.data;
  const size_t planes = c.storage == Storage::Argb ? 4 : 3;
  if (c.storage == Storage::Argb) data = data.subspan(4);
  // The 128-pixel entry starts with four zero bytes.
  if (c.type->type == "it32" && data.size() >= 4 && LoadU32BE(data.data()) == 0) data = data.subspan(4);
  std::vector<uint8_t> out(planes * pixels);
  if (c.storage == Storage::RunLengthRgb && c.data.size() == 3 * pixels) {
    // Stored without packing, the colours come red, green, blue a pixel.
    for (size_t i = 0; i < pixels; ++i)
      for (size_t p = 0; p < 3; ++p) out[p * pixels + i] = c.data[3 * i + p];
    return out;
  }
  ByteReader in(data);
  for (size_t p = 0; p < planes; ++p) ExpandChannel(in, std::span<uint8_t>(out).subspan(p * pixels, pixels));
  return out;
}

// The mask of a run-length entry: one byte a pixel, stored as it is. Without one (or with
// one of another size) the picture is opaque.
std::vector<uint8_t> FindMask(const std::vector<Entry>& entries, const Candidate& c, size_t pixels) {
  for (const Entry& e : entries)
    if (!c.type->mask.empty() && e.type == c.type->mask && e.data.size() == pixels)
      return std::vector<uint8_t>(e.data.begin(), e.data.end());
  return std::vector<uint8_t>(pixels, 255);
}

void DecodeOldEntry(const std::vector<Entry>& entries, const Candidate& c, Bitmap& bitmap) {
  const size_t pixels = size_t(c.size) * size_t(c.size);
  const std::vector<uint8_t> planes = ReadPlanes(c, pixels);
  const bool argb = c.storage == Storage::Argb;
  const std::vector<uint8_t> mask = argb ? std::vector<uint8_t>(planes.begin(), planes.begin() + ptrdiff_t(pixels))
                                         : FindMask(entries, c, pixels);
  const size_t red = argb ? pixels : 0;
  bitmap.SetPixelFormat(PixelFormat::Bits32);
  bitmap.SetSize(c.size, c.size);
  for (int y = 0; y < c.size; ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    for (size_t x = 0; x < size_t(c.size); ++x) {
      const size_t i = size_t(y) * size_t(c.size) + x;
      row[4 * x] = planes[red + 2 * pixels + i];
      row[4 * x + 1] = planes[red + pixels + i];
      row[4 * x + 2] = planes[red + i];
      row[4 * x + 3] = mask[i];
    }
  }
  bitmap.SetTransparent(true);
}

void Decode(const std::vector<Entry>& entries, const Candidate& c, Bitmap& bitmap) {
  try {
    bitmap.Clear();
    if (c.storage == Storage::Png) {
      DecodePng(c.data, bitmap, PngTarget::Bgra);
    } else if (c.storage == Storage::Jpeg2000) {
      TJPEG2000Graphic picture;
      ViewStream view(c.data);
      picture.LoadFromStream(view);
      bitmap.Assign(picture);
    } else {
      DecodeOldEntry(entries, c, bitmap);
    }
  } catch (const BitmapTooLarge&) {
    throw;
  } catch (const PictureError& error) {
    bitmap.Clear();
    const std::string reason = error.what();
    throw PictureError("ICNS: the " + std::string(c.type->type) + " entry is damaged (" +
                       (reason.starts_with("ICNS: ") ? reason.substr(6) : reason) + ")");
  }
}

}  // namespace

void TICNSGraphic::LoadFromStream(Stream& stream) {
  Clear();
  std::vector<uint8_t> storage;
  const std::span<const uint8_t> file = stream.ReadRestView(storage);
  const std::vector<Entry> entries = ReadEntries(file);
  std::vector<Candidate> candidates;
  for (const Entry& entry : entries)
    if (const auto candidate = Describe(entry)) candidates.push_back(*candidate);
  if (candidates.empty()) Fail("the icon holds no picture this reader can show");
  // The largest first, the better stored first among equally large; a picture that does
  // not decode gives way to the next one.
  std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return a.size != b.size ? a.size > b.size : a.storage > b.storage;
  });
  std::optional<PictureError> first;
  for (const Candidate& c : candidates) {
    try {
      Decode(entries, c, *this);
      return;
    } catch (const BitmapTooLarge&) {
      throw;
    } catch (const PictureError& error) {
      if (!first) first = error;
    }
  }
  throw *first;
}

}  // namespace pictures
