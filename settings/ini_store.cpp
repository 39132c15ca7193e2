#include "settings/ini_store.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/known_folders.h"

namespace pimo::settings {

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr std::string_view kLineEnd = "\r\n";
#else
constexpr std::string_view kLineEnd = "\n";
#endif

bool IsSpace(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
    return text;
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Lowered(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = LowerAscii(c);
    return lower;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

std::string Quoted(const fs::path& path) {
    return "\"" + platform::PathToUtf8(path) + "\"";
}

void CheckSectionName(std::string_view section) {
    if (HasLineBreak(section) || Trimmed(section) != section)
        throw IniError("The section name \"" + std::string(section) +
                       "\" cannot be stored in a configuration file");
}

void CheckKeyName(std::string_view key) {
    if (key.empty() || HasLineBreak(key) || Trimmed(key) != key ||
        key.find('=') != std::string_view::npos || key.front() == ';' || key.front() == '[')
        throw IniError("The key name \"" + std::string(key) +
                       "\" cannot be stored in a configuration file");
}

void CheckValue(std::string_view key, std::string_view value) {
    if (HasLineBreak(value))
        throw IniError("The value of " + std::string(key) + " contains a line break");
}

void WriteWhole(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw IniError("Cannot create file " + Quoted(path) + ". " + std::strerror(errno));
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) throw IniError("Cannot write file " + Quoted(path) + ". " + std::strerror(errno));
}

}  // namespace

IniStore::IniStore(IniLocale locale) : m_locale(std::move(locale)) {}

void IniStore::Open(const fs::path& path) {
    m_open = false;
    m_fileName.clear();
    SetText({});
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found) {
        m_fileName = path;
        m_open = true;
        return;
    }
    if (error) throw IniError("Cannot open file " + Quoted(path) + ". " + error.message());
    if (fs::is_directory(status))
        throw IniError("Cannot open file " + Quoted(path) + ". It is a folder");
    const std::uintmax_t size = fs::file_size(path, error);
    if (!error && size > kMaximumFileSize)
        throw IniError("Cannot open file " + Quoted(path) + ". The file is too large");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw IniError("Cannot open file " + Quoted(path) + ". " + std::strerror(errno));
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) throw IniError("Cannot read file " + Quoted(path) + ". " + std::strerror(errno));
    SetText(content.str());
    m_fileName = path;
    m_open = true;
}

void IniStore::SetText(std::string_view text) {
    m_sections.clear();
    m_index.clear();
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    Section* current = nullptr;
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        const std::string_view line = Trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == ';') continue;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            current = &SectionForWriting(Trimmed(line.substr(1, line.size() - 2)));
            continue;
        }
        if (current == nullptr) continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            current->lines.push_back({false, {}, std::string(line)});
        } else {
            current->lines.push_back({true, std::string(Trimmed(line.substr(0, equals))),
                                      std::string(Trimmed(line.substr(equals + 1)))});
        }
    }
}

std::string IniStore::Text() const {
    std::string text;
    for (const Section& section : m_sections) {
        text += '[';
        text += section.name;
        text += ']';
        text += kLineEnd;
        for (const Line& line : section.lines) {
            if (line.isKey) {
                text += line.key;
                text += '=';
            }
            text += line.value;
            text += kLineEnd;
        }
        text += kLineEnd;
    }
    return text;
}

void IniStore::UpdateFile() const {
    if (!m_open) return;
    const std::string text = Text();
    // Write a sibling and rename it over the file, so that a failed write
    // never leaves half a file where a good one stood. A folder that allows
    // no new file (a writable file in a read-only folder) gets the file
    // written in place instead.
    fs::path sibling = m_fileName;
    sibling += ".new";
    try {
        WriteWhole(sibling, text);
    } catch (const IniError&) {
        std::error_code ignored;
        fs::remove(sibling, ignored);
        WriteWhole(m_fileName, text);
        return;
    }
    std::error_code error;
    const fs::file_status old = fs::status(m_fileName, error);
    if (!error && fs::exists(old)) fs::permissions(sibling, old.permissions(), error);
    fs::rename(sibling, m_fileName, error);
    if (error) {
        std::error_code ignored;
        fs::remove(sibling, ignored);
        WriteWhole(m_fileName, text);
    }
}

