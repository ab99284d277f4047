// The start-up registration of the picture readers, in the registry table's order, and
// their removal at the end of a run.
#include "pictures/registry.h"

// One header per reader.
#include "pictures/formats/autodesk.h"
#include "pictures/formats/cut.h"
#include "pictures/formats/dds.h"
#include "pictures/formats/exr.h"
#include "pictures/formats/gif.h"
#include "pictures/formats/heif.h"
#include "pictures/formats/icns.h"
#include "pictures/formats/icon.h"
#include "pictures/formats/ilbm.h"
#include "pictures/formats/jpeg.h"
#include "pictures/formats/jpeg2000.h"
#include "pictures/formats/jxl.h"
#include "pictures/formats/mpo.h"
#include "pictures/formats/openraster.h"
#include "pictures/formats/pcd.h"
#include "pictures/formats/pcx.h"
#include "pictures/formats/pfm.h"
#include "pictures/formats/png.h"
#include "pictures/formats/ppm.h"
#include "pictures/formats/psd.h"
#include "pictures/formats/qoi.h"
#include "pictures/formats/radiance.h"
#include "pictures/formats/raw.h"
#include "pictures/formats/rla.h"
#include "pictures/formats/sgi.h"
#include "pictures/formats/sun_raster.h"
#include "pictures/formats/svg.h"
#include "pictures/formats/targa.h"
#include "pictures/formats/tiff.h"
#include "pictures/formats/webp.h"
#include "pictures/formats/xbm.h"
#include "pictures/formats/xcf.h"
#include "pictures/formats/xpm.h"

