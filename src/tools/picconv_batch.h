// picconv's batch mode: many pictures converted into one folder on all cores.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace picconv {

// Converts one input file into one output file, raising on failure.
using ConvertOne = std::function<void(const std::string& input, const std::string& output)>;

// The output file names for `inputs` in `folder`: each input's name with `extension`
// (".png") in place of its own. A name that an earlier input already took, or that is one
// of the inputs itself, gets "-2", "-3" ... before the extension.
std::vector<std::string> PlanOutputs(const std::vector<std::string>& inputs,
                                     const std::string& folder, const std::string& extension);

// Creates `folder` when missing and converts every input into it, on as many threads as
// the machine has cores. A failed file is reported on standard error with its message and
// the others go on; on a terminal a progress line shows the count, the current file and
// the rate. Returns 0 when all were converted, 1 otherwise (after a summary of the
// failures).
int ConvertAll(const std::vector<std::string>& inputs, const std::string& folder,
               const std::string& extension, const ConvertOne& convert);

}  // namespace picconv
