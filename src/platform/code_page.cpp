#include "platform/code_page.h"

#include <iconv.h>

#include <cerrno>
#include <string>

namespace platform {

namespace {

// An iconv conversion that is closed again on every way out.
class Conversion {
 public:
  Conversion(const std::string& to, const std::string& from)
      : handle_(iconv_open(to.c_str(), from.c_str())) {}
  ~Conversion() {
    if (valid()) iconv_close(handle_);
  }
  Conversion(const Conversion&) = delete;
  Conversion& operator=(const Conversion&) = delete;

  bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // Converts as much of the input as it can. Returns false at a character that cannot be
  // converted (or an incomplete one at the end); `in` then points at it. With `exact`,
  // characters that iconv converts only approximately fail as well.
  bool Convert(const char*& in, size_t& inLeft, QByteArray& out, bool exact) {
    char buffer[256];
    while (inLeft > 0) {
      char* to = buffer;
      size_t toLeft = sizeof buffer;
      const size_t result = iconv(handle_, const_cast<char**>(&in), &inLeft, &to, &toLeft);
      out.append(buffer, qsizetype(to - buffer));
      if (result != size_t(-1)) {
        if (exact && result > 0) return false;
        continue;
      }
      if (errno != E2BIG) return false;
    }
    Flush(out);
    return true;
  }

  // Writes out what the conversion holds back and returns it to its initial state. Some
  // converters keep the last character until the next one shows whether a combining mark
  // follows (CP1258 does), so this comes before anything is put in place of an undefined
  // byte, or the two would change places.
  void Flush(QByteArray& out) {
    char buffer[64];
    char* to = buffer;
    size_t toLeft = sizeof buffer;
    iconv(handle_, nullptr, nullptr, &to, &toLeft);
    out.append(buffer, qsizetype(to - buffer));
  }

 private:
  iconv_t handle_;
};

std::string IconvName(unsigned codePage) { return "CP" + std::to_string(codePage); }

}  // namespace

std::optional<QByteArray> EncodeInCodePage(QStringView text, unsigned codePage) {
  const QByteArray utf8 = text.toUtf8();
  if (codePage == CodePageUtf8) return utf8;
  Conversion conversion(IconvName(codePage), "UTF-8");
  if (!conversion.valid()) return std::nullopt;
  QByteArray out;
  const char* in = utf8.constData();
  size_t inLeft = size_t(utf8.size());
  if (!conversion.Convert(in, inLeft, out, true)) return std::nullopt;
  // Only a spelling that reads back as the same text is one.
  if (DecodeFromCodePage(out, codePage) != text) return std::nullopt;
  return out;
}

QString DecodeFromCodePage(QByteArrayView bytes, unsigned codePage) {
  if (codePage == CodePageUtf8) return QString::fromUtf8(bytes);
  Conversion conversion("UTF-8", IconvName(codePage));
  if (!conversion.valid()) return QString::fromLatin1(bytes);
  QByteArray out;
  const char* in = bytes.data();
  size_t inLeft = size_t(bytes.size());
  while (!conversion.Convert(in, inLeft, out, false)) {
    if (inLeft == 0) break;
    conversion.Flush(out);
    out += QString(QChar(static_cast<unsigned char>(*in))).toUtf8();
    ++in;
    --inLeft;
  }
  return QString::fromUtf8(out);
}

unsigned AnsiCodePageOfLocale(QStringView locale) {
  // "language_COUNTRY.codeset@modifier"
  const qsizetype cut = locale.indexOf(QLatin1Char('.'));
  const QStringView name = cut < 0 ? locale : locale.first(cut);
  const qsizetype at = locale.indexOf(QLatin1Char('@'));
  const QStringView modifier = at < 0 ? QStringView() : locale.mid(at + 1);
  const qsizetype underscore = name.indexOf(QLatin1Char('_'));
  const QString language = (underscore < 0 ? name : name.first(underscore)).toString().toLower();
  const QString country =
      underscore < 0 ? QString() : name.mid(underscore + 1).left(2).toString().toUpper();

  if (language == QLatin1String("zh"))
    return country == QLatin1String("TW") || country == QLatin1String("HK") ||
                   country == QLatin1String("MO")
               ? 950
               : 936;
  if (language == QLatin1String("sr")) return modifier == QLatin1String("latin") ? 1250 : 1251;
  static const struct {
    const char* language;
    unsigned codePage;
  } kLanguages[] = {
      {"ja", 932},   {"ko", 949},   {"th", 874},   {"ru", 1251}, {"uk", 1251}, {"be", 1251},
      {"bg", 1251},  {"mk", 1251},  {"kk", 1251},  {"pl", 1250}, {"cs", 1250}, {"sk", 1250},
      {"hu", 1250},  {"sl", 1250},  {"hr", 1250},  {"bs", 1250}, {"ro", 1250}, {"sq", 1250},
      {"el", 1253},  {"tr", 1254},  {"az", 1254},  {"he", 1255}, {"ar", 1256}, {"fa", 1256},
      {"ur", 1256},  {"lt", 1257},  {"lv", 1257},  {"et", 1257}, {"vi", 1258},
  };
  for (const auto& entry : kLanguages)
    if (language == QLatin1String(entry.language)) return entry.codePage;
  return 1252;
}

QString CharacterLocale() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const QString value = qEnvironmentVariable(name);
    if (!value.isEmpty()) return value;
  }
  return QStringLiteral("C");
}

}  // namespace platform
