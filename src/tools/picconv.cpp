// picconv: converts a picture file into a 24-bit Windows bitmap file the way the import
// dialog does, and reports what the picture library makes of a file.
//
//   picconv INPUT OUTPUT.bmp   load INPUT through the format registry (the reader is
//                              chosen by INPUT's extension) and save it as OUTPUT, a
//                              24-bit bitmap of the picture as drawn on a new 24-bit
//                              Bitmap of the same size
//   picconv --info INPUT       print "WIDTH HEIGHT FORMAT" on one line, where FORMAT is
//                              the loaded picture's pixel format: 1, 4, 8, 15, 24, 32 or
//                              device
//   picconv --formats          print the registry, one entry a line in registration
//                              order: extension, tab, description, tab, reader class
//
// Exit status: 0 on success, 1 when the picture cannot be loaded or saved (the error's
// message goes to standard error and no output file is left behind), 2 for bad arguments.
#include <cstdio>
#include <exception>
#include <string>

#include "pictures/bitmap.h"
#include "pictures/registry.h"

// Registers the formats that the program adds in front of the library's own (metafiles,
// where they are built) and prepares what reading `input` needs.
void RegisterProgramFormats(int& argc, char** argv, const std::string& input);

namespace {

constexpr const char* kUsage =
    "Usage: picconv INPUT OUTPUT.bmp\n"
    "       picconv --info INPUT\n"
    "       picconv --formats\n"
    "\n"
    "Converts INPUT into a 24-bit Windows bitmap file, choosing the reader by INPUT's\n"
    "extension. --info prints \"WIDTH HEIGHT FORMAT\" (FORMAT: 1, 4, 8, 15, 24, 32 or\n"
    "device); --formats lists the registered extensions, descriptions and reader classes.\n";

int Usage(bool asked) {
  std::fputs(kUsage, asked ? stdout : stderr);
  return asked ? 0 : 2;
}

int Convert(const std::string& input, const std::string& output) {
  pictures::Picture picture;
  picture.LoadFile(input);
  // The bytes the dialog writes: the picture as drawn on a new 24-bit Bitmap of its size.
  pictures::SaveAs24BitBitmap(*picture.Graphic(), output);
  return 0;
}

int Info(const std::string& input) {
  pictures::Picture picture;
  picture.LoadFile(input);
  const pictures::Bitmap& graphic = *picture.Graphic();
  std::printf("%d %d %s\n", graphic.Width(), graphic.Height(),
              pictures::PixelFormatName(graphic.GetPixelFormat()));
  return 0;
}

int Formats() {
  for (const pictures::FormatEntry& entry : pictures::RegisteredFormats())
    std::printf("%s\t%s\t%s\n", entry.extension.c_str(), entry.description.c_str(),
                entry.readerClass->name);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string first = argc > 1 ? argv[1] : "";
  if (argc == 2 && (first == "--help" || first == "-h")) return Usage(true);
  try {
    const std::string input = argc == 3 ? (first == "--info" ? argv[2] : argv[1]) : "";
    RegisterProgramFormats(argc, argv, input);
    pictures::RegisterReaders();
    if (argc == 2 && first == "--formats") return Formats();
    if (argc == 3 && first == "--info") return Info(argv[2]);
    if (argc == 3 && !first.starts_with("--")) return Convert(argv[1], argv[2]);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  return Usage(false);
}
