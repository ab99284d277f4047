// The "Files of Type" list: its entries with their icons, the filter state that a
// choice sets, and the file-type test that the listing applies to every file.
#include <QPainter>

#include "dialog/form.h"
#include "dialog/form_pictures.h"

using dialog::art::TypeIcon;

const std::array<QString, 60> TForm1::filetypes = {
    QStringLiteral("[ All Files... ]"),
    QStringLiteral("Adobe Illustrator (*.ai)"),
    QStringLiteral("EPS (encapsulated postscript)"),
    QStringLiteral("Traced Curves (*.crv)"),
    QStringLiteral("Windows Bitmap (*.bmp)"),
    QStringLiteral("JPEG Image (*.jpg)"),
    QStringLiteral("Tiff Image (*.tif)"),
    QStringLiteral("Gif Image (*.gif)"),
    QStringLiteral("[ All Picture Files... ]"),
    QStringLiteral("SGI black/white images (*.bw)"),
    QStringLiteral("Autodesk images (*.cel)"),
    QStringLiteral("Dr. Halo images (*.cut)"),
    QStringLiteral("Windows Bitmap (*.dib)"),
    QStringLiteral("Truevision images (*.icb)"),
    QStringLiteral("ZSoft PCC images (*.pcc)"),
    QStringLiteral("Kodak Photo-CD images (*.pcd)"),
    QStringLiteral("Photoshop images (*.pdd)"),
    QStringLiteral("ZSoft PCX images (*.pcx)"),
    QStringLiteral("Autodesk images (*.pic)"),
    QStringLiteral("Portable b&w images (*.pbm)"),
    QStringLiteral("Portable grayscale images (*.pgm)"),
    QStringLiteral("Portable pixel map images (*.ppm)"),
    QStringLiteral("Photoshop images (*.psd)"),
    QStringLiteral("SGI true color images (*.rgb)"),
    QStringLiteral("SGI Wavefront images (*.rla)"),
    QStringLiteral("Windows bitmap (*.rle)"),
    QStringLiteral("SGI Wavefront images (*.rpf)"),
    QStringLiteral("Word 5.x screen capture images (*.scr)"),
    QStringLiteral("SGI true color images (*.sgi)"),
    QStringLiteral("Truevision images (*.tga)"),
    QStringLiteral("Truevision images (*.vda)"),
    QStringLiteral("Truevision images (*.vst)"),
    QStringLiteral("Truevision images (*.win)"),
    QStringLiteral("Icons (*.ico)"),
    QStringLiteral("Enhanced Metafiles (*.emf)"),
    QStringLiteral("Metafiles (*.wmf)"),
    QStringLiteral("DXF Autocad"),
    QStringLiteral("PNG images (*.png)"),
    QStringLiteral("WebP images (*.webp)"),
    QStringLiteral("HEIF images (*.heic)"),
    QStringLiteral("AVIF images (*.avif)"),
    QStringLiteral("JPEG XL images (*.jxl)"),
    QStringLiteral("JPEG 2000 images (*.jp2)"),
    QStringLiteral("SVG drawings (*.svg)"),
    QStringLiteral("MPO images (*.mpo)"),
    QStringLiteral("Camera raw images (*.dng, *.cr2, *.nef, *.arw, ...)"),
    QStringLiteral("OpenEXR images (*.exr)"),
    QStringLiteral("GIMP images (*.xcf)"),
    QStringLiteral("Amiga IFF images (*.iff;*.ilbm;*.lbm)"),
    QStringLiteral("DirectDraw Surface textures (*.dds)"),
    QStringLiteral("Radiance HDR images (*.hdr)"),
    QStringLiteral("Portable float maps (*.pfm;*.phm)"),
    QStringLiteral("Krita images (*.kra)"),
    QStringLiteral("OpenRaster images (*.ora)"),
    QStringLiteral("QOI images (*.qoi)"),
    QStringLiteral("Sun raster images (*.ras;*.sun)"),
    QStringLiteral("X pixmap images (*.xpm)"),
    QStringLiteral("X bitmap images (*.xbm)"),
    QStringLiteral("Apple icons (*.icns)"),
    QStringLiteral("Windows cursors (*.cur)"),
};

