// The Import action and the keyword buttons: what reaches the clipboard and the host
// settings file, the bitmap file written for a picture the host cannot read, and every
// way the action can stop with the dialog still open.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QTest>

#include <functional>

#include "dialog/form.h"
#include "pictures/bitmap.h"
#include "pictures/registry.h"
#include "platform/clipboard.h"
#include "platform/ini_file.h"
#include "platform/paths.h"
#include "support/dialog_env.h"

using dialog_test::ClickEntry;
using dialog_test::DialogWorld;
using platform::MessageKind;

namespace {

struct Rgb {
  uint8_t r, g, b;
};

// The test picture: every pixel different from its neighbours, so that a shift, a flip or
// a scaling shows.
Rgb PixelAt(int x, int y) {
  return {uint8_t(x * 7 + 3), uint8_t(y * 5 + 11), uint8_t((x ^ y) * 3)};
}

// A 24-bit PCX file: three planes of 8 bits, run-length packed per plane and row.
QByteArray PcxFile(int width, int height) {
  const int bytesperline = (width + 1) & ~1;  // even, as the format asks
  QByteArray file(128, '\0');
  auto put16 = [&](int at, int value) {
    file[at] = char(value & 0xFF);
    file[at + 1] = char(value >> 8);
  };
  file[0] = 0x0A;         // manufacturer
  file[1] = 5;            // version 3.0 and later
  file[2] = 1;            // run-length packed
  file[3] = 8;            // bits per pixel and plane
  put16(4, 0);            // xmin
  put16(6, 0);            // ymin
  put16(8, width - 1);    // xmax
  put16(10, height - 1);  // ymax
  put16(12, 72);          // horizontal resolution
  put16(14, 72);          // vertical resolution
  file[65] = 3;           // planes: red, green, blue
  put16(66, bytesperline);
  put16(68, 1);  // colour palette information
  for (int y = 0; y < height; ++y) {
    for (int plane = 0; plane < 3; ++plane) {
      for (int x = 0; x < bytesperline; ++x) {
        const Rgb p = x < width ? PixelAt(x, y) : Rgb{0, 0, 0};
        const uint8_t value = plane == 0 ? p.r : plane == 1 ? p.g : p.b;
        // Values with the two top bits set must be written as runs of one.
        if ((value & 0xC0) == 0xC0) file.append(char(0xC1));
        file.append(char(value));
      }
    }
  }
  return file;
}

// Expects the bitmap file to hold the test picture at 24 bits per pixel.
void ExpectTestPicture(const QString& hostpath, int width, int height) {
  pictures::Bitmap saved;
  ASSERT_NO_THROW(saved.LoadFile(QFile::encodeName(hostpath).toStdString())) << hostpath.toStdString();
  ASSERT_EQ(saved.GetPixelFormat(), pictures::PixelFormat::Bits24);
  ASSERT_EQ(saved.Width(), width);
  ASSERT_EQ(saved.Height(), height);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = saved.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      const Rgb p = PixelAt(x, y);
      ASSERT_EQ(row[3 * x + 2], p.r) << x << "," << y;
      ASSERT_EQ(row[3 * x + 1], p.g) << x << "," << y;
      ASSERT_EQ(row[3 * x], p.b) << x << "," << y;
    }
  }
}

// Passes every question on to the recording prompts, and lets a test look at the window
// while a message box is open.
class WatchingPrompts : public platform::Prompts {
 public:
  explicit WatchingPrompts(platform::FakePrompts& inner) : inner_(inner), scoped_(this) {}
  std::function<void(MessageKind, const QString&)> onmessage;

  platform::MessageAnswer Message(MessageKind kind, const QString& text, platform::MessageButtons buttons) override {
    if (onmessage) onmessage(kind, text);
    return inner_.Message(kind, text, buttons);
  }
  std::optional<QString> SaveFile(const platform::SaveFileRequest& request) override {
    return inner_.SaveFile(request);
  }

 private:
  platform::FakePrompts& inner_;
  platform::ScopedPrompts scoped_;
};

class Import : public ::testing::Test {
 protected:
  void SetUp() override {
    pictures::RegisterReaders();
    platform::SetApplicationTitle(QStringLiteral("Select File"));
    world.tree.MakeDir(QStringLiteral("c/pics"));
    world.tree.MakeDir(QStringLiteral("c/out"));
    world.WriteSettings("[Other]\r\nKey=kept\r\n[Paths]\r\nImport=C:\\pics\\\r\n");
  }

