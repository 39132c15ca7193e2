#pragma once
// Keeps a window's commands quiet while a long engine call runs, without
// disabling its widgets: disabling greys and repolishes the whole window at
// the start and the end of every call, which costs more than a short call
// itself. The user's input to the window is swallowed instead; painting,
// timers and every other window (message boxes, dialogs) go on as usual.

#include <QObject>
#include <QPointer>
#include <vector>

class QWidget;

namespace pimo::ui {

class BusyInputGuard : public QObject {
    Q_OBJECT
  public:
    /// Guards `window` and everything in it.
    explicit BusyInputGuard(QWidget& window);
    ~BusyInputGuard() override;

    /// `widget` (and its children) still take input while busy: a control
    /// that ends the running call.
    void allow(QWidget* widget);

    /// A long call begins (true) or ends (false). Calls nest: input comes
    /// back when the outermost call has ended.
    void setBusy(bool busy);
    bool busy() const { return m_depth > 0; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool guards(QObject* receiver) const;

    QWidget& m_window;
    std::vector<QPointer<QWidget>> m_allowed;
    int m_depth = 0;
};

}  // namespace pimo::ui
