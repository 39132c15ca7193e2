#include "ui/full_screen.h"

#include <QEvent>
#include <QMenuBar>
#include <QStatusBar>

#include "ui/icons.h"
#include "ui/named.h"

namespace pimo::ui {
namespace {

// The way back sits this far left of the right edge, clear of the corner.
constexpr int kButtonFromRight = 70;

}  // namespace

FullScreenSwitch::FullScreenSwitch(QMainWindow& window, QList<QWidget*> chrome)
    : QObject(&window), m_window(window) {
    chrome << window.menuBar() << window.statusBar();
    for (QWidget* widget : chrome) m_chrome << widget;
    m_action =
        Named(new QAction(ToolbarIcon("full_screen"), tr("Full screen"), this), "FullScreen");
    m_action->setShortcut(Qt::Key_F11);
    m_action->setCheckable(true);
    // The shortcut must work while the menu bar is hidden.
    window.addAction(m_action);
    connect(m_action, &QAction::triggered, this, &FullScreenSwitch::FullScreenExecute);

    m_button = Named(new QToolButton(&window), "FullScreenButton");
    m_button->setDefaultAction(m_action);
    m_button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_button->hide();
    window.installEventFilter(this);
}

void FullScreenSwitch::FullScreenExecute() {
    m_active = !m_active;
    if (m_active) {
        m_stateBefore = m_window.windowState() & (Qt::WindowMaximized | Qt::WindowMinimized);
        m_hidden.clear();
        for (const QPointer<QWidget>& widget : m_chrome)
            if (widget && widget->isVisible()) {
                m_hidden << widget;
                widget->hide();
            }
        m_window.showFullScreen();
        placeButton();
        m_button->show();
        m_button->raise();
    } else {
        m_button->hide();
        for (const QPointer<QWidget>& widget : m_hidden)
            if (widget) widget->show();
        m_hidden.clear();
        if (m_stateBefore & Qt::WindowMaximized)
            m_window.showMaximized();
        else
            m_window.showNormal();
    }
    if (m_action->isChecked() != m_active) m_action->setChecked(m_active);
}

bool FullScreenSwitch::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &m_window && event->type() == QEvent::Resize && m_active) placeButton();
    return QObject::eventFilter(watched, event);
}

void FullScreenSwitch::placeButton() {
    m_button->adjustSize();
    m_button->move(m_window.width() - kButtonFromRight, 0);
}

}  // namespace pimo::ui
