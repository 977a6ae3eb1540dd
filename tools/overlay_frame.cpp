// overlay-frame: see tools/frame_tool.h and `overlay-frame --help`.
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "tools/frame_tool.h"
#include "tools/scene_file.h"

#ifdef _WIN32
// The wide entry point gets file names in any script; they travel as UTF-8.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(vorlune::scenefile::PathToUtf8(std::filesystem::path(argv[i])));
    }
    return vorlune::scenefile::RunFrameTool(args, std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return vorlune::scenefile::RunFrameTool(args, std::cout, std::cerr);
}
#endif