  // Opens the dialog in C:\PICS\, selects the file by a click and leaves a mark on the
  // clipboard, so that a test can tell whether the dialog wrote to it.
  TForm1* OpenAndSelect(const QString& name) {
    TForm1* form = world.Open();
    EXPECT_EQ(form->currentpath, QStringLiteral("C:\\PICS\\"));
    ClickEntry(*form, name);
    EXPECT_EQ(form->labelfilename, QStringLiteral("C:\\PICS\\") + name);
    EXPECT_TRUE(platform::SetClipboardText(QStringLiteral("mark")));
    return form;
  }

  void ClickImport(TForm1* form) {
    ASSERT_TRUE(form->dopen->isEnabled());
    QTest::mouseClick(form->dopen, Qt::LeftButton);
  }

  QString ImportSetting() const {
    return platform::GetPrivateProfileString(QStringLiteral("Paths"), QStringLiteral("Import"), QStringLiteral("<none>"),
                                             world.form()->systemfolder() + QStringLiteral("\\tolva.ini"));
  }

  QByteArray SettingsBytes() const {
    QFile file(world.tree.Path(QStringLiteral("sys/tolva.ini")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  // What the preview area shows on the screen.
  static QImage Preview(TForm1* form) {
    return form->screen()->grabWindow(form->winId(), 392, 264, 160, 140).toImage();
  }

  // The dialog is still open and has handed nothing over.
  void ExpectNothingHandedOver(TForm1* form, const QByteArray& settingsbefore) {
    EXPECT_FALSE(form->terminated);
    EXPECT_EQ(platform::GetClipboardText(), QStringLiteral("mark"));
    EXPECT_EQ(SettingsBytes(), settingsbefore);
  }

  DialogWorld world;
};

TEST_F(Import, DirectTypesAreHandedOverAsTheyAre) {
  const struct {
    const char* name;
    const char* handed;
  } cases[] = {
      {"Sunset.bmp", "C:\\PICS\\SUNSET.BMP"},
      {"photo.JPG", "C:\\PICS\\PHOTO.JPG"},
      {"drawing.ai", "C:\\PICS\\DRAWING.AI"},
      {"figure.Eps", "C:\\PICS\\FIGURE.EPS"},
      {"curves.crv", "C:\\PICS\\CURVES.CRV"},
      {"Site plan final.dxf", "C:\\PICS\\SITE PLAN FINAL.DXF"},
      {"zebra.bmp", "C:\\PICS\\ZEBRA.BMP"},
      // Letters outside a to z keep their case.
      {"äpfel.bmp", "C:\\PICS\\äPFEL.BMP"},
  };
  for (const auto& c : cases) world.tree.WriteFile(QStringLiteral("c/pics/") + QString::fromUtf8(c.name), "x");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TForm1* form = OpenAndSelect(QString::fromUtf8(c.name));
    ClickImport(form);
    EXPECT_TRUE(world.prompts.saveRequests.empty());
    EXPECT_TRUE(world.prompts.messages.empty());
    EXPECT_EQ(platform::GetClipboardText(), QString::fromUtf8(c.handed));
    EXPECT_EQ(ImportSetting(), QStringLiteral("C:\\PICS\\"));
    EXPECT_TRUE(form->terminated);
    // Nothing was written beside the file.
    EXPECT_EQ(QDir(world.tree.Path(QStringLiteral("c/pics"))).count(), std::size(cases) + 2);
  }
  // The rest of the settings file is as it was.
  EXPECT_EQ(SettingsBytes(), QByteArray("[Other]\r\nKey=kept\r\n[Paths]\r\nImport=C:\\PICS\\\r\n"));
}

TEST_F(Import, PictureIsConvertedToABitmapFileThatIsHandedOver) {
  world.tree.WriteFile(QStringLiteral("c/pics/Sunset.pcx"), PcxFile(200, 150));
  TForm1* form = OpenAndSelect(QStringLiteral("Sunset.pcx"));

  // While the information box is open, the converted picture shows in the preview area,
  // unscaled and cut at its size.
  WatchingPrompts watching(world.prompts);
  QImage shown;
  watching.onmessage = [&](MessageKind kind, const QString&) {
    if (kind == MessageKind::Information) {
      shown = form->screen()->grabWindow(form->winId(), 392, 264, 160, 140).toImage();
    }
  };
  ClickImport(form);

  ASSERT_EQ(world.prompts.saveRequests.size(), 1u);
  const platform::SaveFileRequest& asked = world.prompts.saveRequests[0];
  EXPECT_EQ(asked.title, QStringLiteral("Save Picture as Bitmap"));
  EXPECT_EQ(asked.filter, QStringLiteral("Windows Bitmap|*.bmp"));
  EXPECT_EQ(asked.defaultExtension, QStringLiteral("bmp"));
  EXPECT_EQ(asked.fileName, QStringLiteral("C:\\PICS\\Sunset.bmp"));
  EXPECT_FALSE(asked.overwritePrompt);

  ASSERT_EQ(world.prompts.messages.size(), 1u);
  EXPECT_EQ(world.prompts.messages[0].kind, MessageKind::Information);
  EXPECT_EQ(world.prompts.messages[0].caption, QStringLiteral("Information"));
  EXPECT_EQ(world.prompts.messages[0].text, QStringLiteral("Converting C:\\PICS\\Sunset.pcx\rto C:\\PICS\\Sunset.bmp"));

  ExpectTestPicture(world.tree.Path(QStringLiteral("c/pics/Sunset.bmp")), 200, 150);
  EXPECT_EQ(platform::GetClipboardText(), QStringLiteral("C:\\PICS\\SUNSET.BMP"));
  EXPECT_EQ(ImportSetting(), QStringLiteral("C:\\PICS\\"));
  EXPECT_TRUE(form->terminated);

  ASSERT_EQ(shown.size(), QSize(160, 140));
  for (int y = 0; y < 140; ++y) {
    for (int x = 0; x < 160; ++x) {
      const Rgb p = PixelAt(x, y);
      ASSERT_EQ(shown.pixel(x, y), qRgb(p.r, p.g, p.b)) << x << "," << y;
    }
  }
  // The next repaint brings the illustration back.
  form->PaintBox3->repaint();
  const QImage after = form->screen()->grabWindow(form->winId(), 392, 264, 160, 140).toImage();
  EXPECT_NE(after, shown);
}

TEST_F(Import, BitmapGoesWhereTheUserSaysAndReplacesAnOlderFileWithoutAQuestion) {
  world.tree.WriteFile(QStringLiteral("c/pics/scan.pcx"), PcxFile(33, 17));
  world.tree.WriteFile(QStringLiteral("c/out/Result.bmp"), "an older file");
  TForm1* form = OpenAndSelect(QStringLiteral("scan.pcx"));
  world.prompts.saveAnswers.push_back(QStringLiteral("C:\\out\\Result.bmp"));
  ClickImport(form);
  ASSERT_EQ(world.prompts.MessageTexts(),
            std::vector<QString>{QStringLiteral("Converting C:\\PICS\\scan.pcx\rto C:\\out\\Result.bmp")});
  ExpectTestPicture(world.tree.Path(QStringLiteral("c/out/Result.bmp")), 33, 17);
  // The folder handed over is the bitmap file's, not the picture's.
  EXPECT_EQ(platform::GetClipboardText(), QStringLiteral("C:\\OUT\\RESULT.BMP"));
  EXPECT_EQ(ImportSetting(), QStringLiteral("C:\\OUT\\"));
  EXPECT_FALSE(QFile::exists(world.tree.Path(QStringLiteral("c/pics/scan.bmp"))));
}

TEST_F(Import, NameWithoutExtensionGetsBmpAppended) {
  world.tree.WriteFile(QStringLiteral("c/pics/noext"), PcxFile(4, 4));
  world.tree.WriteFile(QStringLiteral("c/pics/a.b.tga"), "x");
  TForm1* form = world.Open();
  // A file without extension is not listed, so it is chosen as a file the user typed.
  form->labelfilename = QStringLiteral("C:\\PICS\\noext");
  world.prompts.saveAnswers.push_back(std::nullopt);
  form->dopenClick();
  ClickEntry(*form, QStringLiteral("a.b.tga"));
  world.prompts.saveAnswers.push_back(std::nullopt);
  ClickImport(form);
  ASSERT_EQ(world.prompts.saveRequests.size(), 2u);
  EXPECT_EQ(world.prompts.saveRequests[0].fileName, QStringLiteral("C:\\PICS\\noext.bmp"));
  EXPECT_EQ(world.prompts.saveRequests[1].fileName, QStringLiteral("C:\\PICS\\a.b.bmp"));
}

TEST_F(Import, JpegPictureIsHeldAsAPlainBitmapAfterLoading) {
  const QString jpeg = world.tree.Path(QStringLiteral("c/pics/photo.jpeg"));
  ASSERT_EQ(QProcess::execute(QStringLiteral("/usr/bin/convert"),
                              {QStringLiteral("-size"), QStringLiteral("40x30"), QStringLiteral("gradient:red-blue"), jpeg}),
            0);
  // The file is chosen as if typed.
  TForm1* form = world.Open();
  form->labelfilename = QStringLiteral("C:\\PICS\\photo.jpeg");
  form->dopenClick();
  ASSERT_NE(form->Image1.Graphic(), nullptr);
  EXPECT_EQ(&form->Image1.Graphic()->Class(), &pictures::Bitmap::StaticClass());
  EXPECT_EQ(form->Image1.Width(), 40);
  pictures::Bitmap saved;
  saved.LoadFile(QFile::encodeName(world.tree.Path(QStringLiteral("c/pics/photo.bmp"))).toStdString());
  EXPECT_EQ(saved.Width(), 40);
  EXPECT_EQ(saved.Height(), 30);
  EXPECT_EQ(platform::GetClipboardText(), QStringLiteral("C:\\PICS\\PHOTO.BMP"));
}

// A 24-bit Amiga IFF picture: its BODY holds each row as 24 bit planes, the 8 of red from
// the lowest bit up, then green, then blue, each plane a word-aligned run of bits.
QByteArray IlbmFile(int width, int height) {
  auto chunk = [](const char* id, const QByteArray& data) {
    QByteArray c(id, 4);
    for (int shift = 24; shift >= 0; shift -= 8) c.append(char(data.size() >> shift));
    return c + data + (data.size() % 2 ? QByteArray(1, '\0') : QByteArray());
  };
  QByteArray header(20, '\0');
  header[0] = char(width >> 8), header[1] = char(width);
  header[2] = char(height >> 8), header[3] = char(height);
  header[8] = 24;  // planes; no mask, no compression
  const int planebytes = (width + 15) / 16 * 2;
  QByteArray body;
  for (int y = 0; y < height; ++y) {
    for (int plane = 0; plane < 24; ++plane) {
      QByteArray bits(planebytes, '\0');
      for (int x = 0; x < width; ++x) {
        const Rgb p = PixelAt(x, y);
        const uint8_t value = plane < 8 ? p.r : plane < 16 ? p.g : p.b;
        if (value >> (plane % 8) & 1) bits[x / 8] = char(bits[x / 8] | (0x80 >> (x % 8)));
      }
      body += bits;
    }
  }
  return chunk("FORM", QByteArray("ILBM") + chunk("BMHD", header) + chunk("BODY", body));
}

// Pictures of today's formats, each chosen under its own entry (found by its text), are
// converted like the others. The JPEG XL file is written by cjxl from the PNG file,
// losslessly; the Amiga IFF one is made in the test, and Qt writes the X pixmap.
TEST_F(Import, ModernPictureListedUnderItsTypeIsConvertedAndHandedOver) {
  QImage png(37, 23, QImage::Format_RGB888);
  for (int y = 0; y < png.height(); ++y) {
    for (int x = 0; x < png.width(); ++x) png.setPixel(x, y, qRgb(PixelAt(x, y).r, PixelAt(x, y).g, PixelAt(x, y).b));
  }
  const QString source = world.tree.Path(QStringLiteral("c/pics/Shot.png"));
  ASSERT_TRUE(png.save(source));
  world.tree.WriteFile(QStringLiteral("c/pics/Shot.lbm"), IlbmFile(37, 23));
  ASSERT_TRUE(png.save(world.tree.Path(QStringLiteral("c/pics/Shot.xpm"))));
  const struct {
    const char* entry;
    const char* name;
    const char* program;  // that writes the file from the PNG file, if any
  } cases[] = {{"PNG images (*.png)", "Shot.png", nullptr},
               {"JPEG XL images (*.jxl)", "Shot.jxl", "/usr/bin/cjxl"},
               {"Amiga IFF images (*.iff;*.ilbm;*.lbm)", "Shot.lbm", nullptr},
               {"X pixmap images (*.xpm)", "Shot.xpm", nullptr}};
  for (const auto& c : cases) {
    const QString name = QString::fromUtf8(c.name);
    if (c.program) {
      if (!QFile::exists(QString::fromUtf8(c.program))) {
        if (qEnvironmentVariable("CI") == QStringLiteral("true")) ADD_FAILURE() << c.program << " is missing";
        continue;
      }
      ASSERT_EQ(QProcess::execute(QString::fromUtf8(c.program),
                                  {source, world.tree.Path(QStringLiteral("c/pics/") + name), QStringLiteral("-d"),
                                   QStringLiteral("0"), QStringLiteral("--quiet")}),
                0)
          << c.name;
    }
    TForm1* form = world.Open();
    dialog_test::Choose(form->ComboBox2, form->ComboBox2->findText(QString::fromUtf8(c.entry)));
    ClickEntry(*form, name);
    ClickImport(form);
    ExpectTestPicture(world.tree.Path(QStringLiteral("c/pics/Shot.bmp")), 37, 23);
    EXPECT_EQ(platform::GetClipboardText(), QStringLiteral("C:\\PICS\\SHOT.BMP")) << c.name;
    QFile::remove(world.tree.Path(QStringLiteral("c/pics/Shot.bmp")));
  }
}

TEST_F(Import, CancelledSaveDialogChangesNothing) {
  world.tree.WriteFile(QStringLiteral("c/pics/Sunset.pcx"), PcxFile(8, 8));
  TForm1* form = OpenAndSelect(QStringLiteral("Sunset.pcx"));
  const QByteArray settings = SettingsBytes();
  world.prompts.saveAnswers.push_back(std::nullopt);
  ClickImport(form);
  EXPECT_EQ(world.prompts.saveRequests.size(), 1u);
  EXPECT_TRUE(world.prompts.messages.empty());
  EXPECT_EQ(form->Image1.Graphic(), nullptr);  // nothing was loaded
  EXPECT_FALSE(QFile::exists(world.tree.Path(QStringLiteral("c/pics/Sunset.bmp"))));
  ExpectNothingHandedOver(form, settings);
  // The user can go on and import after all.
  ClickImport(form);
  EXPECT_EQ(platform::GetClipboardText(), QStringLiteral("C:\\PICS\\SUNSET.BMP"));
}

TEST_F(Import, PictureThatCannotBeLoadedIsReportedAndNothingIsHandedOver) {
  world.tree.WriteFile(QStringLiteral("c/pics/good.pcx"), PcxFile(12, 9));
  world.tree.WriteFile(QStringLiteral("c/pics/broken.pcx"), "this is not a picture file at all");
  TForm1* form = OpenAndSelect(QStringLiteral("good.pcx"));
  const QByteArray settings = SettingsBytes();
  // A first conversion that fails at the save leaves its picture in the holder.
  world.prompts.saveAnswers.push_back(QStringLiteral("C:\\nosuchfolder\\good.bmp"));
  ClickImport(form);
  ASSERT_EQ(form->Image1.Width(), 12);

  world.prompts.messages.clear();
  ClickEntry(*form, QStringLiteral("broken.pcx"));
  ClickImport(form);
  ASSERT_EQ(world.prompts.messages.size(), 1u);
  EXPECT_EQ(world.prompts.messages[0].kind, MessageKind::Error);
  EXPECT_EQ(world.prompts.messages[0].caption, QStringLiteral("Error"));
  EXPECT_EQ(world.prompts.messages[0].text, QStringLiteral("Unable to load picture!\r\rC:\\PICS\\broken.pcx"));
  EXPECT_EQ(form->Image1.Width(), 12);  // the previous picture stays
  EXPECT_EQ(QDir(world.tree.Path(QStringLiteral("c/pics"))).entryList(QDir::Files).filter(QStringLiteral(".bmp")),
            QStringList());
  ExpectNothingHandedOver(form, settings);
}

// A file deleted since it was selected, or replaced by a named pipe (which would block a
// reader for ever, and is not listed).
TEST_F(Import, FileDeletedSinceItWasSelectedIsReportedAndNotHandedOver) {
  for (const char* name : {"gone.bmp", "gone.gif", "pipe.tga"}) {
    SCOPED_TRACE(name);
    const QString host = world.tree.Path(QStringLiteral("c/pics/") + QLatin1String(name));
    world.tree.WriteFile(QStringLiteral("c/pics/") + QLatin1String(name), "x");
    TForm1* form = OpenAndSelect(QLatin1String(name));
    const QByteArray settings = SettingsBytes();
    ASSERT_TRUE(QFile::remove(host));
    if (QLatin1String(name) == QLatin1String("pipe.tga")) {
      ASSERT_EQ(mkfifo(QFile::encodeName(host).constData(), 0600), 0);
    }
    ClickImport(form);
    EXPECT_EQ(world.prompts.MessageTexts(), std::vector<QString>{"Sorry, but the file doesn't exist ?!"});
    EXPECT_TRUE(world.prompts.saveRequests.empty());
    EXPECT_EQ(dialog_test::IndexOf(*form, QLatin1String(name)), -1);  // listed afresh
    EXPECT_FALSE(form->dopen->isEnabled());
    ExpectNothingHandedOver(form, settings);
    world.prompts.messages.clear();
  }
}

TEST_F(Import, NamesThatDifferOnlyInCaseAreHandedOverAsTheFileSystemSpellsThem) {
  world.tree.WriteFile(QStringLiteral("c/pics/cat.jpg"), "blue");
  world.tree.WriteFile(QStringLiteral("c/pics/Cat.jpg"), "red");
  world.tree.WriteFile(QStringLiteral("c/Twin/plan.dxf"), "x");
  world.tree.MakeDir(QStringLiteral("c/twin"));
  const struct {
    const char* folder;
    const char* name;
    const char* handed;
  } cases[] = {
      {"C:\\pics\\", "cat.jpg", "C:\\pics\\cat.jpg"},
      {"C:\\pics\\", "Cat.jpg", "C:\\pics\\Cat.jpg"},
      // A twin further up the path counts as well.
      {"C:\\Twin\\", "plan.dxf", "C:\\Twin\\plan.dxf"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    world.WriteSettings(QByteArray("[Paths]\r\nImport=") + c.folder + "\r\n");
    TForm1* form = world.Open();
    ClickEntry(*form, QLatin1String(c.name));
    ClickImport(form);
    EXPECT_EQ(platform::GetClipboardText(), QLatin1String(c.handed));
    EXPECT_EQ(ImportSetting(), QLatin1String(c.folder));
    EXPECT_TRUE(form->terminated);
  }
}

TEST_F(Import, BitmapFileThatCannotBeWrittenIsReportedAndNothingIsHandedOver) {
  world.tree.WriteFile(QStringLiteral("c/pics/Sunset.pcx"), PcxFile(20, 10));
  world.tree.MakeDir(QStringLiteral("c/pics/taken.bmp"));
  const char* answers[] = {
      "C:\\nosuchfolder\\Sunset.bmp",  // a folder that does not exist
      "C:\\pics\\taken.bmp",           // a folder of that name is in the way
  };
  TForm1* form = OpenAndSelect(QStringLiteral("Sunset.pcx"));
  const QByteArray settings = SettingsBytes();
  const QImage illustration = Preview(form);
  for (const char* answer : answers) {
    SCOPED_TRACE(answer);
    world.prompts.messages.clear();
    world.prompts.saveAnswers.push_back(QString::fromUtf8(answer));
    ClickImport(form);
    ASSERT_EQ(world.prompts.messages.size(), 2u);
    EXPECT_EQ(world.prompts.messages[0].kind, MessageKind::Information);
    EXPECT_EQ(world.prompts.messages[1].kind, MessageKind::Error);
    EXPECT_EQ(world.prompts.messages[1].text, QStringLiteral("Unable to save ") + QString::fromUtf8(answer));
    ExpectNothingHandedOver(form, settings);
    // The picture that failed does not stay in the preview area.
    QCoreApplication::processEvents();
    EXPECT_EQ(Preview(form), illustration);
  }
  EXPECT_EQ(QDir(world.tree.Path(QStringLiteral("c/pics"))).entryList(QDir::Files), QStringList{"Sunset.pcx"});
}

TEST_F(Import, PlaceTheHostCannotTakeIsRefusedAndAskedForAgain) {
  world.tree.WriteFile(QStringLiteral("c/pics/victim.pcx"), PcxFile(6, 4));
  ASSERT_TRUE(QFile::link(world.tree.Path(QStringLiteral("c/pics/victim.pcx")), world.tree.Path(QStringLiteral("c/alias.pcx"))));
  world.tree.MakeDir(QStringLiteral("outside"));
  const QString outside = platform::WindowsPath(world.tree.Path(QStringLiteral("outside"))) + QStringLiteral("\\x.bmp");
  ASSERT_TRUE(outside.startsWith(QLatin1Char('\\'))) << outside.toStdString();
  const QString drives = QStringLiteral("Choose a folder on a drive (A: %1/a, C: %1/c, D: %1/d).").arg(world.tree.root());
  const QString source = QStringLiteral(" is the picture being converted, and the bitmap file would take its place. "
                                        "Choose another name.");
  const QString syntax = QStringLiteral(" holds a character that Windows names cannot hold (: * ? \" < > |). "
                                        "Choose another name.");
  const QString another =
      QStringLiteral(" (it ends in a period or a space, or names a device such as CON or NUL). Choose another name.");
  const struct {
    QString answer;
    QString refusal;
  } cases[] = {
      // The picture itself, by its name, in other letter case, or through a link.
      {"C:\\PICS\\victim.pcx", "C:\\PICS\\victim.pcx" + source},
      {"C:\\pics\\VICTIM.PCX", "C:\\pics\\VICTIM.PCX" + source},
      {"C:\\alias.pcx", "C:\\alias.pcx" + source},
      // Off the drive map.
      {outside, "The folder " + world.tree.Path(QStringLiteral("outside/")) +
                    " lies on no drive, so the host could not open the bitmap file there. " + drives},
      {"Q:\\victim.bmp",
       "The folder Q:\\ lies on no drive, so the host could not open the bitmap file there. " + drives},
      // A name a Windows path cannot hold.
      {"C:\\PICS\\colon:name?.bmp", "C:\\PICS\\colon:name?.bmp" + syntax},
      // A name that Windows reads as another file or as a device.
      {"C:\\PICS\\con.bmp", "C:\\PICS\\con.bmp: Windows would not open a file of the name \"con.bmp\"" + another},
      {"C:\\PICS\\victim. ", "C:\\PICS\\victim. : Windows would not open a file of the name \"victim. \"" + another},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer.toStdString());
    TForm1* form = OpenAndSelect(QStringLiteral("victim.pcx"));
    world.prompts.messages.clear();
    world.prompts.saveRequests.clear();
    world.prompts.saveAnswers = {c.answer};
    ClickImport(form);
    // Asked again with the first proposal, which is taken.
    ASSERT_EQ(world.prompts.saveRequests.size(), 2u);
    EXPECT_EQ(world.prompts.saveRequests[1].fileName, QStringLiteral("C:\\PICS\\victim.bmp"));
    ASSERT_EQ(world.prompts.messages.size(), 2u);
    EXPECT_EQ(world.prompts.messages[0].kind, MessageKind::Error);
    EXPECT_EQ(world.prompts.messages[0].text, c.refusal);
    EXPECT_EQ(world.prompts.messages[1].text, QStringLiteral("Converting C:\\PICS\\victim.pcx\rto C:\\PICS\\victim.bmp"));
    EXPECT_EQ(platform::GetClipboardText(), QStringLiteral("C:\\PICS\\VICTIM.BMP"));
    ExpectTestPicture(world.tree.Path(QStringLiteral("c/pics/victim.bmp")), 6, 4);
    EXPECT_EQ(QFile(world.tree.Path(QStringLiteral("c/pics/victim.pcx"))).size(), PcxFile(6, 4).size());
    EXPECT_TRUE(QDir(world.tree.Path(QStringLiteral("outside"))).isEmpty());
  }
}

TEST_F(Import, SettingsFileThatCannotBeWrittenStopsTheHandOver) {
  world.tree.WriteFile(QStringLiteral("c/pics/Sunset.pcx"), PcxFile(5, 5));
  world.tree.WriteFile(QStringLiteral("c/pics/plan.dxf"), "x");
  TForm1* form = OpenAndSelect(QStringLiteral("plan.dxf"));
  // A folder where the settings file should be: it can be neither read nor replaced.
  ASSERT_TRUE(QFile::remove(world.tree.Path(QStringLiteral("sys/tolva.ini"))));
  world.tree.MakeDir(QStringLiteral("sys/tolva.ini"));
  const QString expected =
      QStringLiteral("Unable to write to ") + form->systemfolder() + QStringLiteral("\\tolva.ini.");

  ClickImport(form);
  ASSERT_EQ(world.prompts.messages.size(), 1u);
  EXPECT_EQ(world.prompts.messages[0].kind, MessageKind::ApplicationError);
  EXPECT_EQ(world.prompts.messages[0].caption, QStringLiteral("Select File"));
  EXPECT_EQ(world.prompts.messages[0].text, expected);
  EXPECT_FALSE(form->terminated);
  EXPECT_EQ(platform::GetClipboardText(), QStringLiteral("mark"));

  // When converting, the bitmap file is already written by then.
  world.prompts.messages.clear();
  ClickEntry(*form, QStringLiteral("Sunset.pcx"));
  ClickImport(form);
  ASSERT_EQ(world.prompts.MessageTexts().size(), 2u);
  EXPECT_EQ(world.prompts.MessageTexts()[1], expected);
  ExpectTestPicture(world.tree.Path(QStringLiteral("c/pics/Sunset.bmp")), 5, 5);
  EXPECT_FALSE(form->terminated);
  EXPECT_EQ(platform::GetClipboardText(), QStringLiteral("mark"));
}

TEST_F(Import, FolderThatTheHostsCodePageCannotSpellIsReported) {
  // A host under Wine in a Spanish locale reads the settings file in code page 1252.
  dialog_test::ScopedEnv prefix("IMPORTDLG_WINEPREFIX", world.tree.Path(QStringLiteral("prefix")));
  dialog_test::ScopedEnv locale("LC_ALL", QStringLiteral("es_ES.UTF-8"));
  const QString folder = QString::fromUtf8("\xD0\x9C\xD0\xA3\xD0\x97");  // "МУЗ"
  world.tree.WriteFile(QStringLiteral("c/") + folder + QStringLiteral("/plan.dxf"), "x");
  world.WriteSettings("[Paths]\r\nImport=\r\n");
  TForm1* form = world.Open({}, QStringLiteral("C:\\") + folder + QStringLiteral("\\importdlg"));
  ClickEntry(*form, QStringLiteral("plan.dxf"));
  ASSERT_TRUE(platform::SetClipboardText(QStringLiteral("mark")));

  ClickImport(form);
  ASSERT_EQ(world.prompts.MessageTexts().size(), 1u);
  EXPECT_EQ(world.prompts.MessageTexts()[0],
            QStringLiteral("Unable to write to ") + form->systemfolder() + QStringLiteral("\\tolva.ini."));
  ExpectNothingHandedOver(form, "[Paths]\r\nImport=\r\n");
}

TEST_F(Import, PathTheHostCannotTakeIsRefusedBeforeEitherChannel) {
  // The listing leaves such names out, but a start folder from the settings file may hold
  // one, or lie on no drive.
  world.tree.MakeDir(QStringLiteral("outside"));
  const QByteArray outside = platform::WindowsPath(world.tree.Path(QStringLiteral("outside"))).toUtf8();
  const struct {
    QByteArray folder;
    QString refusal;
  } cases[] = {
      {"C:\\tab\tdir\\", "Unable to hand over C:\\TAB?DIR\\PLAN.DXF: the name holds a control character."},
      {"C:\\colon:dir\\", "Unable to hand over C:\\COLON:DIR\\PLAN.DXF: a name holds a character that Windows "
                           "names cannot hold (: * ? \" < > |)"},
      {outside + "\\", "Unable to hand over " + QString::fromUtf8(outside).toUpper() +
                            "\\PLAN.DXF: the path lies on no drive."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder.toStdString());
    world.prompts.messages.clear();
    const QString host = platform::HostPath(QString::fromUtf8(c.folder));
    world.tree.WriteFile(host.mid(world.tree.root().size() + 1) + QStringLiteral("/plan.dxf"), "x");
    world.WriteSettings("[Paths]\r\nImport=" + c.folder + "\r\n");
    TForm1* form = world.Open();
    ClickEntry(*form, QStringLiteral("plan.dxf"));
    ASSERT_TRUE(platform::SetClipboardText(QStringLiteral("mark")));
    const QByteArray settings = SettingsBytes();
    ClickImport(form);
    EXPECT_EQ(world.prompts.MessageTexts(), std::vector<QString>{c.refusal});
    ExpectNothingHandedOver(form, settings);
  }
}

TEST_F(Import, KeywordButtonsHandOverTheirKeywordOnly) {
  world.tree.WriteFile(QStringLiteral("c/pics/Sunset.bmp"), "x");
  const struct {
    QToolButton* TForm1::*button;
    const char* keyword;
  } cases[] = {{&TForm1::daiload, "AIEPS"}, {&TForm1::SpeedButton6, "DXF"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keyword);
    // A file is selected, and still only the keyword goes.
    TForm1* form = OpenAndSelect(QStringLiteral("Sunset.bmp"));
    const QByteArray settings = SettingsBytes();
    QTest::mouseClick(form->*c.button, Qt::LeftButton);
    EXPECT_EQ(platform::GetClipboardText(), QString::fromUtf8(c.keyword));
    EXPECT_TRUE(form->terminated);
    EXPECT_EQ(SettingsBytes(), settings);
    EXPECT_TRUE(world.prompts.messages.empty());
  }
}

}  // namespace
