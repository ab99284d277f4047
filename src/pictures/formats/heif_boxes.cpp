#include "pictures/formats/heif_boxes.h"

#include <algorithm>
#include <map>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "base/byte_reader.h"
#include "base/error.h"

namespace pictures::heif_boxes {
namespace {

constexpr uint32_t FourCC(const char (&name)[5]) {
  return uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 |
         uint32_t(uint8_t(name[2])) << 8 | uint32_t(uint8_t(name[3]));
}

// Reads bits most significant first, as HEVC and AV1 parameter sets are written; raises
// StreamReadError past the end.
class BitReader {
 public:
  explicit BitReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  uint32_t Bits(int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) value = value << 1 | Bit();
    return value;
  }
  void Skip(int count) {
    for (int i = 0; i < count; ++i) Bit();
  }
  // An unsigned Exp-Golomb code (HEVC's ue(v)); longer than 32 bits is damage.
  uint64_t ExpGolomb() {
    int zeros = 0;
    while (Bit() == 0)
      if (++zeros > 32) throw StreamReadError();
    return (uint64_t(1) << zeros) - 1 + Bits(zeros);
  }
  // AV1's uvlc(): the same code, saturating at 2^32 - 1 instead of failing.
  uint64_t Uvlc() {
    int zeros = 0;
    while (Bit() == 0) ++zeros;
    if (zeros >= 32) return 0xFFFFFFFFu;
    return (uint64_t(1) << zeros) - 1 + Bits(zeros);
  }

 private:
  uint32_t Bit() {
    if (position_ / 8 >= bytes_.size()) throw StreamReadError();
    const uint32_t bit = bytes_[position_ / 8] >> (7 - position_ % 8) & 1;
    ++position_;
    return bit;
  }

