#pragma once
// Full screen for the main window: the `FullScreen` action (F11) hides the
// window's chrome (menu, top panel, format panel, status bar) and shows the
// picture on the whole screen, with `FullScreenButton` in the top right
// corner as the way back.

#include <QAction>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QToolButton>

namespace pimo::ui {

class FullScreenSwitch : public QObject {
    Q_OBJECT
  public:
    /// `chrome`: the widgets hidden while in full screen (the menu bar and the
    /// status bar of `window` are always among them).
    FullScreenSwitch(QMainWindow& window, QList<QWidget*> chrome);

    QAction* action() const { return m_action; }
    QToolButton* button() const { return m_button; }
    bool active() const { return m_active; }

    /// Enters full screen, or leaves it and gives back the window's earlier
    /// state (normal or maximized) and every widget that was visible.
    void FullScreenExecute();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void placeButton();

    QMainWindow& m_window;
    QList<QPointer<QWidget>> m_chrome;
    QList<QPointer<QWidget>> m_hidden;
    QAction* m_action;
    QToolButton* m_button;
    bool m_active = false;
    Qt::WindowStates m_stateBefore;
};

}  // namespace pimo::ui
