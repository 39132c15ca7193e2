#pragma once
// Running the built pimo-cli from the tests, and reading what it wrote.

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_images.h"

namespace pimo::test {

struct CliOutput {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

inline std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs the program inside `folder` with `arguments`. The user's data folder
// is "xdg" inside `folder`, so that no real settings file is read. A run that
// hangs is ended after two minutes and shows as exit code 124. `environment`
// adds variables ("NAME=value ...", each value quoted where needed).
inline CliOutput RunCli(const std::filesystem::path& folder,
                        const std::vector<std::string>& arguments,
                        const std::string& environment = "") {
    std::string command = "cd " + Quoted(folder.string()) +
                          " && XDG_DATA_HOME=" + Quoted((folder / "xdg").string()) +
                          " XDG_CONFIG_HOME=" + Quoted((folder / "xdg").string()) + " " +
                          environment + " timeout 120 " + Quoted(PIMO_CLI_PATH);
    for (const std::string& argument : arguments) command += " " + Quoted(argument);
    command += " > cli.out 2> cli.err";
    const int status = std::system(command.c_str());
    CliOutput output;
    output.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    output.out = ReadText(folder / "cli.out");
    output.err = ReadText(folder / "cli.err");
    return output;
}

// Width and height of an image file, decoded by the library itself; 0 x 0
// when it does not decode.
inline std::pair<unsigned, unsigned> SizeOf(const std::filesystem::path& path) {
    const Bytes bytes = ReadFileBytes(path);
    FIMEMORY* memory =
        FreeImage_OpenMemory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
    const FREE_IMAGE_FORMAT format = FreeImage_GetFileTypeFromMemory(memory, 0);
    FreeImage_CloseMemory(memory);
    Bitmap bitmap = DecodeWithLibrary(format, bytes);
    if (!bitmap) return {0, 0};
    return {FreeImage_GetWidth(bitmap.get()), FreeImage_GetHeight(bitmap.get())};
}

}  // namespace pimo::test
