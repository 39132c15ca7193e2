#pragma once
// How a preset becomes a program to start: the placeholder's expansion, where
// a tool's file lies, and the program and command line chosen by the tool's
// extension. Pure text work, with both platforms' rules, so that either can
// be checked anywhere.

#include <string>
#include <string_view>
#include <vector>

namespace pimo::optimizers {

enum class CommandStyle {
    /// One command-line text; batch files run through the command interpreter
    /// and scripts through the script host of the system folder.
    Windows,
    /// An argument list handed to the tool itself, no shell in between; a
    /// script names its own interpreter in its first line.
    Posix,
};

#ifdef _WIN32
inline constexpr CommandStyle kNativeCommandStyle = CommandStyle::Windows;
#else
inline constexpr CommandStyle kNativeCommandStyle = CommandStyle::Posix;
#endif

/// The plugins folder's name, beside the executable.
inline constexpr std::string_view kPluginsFolderName = "plugins";

/// `text` with every occurrence of "{IMAGE_FILE}", in any letter case,
/// replaced by `imagePath` as it is (no quotation marks added). The inserted
/// path is not searched again.
std::string ExpandImagePlaceholder(std::string_view text, std::string_view imagePath);

/// Splits a parameter text into arguments at runs of spaces and tabs. Double
/// or single quotation marks group a part with blanks into one argument and
/// are dropped; there are no escape characters, so backslashes stay as typed.
/// An unmatched quotation mark runs to the end of the text.
std::vector<std::string> SplitParameters(std::string_view params);

/// Whether a preset's `FileName` names a path (used unchanged) rather than a
/// bare file name (looked up in the plugins folder): on Windows it holds a
/// backslash, elsewhere a slash.
bool NamesPath(std::string_view fileName, CommandStyle style);

/// The plugins-folder path of a bare file name: the executable's folder, its
/// separator, "plugins", a separator, then `fileName`.
std::string PluginsToolPath(std::string_view executableFolder, std::string_view fileName,
                            CommandStyle style);

/// The file-name part of a path (after its last separator).
std::string_view FileNamePart(std::string_view path, CommandStyle style);

/// The extension of a path: its file-name part from the last dot on, with the
/// dot; empty when that part has no dot.
std::string_view ExtensionOf(std::string_view path, CommandStyle style);

struct ToolCommand {
    /// The program to start.
    std::string program;
    /// Windows: the command line handed to `program`.
    std::string commandLine;
    /// Elsewhere: the arguments after the program's name.
    std::vector<std::string> arguments;

    bool operator==(const ToolCommand&) const = default;
};

/// The program and its command line for the tool at `toolPath` run with the
/// parameter template `params` on the file `imagePath`.
///
/// Windows, with A = " " + expanded `params`, chosen by the exact (case
/// sensitive) extension of `toolPath`:
/// - ".bat": `systemFolder`\cmd.exe with `/C "toolPath" A`;
/// - ".exe": `toolPath` with A alone (the command line does not repeat the
///   program's name);
/// - anything else: `systemFolder`\cscript.exe with `//Nologo "toolPath" A`,
///   or, not `interactive`, `//Nologo "toolPath" //B A`.
/// Elsewhere: `toolPath` itself, with `params` split into arguments and the
/// placeholder expanded inside each, so that a path with blanks stays one
/// argument.
ToolCommand BuildToolCommand(std::string_view toolPath, std::string_view params,
                             std::string_view imagePath, bool interactive, CommandStyle style,
                             std::string_view systemFolder = {});

}  // namespace pimo::optimizers
