// Text in Windows code pages: the ANSI code pages that Windows programs read 8-bit text
// files in, and UTF-8. Converted with iconv.
#pragma once

#include <optional>

#include <QByteArray>
#include <QString>

namespace platform {

// The number Windows gives UTF-8 as a code page.
constexpr unsigned CodePageUtf8 = 65001;

// The bytes of `text` in `codePage`; nothing when a character has no spelling there. No
// look-alike is put in its place: a changed character in a path leads somewhere else.
std::optional<QByteArray> EncodeInCodePage(QStringView text, unsigned codePage);

// The text of `bytes` in `codePage`. A byte that the code page leaves undefined reads as
// the character of the same number, as Windows reads the holes of its code pages.
QString DecodeFromCodePage(QByteArrayView bytes, unsigned codePage);

// The ANSI code page that Windows takes for a locale named the POSIX way
// ("ru_RU.UTF-8" gives 1251, "ja_JP" 932, "zh_TW" 950), from its language and, where the
// language is written in more than one way, its country or modifier. Western and unknown
// locales, "C" and "POSIX" give 1252.
unsigned AnsiCodePageOfLocale(QStringView locale);

// The locale that decides the character set of this process: LC_ALL, else LC_CTYPE, else
// LANG, the first that is set and not empty; "C" when none is.
QString CharacterLocale();

}  // namespace platform
