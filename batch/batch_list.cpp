#include "batch/batch_list.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <system_error>

#include "engine/host.h"
#include "engine/open_filter.h"
#include "platform/known_folders.h"

namespace pimo::batch {

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

bool EndsWithSeparator(const std::string& path) {
    return !path.empty() && (path.back() == '/' || path.back() == '\\');
}

// Compares without regard to ASCII letter case: <0, 0 or >0.
int CompareIgnoringCase(std::string_view a, std::string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const int x = std::tolower(static_cast<unsigned char>(a[i]));
        const int y = std::tolower(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

void ScanInto(BatchItems& items, const std::string& folder, bool recursive,
              std::string_view readableExtensions, const std::function<void()>& folderEntered,
              std::set<fs::path>& visited) {
    std::error_code error;
    const fs::path directory = platform::PathFromUtf8(folder);
    // A link back to a folder already scanned would otherwise never end.
    const fs::path identity = fs::canonical(directory, error);
    if (error || !visited.insert(identity).second) return;

    struct Entry {
        std::string name;
        bool isDirectory;
    };
    std::vector<Entry> entries;
    for (fs::directory_iterator it(directory, error), end; !error && it != end;
         it.increment(error)) {
        std::string name = platform::PathToUtf8(it->path().filename());
        if (name.empty() || name.front() == '.') continue;
        std::error_code typeError;
        entries.push_back({std::move(name), it->is_directory(typeError)});
    }
    if (folderEntered) folderEntered();
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });

    for (const Entry& entry : entries) {
        const std::string path = JoinPath(folder, entry.name);
        if (entry.isDirectory) {
            if (recursive)
                ScanInto(items, path, recursive, readableExtensions, folderEntered, visited);
        } else {
            AddFile(items, path, readableExtensions);
        }
    }
}

}  // namespace

bool AddFile(BatchItems& items, const std::string& path, std::string_view readableExtensions) {
    if (!engine::HasReadableExtension(path, readableExtensions)) return false;
    items.push_back(TBatchItem{path, {}});
    return true;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || EndsWithSeparator(folder)) return folder + name;
    return folder + kSeparator + name;
}

void ScanFolder(BatchItems& items, const std::string& folder, bool recursive,
                std::string_view readableExtensions, const std::function<void()>& folderEntered) {
    std::set<fs::path> visited;
    ScanInto(items, folder, recursive, readableExtensions, folderEntered, visited);
}

AddFolderOutcome AddFolder(BatchItems& items, const std::string& folder, bool recursive,
                           std::string_view readableExtensions, engine::Host& host) {
    std::error_code error;
    if (folder.empty() || !fs::is_directory(platform::PathFromUtf8(folder), error)) {
        return AddFolderOutcome::NotAFolder;
    }
    const std::size_t before = items.size();
    ScanFolder(items, folder, recursive, readableExtensions,
               [&host] { host.processPendingEvents(); });
    if (items.size() == before) {
        host.showMessage(engine::MessageKind::Error, std::string(kNoFilesAddedMessage),
                         engine::MessageButtons::Ok);
        return AddFolderOutcome::NothingAdded;
    }
    return AddFolderOutcome::Added;
}

std::string FileCountCaption(std::size_t count) {
    return "Filename [ " + std::to_string(count) + " file(s) ]";
}

void RemoveEntries(BatchItems& items, std::vector<std::size_t> indices) {
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    // From the last to the first, so earlier indices stay valid.
    for (auto it = indices.rbegin(); it != indices.rend(); ++it) {
        if (*it < items.size()) items.erase(items.begin() + static_cast<std::ptrdiff_t>(*it));
    }
}

void SortAndRemoveDuplicates(BatchItems& items) {
    std::stable_sort(items.begin(), items.end(), [](const TBatchItem& a, const TBatchItem& b) {
        const int order = CompareIgnoringCase(a.FilePath, b.FilePath);
        return order != 0 ? order < 0 : a.FilePath < b.FilePath;
    });
    items.erase(std::unique(items.begin(), items.end(),
                            [](const TBatchItem& a, const TBatchItem& b) {
                                return a.FilePath == b.FilePath;
                            }),
                items.end());
}

StatusColor StatusColorOf(std::string_view status) {
    if (status.empty()) return StatusColor::Default;
    if (status == "error") return StatusColor::Red;
    if (status.front() == '+') return StatusColor::Maroon;
    if (status.front() == '-') return StatusColor::Green;
    if (status == "ok") return StatusColor::Default;
    return StatusColor::Blue;
}

}  // namespace pimo::batch
