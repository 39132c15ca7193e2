#include "optimizers/command_line.h"

#include "optimizers/optimization_tools.h"

namespace pimo::optimizers {

namespace {

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool MatchesPlaceholderAt(std::string_view text, std::size_t at) {
    if (text.size() - at < kImageFilePlaceholder.size()) return false;
    for (std::size_t i = 0; i < kImageFilePlaceholder.size(); ++i) {
        if (AsciiLower(text[at + i]) != AsciiLower(kImageFilePlaceholder[i])) return false;
    }
    return true;
}

char Separator(CommandStyle style) {
    return style == CommandStyle::Windows ? '\\' : '/';
}

}  // namespace

std::string ExpandImagePlaceholder(std::string_view text, std::string_view imagePath) {
    std::string expanded;
    expanded.reserve(text.size() + imagePath.size());
    for (std::size_t i = 0; i < text.size();) {
        if (MatchesPlaceholderAt(text, i)) {
            expanded += imagePath;
            i += kImageFilePlaceholder.size();
        } else {
            expanded += text[i++];
        }
    }
    return expanded;
}

std::vector<std::string> SplitParameters(std::string_view params) {
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    char quote = '\0';
    for (const char c : params) {
        if (quote != '\0') {
            if (c == quote)
                quote = '\0';
            else
                current += c;
        } else if (c == ' ' || c == '\t') {
            if (inArgument) arguments.push_back(std::move(current));
            current.clear();
            inArgument = false;
        } else if (c == '"' || c == '\'') {
            // `""` is an empty argument of its own.
            quote = c;
            inArgument = true;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument) arguments.push_back(std::move(current));
    return arguments;
}

bool NamesPath(std::string_view fileName, CommandStyle style) {
    return fileName.find(Separator(style)) != std::string_view::npos;
}

std::string PluginsToolPath(std::string_view executableFolder, std::string_view fileName,
                            CommandStyle style) {
    const char separator = Separator(style);
    std::string path(executableFolder);
    if (path.empty() || path.back() != separator) path += separator;
    path += kPluginsFolderName;
    path += separator;
    path += fileName;
    return path;
}

std::string_view FileNamePart(std::string_view path, CommandStyle style) {
    const std::size_t separator = path.rfind(Separator(style));
    return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

std::string_view ExtensionOf(std::string_view path, CommandStyle style) {
    const std::string_view name = FileNamePart(path, style);
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view{} : name.substr(dot);
}

ToolCommand BuildToolCommand(std::string_view toolPath, std::string_view params,
                             std::string_view imagePath, bool interactive, CommandStyle style,
                             std::string_view systemFolder) {
    ToolCommand command;
    if (style == CommandStyle::Posix) {
        command.program = toolPath;
        for (const std::string& argument : SplitParameters(params))
            command.arguments.push_back(ExpandImagePlaceholder(argument, imagePath));
        return command;
    }

    // The argument text starts with its own space: after a quoted script path
    // that gives two spaces, and for a program it leaves the program's name
    // (the first word of a command line) empty.
    const std::string arguments = " " + ExpandImagePlaceholder(params, imagePath);
    const std::string quotedTool = "\"" + std::string(toolPath) + "\"";
    const std::string_view extension = ExtensionOf(toolPath, style);
    const std::string folder = std::string(systemFolder) + "\\";
    if (extension == ".bat") {
        command.program = folder + "cmd.exe";
        command.commandLine = "/C " + quotedTool + " " + arguments;
    } else if (extension == ".exe") {
        command.program = toolPath;
        command.commandLine = arguments;
    } else {
        // Also ".EXE" or ".Bat": the comparison is exact, so those go to the
        // script host like any script.
        command.program = folder + "cscript.exe";
        command.commandLine = "//Nologo " + quotedTool + (interactive ? " " : " //B ") + arguments;
    }
    return command;
}

}  // namespace pimo::optimizers
