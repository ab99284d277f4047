// picconv: converts picture files into 24-bit Windows bitmap files the way the import
// dialog does, or into PNG files, and reports what the picture library makes of a file.
//
//   picconv INPUT OUTPUT.bmp   load INPUT through the format registry (the reader is
//                              chosen by INPUT's extension) and save it as OUTPUT, a
//                              24-bit bitmap of the picture as drawn on a new 24-bit
//                              Bitmap of the same size
//   picconv INPUT OUTPUT.png   the same picture as a PNG file: paletted pictures stay
//                              paletted, pictures with alpha keep it, others are 24-bit
//   picconv --to DIR [--format png|bmp] FILE...
//                              convert every FILE into DIR (PNG unless --format bmp), on
//                              all cores; see picconv_batch.h
//   picconv --info INPUT       print "WIDTH HEIGHT FORMAT" on one line, where FORMAT is
//                              the loaded picture's pixel format: 1, 4, 8, 15, 24, 32 or
//                              device
//   picconv --formats          print the registry, one entry a line in registration
//                              order: extension, tab, description, tab, reader class
//   picconv --version          print the version
//
// Exit status: 0 on success, 1 when the picture cannot be loaded or saved (the error's
// message goes to standard error and no output file is left behind), 2 for bad arguments.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "pictures/bitmap.h"
#include "pictures/png_writer.h"
#include "pictures/registry.h"
#include "program/version.h"
#include "tools/picconv_batch.h"

// Registers the formats that the program adds in front of the library's own (metafiles,
// where they are built) and prepares what reading `input` (and, in batch mode, files of
// the same kind) needs.
void RegisterProgramFormats(int& argc, char** argv, const std::string& input);

namespace {

constexpr const char* kUsage =
    "Usage: picconv INPUT OUTPUT.bmp|OUTPUT.png\n"
    "       picconv --to DIR [--format png|bmp] FILE...\n"
    "       picconv --info INPUT\n"
    "       picconv --formats\n"
    "       picconv --help|--version\n"
    "\n"
    "Converts INPUT, choosing the reader by INPUT's extension, into a 24-bit Windows\n"
    "bitmap file, or into a PNG file when OUTPUT ends in .png (paletted pictures stay\n"
    "paletted, pictures with alpha keep it).\n"
    "\n"
    "  --to DIR       convert every FILE into DIR (created when missing) under its own\n"
    "                name with the new extension; names that two files share get -2, -3...\n"
    "                Files are converted on all cores; a file that fails is reported and\n"
    "                the others go on. On a terminal a progress line shows the count,\n"
    "                the current file and the rate.\n"
    "  --format FMT   png (the default) or bmp, for --to\n"
    "  --info         print \"WIDTH HEIGHT FORMAT\" (FORMAT: 1, 4, 8, 15, 24, 32 or device)\n"
    "  --formats      list the registered extensions, descriptions and reader classes\n"
    "\n"
    "Exit status: 0 on success, 1 when a file cannot be converted (the reason goes to\n"
    "standard error and no output file is left behind), 2 for bad arguments.\n";

int Usage(bool asked) {
  std::fputs(kUsage, asked ? stdout : stderr);
  return asked ? 0 : 2;
}

int Version() {
  std::printf("picconv %s\n", program::VersionText());
  return 0;
}

bool EndsInPng(const std::string& name) {
  const std::string extension = pictures::FileExtension(name);
  return extension.size() == 3 && (extension[0] | 0x20) == 'p' && (extension[1] | 0x20) == 'n' &&
         (extension[2] | 0x20) == 'g';
}

int ConvertToPng(const std::string& input, const std::string& output) {
  pictures::Picture picture;
  picture.LoadFile(input);
  pictures::SavePngToFile(*picture.Graphic(), output);
  return 0;
}

int Convert(const std::string& input, const std::string& output) {
  if (EndsInPng(output)) return ConvertToPng(input, output);
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

// picconv --to DIR [--format png|bmp] FILE...
int Batch(int argc, char** argv) {
  const std::string folder = argv[2];
  int next = 3;
  std::string extension = ".png";
  if (argc > next && std::string(argv[next]) == "--format") {
    const std::string format = argc > next + 1 ? argv[next + 1] : "";
    if (format != "png" && format != "bmp") return Usage(false);
    extension = "." + format;
    next += 2;
  }
  const std::vector<std::string> inputs(argv + next, argv + argc);
  if (folder.empty() || inputs.empty()) return Usage(false);
  // A metafile among the inputs needs the drawing layer, set up once before the threads.
  std::string needs = inputs.front();
  for (const std::string& input : inputs) {
    std::string extension = pictures::FileExtension(input);
    for (char& c : extension) c = char(c | 0x20);
    if (extension == "wmf" || extension == "emf") needs = input;
  }
  RegisterProgramFormats(argc, argv, needs);
  pictures::RegisterReaders();
  return picconv::ConvertAll(inputs, folder, extension,
                             [](const std::string& input, const std::string& output) {
                               Convert(input, output);
                             });
}

}  // namespace

int main(int argc, char** argv) {
  const std::string first = argc > 1 ? argv[1] : "";
  if (argc == 2 && (first == "--help" || first == "-h")) return Usage(true);
  if (argc == 2 && first == "--version") return Version();
  try {
    if (argc >= 3 && first == "--to") return Batch(argc, argv);
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