  std::span<const uint8_t> bytes_;
  size_t position_ = 0;
};

struct Box {
  uint32_t type;
  std::span<const uint8_t> body;
  size_t offset;  // of the body in the bytes that hold the box
};

// The boxes that follow one another in `bytes`, up to the first one whose header is
// damaged or whose size runs past the end.
std::vector<Box> ChildBoxes(std::span<const uint8_t> bytes) {
  std::vector<Box> boxes;
  ByteReader reader(bytes);
  try {
    while (reader.Remaining() >= 8) {
      const size_t start = reader.Position();
      uint64_t size = reader.U32BE();
      const uint32_t type = reader.U32BE();
      if (size == 1) size = reader.U64BE();
      else if (size == 0) size = reader.Size() - start;
      const size_t headerSize = reader.Position() - start;
      if (size < headerSize || size - headerSize > reader.Remaining()) break;
      const size_t offset = reader.Position();
      boxes.push_back({type, reader.Bytes(size_t(size - headerSize)), offset});
    }
  } catch (const StreamReadError&) {
  }
  return boxes;
}

std::optional<Box> ChildBox(std::span<const uint8_t> bytes, uint32_t type) {
  for (const Box& box : ChildBoxes(bytes))
    if (box.type == type) return box;
  return std::nullopt;
}

std::optional<std::span<const uint8_t>> ChildBody(std::span<const uint8_t> bytes,
                                                  uint32_t type) {
  const std::optional<Box> box = ChildBox(bytes, type);
  if (!box) return std::nullopt;
  return box->body;
}

// The start of the NAL unit's payload, without its two-byte header and with the
// emulation-prevention bytes (the 3 of every 00 00 03) taken out. The picture size comes
// within the first 200 bytes of an SPS, whatever its sub-layers.
std::vector<uint8_t> RawPayload(std::span<const uint8_t> nal) {
  constexpr size_t kBytesRead = 256;
  const size_t end = std::min(nal.size(), kBytesRead);
  std::vector<uint8_t> payload;
  payload.reserve(end);
  int zeros = 0;
  for (size_t i = 2; i < end; ++i) {
    if (zeros >= 2 && nal[i] == 3) {
      zeros = 0;
      continue;
    }
    zeros = nal[i] == 0 ? zeros + 1 : 0;
    payload.push_back(nal[i]);
  }
  return payload;
}

// profile_tier_level() with its profile present, for the sequence's sub-layers.
void SkipProfileTierLevel(BitReader& bits, int subLayers) {
  bits.Skip(96);  // general profile, compatibility and constraint flags, level
  bool profilePresent[8] = {}, levelPresent[8] = {};
  for (int i = 0; i < subLayers; ++i) {
    profilePresent[i] = bits.Bits(1);
    levelPresent[i] = bits.Bits(1);
  }
  if (subLayers > 0) bits.Skip(2 * (8 - subLayers));
  for (int i = 0; i < subLayers; ++i) {
    if (profilePresent[i]) bits.Skip(88);
    if (levelPresent[i]) bits.Skip(8);
  }
}

CodedSize SequenceParameterSetSize(std::span<const uint8_t> nal) {
  const std::vector<uint8_t> payload = RawPayload(nal);
  BitReader bits(payload);
  bits.Skip(4);  // sps_video_parameter_set_id
  const int subLayers = int(bits.Bits(3));
  bits.Skip(1);  // sps_temporal_id_nesting_flag
  SkipProfileTierLevel(bits, subLayers);
  bits.ExpGolomb();  // sps_seq_parameter_set_id
  if (bits.ExpGolomb() == 3) bits.Skip(1);  // chroma_format_idc, separate_colour_plane_flag
  const uint64_t width = bits.ExpGolomb();
  const uint64_t height = bits.ExpGolomb();
  return {Codec::HEVC, width, height};
}

bool IsSequenceParameterSet(std::span<const uint8_t> nal) {
  constexpr int kSequenceParameterSet = 33;
  return nal.size() >= 2 && (nal[0] >> 1 & 0x3F) == kSequenceParameterSet;
}

// An SPS that cannot be read is passed over: the decoder judges it.
void AddIfSequenceParameterSet(std::span<const uint8_t> nal, std::vector<CodedSize>& sizes) {
  if (!IsSequenceParameterSet(nal)) return;
  try {
    sizes.push_back(SequenceParameterSetSize(nal));
  } catch (const StreamReadError&) {
  }
}

// The sizes of the SPS NAL units in an HEVC decoder configuration record.
void AddHevcConfigurationSizes(std::span<const uint8_t> hvcC, std::vector<CodedSize>& sizes) {
  ByteReader reader(hvcC);
  reader.Skip(22);  // profile, level, chroma and bit depth, frame rate, NAL length size
  const int arrays = reader.U8();
  for (int array = 0; array < arrays; ++array) {
    reader.Skip(1);  // completeness and NAL unit type of the array
    const int units = reader.U16BE();
    for (int unit = 0; unit < units; ++unit) {
      AddIfSequenceParameterSet(reader.Bytes(reader.U16BE()), sizes);
    }
  }
}

uint64_t Leb128(ByteReader& reader) {
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i) {
    const uint8_t byte = reader.U8();
    value |= uint64_t(byte & 0x7F) << (7 * i);
    if (!(byte & 0x80)) break;
  }
  return value;
}

void SkipOperatingPoints(BitReader& bits, bool decoderModelInfo, int bufferDelayLength) {
  const bool initialDisplayDelay = bits.Bits(1);
  const int points = int(bits.Bits(5)) + 1;
  for (int i = 0; i < points; ++i) {
    bits.Skip(12);  // operating_point_idc
    if (bits.Bits(5) > 7) bits.Skip(1);  // seq_level_idx, seq_tier
    if (decoderModelInfo && bits.Bits(1))
      bits.Skip(2 * bufferDelayLength + 1);  // decoder and encoder buffer delay, low delay
    if (initialDisplayDelay && bits.Bits(1)) bits.Skip(4);
  }
}

