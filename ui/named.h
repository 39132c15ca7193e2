#pragma once
// Widgets carry the names the rest of the program (and the tests) find them by.

#include <QObject>

namespace pimo::ui {

/// `object` with its object name set to `name`.
template <typename Object>
Object* Named(Object* object, const char* name) {
    object->setObjectName(name);
    return object;
}

}  // namespace pimo::ui
