#include "pictures/registry.h"

#include <algorithm>

#include "base/error.h"
#include "pictures/formats/icon.h"

namespace pictures {

namespace {

std::string LowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// The list is made on first use with its own entries: metafiles (when the program has a
// metafile reader), icons and Windows bitmaps.
std::vector<FormatEntry>& FormatList() {
  static std::vector<FormatEntry> list = [] {
    std::vector<FormatEntry> own;
    for (const FormatEntry& entry : MetafileEntries()) own.push_back(entry);
    own.push_back({"ico", "Icons", &TIcon::StaticClass()});
    own.push_back({"bmp", "Bitmaps", &Bitmap::StaticClass()});
    return own;
  }();
  return list;
}

}  // namespace

std::vector<FormatEntry>& MetafileEntries() {
  static std::vector<FormatEntry> entries;
  return entries;
}

void RegisterFormat(const std::string& extension, const std::string& description,
                    const ReaderClass& readerClass) {
  FormatList().push_back({LowerAscii(extension), description, &readerClass});
}

void UnregisterReaderClass(const ReaderClass& readerClass) {
  auto& list = FormatList();
  for (size_t i = list.size(); i-- > 0;)
    if (list[i].readerClass->InheritsFrom(readerClass)) list.erase(list.begin() + i);
}

const std::vector<FormatEntry>& RegisteredFormats() { return FormatList(); }

const ReaderClass* FindReaderClass(const std::string& extension) {
  const std::string wanted = LowerAscii(extension);
  const auto& list = FormatList();
  for (size_t i = list.size(); i-- > 0;)
    if (list[i].extension == wanted) return list[i].readerClass;
  return nullptr;
}

std::string FileExtension(const std::string& fileName) {
  const size_t separator = fileName.find_last_of("\\:/");
  const size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
  const size_t dot = fileName.rfind('.');
  if (dot == std::string::npos || dot < nameStart) return {};
  return fileName.substr(dot + 1);
}

void Picture::LoadFile(const std::string& fileName) {
  const std::string extension = FileExtension(fileName);
  const ReaderClass* readerClass = FindReaderClass(extension);
  if (!readerClass) throw InvalidGraphic("Unknown picture file extension (." + extension + ")");
  std::unique_ptr<Bitmap> graphic = readerClass->create();
  graphic->LoadFile(fileName);
  graphic_ = std::move(graphic);
  if (OnChange) OnChange();
}

void Picture::AssignBitmap(const Bitmap& bitmap) {
  auto copy = std::make_unique<Bitmap>();
  copy->Assign(bitmap);
  graphic_ = std::move(copy);
  if (OnChange) OnChange();
}

}  // namespace pictures