// Entry 9 + k of the list belongs to extension k.
const std::array<QString, 28> TForm1::pictureextensions = {
    QStringLiteral(".BW"),  QStringLiteral(".CEL"), QStringLiteral(".CUT"), QStringLiteral(".DIB"),
    QStringLiteral(".ICB"), QStringLiteral(".PCC"), QStringLiteral(".PCD"), QStringLiteral(".PDD"),
    QStringLiteral(".PCX"), QStringLiteral(".PIC"), QStringLiteral(".PBM"), QStringLiteral(".PGM"),
    QStringLiteral(".PPM"), QStringLiteral(".PSD"), QStringLiteral(".RGB"), QStringLiteral(".RLA"),
    QStringLiteral(".RLE"), QStringLiteral(".RPF"), QStringLiteral(".SCR"), QStringLiteral(".SGI"),
    QStringLiteral(".TGA"), QStringLiteral(".VDA"), QStringLiteral(".VST"), QStringLiteral(".WIN"),
    QStringLiteral(".ICO"), QStringLiteral(".EMF"), QStringLiteral(".WMF"), QStringLiteral(".DXF"),
};

namespace {

// The raw files of the cameras that the picture library reads.
const QStringList kCameraRawExtensions = {
    QStringLiteral(".DNG"), QStringLiteral(".CR2"), QStringLiteral(".CR3"), QStringLiteral(".CRW"),
    QStringLiteral(".NEF"), QStringLiteral(".NRW"), QStringLiteral(".ARW"), QStringLiteral(".SRF"),
    QStringLiteral(".SR2"), QStringLiteral(".RAF"), QStringLiteral(".ORF"), QStringLiteral(".RW2"),
    QStringLiteral(".PEF"), QStringLiteral(".SRW"), QStringLiteral(".X3F"), QStringLiteral(".3FR"),
    QStringLiteral(".ERF"), QStringLiteral(".KDC"), QStringLiteral(".MRW"), QStringLiteral(".MOS"),
};

}  // namespace

const std::array<QStringList, 23> TForm1::modernextensions = {
    QStringList{QStringLiteral(".PNG")},
    QStringList{QStringLiteral(".WEBP")},
    QStringList{QStringLiteral(".HEIC"), QStringLiteral(".HEIF")},
    QStringList{QStringLiteral(".AVIF")},
    QStringList{QStringLiteral(".JXL")},
    QStringList{QStringLiteral(".JP2"), QStringLiteral(".J2K"), QStringLiteral(".J2C"), QStringLiteral(".JPF"),
                QStringLiteral(".JPX")},
    QStringList{QStringLiteral(".SVG"), QStringLiteral(".SVGZ")},
    QStringList{QStringLiteral(".MPO")},
    kCameraRawExtensions,
    QStringList{QStringLiteral(".EXR")},
    QStringList{QStringLiteral(".XCF")},
    QStringList{QStringLiteral(".IFF"), QStringLiteral(".ILBM"), QStringLiteral(".LBM")},
    QStringList{QStringLiteral(".DDS")},
    QStringList{QStringLiteral(".HDR")},
    QStringList{QStringLiteral(".PFM"), QStringLiteral(".PHM")},
    QStringList{QStringLiteral(".KRA")},
    QStringList{QStringLiteral(".ORA")},
    QStringList{QStringLiteral(".QOI")},
    QStringList{QStringLiteral(".RAS"), QStringLiteral(".SUN")},
    QStringList{QStringLiteral(".XPM")},
    QStringList{QStringLiteral(".XBM")},
    QStringList{QStringLiteral(".ICNS")},
    QStringList{QStringLiteral(".CUR")},
};

const QStringList TForm1::morepictureextensions = QStringList{
    QStringLiteral(".PNG"),  QStringLiteral(".WEBP"), QStringLiteral(".HEIC"), QStringLiteral(".HEIF"),
    QStringLiteral(".AVIF"), QStringLiteral(".JPEG"), QStringLiteral(".JPE"),  QStringLiteral(".JFIF"),
    QStringLiteral(".TIFF"), QStringLiteral(".PSB"),  QStringLiteral(".JXL"),  QStringLiteral(".JP2"),
    QStringLiteral(".J2K"),  QStringLiteral(".J2C"), QStringLiteral(".JPF"),  QStringLiteral(".JPX"),
    QStringLiteral(".SVG"),  QStringLiteral(".SVGZ"), QStringLiteral(".MPO"),
} + kCameraRawExtensions + QStringList{
    QStringLiteral(".EXR"),  QStringLiteral(".XCF"), QStringLiteral(".IFF"),  QStringLiteral(".ILBM"),
    QStringLiteral(".LBM"),  QStringLiteral(".DDS"), QStringLiteral(".HDR"),  QStringLiteral(".PFM"),
    QStringLiteral(".PHM"),  QStringLiteral(".KRA"), QStringLiteral(".ORA"),  QStringLiteral(".QOI"),
    QStringLiteral(".RAS"),  QStringLiteral(".SUN"), QStringLiteral(".XPM"),  QStringLiteral(".XBM"),
    QStringLiteral(".ICNS"), QStringLiteral(".CUR"),
};

