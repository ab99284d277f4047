// Dr. Halo CUT pictures (.cut): run-length packed palette indices, read into an 8-bit
// Bitmap. The colours live in a separate palette file of the same name with the
// extension ".pal"; without one the picture is shown in 256 grey levels.
#pragma once

#include <string>

#include "pictures/bitmap.h"
#include "pictures/palette.h"

namespace pictures {

class TCUTGraphic : public Bitmap {
  PICTURES_READER_CLASS()
 public:
  // Remembers where the picture's palette file would be, then loads the file.
  void LoadFile(const std::string& path) override;
  // Decodes the picture with the palette file named by the last LoadFile, if any.
  void LoadFromStream(Stream& stream) override;

  const std::string& PaletteFileName() const { return paletteFileName_; }

 private:
  std::string paletteFileName_;
};

// The palette file name for a picture: the name with its extension (the text from the last
// "." after the last path separator) replaced by ".pal", or with ".pal" appended.
std::string CUTPaletteName(const std::string& pictureName);

// The file that holds the palette called `name`: the name itself when such a file exists,
// else the first file in its folder whose name matches it without regard to ASCII case,
// else an empty text.
std::string FindCUTPaletteFile(const std::string& name);

// Reads a Dr. Halo palette file: 512-byte blocks, the largest colour index at offset 12 of
// the first block, entries of three 16-bit values of which the low bytes are taken. Raises
// StreamReadError when the file ends before the entries it announces.
LogPalette ReadCUTPalette(Stream& stream);

}  // namespace pictures