// max_frame_width and max_frame_height of an AV1 sequence header OBU's payload.
CodedSize SequenceHeaderSize(std::span<const uint8_t> payload) {
  BitReader bits(payload);
  bits.Skip(4);  // seq_profile, still_picture
  if (bits.Bits(1)) {  // reduced_still_picture_header
    bits.Skip(5);
  } else {
    bool decoderModelInfo = false;
    int bufferDelayLength = 0;
    if (bits.Bits(1)) {  // timing_info_present_flag
      bits.Skip(64);
      if (bits.Bits(1)) bits.Uvlc();  // equal_picture_interval, num_ticks_per_picture
      decoderModelInfo = bits.Bits(1);
      if (decoderModelInfo) {
        bufferDelayLength = int(bits.Bits(5)) + 1;
        bits.Skip(32 + 5 + 5);
      }
    }
    SkipOperatingPoints(bits, decoderModelInfo, bufferDelayLength);
  }
  const int widthBits = int(bits.Bits(4)) + 1;
  const int heightBits = int(bits.Bits(4)) + 1;
  const uint64_t width = uint64_t(bits.Bits(widthBits)) + 1;
  const uint64_t height = uint64_t(bits.Bits(heightBits)) + 1;
  return {Codec::AV1, width, height};
}

// The sizes of the sequence header OBUs among the OBUs that `reader` holds from its
// position on.
void AddAv1StreamSizes(ByteReader& reader, std::vector<CodedSize>& sizes) {
  constexpr int kSequenceHeader = 1;
  while (!reader.AtEnd()) {
    const uint8_t header = reader.U8();
    if (header & 0x04) reader.Skip(1);  // the extension header
    const uint64_t size = header & 0x02 ? Leb128(reader) : reader.Remaining();
    if (size > reader.Remaining()) return;
    const std::span<const uint8_t> payload = reader.Bytes(size_t(size));
    if ((header >> 3 & 0x0F) != kSequenceHeader) continue;
    try {
      sizes.push_back(SequenceHeaderSize(payload));
    } catch (const StreamReadError&) {
    }
  }
}

void AddAv1ConfigurationSizes(std::span<const uint8_t> av1C, std::vector<CodedSize>& sizes) {
  ByteReader reader(av1C);
  reader.Skip(4);  // marker, version, profile, level, tier, colour, presentation delay
  AddAv1StreamSizes(reader, sizes);
}

// The sizes of the SPS NAL units in an item's HEVC data, where libheif hands the decoder
// each NAL unit after a four-byte length.
void AddHevcStreamSizes(std::span<const uint8_t> data, std::vector<CodedSize>& sizes) {
  ByteReader reader(data);
  while (reader.Remaining() >= 4) {
    const uint32_t length = reader.U32BE();
    if (length > reader.Remaining()) return;
    AddIfSequenceParameterSet(reader.Bytes(length), sizes);
  }
}

struct ItemLocation {
  uint32_t item;
  uint8_t method;  // 0: offset in the file, 1: offset in the `idat` box
  uint64_t offset;
  uint64_t length;
};

uint64_t SizedField(ByteReader& reader, int bytes) {
  if (bytes == 4) return reader.U32BE();
  if (bytes == 8) return reader.U64BE();
  if (bytes != 0) throw StreamReadError();  // no other field size is defined
  return 0;
}

