#include "pictures/registry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/error.h"
#include "pictures/stream.h"

namespace pictures {

// A reader of a made-up format: one byte, the width of a one-row 8-bit picture; a zero
// width is rejected. Enough to watch the registry and the holder at work.
class TFakeGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  void LoadFromStream(Stream& stream) override {
    uint8_t width = 0;
    stream.ReadBuffer(&width, 1);
    if (width == 0) throw PictureError("Fake: empty picture");
    SetPixelFormat(PixelFormat::Bits8);
    SetSize(width, 1);
  }
};
PICTURES_DEFINE_READER_CLASS(TFakeGraphic, Bitmap)

class TDerivedFakeGraphic : public TFakeGraphic {
  PICTURES_READER_CLASS()
};
PICTURES_DEFINE_READER_CLASS(TDerivedFakeGraphic, TFakeGraphic)

namespace {

namespace fs = std::filesystem;

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("registry_test_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    UnregisterReaderClass(TFakeGraphic::StaticClass());
    fs::remove_all(dir_);
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }
  fs::path dir_;
};

TEST(FileExtension, TakesTheTextAfterTheLastDotOfTheName) {
  struct Case { const char* name; const char* extension; };
  const Case cases[] = {
      {"PHOTO.PCX", "PCX"},
      {"archive.tar.gif", "gif"},
      {"old.pictures\\sunset", ""},
      {"C:\\old.pictures\\sunset", ""},
      {"D:sunset", ""},
      {"C:\\pics\\a.b.Tif", "Tif"},
      {"/home/ana/old.pictures/sunset", ""},
      {"/home/ana/sunset.pcx", "pcx"},
      {"trailing.", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(FileExtension(c.name), c.extension) << c.name;
}

TEST_F(RegistryTest, ListStartsWithItsOwnEntries) {
  const auto& list = RegisteredFormats();
  ASSERT_GE(list.size(), 2u);
  // Icons and bitmaps come before anything registered later (metafiles may precede them).
  size_t ico = list.size(), bmp = list.size();
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i].extension == "ico" && ico == list.size()) ico = i;
    if (list[i].extension == "bmp" && bmp == list.size()) bmp = i;
  }
  EXPECT_LT(ico, bmp);
  EXPECT_EQ(list[bmp].description, "Bitmaps");
  EXPECT_EQ(list[bmp].readerClass, &Bitmap::StaticClass());
  EXPECT_EQ(list[ico].description, "Icons");
}

TEST_F(RegistryTest, LookupIgnoresCaseAndLaterEntriesWin) {
  RegisterFormat("FaKe", "Fake pictures", TFakeGraphic::StaticClass());
  EXPECT_EQ(RegisteredFormats().back().extension, "fake");
  for (const char* ext : {"fake", "FAKE", "Fake"})
    EXPECT_EQ(FindReaderClass(ext), &TFakeGraphic::StaticClass()) << ext;
  RegisterFormat("fake", "Derived", TDerivedFakeGraphic::StaticClass());
  EXPECT_EQ(FindReaderClass("fake"), &TDerivedFakeGraphic::StaticClass());
  EXPECT_EQ(FindReaderClass("nothing"), nullptr);
}

TEST_F(RegistryTest, UnregisterRemovesTheClassAndItsDescendantsOnly) {
  const size_t before = RegisteredFormats().size();
  RegisterFormat("fake", "Fake", TFakeGraphic::StaticClass());
  RegisterFormat("fake2", "Derived", TDerivedFakeGraphic::StaticClass());
  RegisterFormat("fake3", "Fake again", TFakeGraphic::StaticClass());
  UnregisterReaderClass(TDerivedFakeGraphic::StaticClass());
  EXPECT_EQ(RegisteredFormats().size(), before + 2);
  EXPECT_EQ(FindReaderClass("fake2"), nullptr);
  RegisterFormat("fake2", "Derived", TDerivedFakeGraphic::StaticClass());
  UnregisterReaderClass(TFakeGraphic::StaticClass());
  EXPECT_EQ(RegisteredFormats().size(), before);
  EXPECT_NE(FindReaderClass("bmp"), nullptr);  // Bitmap's own rows stay
}

