#pragma once
// An INI file held in memory. Reading keeps every section and key in file
// order, so that sections and keys the program does not know are written back
// unchanged; section and key names match without regard to letter case.
//
// Format: lines are trimmed; empty lines and lines starting with ";" are
// dropped; "[name]" starts a section; inside a section "key=value" is a key
// line (split at the first "=", both sides trimmed) and any other line is kept
// as it is; lines before the first section are dropped. A section that occurs
// twice continues the first one.

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "settings/ini_values.h"

namespace pimo::settings {

/// A file that cannot be read or written, or a text that the format cannot
/// hold (a line break in a value, "=" in a key). The text says which.
class IniError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class IniStore {
  public:
    /// Files larger than this are refused rather than read into memory.
    static constexpr std::uintmax_t kMaximumFileSize = 16u << 20;

    explicit IniStore(IniLocale locale = {});

    /// Reads the file at `path` and remembers it for `UpdateFile`. A missing
    /// file gives an empty store that is open all the same. Throws IniError
    /// when the file exists but cannot be read or is too large; the store is
    /// then empty and not open.
    void Open(const std::filesystem::path& path);
    /// True once `Open` succeeded: only an open store is written to disk.
    bool isOpen() const { return m_open; }
    const std::filesystem::path& fileName() const { return m_fileName; }
    const IniLocale& locale() const { return m_locale; }

    /// Replaces everything by the contents of `text` (UTF-8; a byte order
    /// mark is skipped; line ends may be LF or CR LF).
    void SetText(std::string_view text);
    /// The whole store as file text: sections in order of creation, each with
    /// its lines and one empty line after them.
    std::string Text() const;
    /// Writes `Text()` to the file: beside it first and renamed over it, or
    /// in place when no file can be created beside it. Does nothing when the
    /// store is not open. Throws IniError when the file cannot be written.
    void UpdateFile() const;

    /// Section names in file order, as first spelled.
    std::vector<std::string> ReadSections() const;
    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;

    // Reading: the value of the first matching key, or `fallback` when the
    // key is missing or its value does not parse as the type.
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view fallback) const;
    int ReadInteger(std::string_view section, std::string_view key, int fallback) const;
    /// Any integer other than 0 is true.
    bool ReadBool(std::string_view section, std::string_view key, bool fallback) const;
    double ReadFloat(std::string_view section, std::string_view key, double fallback) const;
    /// Days since 30 December 1899 (see `ParseDate`).
    double ReadDate(std::string_view section, std::string_view key, double fallback) const;

    // Writing: a key written again keeps its place; a new key goes to the end
    // of its section, a new section to the end of the store. Throw IniError
    // for a text the format cannot hold.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int value);
    /// Written "1" or "0".
    void WriteBool(std::string_view section, std::string_view key, bool value);
    /// See `FormatFloat`.
    void WriteFloat(std::string_view section, std::string_view key, double value);
    /// The date part only, in the locale's short format (see `FormatDate`).
    void WriteDate(std::string_view section, std::string_view key, double value);

    /// Removes a section with all its lines; nothing when there is none.
    void EraseSection(std::string_view section);
    /// Removes every line of `key` from `section`.
    void DeleteKey(std::string_view section, std::string_view key);

  private:
    struct Line {
        bool isKey;
        std::string key;    // key lines
        std::string value;  // the value, or the whole text of another line
    };
    struct Section {
        std::string name;
        std::vector<Line> lines;
    };

    const Section* FindSection(std::string_view name) const;
    Section& SectionForWriting(std::string_view name);
    const std::string* FindValue(std::string_view section, std::string_view key) const;
    void RebuildIndex();

    IniLocale m_locale;
    std::filesystem::path m_fileName;
    bool m_open = false;
    std::vector<Section> m_sections;
    std::unordered_map<std::string, std::size_t> m_index;  // lower-case name -> section
};

}  // namespace pimo::settings
