// The metafile reader on metafiles built byte by byte: sizes from the headers, the
// drawing records, the mappings, pictures inside records, and damaged files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "base/error.h"
#include "pictures/registry.h"
#include "pictures/stream.h"
#include "platform/metafile.h"

using platform::TMetafile;

namespace {

// ---- Building 16-bit metafiles ----

class Wmf {
 public:
  // A record: the function number and its parameter words as stored.
  Wmf& Record(uint16_t function, std::vector<int> words) {
    Put32(records_, uint32_t(3 + words.size()));
    Put16(records_, function);
    for (int w : words) Put16(records_, uint16_t(w));
    return *this;
  }
  // A record whose parameters are raw bytes (padded to a whole word).
  Wmf& RecordBytes(uint16_t function, std::vector<uint8_t> bytes) {
    if (bytes.size() % 2) bytes.push_back(0);
    Put32(records_, uint32_t(3 + bytes.size() / 2));
    Put16(records_, function);
    records_.insert(records_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  Wmf& SolidBrush(uint32_t bgr) {  // META_CREATEBRUSHINDIRECT: style, colour, hatch
    return Record(0x02FC, {0, int(bgr & 0xFFFF), int(bgr >> 16), 0});
  }
  Wmf& Pen(int style, int width, uint32_t bgr) {  // META_CREATEPENINDIRECT
    return Record(0x02FA, {style, width, 0, int(bgr & 0xFFFF), int(bgr >> 16)});
  }
  Wmf& Select(int index) { return Record(0x012D, {index}); }
  Wmf& Rectangle(int left, int top, int right, int bottom) {
    return Record(0x041B, {bottom, right, top, left});
  }
  Wmf& WindowOrg(int x, int y) { return Record(0x020B, {y, x}); }
  Wmf& WindowExt(int x, int y) { return Record(0x020C, {y, x}); }

  // The file: a placeable header (when `inch` is given), the metafile header, the records
  // and the end record.
  std::vector<uint8_t> Build(int left, int top, int right, int bottom, int inch = 96) const {
    std::vector<uint8_t> out;
    if (inch > 0) {
      Put32(out, 0x9AC6CDD7);  // key
      Put16(out, 0);           // handle
      Put16(out, uint16_t(left));
      Put16(out, uint16_t(top));
      Put16(out, uint16_t(right));
      Put16(out, uint16_t(bottom));
      Put16(out, uint16_t(inch));
      Put32(out, 0);  // reserved
      uint16_t checksum = 0;
      for (size_t i = 0; i < 20; i += 2) checksum ^= uint16_t(out[i] | out[i + 1] << 8);
      Put16(out, checksum);
    }
    std::vector<uint8_t> body = records_;
    Put32(body, 3);  // META_EOF
    Put16(body, 0);
    Put16(out, 1);     // type: in memory
    Put16(out, 9);     // header words
    Put16(out, 0x300);  // version
    Put32(out, uint32_t((18 + body.size()) / 2));
    Put16(out, 16);  // objects
    Put32(out, 64);  // largest record
    Put16(out, 0);   // members
    out.insert(out.end(), body.begin(), body.end());
    return out;
  }

  static void Put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
  }
  static void Put32(std::vector<uint8_t>& v, uint32_t x) {
    Put16(v, uint16_t(x));
    Put16(v, uint16_t(x >> 16));
  }

 private:
  std::vector<uint8_t> records_;
};

// ---- Building enhanced metafiles ----

class Emf {
 public:
  Emf& Record(uint32_t type, std::vector<int32_t> values) {
    Wmf::Put32(records_, type);
    Wmf::Put32(records_, uint32_t(8 + 4 * values.size()));
    for (int32_t v : values) Wmf::Put32(records_, uint32_t(v));
    return *this;
  }
  Emf& RecordBytes(uint32_t type, const std::vector<uint8_t>& bytes) {
    Wmf::Put32(records_, type);
    Wmf::Put32(records_, uint32_t(8 + bytes.size()));
    records_.insert(records_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  // The header: bounds (device pixels) and frame (0.01 mm) of the given rectangles, on a
  // reference device of 960 x 960 pixels and 254 x 254 mm (96 pixels an inch).
  std::vector<uint8_t> Build(int frameRight, int frameBottom) const {
    std::vector<uint8_t> records = records_;
    Wmf::Put32(records, 14);  // EMR_EOF: palette entries, offset, size again
    Wmf::Put32(records, 20);
    Wmf::Put32(records, 0);
    Wmf::Put32(records, 16);
    Wmf::Put32(records, 20);
    std::vector<uint8_t> out;
    const auto put = [&](int32_t v) { Wmf::Put32(out, uint32_t(v)); };
    put(1);    // EMR_HEADER
    put(88);   // record size
    put(0); put(0); put(frameRight * 96 / 2540); put(frameBottom * 96 / 2540);  // bounds
    put(0); put(0); put(frameRight); put(frameBottom);                          // frame
    put(0x464D4520);  // " EMF"
    put(0x10000);     // version
    put(int32_t(88 + records.size()));  // bytes
    put(0);           // records (not checked)
    Wmf::Put16(out, 16);  // handles
    Wmf::Put16(out, 0);
    put(0); put(0); put(0);  // description, palette
    put(960); put(960);      // device pixels
    put(254); put(254);      // device millimetres
    out.insert(out.end(), records.begin(), records.end());
    return out;
  }

 private:
  std::vector<uint8_t> records_;
};

// A 24-bit DIB: header, then rows bottom-up; `pixels` are top-down BGR.
std::vector<uint8_t> Dib24(int width, int height, const std::vector<uint32_t>& rgbTopDown) {
  std::vector<uint8_t> d;
  Wmf::Put32(d, 40);
  Wmf::Put32(d, uint32_t(width));
  Wmf::Put32(d, uint32_t(height));
  Wmf::Put16(d, 1);   // planes
  Wmf::Put16(d, 24);  // bits
  for (int i = 0; i < 6; ++i) Wmf::Put32(d, 0);
  const int stride = (width * 3 + 3) / 4 * 4;
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) {
      const uint32_t rgb = rgbTopDown[size_t(y * width + x)];
      d.push_back(uint8_t(rgb));
      d.push_back(uint8_t(rgb >> 8));
      d.push_back(uint8_t(rgb >> 16));
    }
    for (int p = width * 3; p < stride; ++p) d.push_back(0);
  }
  return d;
}

TMetafile Load(const std::vector<uint8_t>& bytes) {
  pictures::MemoryStream stream(bytes);
  TMetafile picture;
  picture.LoadFromStream(stream);
  return picture;
}

// The colour of a pixel as 0xRRGGBB.
uint32_t Pixel(const TMetafile& picture, int x, int y) {
  const uint8_t* p = picture.ScanLine(y) + 4 * x;
  return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

constexpr uint32_t kWhite = 0xFFFFFF, kBlack = 0x000000;
// Colours as the records store them: blue in the high byte.
constexpr uint32_t kRedRef = 0x0000FF, kBlueRef = 0xFF0000, kGreenRef = 0x00FF00,
                   kBlackRef = 0x000000;

TEST(MetafileSize, PlaceableHeaderAtItsUnitsPerInch) {
  const struct {
    int left, top, right, bottom, inch, width, height;
  } cases[] = {
      {0, 0, 1440, 720, 1440, 96, 48},
      {-100, -50, 100, 50, 96, 200, 100},
      {0, 0, 2540, 1270, 2540, 96, 48},  // 0.01 mm... as units per inch
      {10, 10, 20, 30, 96, 10, 20},
  };
  for (const auto& c : cases) {
    const TMetafile picture = Load(Wmf().Build(c.left, c.top, c.right, c.bottom, c.inch));
    EXPECT_EQ(picture.Width(), c.width) << c.right;
    EXPECT_EQ(picture.Height(), c.height) << c.right;
    EXPECT_EQ(picture.GetPixelFormat(), pictures::PixelFormat::Bits32);
    EXPECT_FALSE(picture.Transparent());
    EXPECT_EQ(Pixel(picture, 0, 0), kWhite);  // white paper
    EXPECT_EQ(picture.ScanLine(0)[3], 0xFF);  // opaque
  }
}

TEST(MetafileSize, EnhancedFrameAndPlainWindow) {
  const TMetafile emf = Load(Emf().Build(2540, 1270));  // 25.4 x 12.7 mm
  EXPECT_EQ(emf.Width(), 96);
  EXPECT_EQ(emf.Height(), 48);
  // Without a placeable header the window extent gives the size.
  const TMetafile plain = Load(Wmf().WindowOrg(0, 0).WindowExt(60, 30).Build(0, 0, 0, 0, 0));
  EXPECT_EQ(plain.Width(), 60);
  EXPECT_EQ(plain.Height(), 30);
}

TEST(MetafileRecords, RectangleWithPenAndBrush) {
  // Objects: brush 0, pen 1 (each takes the lowest free slot).
  const TMetafile picture = Load(Wmf()
                                     .SolidBrush(kRedRef)
                                     .Pen(0, 1, kBlueRef)
                                     .Select(0)
                                     .Select(1)
                                     .Rectangle(10, 10, 90, 40)
                                     .Build(0, 0, 100, 50));
  EXPECT_EQ(Pixel(picture, 50, 25), 0xFF0000u);  // red inside
  EXPECT_EQ(Pixel(picture, 10, 25), 0x0000FFu);  // blue edge
  EXPECT_EQ(Pixel(picture, 50, 10), 0x0000FFu);
  EXPECT_EQ(Pixel(picture, 5, 5), kWhite);
  EXPECT_EQ(Pixel(picture, 95, 45), kWhite);
}

TEST(MetafileRecords, WindowMapsOntoThePicture) {
  // The window is ten times the picture: a rectangle of 0..500 logical units covers the
  // left half of a 100-pixel picture.
  const TMetafile picture = Load(Wmf()
                                     .WindowOrg(0, 0)
                                     .WindowExt(1000, 500)
                                     .SolidBrush(kGreenRef)
                                     .Select(0)
                                     .Record(0x02FA, {5, 0, 0, 0, 0})  // null pen
                                     .Select(1)
                                     .Rectangle(0, 0, 500, 500)
                                     .Build(0, 0, 100, 50));
  EXPECT_EQ(Pixel(picture, 25, 25), 0x00FF00u);
  EXPECT_EQ(Pixel(picture, 48, 10), 0x00FF00u);
  EXPECT_EQ(Pixel(picture, 52, 10), kWhite);
  EXPECT_EQ(Pixel(picture, 75, 25), kWhite);
}

TEST(MetafileRecords, PolygonEllipseAndLines) {
  const TMetafile picture =
      Load(Wmf()
               .SolidBrush(kRedRef)
               .Select(0)
               // META_POLYGON: a triangle
               .Record(0x0324, {3, 0, 0, 40, 0, 0, 40})
               // META_ELLIPSE in the right half
               .Record(0x0418, {40, 100, 0, 60})
               // A black line along the bottom row: META_MOVETO, META_LINETO
               .Record(0x0214, {48, 0})
               .Record(0x0213, {48, 99})
               .Build(0, 0, 100, 50));
  EXPECT_EQ(Pixel(picture, 5, 5), 0xFF0000u);    // inside the triangle
  EXPECT_EQ(Pixel(picture, 35, 35), kWhite);     // outside it
  EXPECT_EQ(Pixel(picture, 80, 20), 0xFF0000u);  // centre of the ellipse
  EXPECT_EQ(Pixel(picture, 61, 1), kWhite);      // corner of its box
  EXPECT_EQ(Pixel(picture, 50, 48), kBlack);
}

TEST(MetafileRecords, ClippingAndSavedStates) {
  const TMetafile picture = Load(Wmf()
                                     .SolidBrush(kBlueRef)
                                     .Select(0)
                                     .Record(0x001E, {})                 // SaveDC
                                     .Record(0x0416, {30, 30, 10, 10})  // IntersectClipRect
                                     .Rectangle(0, 0, 100, 50)
                                     .Record(0x0127, {-1})  // RestoreDC
                                     .Rectangle(60, 35, 100, 50)
                                     .Build(0, 0, 100, 50));
  EXPECT_EQ(Pixel(picture, 20, 20), 0x0000FFu);  // inside the clip
  EXPECT_EQ(Pixel(picture, 40, 20), kWhite);     // clipped away
  EXPECT_EQ(Pixel(picture, 80, 45), 0x0000FFu);  // after the clip was restored
}

TEST(MetafileRecords, StretchedPicture) {
  // A 2 x 2 picture (red, green / blue, white) stretched over the whole 40 x 40 picture
  // with META_STRETCHDIB.
  const auto dib = Dib24(2, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF});
  std::vector<uint8_t> params;
  const auto put = [&](int v) { Wmf::Put16(params, uint16_t(v)); };
  Wmf::Put32(params, 0x00CC0020);  // SRCCOPY
  put(0);                          // colour usage: RGB
  put(2); put(2); put(0); put(0);  // source height, width, y, x
  put(40); put(40); put(0); put(0);  // destination height, width, y, x
  params.insert(params.end(), dib.begin(), dib.end());
  const TMetafile picture = Load(Wmf().RecordBytes(0x0F43, params).Build(0, 0, 40, 40));
  EXPECT_EQ(Pixel(picture, 5, 5), 0xFF0000u);
  EXPECT_EQ(Pixel(picture, 35, 5), 0x00FF00u);
  EXPECT_EQ(Pixel(picture, 5, 35), 0x0000FFu);
  EXPECT_EQ(Pixel(picture, 35, 35), 0xFFFFFFu);
}

int DarkPixels(const TMetafile& picture, int x0, int y0, int x1, int y1) {
  int dark = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      if ((Pixel(picture, x, y) & 0xFF) < 0x80) ++dark;
  return dark;
}

TEST(MetafileRecords, TextAtItsReferencePoint) {
  // META_CREATEFONTINDIRECT: height -20, weight 700, "Arial"; text "HI" at (10, 10) with
  // the top at the reference point (alignment 0) in transparent mode.
  std::vector<uint8_t> font;
  for (int v : {-20, 0, 0, 0, 700}) Wmf::Put16(font, uint16_t(v));
  for (int i = 0; i < 8; ++i) font.push_back(0);
  const char name[] = "Arial";
  font.insert(font.end(), name, name + sizeof name);
  std::vector<uint8_t> text;
  Wmf::Put16(text, 2);
  text.push_back('H');
  text.push_back('I');
  Wmf::Put16(text, 10);  // y
  Wmf::Put16(text, 10);  // x
  const TMetafile picture = Load(Wmf()
                                     .RecordBytes(0x02FB, font)
                                     .Select(0)
                                     .Record(0x0102, {1})  // SetBkMode TRANSPARENT
                                     .RecordBytes(0x0521, text)
                                     .Build(0, 0, 100, 50));
  EXPECT_GT(DarkPixels(picture, 10, 10, 40, 32), 20);
  EXPECT_EQ(DarkPixels(picture, 0, 0, 100, 9), 0);     // nothing above the top
  EXPECT_EQ(DarkPixels(picture, 0, 0, 9, 50), 0);      // nothing left of the start
  EXPECT_EQ(DarkPixels(picture, 50, 0, 100, 50), 0);   // two letters stay short
}

TEST(EnhancedRecords, BrushRectangleAndWorldTransform) {
  // 96 x 48 pixels; the reference device has 96 pixels an inch, so device = picture.
  const TMetafile picture =
      Load(Emf()
               .Record(39, {1, 0, int32_t(kRedRef), 0})   // brush 1: solid red
               .Record(37, {1})                            // select it
               .Record(37, {int32_t(0x80000008)})          // NULL_PEN
               .Record(43, {10, 10, 30, 30})               // rectangle
               .Record(35, {0x3F800000, 0, 0, 0x3F800000,  // world: move by (50, 0)
                            0x42480000, 0})
               .Record(42, {10, 10, 30, 30})               // ellipse, moved
               .Build(2540, 1270));
  ASSERT_EQ(picture.Width(), 96);
  EXPECT_EQ(Pixel(picture, 20, 20), 0xFF0000u);
  EXPECT_EQ(Pixel(picture, 35, 20), kWhite);
  EXPECT_EQ(Pixel(picture, 70, 20), 0xFF0000u);  // the moved ellipse's centre
  EXPECT_EQ(Pixel(picture, 20, 40), kWhite);
}

TEST(EnhancedRecords, MetricMapModeTurnsTheYAxis) {
  // MM_HIMETRIC (3): 0.01 mm units with y up; the window origin at the top left corner
  // (0, 1270) puts a rectangle from (0, 1270) to (1270, 635) in the top left quarter.
  const TMetafile picture = Load(Emf()
                                     .Record(17, {3})            // SetMapMode
                                     .Record(12, {0, 0})         // viewport origin
                                     .Record(10, {0, 1270})      // window origin
                                     .Record(37, {int32_t(0x80000004)})  // BLACK_BRUSH
                                     .Record(43, {0, 1270, 1270, 635})
                                     .Build(2540, 1270));
  EXPECT_EQ(Pixel(picture, 20, 10), kBlack);
  EXPECT_EQ(Pixel(picture, 20, 40), kWhite);
  EXPECT_EQ(Pixel(picture, 70, 10), kWhite);
}

TEST(EnhancedRecords, PathsAndClipping) {
  const TMetafile picture =
      Load(Emf()
               .Record(30, {0, 0, 48, 48})                 // IntersectClipRect: left half
               .Record(37, {int32_t(0x80000004)})          // BLACK_BRUSH
               .Record(59, {})                             // BeginPath
               .Record(43, {0, 0, 96, 20})                 // a rectangle into the path
               .Record(60, {})                             // EndPath
               .Record(62, {0, 0, 96, 20})                 // FillPath
               .Build(2540, 1270));
  EXPECT_EQ(Pixel(picture, 20, 10), kBlack);
  EXPECT_EQ(Pixel(picture, 70, 10), kWhite);  // clipped
  EXPECT_EQ(Pixel(picture, 20, 30), kWhite);  // outside the path
}

TEST(EnhancedRecords, StretchDibits) {
  const auto dib = Dib24(2, 1, {0x0000FF, 0x00FF00});
  // EMR_STRETCHDIBITS: bounds, dest x, y, src x, y, cx, cy, offBmi, cbBmi, offBits,
  // cbBits, usage, rop, dest cx, cy; then the header and the pixels.
  const int32_t fixed = 8 + 72;
  std::vector<int32_t> values = {0, 0, 0, 0, 0, 0, 0, 0, 2, 1, fixed, 40, fixed + 40,
                                 int32_t(dib.size() - 40), 0, 0x00CC0020, 96, 48};
  std::vector<uint8_t> bytes;
  for (int32_t v : values) Wmf::Put32(bytes, uint32_t(v));
  bytes.insert(bytes.end(), dib.begin(), dib.end());
  const TMetafile picture = Load(Emf().RecordBytes(81, bytes).Build(2540, 1270));
  EXPECT_EQ(Pixel(picture, 20, 20), 0x0000FFu);
  EXPECT_EQ(Pixel(picture, 70, 20), 0x00FF00u);
}

TEST(MetafileErrors, NotAMetafile) {
  const std::vector<std::vector<uint8_t>> files = {
      {},
      std::vector<uint8_t>(100, 0),
      std::vector<uint8_t>(100, 0xFF),
      Wmf().Build(0, 0, 0, 0, 96),          // empty bounding box
      Wmf().Build(0, 0, 100, 100, 0),       // no placeable header and no window
      {1, 0, 0, 0, 88, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // an enhanced header
       0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // cut before its
       0, 0},                                                        // signature
  };
  for (const auto& bytes : files) {
    pictures::MemoryStream stream(bytes);
    TMetafile picture;
    try {
      picture.LoadFromStream(stream);
      ADD_FAILURE() << "loaded " << bytes.size() << " bytes";
    } catch (const pictures::PictureError& e) {
      EXPECT_STREQ(e.what(), "Metafile is not valid");
    }
  }
  // A placeable header whose inch is zero.
  auto bytes = Wmf().Build(0, 0, 100, 100, 96);
  bytes[14] = bytes[15] = 0;
  pictures::MemoryStream stream(bytes);
  TMetafile picture;
  EXPECT_THROW(picture.LoadFromStream(stream), pictures::PictureError);
}

TEST(MetafileErrors, HugeSizesAreRefused) {
  pictures::MemoryStream stream(Wmf().Build(-32000, -32000, 32000, 32000, 1));
  TMetafile picture;
  EXPECT_THROW(picture.LoadFromStream(stream), pictures::BitmapTooLarge);
}

// Damaged records: cut, lying sizes, counts beyond the record. Every damaged file must
// load or fail with a picture error; none may crash or hang.
TEST(MetafileErrors, DamagedRecordsFailCleanly) {
  const auto dib = Dib24(2, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF});
  std::vector<uint8_t> blit;
  Wmf::Put32(blit, 0x00CC0020);
  for (int v : {0, 2, 2, 0, 0, 40, 40, 0, 0}) Wmf::Put16(blit, uint16_t(v));
  blit.insert(blit.end(), dib.begin(), dib.end());
  // Text with advances, fonts, a pen with styles, a gradient and a clip region.
  std::vector<uint8_t> font;
  for (int v : {-12, 0, 450, 0, 400}) Wmf::Put16(font, uint16_t(v));
  for (int i = 0; i < 8; ++i) font.push_back(0);
  font.insert(font.end(), {'A', 'r', 'i', 'a', 'l', 0});
  std::vector<uint8_t> wmfText;
  for (int v : {20, 5, 3, 6, 0, 0, 60, 30}) Wmf::Put16(wmfText, uint16_t(v));
  wmfText.insert(wmfText.end(), {'a', 'b', 'c', 0});
  for (int v : {7, 7, 7}) Wmf::Put16(wmfText, uint16_t(v));
  std::vector<uint8_t> region;
  for (int v : {0, 6, 0, 0, 40, 1, 4, 0, 0, 30, 30, 2, 0, 30, 5, 25, 2}) Wmf::Put16(region, uint16_t(v));
  std::vector<uint8_t> emfText;
  for (int32_t v : {0, 0, 0, 0, 1, 0x3F800000, 0x3F800000, 10, 10, 3, 76, 6, 0, 0, 50, 20, 82})
    Wmf::Put32(emfText, uint32_t(v));
  for (char16_t c : {u'x', u'y', u'z'}) Wmf::Put16(emfText, c);
  Wmf::Put16(emfText, 0);
  for (int32_t v : {8, 8, 8}) Wmf::Put32(emfText, uint32_t(v));
  std::vector<uint8_t> emfFont;
  for (int32_t v : {2, -16, 0, 0, 0, 700}) Wmf::Put32(emfFont, uint32_t(v));
  for (int i = 0; i < 8; ++i) emfFont.push_back(0);
  for (char16_t c : u"Times New Roman") Wmf::Put16(emfFont, c);
  while (emfFont.size() < 4 + 92) emfFont.push_back(0);
  std::vector<uint8_t> clip;
  for (int32_t v : {48, 1, 32, 1, 1, 16, 0, 0, 50, 30, 5, 5, 50, 30}) Wmf::Put32(clip, uint32_t(v));
  std::vector<uint8_t> gradient;
  for (uint32_t v : {0u, 0u, 0u, 0u, 2u, 1u, 0u, 0u, 0u, 0xFF000000u, 0u, 90u, 40u, 0x0000FF00u, 0u, 0u, 1u})
    Wmf::Put32(gradient, uint32_t(v));
  const std::vector<std::vector<uint8_t>> seeds = {
      Wmf()
          .RecordBytes(0x02FB, font)
          .Select(0)
          .RecordBytes(0x0A32, wmfText)
          .RecordBytes(0x06FF, region)
          .Record(0x012C, {1})
          .Record(0x0228, {1, 0})
          .Pen(2, 3, kBlueRef)
          .Select(2)
          .Record(0x061C, {10, 10, 50, 50, 5, 5})
          .Record(0x081A, {0, 30, 30, 0, 60, 60, 0, 0})
          .Build(0, 0, 64, 64),
      Emf()
          .RecordBytes(82, emfFont)
          .Record(37, {2})
          .Record(22, {24})
          .RecordBytes(84, emfText)
          .Record(95, {3, 0, 0, 0, 0, 0x00012207, 4, 0, int32_t(kRedRef), 0, 2, 3, 1})
          .Record(37, {3})
          .Record(27, {5, 5})
          .Record(55, {0, 0, 40, 40, 0, 20, 40, 20})
          .Record(41, {30, 30, 20, 0, 0x43340000})
          .RecordBytes(75, clip)
          .RecordBytes(118, gradient)
          .Record(36, {0x3F000000, 0, 0, 0x3F000000, 0, 0, 2})
          .Record(91, {0, 0, 0, 0, 2, 6, 3, 3, 0, 0x000A0000, 0x000A000A, 5, 0x00050005, 0x00050000})
          .Build(2540, 1270),
      Wmf()
          .SolidBrush(kRedRef)
          .Select(0)
          .Rectangle(1, 1, 50, 50)
          .Record(0x0538, {2, 3, 3, 0, 0, 10, 0, 0, 10, 20, 20, 30, 20, 20, 30})
          .Record(0x0817, {0, 10, 10, 0, 40, 40, 0, 0})
          .RecordBytes(0x0F43, blit)
          .Build(0, 0, 64, 64),
      Emf()
          .Record(39, {1, 2, int32_t(kBlueRef), 3})
          .Record(37, {1})
          .Record(86, {0, 0, 0, 0, 3, 0x00000000, 0x00200020, 0x00000020})
          .Record(59, {})
          .Record(42, {0, 0, 40, 40})
          .Record(60, {})
          .Record(67, {1})
          .Record(43, {0, 0, 96, 48})
          .Build(2540, 1270),
  };
  // Mutated headers ask for large pictures; a low limit keeps the test quick.
  const uint64_t limit = pictures::Bitmap::PixelMemoryLimit();
  pictures::Bitmap::SetPixelMemoryLimit(4 << 20);
  const char* seedText = std::getenv("IMPORTDLG_METAFILE_SEED");
  std::mt19937 random(seedText ? unsigned(std::atoi(seedText)) : 12345u);
  int loaded = 0, refused = 0;
  // A longer run under the sanitizers: IMPORTDLG_METAFILE_ROUNDS=40000, and other
  // mutations with IMPORTDLG_METAFILE_SEED.
  const char* roundsText = std::getenv("IMPORTDLG_METAFILE_ROUNDS");
  const int rounds = roundsText ? std::max(1, std::atoi(roundsText)) : 1500;
  for (const auto& seed : seeds) {
    for (int round = 0; round < rounds; ++round) {
      std::vector<uint8_t> bytes = seed;
      const int edits = 1 + int(random() % 8);
      for (int e = 0; e < edits; ++e) {
        const size_t at = random() % bytes.size();
        switch (random() % 4) {
          case 0: bytes[at] = uint8_t(random()); break;
          case 1: bytes[at] = 0xFF; break;
          case 2: bytes[at] = 0; break;
          case 3: bytes.resize(std::max<size_t>(at, 1)); break;
        }
      }
      try {
        Load(bytes);
        ++loaded;
      } catch (const pictures::PictureError&) {
        ++refused;
      }
    }
  }
  pictures::Bitmap::SetPixelMemoryLimit(limit);
  EXPECT_GT(loaded, 0);
  EXPECT_GT(refused, 0);
}

// Files that ask for work beyond any drawing's fail with a clear message before their
// canvas is allocated; saved states share their objects, so many saves of a large palette
// draw at once. Drawings written by office and drawing programs stay within the budget.
TEST(MetafileBudget, FilesThatAskForTooMuchFailAndRealDrawingsDraw) {
  std::vector<uint8_t> palette;  // META_CREATEPALETTE: version, 65,535 entries
  Wmf::Put16(palette, 0x300);
  Wmf::Put16(palette, 65535);
  std::vector<uint8_t> emfPalette;  // EMR_CREATEPALETTE: slot 1, the same entries
  Wmf::Put32(emfPalette, 1);
  Wmf::Put16(emfPalette, 0x300);
  Wmf::Put16(emfPalette, 65535);
  for (int i = 0; i < 65535; ++i) {
    Wmf::Put32(palette, 0x00302010);
    Wmf::Put32(emfPalette, 0x00302010);
  }
  Wmf savesWmf;
  savesWmf.RecordBytes(0x00F7, palette).Record(0x0234, {0});  // META_SELECTPALETTE
  Emf savesEmf;
  savesEmf.RecordBytes(49, emfPalette).Record(48, {1});  // EMR_SELECTPALETTE
  for (int i = 0; i < 4096; ++i) {
    savesWmf.Record(0x001E, {});  // META_SAVEDC
    savesEmf.Record(33, {});      // EMR_SAVEDC
  }
  // A region of one scan of 16,383 rectangles, painted three times.
  std::vector<uint8_t> region;
  for (int v : {0, 6, 0, 0, 0xFFFF, 1, 2 * 16383, 0, 0, 32767, 4096, 2 * 16383, 0, 4096})
    Wmf::Put16(region, uint16_t(v));
  for (int i = 0; i < 16383; ++i) {
    Wmf::Put16(region, uint16_t(2 * i % 32000));
    Wmf::Put16(region, uint16_t(2 * i % 32000 + 1));
  }
  Wmf::Put16(region, 2 * 16383);
  Wmf regionWmf;
  regionWmf.RecordBytes(0x06FF, region);
  for (int i = 0; i < 3; ++i) regionWmf.Record(0x012B, {0});  // META_PAINTREGION
  // 70,000 rectangles that each fill a canvas of 8192 x 8192.
  Wmf rectangles;
  for (int i = 0; i < 70000; ++i) rectangles.Rectangle(0, 0, 8192, 8192);
  // A polyline of 16,000 points drawn with a pen 3,000 pixels wide.
  std::vector<int> polyline = {16000};
  std::mt19937 random(1);
  for (int i = 0; i < 2 * 16000; ++i) polyline.push_back(int(random() % 8192));
  Wmf widePen;
  widePen.Pen(0, 3000, kBlackRef).Select(0).Record(0x0325, polyline);

  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    bool draws;
  } cases[] = {
      {"4,096 saves of a palette (wmf)", savesWmf.Build(0, 0, 100, 100), true},
      {"4,096 saves of a palette (emf)", savesEmf.Build(2646, 2646), true},
      {"a region of 16,383 pieces painted", regionWmf.Build(0, 0, 4096, 4096), false},
      {"70,000 rectangles over 8192 x 8192", rectangles.Build(0, 0, 8192, 8192), false},
      {"16,000 points with a wide pen", widePen.Build(0, 0, 8192, 8192), false},
  };
  for (const auto& c : cases) {
    try {
      const TMetafile picture = Load(c.bytes);
      EXPECT_TRUE(c.draws) << c.name;
      EXPECT_EQ(Pixel(picture, 50, 50), kWhite) << c.name;
    } catch (const pictures::PictureError& e) {
      EXPECT_FALSE(c.draws) << c.name;
      EXPECT_STREQ(e.what(), "Metafile is too complex to draw") << c.name;
    }
  }

