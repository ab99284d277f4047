// Where a program of the project finds the helper programs it starts: importdlg starts
// importdlg-clipboard, picconv hands metafiles to picconv-metafiles.
#pragma once

#include <string>

namespace program {

// The helper program `name`: beside the running program when it is there (a build folder,
// or programs copied beside a host program), else in the helper folder of an installation,
// which is found relative to the program's own folder so that an installation works under
// any prefix and after it has been moved.
std::string HelperProgram(const std::string& name);

}  // namespace program
