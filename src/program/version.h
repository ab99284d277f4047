// The version every program prints for --version.
#pragma once

namespace program {

// The project's version, followed by the git description of the sources where the build
// was made from a git checkout: "0.1" or "0.1 (git 032dafb-dirty)".
const char* VersionText();

}  // namespace program