void TForm1::ComboBox2Click() {
  const int i = ComboBox2->currentIndex();
  check_AI = check_EPS = check_crv = check_WMF = check_bmp = check_jpg = check_tif = check_gif = check_dxf = false;
  check_allpics = check_custom = false;
  ListBox1.clear();
  switch (i) {
    case 0:
      check_AI = check_EPS = check_crv = check_bmp = check_jpg = check_tif = check_gif = check_dxf = true;
      check_allpics = check_custom = true;
      break;
    case 8:
      check_bmp = check_jpg = check_tif = check_gif = true;
      check_allpics = check_custom = true;
      break;
    case 1: check_AI = true; break;
    case 2: check_EPS = true; break;
    case 3: check_crv = true; break;
    case 4: check_bmp = true; break;
    case 5: check_jpg = true; break;
    case 6: check_tif = true; break;
    case 7: check_gif = true; break;
    case 36: check_dxf = true; break;
    default: check_custom = true; break;
  }
  for (int k = 0; k < int(pictureextensions.size()); ++k) {
    if (check_allpics || i == 9 + k) ListBox1 << pictureextensions[size_t(k)];
  }
  if (check_allpics) ListBox1 << morepictureextensions;
  const int modern = i - int(filetypes.size() - modernextensions.size());
  if (modern >= 0 && modern < int(modernextensions.size())) ListBox1 << modernextensions[size_t(modern)];
  setfiles();
}

void TForm1::ComboBox2DrawItem(QPainter& painter, int index, const QRect& rect, bool selected) {
  const QPalette& palette = ComboBox2->palette();
  painter.fillRect(rect, selected ? palette.highlight() : palette.base());
  TypeIcon icon = TypeIcon::all;
  switch (index) {
    case 0:
    case 8: icon = TypeIcon::all1; break;
    case 1:
    case 2: icon = TypeIcon::ai; break;
    case 3: icon = TypeIcon::obj; break;
    case 4: icon = TypeIcon::bmp; break;
    case 5: icon = TypeIcon::jpg; break;
    case 6: icon = TypeIcon::tif; break;
    case 7: icon = TypeIcon::gif; break;
    default: break;
  }
  painter.drawPixmap(rect.left() + 2, rect.top() + 1, dialog::art::typeicon(icon));
  painter.setPen(selected ? palette.highlightedText().color() : palette.text().color());
  painter.drawText(QRect(rect.left() + 23, rect.top() + 3, std::max(0, rect.width() - 23), rect.height() - 3),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, ComboBox2->itemText(index));
}

namespace {

// Compares an extension given as bytes with one given as text, without regard to the
// case of the letters a to z. Other bytes must match exactly; the extensions of the
// filter are all plain ASCII.
bool sameextension(std::string_view bytes, const QString& text) {
  if (qsizetype(bytes.size()) != text.size()) return false;
  for (size_t i = 0; i < bytes.size(); ++i) {
    unsigned c = static_cast<unsigned char>(bytes[i]);
    unsigned t = text[qsizetype(i)].unicode();
    if (c >= 'a' && c <= 'z') c -= 32;
    if (t >= 'a' && t <= 'z') t -= 32;
    if (c != t) return false;
  }
  return true;
}

}  // namespace

bool TForm1::extensionaccepted(std::string_view extension) const {
  static const QString kAI = QStringLiteral(".AI"), kEPS = QStringLiteral(".EPS"), kCRV = QStringLiteral(".CRV"),
                       kWMF = QStringLiteral(".WMF"), kBMP = QStringLiteral(".BMP"), kJPG = QStringLiteral(".JPG"),
                       kTIF = QStringLiteral(".TIF"), kGIF = QStringLiteral(".GIF"), kDXF = QStringLiteral(".DXF");
  const std::pair<bool, const QString&> flags[] = {
      {check_AI, kAI},   {check_EPS, kEPS}, {check_crv, kCRV}, {check_WMF, kWMF}, {check_bmp, kBMP},
      {check_jpg, kJPG}, {check_tif, kTIF}, {check_gif, kGIF}, {check_dxf, kDXF}};
  for (const auto& [on, ext] : flags) {
    if (on && sameextension(extension, ext)) return true;
  }
  if (check_custom) {
    for (const QString& ext : ListBox1) {
      if (sameextension(extension, ext)) return true;
    }
  }
  return false;
}

bool TForm1::filetypetest(const QString& name) const {
  return extensionaccepted(dialog::extensionof(name).toStdString());
}
