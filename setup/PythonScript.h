// The recorder's commands as a Python script on the corvel module: the same
// register writes, made by the same library operations, so that running the
// script leaves the chip as 'corvelctl batch --file' of the commands does.
// Pure C++.
#pragma once

#include <string>
#include <vector>

namespace setup {

// The script's first lines: what it is, and the board it opens, chosen on
// its command line (--sim ID, --serial SN, --device PATH). Every line after
// them is in the body of the board's `with` block.
std::vector<std::string> PythonScriptHead(const std::string& about);

// One corvelctl command line (or comment) as the script's line, indented for
// the body. A command the module has no call for stops the replay there, as
// a failing step stops a batch, with the command named.
std::string PythonScriptLine(const std::string& commandLine);

}  // namespace setup