std::vector<std::string> IniStore::ReadSections() const {
    std::vector<std::string> names;
    names.reserve(m_sections.size());
    for (const Section& section : m_sections) names.push_back(section.name);
    return names;
}

bool IniStore::SectionExists(std::string_view section) const {
    return FindSection(section) != nullptr;
}

bool IniStore::ValueExists(std::string_view section, std::string_view key) const {
    return FindValue(section, key) != nullptr;
}

std::string IniStore::ReadString(std::string_view section, std::string_view key,
                                 std::string_view fallback) const {
    const std::string* value = FindValue(section, key);
    return std::string(value != nullptr ? std::string_view(*value) : fallback);
}

int IniStore::ReadInteger(std::string_view section, std::string_view key, int fallback) const {
    const std::string* value = FindValue(section, key);
    if (value == nullptr) return fallback;
    return ParseInteger(*value).value_or(fallback);
}

bool IniStore::ReadBool(std::string_view section, std::string_view key, bool fallback) const {
    return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

double IniStore::ReadFloat(std::string_view section, std::string_view key, double fallback) const {
    const std::string* value = FindValue(section, key);
    if (value == nullptr) return fallback;
    return ParseFloat(*value, m_locale).value_or(fallback);
}

double IniStore::ReadDate(std::string_view section, std::string_view key, double fallback) const {
    const std::string* value = FindValue(section, key);
    if (value == nullptr) return fallback;
    return ParseDate(*value, m_locale).value_or(fallback);
}

void IniStore::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    CheckSectionName(section);
    CheckKeyName(key);
    CheckValue(key, value);
    Section& target = SectionForWriting(section);
    for (Line& line : target.lines) {
        if (line.isKey && SameName(line.key, key)) {
            line.value = std::string(value);
            return;
        }
    }
    target.lines.push_back({true, std::string(key), std::string(value)});
}

void IniStore::WriteInteger(std::string_view section, std::string_view key, int value) {
    WriteString(section, key, std::to_string(value));
}

void IniStore::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void IniStore::WriteFloat(std::string_view section, std::string_view key, double value) {
    WriteString(section, key, FormatFloat(value, m_locale));
}

void IniStore::WriteDate(std::string_view section, std::string_view key, double value) {
    const std::optional<std::string> text = FormatDate(value, m_locale);
    if (!text) throw IniError("The value of " + std::string(key) + " is not a valid date");
    WriteString(section, key, *text);
}

void IniStore::EraseSection(std::string_view section) {
    const auto found = m_index.find(Lowered(section));
    if (found == m_index.end()) return;
    m_sections.erase(m_sections.begin() + static_cast<std::ptrdiff_t>(found->second));
    RebuildIndex();
}

void IniStore::DeleteKey(std::string_view section, std::string_view key) {
    const auto found = m_index.find(Lowered(section));
    if (found == m_index.end()) return;
    std::erase_if(m_sections[found->second].lines,
                  [key](const Line& line) { return line.isKey && SameName(line.key, key); });
}

const IniStore::Section* IniStore::FindSection(std::string_view name) const {
    const auto found = m_index.find(Lowered(name));
    return found == m_index.end() ? nullptr : &m_sections[found->second];
}

IniStore::Section& IniStore::SectionForWriting(std::string_view name) {
    const auto [position, added] = m_index.emplace(Lowered(name), m_sections.size());
    if (added) m_sections.push_back({std::string(name), {}});
    return m_sections[position->second];
}

const std::string* IniStore::FindValue(std::string_view section, std::string_view key) const {
    const Section* found = FindSection(section);
    if (found == nullptr) return nullptr;
    for (const Line& line : found->lines)
        if (line.isKey && SameName(line.key, key)) return &line.value;
    return nullptr;
}

void IniStore::RebuildIndex() {
    m_index.clear();
    for (std::size_t i = 0; i < m_sections.size(); ++i)
        m_index.emplace(Lowered(m_sections[i].name), i);
}

}  // namespace pimo::settings
