#include "cli/file_list.h"

#include <fstream>
#include <iostream>

#include "cli/cli_arguments.h"
#include "util/pimoutil.h"

namespace pimo::cli {

std::vector<std::string> ReadFileList(std::istream& in, char separator) {
    std::vector<std::string> paths;
    for (std::string path; std::getline(in, path, separator);)
        if (!path.empty()) paths.push_back(std::move(path));
    return paths;
}

std::vector<std::string> ReadFileList(const std::string& source, bool nulSeparated) {
    const char separator = nulSeparated ? '\0' : '\n';
    if (source == "-") return ReadFileList(std::cin, separator);
    std::ifstream file(util::PathFromUtf8(source), std::ios::binary);
    if (!file) throw UsageError("cannot read the file list " + source);
    std::vector<std::string> paths = ReadFileList(file, separator);
    if (file.bad()) throw UsageError("cannot read the file list " + source);
    return paths;
}

}  // namespace pimo::cli
