// The "Files of Type" list: its entries and icons, the filter state of each choice and
// what the listing then shows.
#include <gtest/gtest.h>

#include <QPainter>
#include <QTest>

#include "dialog/form.h"
#include "dialog/form_pictures.h"
#include "support/dialog_env.h"

using dialog_test::Captions;
using dialog_test::Choose;
using dialog_test::DialogWorld;

namespace {

QStringList List(std::initializer_list<const char*> texts) {
  QStringList list;
  for (const char* text : texts) list << QString::fromUtf8(text);
  return list;
}

// The type flags that are on, by name.
QStringList FlagsOn(const TForm1& form) {
  QStringList on;
  const std::pair<bool, const char*> flags[] = {
      {form.check_AI, "AI"},   {form.check_EPS, "EPS"}, {form.check_crv, "CRV"},         {form.check_WMF, "WMF"},
      {form.check_bmp, "BMP"}, {form.check_jpg, "JPG"}, {form.check_tif, "TIF"},         {form.check_gif, "GIF"},
      {form.check_dxf, "DXF"}, {form.check_allpics, "allpics"}, {form.check_custom, "custom"}};
  for (const auto& [flag, name] : flags) {
    if (flag) on << QString::fromUtf8(name);
  }
  return on;
}

TEST(Filter, SixtyEntries) {
  DialogWorld world;
  TForm1* form = world.Open();
  ASSERT_EQ(form->ComboBox2->count(), 60);
  EXPECT_EQ(form->ComboBox2->itemText(0), QStringLiteral("[ All Files... ]"));
  EXPECT_EQ(form->ComboBox2->itemText(8), QStringLiteral("[ All Picture Files... ]"));
  EXPECT_EQ(form->ComboBox2->itemText(19), QStringLiteral("Portable b&w images (*.pbm)"));
  EXPECT_EQ(form->ComboBox2->itemText(27), QStringLiteral("Word 5.x screen capture images (*.scr)"));
  EXPECT_EQ(form->ComboBox2->itemText(36), QStringLiteral("DXF Autocad"));
  EXPECT_EQ(form->ComboBox2->itemText(37), QStringLiteral("PNG images (*.png)"));
  EXPECT_EQ(form->ComboBox2->itemText(40), QStringLiteral("AVIF images (*.avif)"));
}

TEST(Filter, EachChoiceSetsItsFlagsAndList) {
  const QStringList all28 = List({".BW",  ".CEL", ".CUT", ".DIB", ".ICB", ".PCC", ".PCD", ".PDD", ".PCX", ".PIC",
                                  ".PBM", ".PGM", ".PPM", ".PSD", ".RGB", ".RLA", ".RLE", ".RPF", ".SCR", ".SGI",
                                  ".TGA", ".VDA", ".VST", ".WIN", ".ICO", ".EMF", ".WMF", ".DXF",
                                  ".PNG", ".WEBP", ".HEIC", ".HEIF", ".AVIF", ".JPEG", ".JPE", ".JFIF", ".TIFF",
                                  ".PSB", ".JXL", ".JP2", ".J2K", ".J2C", ".JPF", ".JPX", ".SVG", ".SVGZ", ".MPO",
                                  ".DNG", ".CR2", ".CR3", ".CRW", ".NEF", ".NRW", ".ARW", ".SRF", ".SR2", ".RAF",
                                  ".ORF", ".RW2", ".PEF", ".SRW", ".X3F", ".3FR", ".ERF", ".KDC", ".MRW", ".MOS",
                                  ".EXR", ".XCF", ".IFF", ".ILBM", ".LBM", ".DDS", ".HDR", ".PFM",
                                  ".PHM", ".KRA", ".ORA", ".QOI", ".RAS", ".SUN", ".XPM", ".XBM", ".ICNS", ".CUR"});
  const struct {
    int index;
    QStringList flags;
    QStringList list;
  } cases[] = {
      {0, List({"AI", "EPS", "CRV", "BMP", "JPG", "TIF", "GIF", "DXF", "allpics", "custom"}), all28},
      {1, List({"AI"}), {}},
      {2, List({"EPS"}), {}},
      {3, List({"CRV"}), {}},
      {4, List({"BMP"}), {}},
      {5, List({"JPG"}), {}},
      {6, List({"TIF"}), {}},
      {7, List({"GIF"}), {}},
      {8, List({"BMP", "JPG", "TIF", "GIF", "allpics", "custom"}), all28},
      {9, List({"custom"}), List({".BW"})},
      {17, List({"custom"}), List({".PCX"})},
      {33, List({"custom"}), List({".ICO"})},
      {35, List({"custom"}), List({".WMF"})},
      {36, List({"DXF"}), List({".DXF"})},
      {37, List({"custom"}), List({".PNG"})},
      {38, List({"custom"}), List({".WEBP"})},
      {39, List({"custom"}), List({".HEIC", ".HEIF"})},
      {40, List({"custom"}), List({".AVIF"})},
      {-1, List({"custom"}), {}},
  };
  // Entries added after the first 41 are found by their text.
  const struct {
    const char* caption;
    QStringList list;
  } appended[] = {
      {"JPEG XL images (*.jxl)", List({".JXL"})},
      {"JPEG 2000 images (*.jp2)", List({".JP2", ".J2K", ".J2C", ".JPF", ".JPX"})},
      {"SVG drawings (*.svg)", List({".SVG", ".SVGZ"})},
      {"MPO images (*.mpo)", List({".MPO"})},
      {"Camera raw images (*.dng, *.cr2, *.nef, *.arw, ...)",
       List({".DNG", ".CR2", ".CR3", ".CRW", ".NEF", ".NRW", ".ARW", ".SRF", ".SR2", ".RAF", ".ORF", ".RW2", ".PEF",
             ".SRW", ".X3F", ".3FR", ".ERF", ".KDC", ".MRW", ".MOS"})},
      {"OpenEXR images (*.exr)", List({".EXR"})},
      {"GIMP images (*.xcf)", List({".XCF"})},
      {"Amiga IFF images (*.iff;*.ilbm;*.lbm)", List({".IFF", ".ILBM", ".LBM"})},
      {"DirectDraw Surface textures (*.dds)", List({".DDS"})},
      {"Radiance HDR images (*.hdr)", List({".HDR"})},
      {"Portable float maps (*.pfm;*.phm)", List({".PFM", ".PHM"})},
      {"Krita images (*.kra)", List({".KRA"})},
      {"OpenRaster images (*.ora)", List({".ORA"})},
      {"QOI images (*.qoi)", List({".QOI"})},
      {"Sun raster images (*.ras;*.sun)", List({".RAS", ".SUN"})},
      {"X pixmap images (*.xpm)", List({".XPM"})},
      {"X bitmap images (*.xbm)", List({".XBM"})},
      {"Apple icons (*.icns)", List({".ICNS"})},
      {"Windows cursors (*.cur)", List({".CUR"})},
  };
  DialogWorld world;
  TForm1* form = world.Open();
  for (const auto& c : cases) {
    form->ComboBox2->setCurrentIndex(c.index);
    form->ComboBox2Click();
    EXPECT_EQ(FlagsOn(*form), c.flags) << c.index;
    EXPECT_EQ(form->ListBox1, c.list) << c.index;
  }
  for (const auto& c : appended) {
    const int index = form->ComboBox2->findText(QString::fromUtf8(c.caption));
    ASSERT_GE(index, 41) << c.caption;
    form->ComboBox2->setCurrentIndex(index);
    form->ComboBox2Click();
    EXPECT_EQ(FlagsOn(*form), List({"custom"})) << c.caption;
    EXPECT_EQ(form->ListBox1, c.list) << c.caption;
  }
}

TEST(Filter, WhatEachChoiceLists) {
  DialogWorld world;
  world.tree.MakeDir(QStringLiteral("c/mix/folder"));
  for (const char* name : {"readme.txt", "drawing.dxf", "photo.jpg", "scan.pcx", "clip.wmf", "logo.ai", "page.eps",
                           "trace.crv", "plan.dxf", "PLAN.DXF", "old.photo.bmp", "photo.jpeg", "scan.tiff", "noext",
                           "art.psd", "icon.ico", "Clip2.WMF", "shot.png", "phone.HEIC", "phone2.heif",
                           "web.webp", "film.avif", "big.psb", "old.jfif", "old2.jpe", "still.jxl", "scan.jp2",
                           "cine.j2k", "logo.svg", "logo2.SVGZ", "pair.mpo",
                           "paint.xcf", "shot.NEF", "shot2.cr3", "render.exr", "deluxe.LBM", "sky.hdr",
                           "old.SUN", "arrow.cur"}) {
    world.tree.WriteFile(QStringLiteral("c/mix/") + QLatin1String(name));
  }
  TForm1* form = world.Open();
  form->currentpath = QStringLiteral("C:\\mix\\");
  const struct {
    int index;
    QStringList listed;
  } cases[] = {
      {0, List({"folder", "arrow.cur", "art.psd", "big.psb", "cine.j2k", "clip.wmf", "Clip2.WMF", "deluxe.LBM", "drawing.dxf", "film.avif",
                "icon.ico", "logo.ai", "logo.svg", "logo2.SVGZ", "old.jfif", "old.photo.bmp", "old.SUN", "old2.jpe", "page.eps",
                "paint.xcf", "pair.mpo", "phone.HEIC", "phone2.heif", "photo.jpeg", "photo.jpg", "plan.dxf", "PLAN.DXF",
                "render.exr", "scan.jp2", "scan.pcx", "scan.tiff", "shot.NEF", "shot.png", "shot2.cr3", "sky.hdr", "still.jxl",
                "trace.crv", "web.webp"})},
      {8, List({"folder", "arrow.cur", "art.psd", "big.psb", "cine.j2k", "clip.wmf", "Clip2.WMF", "deluxe.LBM", "drawing.dxf", "film.avif",
                "icon.ico", "logo.svg", "logo2.SVGZ", "old.jfif", "old.photo.bmp", "old.SUN", "old2.jpe", "paint.xcf", "pair.mpo",
                "phone.HEIC", "phone2.heif", "photo.jpeg", "photo.jpg", "plan.dxf", "PLAN.DXF", "render.exr",
                "scan.jp2", "scan.pcx", "scan.tiff", "shot.NEF", "shot.png", "shot2.cr3", "sky.hdr", "still.jxl", "web.webp"})},
      {form->ComboBox2->findText(QStringLiteral("Camera raw images (*.dng, *.cr2, *.nef, *.arw, ...)")),
       List({"folder", "shot.NEF", "shot2.cr3"})},
      {form->ComboBox2->findText(QStringLiteral("JPEG 2000 images (*.jp2)")), List({"folder", "cine.j2k", "scan.jp2"})},
      {form->ComboBox2->findText(QStringLiteral("SVG drawings (*.svg)")), List({"folder", "logo.svg", "logo2.SVGZ"})},
      {39, List({"folder", "phone.HEIC", "phone2.heif"})},
      {38, List({"folder", "web.webp"})},
      {36, List({"folder", "drawing.dxf", "plan.dxf", "PLAN.DXF"})},
      {35, List({"folder", "clip.wmf", "Clip2.WMF"})},
      {4, List({"folder", "old.photo.bmp"})},
      {22, List({"folder", "art.psd"})},
      {16, List({"folder"})},  // ".PDD" only
      {-1, List({"folder"})},
  };
  for (const auto& c : cases) {
    form->ComboBox2->setCurrentIndex(c.index);
    form->ComboBox2Click();
    QStringList listed = Captions(*form);
    // PLAN.DXF and plan.dxf compare equal under the caption key; their order is the
    // file system's.
    if (listed.indexOf(QStringLiteral("PLAN.DXF")) < listed.indexOf(QStringLiteral("plan.dxf"))) {
      listed.swapItemsAt(listed.indexOf(QStringLiteral("PLAN.DXF")), listed.indexOf(QStringLiteral("plan.dxf")));
    }
    EXPECT_EQ(listed, c.listed) << c.index;
    EXPECT_EQ(form->currentpath, QStringLiteral("C:\\mix\\")) << c.index;
  }
}

TEST(Filter, FileTypeTestOnNames) {
  DialogWorld world;
  TForm1* form = world.Open();
  Choose(form->ComboBox2, 0);
  EXPECT_TRUE(form->filetypetest(QStringLiteral("C:\\x\\old.photo.bmp")));
  EXPECT_TRUE(form->filetypetest(QStringLiteral("Scan.Pcx")));
  EXPECT_TRUE(form->filetypetest(QStringLiteral("photo.jpeg")));
  EXPECT_FALSE(form->filetypetest(QStringLiteral("readme.txt")));
  EXPECT_FALSE(form->filetypetest(QStringLiteral("noext")));
  EXPECT_FALSE(form->filetypetest(QStringLiteral("C:\\dir.bmp\\noext")));
  // The custom list counts only while check_custom is on.
  form->ComboBox2->setCurrentIndex(4);
  form->ComboBox2Click();
  form->ListBox1 << QStringLiteral(".PCX");
  EXPECT_FALSE(form->filetypetest(QStringLiteral("scan.pcx")));
  form->check_custom = true;
  EXPECT_TRUE(form->filetypetest(QStringLiteral("scan.pcx")));
}

TEST(Filter, ChoosingWithTheKeyboardAppliesTheFilterAndClearsTheDetails) {
  DialogWorld world;
  world.tree.WriteFile(QStringLiteral("c/k/logo.ai"));
  world.tree.WriteFile(QStringLiteral("c/k/page.eps"));
  world.WriteSettings("[Paths]\r\nImport=C:\\K\\\r\n");
  TForm1* form = world.Open({QString(), QStringLiteral("1")});
  EXPECT_EQ(Captions(*form), List({"logo.ai"}));
  dialog_test::ClickEntry(*form, QStringLiteral("logo.ai"));
  ASSERT_TRUE(form->dopen->isEnabled());
  form->ComboBox2->setFocus();
  QTest::keyClick(form->ComboBox2, Qt::Key_Down);
  EXPECT_EQ(form->ComboBox2->currentIndex(), 2);
  EXPECT_EQ(Captions(*form), List({"page.eps"}));
  EXPECT_FALSE(form->dopen->isEnabled());
  EXPECT_FALSE(form->dcopyit->isEnabled());
  EXPECT_EQ(form->labelfilename, QString());
}

TEST(Filter, EntriesAreDrawnWithTheirIconInFront) {
  DialogWorld world;
  TForm1* form = world.Open();
  using dialog::art::TypeIcon;
  const struct {
    int index;
    TypeIcon icon;
  } cases[] = {{0, TypeIcon::all1}, {2, TypeIcon::ai}, {3, TypeIcon::obj}, {4, TypeIcon::bmp},
               {7, TypeIcon::gif},  {8, TypeIcon::all1}, {20, TypeIcon::all}, {36, TypeIcon::all}};
  for (const auto& c : cases) {
    QImage image(201, 20, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    form->ComboBox2DrawItem(painter, c.index, QRect(0, 0, 201, 20), false);
    painter.end();
    const QImage icon = dialog::art::typeicon(c.icon).toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(image.copy(2, 1, icon.width(), icon.height()), icon) << c.index;
    // The text starts right of the icon.
    bool ink = false;
    for (int x = 23; x < 120 && !ink; ++x) {
      for (int y = 3; y < 18 && !ink; ++y) ink = image.pixel(x, y) != image.pixel(22, 10);
    }
    EXPECT_TRUE(ink) << c.index;
  }
}

}  // namespace
