// The format registry: which reader class decodes a file, by the file name's extension,
// and the Picture holder that loads files through it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pictures/bitmap.h"
#include "pictures/reader_class.h"

namespace pictures {

struct FormatEntry {
  std::string extension;  // lower-case, without the dot
  std::string description;
  const ReaderClass* readerClass;
};

// Appends an entry; the extension is lower-cased. The list starts with its own entries
// (metafiles, icons, bitmaps) on first use.
void RegisterFormat(const std::string& extension, const std::string& description,
                    const ReaderClass& readerClass);
// Removes, from the last entry to the first, every entry whose class is `readerClass` or
// derives from it.
void UnregisterReaderClass(const ReaderClass& readerClass);
// The entries in registration order.
const std::vector<FormatEntry>& RegisteredFormats();
// The class the last matching entry names for an extension (any case), or nullptr.
const ReaderClass* FindReaderClass(const std::string& extension);

// The extension of a file name: the characters after the last "." that follows the last
// path separator ("\", ":" or "/"), or an empty text.
std::string FileExtension(const std::string& fileName);

// Rows that a program adds in front of the list's own entries before its first use: the
// metafile reader lives with the program's drawing layer, not in this library.
std::vector<FormatEntry>& MetafileEntries();

// Fills the registry with the JPEG entries and the readers' entries, in the table's order.
// Runs once; later calls do nothing until UnregisterReaders.
void RegisterReaders();
// Removes the readers' entries at the end of a run, then the JPEG entries.
void UnregisterReaders();

// Holds one loaded picture.
class Picture {
 public:
  // Loads a file, choosing the reader by the extension. Raises InvalidGraphic
  // ("Unknown picture file extension (.EXT)") before opening the file when no entry
  // matches; on any failure the holder keeps its previous picture.
  void LoadFile(const std::string& fileName);

  Bitmap* Graphic() const { return graphic_.get(); }
  // Makes the holder hold a plain Bitmap copy of `bitmap` instead of its picture.
  void AssignBitmap(const Bitmap& bitmap);
  int Width() const { return graphic_ ? graphic_->Width() : 0; }
  int Height() const { return graphic_ ? graphic_->Height() : 0; }

  // Called after a successful load, so that a control showing the picture can repaint.
  std::function<void()> OnChange;

 private:
  std::unique_ptr<Bitmap> graphic_;
};

}  // namespace pictures
