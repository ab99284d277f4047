// importdlg-clipboard: keeps the dialog's hand-off text on the clipboard after the dialog
// has ended, as the Windows clipboard keeps it for the host.
//
//   importdlg-clipboard [--wayland] [--seconds N] < TEXT
//   importdlg-clipboard --wayland --empty
//   importdlg-clipboard --help|--version
//
// The dialog starts it with the text (UTF-8, one line) on standard input. The program
// reads the text, forks so that the first process ends at once (the dialog reaps it and
// the server is nobody's child), takes the clipboard selection and writes "ready" on
// standard output, or "error: REASON" when it cannot. It then serves the text until
// another program takes the selection, the display goes away, or N seconds have passed
// (default 24 hours: long enough for any host to read its hand-off, short enough that a
// forgotten server does not live for ever).
//
// Without --wayland it owns the X11 CLIPBOARD (x11_server.cpp); with it, it sets the
// selection of the Wayland compositor through its data-control protocol
// (wayland_server.cpp), which needs no window and no keyboard focus. With --empty it sets
// the compositor's selection to none (ending a server of an earlier hand-off that holds it)
// and ends; on X11 the dialog empties the clipboard itself.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "clipboard/hand_off_text.h"
#include "program/version.h"

namespace clipboard_server {

void Fail(const std::string& reason) {
  std::printf("error: %s\n", reason.c_str());
  std::fflush(stdout);
  std::_Exit(1);
}

void ReportReady() {
  std::printf("ready\n");
  std::fflush(stdout);
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null >= 0) {
    dup2(null, STDOUT_FILENO);
    close(null);
  }
}

}  // namespace clipboard_server

namespace {

using clipboard_server::Fail;

constexpr long kDefaultSeconds = 24L * 60 * 60;
// A hand-off is one path; anything much longer is not one.
constexpr size_t kMaxTextBytes = 64 * 1024;

// The text's Latin-1 bytes, or nothing when the UTF-8 text is malformed or holds a
// character beyond U+00FF. `valid` tells the two apart. Only the shortest spelling of a
// character is UTF-8: a longer one (C0 8A for a line feed) would slip a control character
// past the check of the text's bytes.
std::optional<std::string> Latin1Of(std::string_view utf8, bool& valid) {
  static constexpr uint32_t kSmallestOfLength[] = {0, 0, 0x80, 0x800, 0x10000};
  std::string latin1;
  bool representable = true;
  valid = true;
  for (size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > utf8.size()) {
      valid = false;
      return std::nullopt;
    }
    uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) {
        valid = false;
        return std::nullopt;
      }
      code = (code << 6) | (next & 0x3F);
    }
    if (code < kSmallestOfLength[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      valid = false;
      return std::nullopt;
    }
    if (code > 0xFF) representable = false;
    if (representable) latin1.push_back(static_cast<char>(code));
    i += length;
  }
  if (!representable) return std::nullopt;
  return latin1;
}

bool HoldsControlCharacter(std::string_view utf8) {
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte < 0x20 || byte == 0x7F) return true;
    if (byte == 0xC2 && i + 1 < utf8.size()) {
      const auto next = static_cast<unsigned char>(utf8[i + 1]);
      if (next >= 0x80 && next <= 0x9F) return true;
    }
  }
  return false;
}

std::string ReadAllInput() {
  std::string text;
  char buffer[4096];
  while (true) {
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail("cannot read the text");
    if (n == 0) break;
    text.append(buffer, size_t(n));
    if (text.size() > kMaxTextBytes) Fail("the text is too long for the clipboard");
  }
  return text;
}

struct Options {
  bool wayland = false;
  bool empty = false;
  long seconds = kDefaultSeconds;
};

[[noreturn]] void Usage(bool asked = false) {
  std::fputs("usage: importdlg-clipboard [--wayland] [--seconds N] < TEXT\n"
             "       importdlg-clipboard --wayland --empty\n"
             "       importdlg-clipboard --help|--version\n",
             asked ? stdout : stderr);
  std::exit(asked ? 0 : 2);
}

Options OptionsFromArguments(int argc, char** argv) {
  Options options;
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) Usage(true);
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("importdlg-clipboard %s\n", program::VersionText());
    std::exit(0);
  }
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--wayland") == 0) {
      options.wayland = true;
    } else if (std::strcmp(argv[i], "--empty") == 0) {
      options.empty = true;
    } else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      char* end = nullptr;
      const char* value = argv[++i];
      options.seconds = std::strtol(value, &end, 10);
      if (end == value || *end != 0 || options.seconds <= 0) Usage();
    } else {
      Usage();
    }
  }
  if (options.empty && !options.wayland) Usage();
  return options;
}

// Standard input and error go to /dev/null: the server outlives the dialog's pipes and
// terminal. The dialog starts this program in a session of its own, which the server stays
// in, so that the dialog can stop it with its process group when it does not answer in
// time; started from a shell, the server leaves the shell's session.
void DetachFromTheDialog() {
  const bool ownSession = getsid(0) == getpid();
  const pid_t child = fork();
  if (child < 0) Fail("cannot start the server");
  if (child > 0) std::_Exit(0);
  if (!ownSession) setsid();
  if (chdir("/") != 0) Fail("cannot leave the working folder");
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null >= 0) {
    dup2(null, STDIN_FILENO);
    dup2(null, STDERR_FILENO);
    close(null);
  }
  signal(SIGHUP, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = OptionsFromArguments(argc, argv);
  if (options.empty) {
    clipboard_server::EmptyOnWayland();
    return 0;
  }
  clipboard_server::HandOffText text;
  text.utf8 = ReadAllInput();
  if (text.utf8.empty()) Fail("there is no text to keep");
  // The hand-off is one line; a text that another program would read as several is not
  // served.
  if (HoldsControlCharacter(text.utf8)) Fail("the text holds a control character");
  bool valid = true;
  text.latin1 = Latin1Of(text.utf8, valid);
  if (!valid) Fail("the text is not UTF-8");

  DetachFromTheDialog();
  if (options.wayland) {
    clipboard_server::ServeOnWayland(text, options.seconds);
  } else {
    clipboard_server::ServeOnX11(text, options.seconds);
  }
  return 0;
}
