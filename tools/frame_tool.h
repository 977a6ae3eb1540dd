// overlay-frame: checks, encodes and decodes scene frames. The command line
// lives here, apart from main(), so that tests run it in-process as well.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace vorlune::scenefile {

// Exit statuses of overlay-frame.
inline constexpr int kExitOk = 0;
inline constexpr int kExitInvalid = 1;  // a frame rejected, a scene invalid, a file unreadable or unwritable
inline constexpr int kExitUsage = 2;    // the command line itself is wrong

// Runs overlay-frame with its arguments (without the program name), in UTF-8.
// Reports go to `out`, errors and notes to `err`; returns the exit status.
int RunFrameTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace vorlune::scenefile