// The first extent of every item in the `iloc` box: a grid's or an overlay's description
// is a few bytes, never split.
std::vector<ItemLocation> ItemLocations(std::span<const uint8_t> iloc) {
  std::vector<ItemLocation> locations;
  ByteReader reader(iloc);
  const int version = reader.U8();
  reader.Skip(3);  // flags
  const uint16_t sizes = reader.U16BE();
  const int offsetSize = sizes >> 12, lengthSize = sizes >> 8 & 0xF,
            baseOffsetSize = sizes >> 4 & 0xF, indexSize = version >= 1 ? sizes & 0xF : 0;
  const uint32_t count = version < 2 ? reader.U16BE() : reader.U32BE();
  for (uint32_t i = 0; i < count; ++i) {
    ItemLocation location{};
    location.item = version < 2 ? reader.U16BE() : reader.U32BE();
    if (version >= 1) location.method = uint8_t(reader.U16BE() & 0xF);
    reader.Skip(2);  // data_reference_index
    const uint64_t base = SizedField(reader, baseOffsetSize);
    const int extents = reader.U16BE();
    for (int e = 0; e < extents; ++e) {
      SizedField(reader, indexSize);
      const uint64_t offset = SizedField(reader, offsetSize);
      const uint64_t length = SizedField(reader, lengthSize);
      if (e == 0) {
        location.offset = base + offset;
        location.length = length;
      }
    }
    if (extents > 0) locations.push_back(location);
  }
  return locations;
}

// The type of every item, by its identifier.
std::unordered_map<uint32_t, uint32_t> ItemTypes(std::span<const uint8_t> iinf) {
  std::unordered_map<uint32_t, uint32_t> items;
  ByteReader reader(iinf);
  reader.Skip(reader.U8() == 0 ? 2 + 3 : 4 + 3);  // flags and the entry count
  for (const Box& entry : ChildBoxes(reader.Rest())) {
    if (entry.type != FourCC("infe")) continue;
    ByteReader infe(entry.body);
    const int version = infe.U8();
    if (version < 2) continue;  // no item type before version 2
    infe.Skip(3);
    const uint32_t item = version == 2 ? infe.U16BE() : infe.U32BE();
    infe.Skip(2);  // item_protection_index
    items.emplace(item, infe.U32BE());
  }
  return items;
}

// An ImageGrid or ImageOverlay description; an overlay has no tiles (rows and columns 0).
Canvas ParseCanvas(std::span<const uint8_t> description, uint32_t type) {
  ByteReader reader(description);
  reader.Skip(1);  // version
  const bool wideFields = reader.U8() & 1;
  Canvas canvas{};
  if (type == FourCC("grid")) {
    canvas.rows = uint32_t(reader.U8()) + 1;
    canvas.columns = uint32_t(reader.U8()) + 1;
  } else {
    reader.Skip(8);  // canvas_fill_value
  }
  canvas.width = wideFields ? reader.U32BE() : reader.U16BE();
  canvas.height = wideFields ? reader.U32BE() : reader.U16BE();
  return canvas;
}

std::span<const uint8_t> Extent(std::span<const uint8_t> bytes, uint64_t offset,
                                uint64_t length) {
  if (offset > bytes.size() || length > bytes.size() - offset) throw StreamReadError();
  return bytes.subspan(size_t(offset), size_t(length));
}

// What the file says of one item: its type, the picture sizes of its coded data and of
// its HEVC or AV1 configuration, its `ispe` size, and the canvas of a grid or an overlay.
struct Item {
  uint32_t type = 0;
  std::vector<CodedSize> coded;
  uint64_t ispeWidth = 0;
  uint64_t ispeHeight = 0;
  std::optional<Canvas> canvas;
};

// An item property, with the sizes it declares: coded sizes for `hvcC` and `av1C`, the
// picture size for `ispe`.
struct Property {
  uint32_t type = 0;
  std::vector<CodedSize> coded;
  uint64_t width = 0;
  uint64_t height = 0;
};

// The properties of `ipco` in their order (the associations number them from 1). A
// damaged configuration keeps what it held before the damage.
std::vector<Property> Properties(std::span<const uint8_t> ipco) {
  std::vector<Property> properties;
  for (const Box& box : ChildBoxes(ipco)) {
    Property& property = properties.emplace_back();
    property.type = box.type;
    try {
      if (box.type == FourCC("hvcC")) AddHevcConfigurationSizes(box.body, property.coded);
      if (box.type == FourCC("av1C")) AddAv1ConfigurationSizes(box.body, property.coded);
      if (box.type == FourCC("ispe")) {
        ByteReader reader(box.body);
        reader.Skip(4);  // version and flags
        property.width = reader.U32BE();
        property.height = reader.U32BE();
      }
    } catch (const StreamReadError&) {
    }
  }
  return properties;
}