TEST_F(RegistryTest, UnknownExtensionsFailBeforeTheFileIsOpened) {
  struct Case { const char* name; const char* message; };
  const Case cases[] = {
      {"picture.xyz", "Unknown picture file extension (.xyz)"},
      {"picture.XYZ", "Unknown picture file extension (.XYZ)"},
      {"old.pictures\\sunset", "Unknown picture file extension (.)"},
      {"noextension", "Unknown picture file extension (.)"},
  };
  for (const Case& c : cases) {
    Picture picture;
    try {
      picture.LoadFile(c.name);  // none of these files exists: the lookup must fail first
      ADD_FAILURE() << c.name;
    } catch (const InvalidGraphic& error) {
      EXPECT_STREQ(error.what(), c.message);
    }
  }
}

TEST_F(RegistryTest, PictureKeepsItsPictureWhenALoadFails) {
  RegisterFormat("fake", "Fake", TFakeGraphic::StaticClass());
  Picture picture;
  int changes = 0;
  picture.OnChange = [&] { ++changes; };
  picture.LoadFile(Write("first.FAKE", "\x05"));
  ASSERT_NE(picture.Graphic(), nullptr);
  EXPECT_EQ(picture.Width(), 5);
  EXPECT_EQ(&picture.Graphic()->Class(), &TFakeGraphic::StaticClass());
  EXPECT_EQ(changes, 1);

  const Bitmap* first = picture.Graphic();
  EXPECT_THROW(picture.LoadFile(Write("second.fake", std::string(1, '\0'))), PictureError);
  EXPECT_THROW(picture.LoadFile(Write("short.fake", "")), StreamReadError);
  EXPECT_THROW(picture.LoadFile((dir_ / "missing.fake").string()), FileOpenError);
  EXPECT_EQ(picture.Graphic(), first);
  EXPECT_EQ(picture.Width(), 5);
  EXPECT_EQ(changes, 1);
}

TEST_F(RegistryTest, MissingFileNamesThePathInTheMessage) {
  RegisterFormat("fake", "Fake", TFakeGraphic::StaticClass());
  const std::string path = (dir_ / "missing.fake").string();
  try {
    FileStream stream(path);
    FAIL();
  } catch (const FileOpenError& error) {
    EXPECT_EQ(std::string(error.what()), "Cannot open file \"" + path + "\". No such file or directory");
  }
}

TEST(Stream, ExactReadsFailShortAndPlainReadsReturnTheCount) {
  MemoryStream stream(std::vector<uint8_t>{1, 2, 3});
  uint8_t buffer[4] = {};
  EXPECT_EQ(stream.Read(buffer, 4), 3u);
  stream.Seek(1);
  EXPECT_THROW(stream.ReadBuffer(buffer, 3), StreamReadError);
  stream.Seek(10);
  EXPECT_EQ(stream.Read(buffer, 1), 0u);
  EXPECT_EQ(stream.Remaining(), 0);
  stream.Seek(0);
  EXPECT_THROW(stream.ReadBytes(1u << 30), StreamReadError);  // checked before allocating
  EXPECT_EQ(stream.ReadRest(), (std::vector<uint8_t>{1, 2, 3}));
  // A view of the stream's own memory is held to its end as well.
  std::vector<uint8_t> storage;
  stream.Seek(1);
  EXPECT_THROW(stream.ReadView(3, storage), StreamReadError);
  const auto view = stream.ReadView(2, storage);
  EXPECT_EQ(std::vector<uint8_t>(view.begin(), view.end()), (std::vector<uint8_t>{2, 3}));
}

}  // namespace
}  // namespace pictures
