#include "ui/busy_input_guard.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QMenu>
#include <QWidget>
#include <algorithm>

namespace pimo::ui {
namespace {

// What a user does to a window: pointer buttons and wheel, keys and their
// shortcuts, context menus, drops and the request to close it. Moves, hover,
// paint, resize and timers are not among them and go on.
bool IsUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::Close:
            return true;
        default:
            return false;
    }
}

}  // namespace

BusyInputGuard::BusyInputGuard(QWidget& window) : QObject(&window), m_window(window) {}

BusyInputGuard::~BusyInputGuard() {
    if (m_depth > 0) qApp->removeEventFilter(this);
}

void BusyInputGuard::allow(QWidget* widget) {
    m_allowed.emplace_back(widget);
}

void BusyInputGuard::setBusy(bool busy) {
    const int depth = busy ? m_depth + 1 : std::max(m_depth - 1, 0);
    if (depth > 0 && m_depth == 0) qApp->installEventFilter(this);
    if (depth == 0 && m_depth > 0) qApp->removeEventFilter(this);
    m_depth = depth;
}

bool BusyInputGuard::guards(QObject* receiver) const {
    // A shortcut goes to its action, which may belong to a menu; a menu is a
    // window of its own yet part of this one. Dialogs, message boxes included,
    // are other windows and keep their input.
    for (QObject* owner = receiver; owner != nullptr; owner = owner->parent()) {
        for (const QPointer<QWidget>& allowed : m_allowed)
            if (allowed == owner) return false;
        if (owner == &m_window) return true;
        auto* widget = qobject_cast<QWidget*>(owner);
        if (widget && widget->isWindow() && !qobject_cast<QMenu*>(widget)) return false;
    }
    return false;
}

bool BusyInputGuard::eventFilter(QObject* watched, QEvent* event) {
    if (m_depth == 0 || !IsUserInput(event->type()) || !guards(watched)) return false;
    // A release ends what a press began before the call: a slider's page
    // steps repeat and a pan keeps its cursor until it comes. Only a button
    // acts on its release.
    if (event->type() == QEvent::MouseButtonRelease && !qobject_cast<QAbstractButton*>(watched))
        return false;
    // Ignored as well as filtered: an ignored close keeps the window open, an
    // ignored shortcut override lets the allowed controls' shortcuts work.
    event->ignore();
    return true;
}

}  // namespace pimo::ui