// Gives each item of `ipma` the sizes of its properties, as far as the box can be read.
void AssociateProperties(std::span<const uint8_t> ipma, const std::vector<Property>& properties,
                         std::map<uint32_t, Item>& items) {
  ByteReader reader(ipma);
  try {
    const int version = reader.U8();
    reader.Skip(2);
    const bool wideIndices = reader.U8() & 1;
    const uint32_t entries = reader.U32BE();
    for (uint32_t i = 0; i < entries; ++i) {
      Item& item = items[version < 1 ? reader.U16BE() : reader.U32BE()];
      const int count = reader.U8();
      for (int a = 0; a < count; ++a) {
        // The top bit says whether the property is essential.
        const size_t index = wideIndices ? reader.U16BE() & 0x7FFF : reader.U8() & 0x7F;
        if (index == 0 || index > properties.size()) continue;
        const Property& property = properties[index - 1];
        item.coded.insert(item.coded.end(), property.coded.begin(), property.coded.end());
        if (property.type == FourCC("ispe")) {
          item.ispeWidth = property.width;
          item.ispeHeight = property.height;
        }
      }
    }
  } catch (const StreamReadError&) {
  }
}

// The tiles of every grid: the items its `dimg` reference names, in order.
std::unordered_map<uint32_t, std::vector<uint32_t>> GridTiles(std::span<const uint8_t> iref) {
  std::unordered_map<uint32_t, std::vector<uint32_t>> tiles;
  ByteReader reader(iref);
  try {
    const bool wideIds = reader.U8() >= 1;
    reader.Skip(3);  // flags
    for (const Box& reference : ChildBoxes(reader.Rest())) {
      if (reference.type != FourCC("dimg")) continue;
      ByteReader from(reference.body);
      std::vector<uint32_t>& to = tiles[wideIds ? from.U32BE() : from.U16BE()];
      for (int count = from.U16BE(); count > 0; --count)
        to.push_back(wideIds ? from.U32BE() : from.U16BE());
    }
  } catch (const StreamReadError&) {
  }
  return tiles;
}

// The largest picture the tiles decode to; 0 x 0 when a tile tells no size.
std::pair<uint64_t, uint64_t> TileSize(const std::map<uint32_t, Item>& items,
                                       const std::vector<uint32_t>& tiles) {
  uint64_t width = 0, height = 0;
  for (uint32_t id : tiles) {
    const auto tile = items.find(id);
    if (tile == items.end()) return {0, 0};
    const Item& item = tile->second;
    // The decoders of HEVC and AV1 make pictures of their streams' own sizes; libheif
    // holds tiles of other kinds to their `ispe`.
    for (const CodedSize& coded : item.coded) {
      width = std::max(width, coded.width);
      height = std::max(height, coded.height);
    }
    if (!item.coded.empty()) continue;
    if (item.ispeWidth == 0 || item.ispeHeight == 0) return {0, 0};
    width = std::max(width, item.ispeWidth);
    height = std::max(height, item.ispeHeight);
  }
  return {width, height};
}

// What an item's data declares: libheif builds the canvas of a `grid` or `iovl` item
// from its description, and hands the decoders the parameter sets in an `hvc1` or `av01`
// item's coded data as well as those in its configuration.
void AddItemDataSizes(std::span<const uint8_t> data, Item& item) {
  if (item.type == FourCC("grid") || item.type == FourCC("iovl")) {
    item.canvas = ParseCanvas(data, item.type);
  } else if (item.type == FourCC("hvc1")) {
    AddHevcStreamSizes(data, item.coded);
  } else if (item.type == FourCC("av01")) {
    ByteReader reader(data);
    AddAv1StreamSizes(reader, item.coded);
  }
}

