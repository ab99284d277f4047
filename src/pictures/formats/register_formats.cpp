// The start-up registration of the picture readers, in the registry table's order, and
// their removal at the end of a run.
#include "pictures/registry.h"

// Reader headers (one per reader, added as the readers arrive).
#include "pictures/formats/autodesk.h"
#include "pictures/formats/cut.h"
#include "pictures/formats/psd.h"
#include "pictures/formats/rla.h"
#include "pictures/formats/tiff.h"

namespace pictures {

namespace {
bool registered = false;
}

void RegisterReaders() {
  if (registered) return;
  registered = true;
  // JPEG (libjpeg).
  // ROW 5: RegisterFormat("jpeg", "JPEG Image File", TJPEGImage::StaticClass());
  // ROW 6: RegisterFormat("jpg", "JPEG Image File", TJPEGImage::StaticClass());
  // The readers of this library.
  // ROW 7: RegisterFormat("win", "Truevision images", TTargaGraphic::StaticClass());
  // ROW 8: RegisterFormat("vst", "Truevision images", TTargaGraphic::StaticClass());
  // ROW 9: RegisterFormat("vda", "Truevision images", TTargaGraphic::StaticClass());
  RegisterFormat("tiff", "TIFF images", TTIFFGraphic::StaticClass());
  RegisterFormat("tif", "TIFF images", TTIFFGraphic::StaticClass());
  // ROW 12: RegisterFormat("tga", "Truevision images", TTargaGraphic::StaticClass());
  // ROW 13: RegisterFormat("sgi", "SGI true color images", TSGIGraphic::StaticClass());
  // ROW 14: RegisterFormat("scr", "Word 5.x screen capture images", TPCXGraphic::StaticClass());
  RegisterFormat("rpf", "SGI Wavefront images", TRLAGraphic::StaticClass());
  RegisterFormat("rle", "Windows bitmap", Bitmap::StaticClass());
  RegisterFormat("rla", "SGI Wavefront images", TRLAGraphic::StaticClass());
  // ROW 18: RegisterFormat("rgba", "SGI true color images", TSGIGraphic::StaticClass());
  // ROW 19: RegisterFormat("rgb", "SGI true color images", TSGIGraphic::StaticClass());
  RegisterFormat("psd", "Photoshop images", TPSDGraphic::StaticClass());
  // ROW 21: RegisterFormat("ppm", "Portable pixel map images", TPPMGraphic::StaticClass());
  // ROW 22: RegisterFormat("pgm", "Portable grayscale images", TPPMGraphic::StaticClass());
  // ROW 23: RegisterFormat("pbm", "Portable b&w images", TPPMGraphic::StaticClass());
  RegisterFormat("pic", "Autodesk images", TAutodeskGraphic::StaticClass());
  // ROW 25: RegisterFormat("pcx", "ZSoft PCX images", TPCXGraphic::StaticClass());
  RegisterFormat("pdd", "Photoshop images", TPSDGraphic::StaticClass());
  // ROW 27: RegisterFormat("pcd", "Kodak Photo-CD images", TPCDGraphic::StaticClass());
  // ROW 28: RegisterFormat("pcc", "ZSoft PCC images", TPCXGraphic::StaticClass());
  // ROW 29: RegisterFormat("icb", "Truevision images", TTargaGraphic::StaticClass());
  // ROW 30: RegisterFormat("gif", "CompuServe images", TGIFGraphic::StaticClass());
  RegisterFormat("dib", "Windows bitmap", Bitmap::StaticClass());
  RegisterFormat("cut", "Dr. Halo images", TCUTGraphic::StaticClass());
  RegisterFormat("cel", "Autodesk images", TAutodeskGraphic::StaticClass());
  // ROW 34: RegisterFormat("bw", "SGI black/white images", TSGIGraphic::StaticClass());
}

void UnregisterReaders() {
  if (!registered) return;
  registered = false;
  // UNREGISTER: TTargaGraphic
  UnregisterReaderClass(TTIFFGraphic::StaticClass());
  // UNREGISTER: TSGIGraphic
  // UNREGISTER: TPCXGraphic
  UnregisterReaderClass(TAutodeskGraphic::StaticClass());
  // UNREGISTER: TPCDGraphic
  // UNREGISTER: TPPMGraphic
  UnregisterReaderClass(TCUTGraphic::StaticClass());
  // UNREGISTER: TGIFGraphic
  UnregisterReaderClass(TRLAGraphic::StaticClass());
  UnregisterReaderClass(TPSDGraphic::StaticClass());
  // UNREGISTER: TJPEGImage (the JPEG unit's own end-of-run step, after the readers')
}

}  // namespace pictures