  // Drawings by Inkscape and LibreOffice, the most complex of those tried among them.
  const struct {
    const char* file;
    int width, height;
  } drawings[] = {
      {"gradient-inkscape.wmf", 1811, 1269},
      {"tiles-inkscape.wmf", 794, 1122},
      {"stars-inkscape.emf", 794, 1122},
      {"diagram-libreoffice.emf", 718, 1047},
  };
  for (const auto& d : drawings) {
    const std::string path = std::string(IMPORTDLG_TESTDATA) + "/metafile/" + d.file;
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    ASSERT_FALSE(bytes.empty()) << path;
    const TMetafile picture = Load(bytes);
    EXPECT_EQ(picture.Width(), d.width) << d.file;
    EXPECT_EQ(picture.Height(), d.height) << d.file;
    EXPECT_LT(DarkPixels(picture, 0, 0, d.width, d.height), d.width * d.height) << d.file;
    EXPECT_GT(DarkPixels(picture, 0, 0, d.width, d.height), 0) << d.file;
  }
}

TEST(MetafileRegistry, RowsOneAndTwo) {
  platform::RegisterMetafileFormats();
  platform::RegisterMetafileFormats();  // once only
  const auto& formats = pictures::RegisteredFormats();
  ASSERT_GE(formats.size(), 4u);
  EXPECT_EQ(formats[0].extension, "wmf");
  EXPECT_EQ(formats[0].description, "Metafiles");
  EXPECT_EQ(formats[1].extension, "emf");
  EXPECT_EQ(formats[1].description, "Enhanced Metafiles");
  EXPECT_EQ(formats[2].extension, "ico");
  EXPECT_EQ(formats[3].extension, "bmp");
  EXPECT_EQ(pictures::FindReaderClass("WMF"), &TMetafile::StaticClass());
  EXPECT_EQ(pictures::FindReaderClass("emf"), &TMetafile::StaticClass());
}

}  // namespace