// `meta` is the meta box's content after its version and flags, at `metaOffset` in the
// file. Adds what the located items' data declares to their records, and its coded sizes
// to `coded`.
void AddItemsData(std::span<const uint8_t> file, std::span<const uint8_t> meta, size_t metaOffset,
                  std::map<uint32_t, Item>& items, std::vector<CodedSize>& coded) {
  const auto iinf = ChildBody(meta, FourCC("iinf"));
  const auto iloc = ChildBody(meta, FourCC("iloc"));
  if (!iinf || !iloc) return;
  // libheif reads data stored in `idat` from the file at the box's place without holding
  // it to the box's size: what follows the box may be read as item data too.
  const std::optional<Box> idatBox = ChildBox(meta, FourCC("idat"));
  const std::span<const uint8_t> idat =
      idatBox ? file.subspan(metaOffset + idatBox->offset) : std::span<const uint8_t>();
  for (const auto& [id, type] : ItemTypes(*iinf)) items[id].type = type;
  // Items may share their data: the coded data read is held to the file's size, so that
  // a file cannot make this parse take time out of all proportion to it.
  size_t codedBytesLeft = file.size();
  for (const ItemLocation& location : ItemLocations(*iloc)) {
    const auto found = items.find(location.item);
    if (found == items.end() || found->second.type == 0 || location.method > 1) continue;
    Item& item = found->second;
    try {
      std::span<const uint8_t> data =
          Extent(location.method == 0 ? file : idat, location.offset, location.length);
      if (item.type == FourCC("hvc1") || item.type == FourCC("av01")) {
        data = data.first(std::min(data.size(), codedBytesLeft));
        codedBytesLeft -= data.size();
      }
      const size_t before = item.coded.size();
      AddItemDataSizes(data, item);
      coded.insert(coded.end(), item.coded.begin() + ptrdiff_t(before), item.coded.end());
    } catch (const StreamReadError&) {
    }
  }
}

}  // namespace

DeclaredSizes FindDeclaredSizes(std::span<const uint8_t> file) {
  DeclaredSizes declared;
  const std::optional<Box> meta = ChildBox(file, FourCC("meta"));
  if (!meta || meta->body.size() < 4) return declared;
  const std::span<const uint8_t> metaBoxes = meta->body.subspan(4);  // after version, flags
  std::map<uint32_t, Item> items;
  try {
    AddItemsData(file, metaBoxes, meta->offset + 4, items, declared.coded);
  } catch (const StreamReadError&) {
  }
  if (const auto iprp = ChildBody(metaBoxes, FourCC("iprp"))) {
    const auto ipco = ChildBody(*iprp, FourCC("ipco"));
    const std::vector<Property> properties = ipco ? Properties(*ipco) : std::vector<Property>();
    for (const Property& property : properties)
      declared.coded.insert(declared.coded.end(), property.coded.begin(), property.coded.end());
    if (const auto ipma = ChildBody(*iprp, FourCC("ipma")))
      AssociateProperties(*ipma, properties, items);
  }
  const auto iref = ChildBody(metaBoxes, FourCC("iref"));
  const auto tiles =
      iref ? GridTiles(*iref) : std::unordered_map<uint32_t, std::vector<uint32_t>>();
  for (const auto& [id, item] : items) {
    if (!item.canvas) continue;
    Canvas canvas = *item.canvas;
    if (const auto grid = tiles.find(id); grid != tiles.end() && canvas.rows)
      std::tie(canvas.tileWidth, canvas.tileHeight) = TileSize(items, grid->second);
    declared.canvases.push_back(canvas);
  }
  return declared;
}

}  // namespace pictures::heif_boxes
