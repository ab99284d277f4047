#include "program/helper_programs.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace program {
namespace {

// The folder of the running program file, "." when the system does not say.
std::string ProgramFolder() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || !self.has_parent_path()) return ".";
  return self.parent_path().string();
}

}  // namespace

std::string HelperProgram(const std::string& name) {
  const std::filesystem::path folder = ProgramFolder();
  const std::filesystem::path beside = folder / name;
  if (::access(beside.c_str(), X_OK) == 0) return beside.string();
  // IMPORTDLG_HELPER_DIR is the installation's helper folder relative to its program
  // folder (such as "../libexec/importdlg"), set by the build.
  return (folder / IMPORTDLG_HELPER_DIR / name).lexically_normal().string();
}

}  // namespace program