namespace pictures {

namespace {
bool registered = false;

// The raw files of the cameras LibRaw reads, by the extensions their makers give them.
constexpr const char* kCameraRawExtensions[] = {
    "dng", "cr2", "cr3", "crw", "nef", "nrw", "arw", "srf", "sr2", "raf",
    "orf", "rw2", "pef", "srw", "x3f", "3fr", "erf", "kdc", "mrw", "mos"};
}  // namespace

void RegisterReaders() {
  if (registered) return;
  registered = true;
  // JPEG (libjpeg).
  RegisterFormat("jpeg", "JPEG Image File", TJPEGImage::StaticClass());
  RegisterFormat("jpg", "JPEG Image File", TJPEGImage::StaticClass());
  // The readers of this library.
  RegisterFormat("win", "Truevision images", TTargaGraphic::StaticClass());
  RegisterFormat("vst", "Truevision images", TTargaGraphic::StaticClass());
  RegisterFormat("vda", "Truevision images", TTargaGraphic::StaticClass());
  RegisterFormat("tiff", "TIFF images", TTIFFGraphic::StaticClass());
  RegisterFormat("tif", "TIFF images", TTIFFGraphic::StaticClass());
  RegisterFormat("tga", "Truevision images", TTargaGraphic::StaticClass());
  RegisterFormat("sgi", "SGI true color images", TSGIGraphic::StaticClass());
  RegisterFormat("scr", "Word 5.x screen capture images", TPCXGraphic::StaticClass());
  RegisterFormat("rpf", "SGI Wavefront images", TRLAGraphic::StaticClass());
  RegisterFormat("rle", "Windows bitmap", Bitmap::StaticClass());
  RegisterFormat("rla", "SGI Wavefront images", TRLAGraphic::StaticClass());
  RegisterFormat("rgba", "SGI true color images", TSGIGraphic::StaticClass());
  RegisterFormat("rgb", "SGI true color images", TSGIGraphic::StaticClass());
  RegisterFormat("psd", "Photoshop images", TPSDGraphic::StaticClass());
  RegisterFormat("ppm", "Portable pixel map images", TPPMGraphic::StaticClass());
  RegisterFormat("pgm", "Portable grayscale images", TPPMGraphic::StaticClass());
  RegisterFormat("pbm", "Portable b&w images", TPPMGraphic::StaticClass());
  RegisterFormat("pic", "Autodesk images", TAutodeskGraphic::StaticClass());
  RegisterFormat("pcx", "ZSoft PCX images", TPCXGraphic::StaticClass());
  RegisterFormat("pdd", "Photoshop images", TPSDGraphic::StaticClass());
  RegisterFormat("pcd", "Kodak Photo-CD images", TPCDGraphic::StaticClass());
  RegisterFormat("pcc", "ZSoft PCC images", TPCXGraphic::StaticClass());
  RegisterFormat("icb", "Truevision images", TTargaGraphic::StaticClass());
  RegisterFormat("gif", "CompuServe images", TGIFGraphic::StaticClass());
  RegisterFormat("dib", "Windows bitmap", Bitmap::StaticClass());
  RegisterFormat("cut", "Dr. Halo images", TCUTGraphic::StaticClass());
  RegisterFormat("cel", "Autodesk images", TAutodeskGraphic::StaticClass());
  RegisterFormat("bw", "SGI black/white images", TSGIGraphic::StaticClass());
  // Beyond the original table: large-document Photoshop files.
  RegisterFormat("psb", "Photoshop images", TPSDGraphic::StaticClass());
  // Today's formats, through their own libraries, and the longer JPEG spellings.
  RegisterFormat("png", "PNG images", TPNGGraphic::StaticClass());
  RegisterFormat("webp", "WebP images", TWebPGraphic::StaticClass());
  RegisterFormat("heic", "HEIF images", THEIFGraphic::StaticClass());
  RegisterFormat("heif", "HEIF images", THEIFGraphic::StaticClass());
  RegisterFormat("avif", "AVIF images", TAVIFGraphic::StaticClass());
  RegisterFormat("jpe", "JPEG Image File", TJPEGImage::StaticClass());
  RegisterFormat("jfif", "JPEG Image File", TJPEGImage::StaticClass());
  RegisterFormat("jxl", "JPEG XL images", TJXLGraphic::StaticClass());
  RegisterFormat("jp2", "JPEG 2000 images", TJPEG2000Graphic::StaticClass());
  RegisterFormat("j2k", "JPEG 2000 images", TJPEG2000Graphic::StaticClass());
  RegisterFormat("j2c", "JPEG 2000 images", TJPEG2000Graphic::StaticClass());
  RegisterFormat("jpf", "JPEG 2000 images", TJPEG2000Graphic::StaticClass());
  RegisterFormat("jpx", "JPEG 2000 images", TJPEG2000Graphic::StaticClass());
  RegisterFormat("svg", "SVG drawings", TSVGGraphic::StaticClass());
  RegisterFormat("svgz", "SVG drawings", TSVGGraphic::StaticClass());
  RegisterFormat("mpo", "MPO images", TMPOGraphic::StaticClass());
  // Photographers' and renderers' formats, through their own libraries.
  for (const char* extension : kCameraRawExtensions)
    RegisterFormat(extension, "Camera raw images", TRAWGraphic::StaticClass());
  RegisterFormat("exr", "OpenEXR images", TEXRGraphic::StaticClass());
  // Pictures of other paint programs, read by our own readers.
  RegisterFormat("xcf", "GIMP images", TXCFGraphic::StaticClass());
  // Our own readers of the formats of other paint programs, older machines and games.
  RegisterFormat("iff", "Amiga IFF images", TILBMGraphic::StaticClass());
  RegisterFormat("ilbm", "Amiga IFF images", TILBMGraphic::StaticClass());
  RegisterFormat("lbm", "Amiga IFF images", TILBMGraphic::StaticClass());
  RegisterFormat("dds", "DirectDraw Surface textures", TDDSGraphic::StaticClass());
  RegisterFormat("hdr", "Radiance HDR images", TRadianceGraphic::StaticClass());
  RegisterFormat("pfm", "Portable float maps", TPFMGraphic::StaticClass());
  RegisterFormat("phm", "Portable float maps", TPFMGraphic::StaticClass());
  // Pictures of other paint programs and older platforms, read by our own readers.
  RegisterFormat("kra", "Krita images", TKRAGraphic::StaticClass());
  RegisterFormat("ora", "OpenRaster images", TORAGraphic::StaticClass());
  RegisterFormat("qoi", "QOI images", TQOIGraphic::StaticClass());
  RegisterFormat("ras", "Sun raster images", TSunRasterGraphic::StaticClass());
  RegisterFormat("sun", "Sun raster images", TSunRasterGraphic::StaticClass());
  RegisterFormat("xpm", "X pixmap images", TXPMGraphic::StaticClass());
  RegisterFormat("xbm", "X bitmap images", TXBMGraphic::StaticClass());
  RegisterFormat("icns", "Apple icons", TICNSGraphic::StaticClass());
  RegisterFormat("cur", "Windows cursors", TCURGraphic::StaticClass());
}

void UnregisterReaders() {
  if (!registered) return;
  registered = false;
  UnregisterReaderClass(TTargaGraphic::StaticClass());
  UnregisterReaderClass(TTIFFGraphic::StaticClass());
  UnregisterReaderClass(TSGIGraphic::StaticClass());
  UnregisterReaderClass(TPCXGraphic::StaticClass());
  UnregisterReaderClass(TAutodeskGraphic::StaticClass());
  UnregisterReaderClass(TPCDGraphic::StaticClass());
  UnregisterReaderClass(TPPMGraphic::StaticClass());
  UnregisterReaderClass(TCUTGraphic::StaticClass());
  UnregisterReaderClass(TGIFGraphic::StaticClass());
  UnregisterReaderClass(TRLAGraphic::StaticClass());
  UnregisterReaderClass(TPSDGraphic::StaticClass());
  UnregisterReaderClass(TPNGGraphic::StaticClass());  // and the Krita and OpenRaster readers
  UnregisterReaderClass(TWebPGraphic::StaticClass());
  UnregisterReaderClass(THEIFGraphic::StaticClass());  // and TAVIFGraphic, derived from it
  UnregisterReaderClass(TJXLGraphic::StaticClass());
  UnregisterReaderClass(TJPEG2000Graphic::StaticClass());
  UnregisterReaderClass(TSVGGraphic::StaticClass());
  UnregisterReaderClass(TMPOGraphic::StaticClass());
  UnregisterReaderClass(TRAWGraphic::StaticClass());
  UnregisterReaderClass(TEXRGraphic::StaticClass());
  UnregisterReaderClass(TXCFGraphic::StaticClass());
  UnregisterReaderClass(TILBMGraphic::StaticClass());
  UnregisterReaderClass(TDDSGraphic::StaticClass());
  UnregisterReaderClass(TRadianceGraphic::StaticClass());
  UnregisterReaderClass(TPFMGraphic::StaticClass());
  UnregisterReaderClass(TQOIGraphic::StaticClass());
  UnregisterReaderClass(TSunRasterGraphic::StaticClass());
  UnregisterReaderClass(TXPMGraphic::StaticClass());
  UnregisterReaderClass(TXBMGraphic::StaticClass());
  UnregisterReaderClass(TICNSGraphic::StaticClass());
  UnregisterReaderClass(TCURGraphic::StaticClass());
  // The JPEG unit's own end-of-run step, after the readers'.
  UnregisterReaderClass(TJPEGImage::StaticClass());
}

}  // namespace pictures
