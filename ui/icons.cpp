#include "ui/icons.h"

#include <QFile>
#include <array>

// The resource lives in a static library: registered on first use, since
// nothing else would pull its object file into the program.
static void RegisterIconResource() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(icons);
        return true;
    }();
    (void)registered;
}

namespace pimo::ui {
namespace {

struct IconEntry {
    const char* name;
    // The freedesktop.org icon name, empty where the naming standard has none.
    const char* themeName;
};

constexpr std::array kIcons{
    IconEntry{"open", "document-open"},
    IconEntry{"paste", "edit-paste"},
    IconEntry{"save", "document-save"},
    IconEntry{"save_as", "document-save-as"},
    IconEntry{"batch", ""},
    IconEntry{"options", "preferences-system"},
    IconEntry{"rotate_left", "object-rotate-left"},
    IconEntry{"rotate_right", "object-rotate-right"},
    IconEntry{"flip_h", "object-flip-horizontal"},
    IconEntry{"flip_v", "object-flip-vertical"},
    IconEntry{"compress_to_size", ""},
    IconEntry{"preview", ""},
    IconEntry{"zoom_in", "zoom-in"},
    IconEntry{"zoom_out", "zoom-out"},
    IconEntry{"actual_size", "zoom-original"},
    IconEntry{"fit", "zoom-fit-best"},
    IconEntry{"compare", ""},
    IconEntry{"full_screen", "view-fullscreen"},
    IconEntry{"mode", ""},
};

const IconEntry* Find(const QString& name) {
    for (const IconEntry& entry : kIcons)
        if (name == QLatin1String(entry.name)) return &entry;
    return nullptr;
}

}  // namespace

QIcon BuiltInIcon(const QString& name) {
    if (!Find(name)) return {};
    RegisterIconResource();
    const QString path = ":/icons/" + name + ".svg";
    if (!QFile::exists(path)) return {};
    return QIcon(path);
}

QIcon ToolbarIcon(const QString& name) {
    const IconEntry* entry = Find(name);
    if (!entry) return {};
    const QIcon own = BuiltInIcon(name);
    if (*entry->themeName == '\0') return own;
    return QIcon::fromTheme(QLatin1String(entry->themeName), own);
}

QStringList ToolbarIconNames() {
    QStringList names;
    for (const IconEntry& entry : kIcons) names << QLatin1String(entry.name);
    return names;
}

}  // namespace pimo::ui
