#pragma once
// The Image menu: turning, mirroring, resampling and compressing to a size,
// with their keys and toolbar buttons, available while an image is open. The
// window hands each command to the engine and learns that the source or the
// settings changed through the two callbacks.

#include <QAction>
#include <QList>
#include <QMenu>
#include <QObject>
#include <QToolBar>
#include <functional>

#include "engine/compress_to_size.h"
#include "engine/engine.h"

namespace pimo::ui {

class ImageCommands : public QObject {
    Q_OBJECT
  public:
    struct Reactions {
        /// After the source changed (turned, mirrored, resampled).
        std::function<void()> sourceReplaced;
        /// After a command chose new settings (compress to size).
        std::function<void()> settingsChosen;
    };

    ImageCommands(engine::Engine& engine, QWidget& window, engine::TextQuery askText,
                  Reactions reactions);

    /// Puts the commands into `menu` and `tools`.
    void addTo(QMenu* menu, QToolBar* tools) const;
    /// Enables the commands for the engine's state (none while it is busy).
    void update() const;

    /// The resample dialog for the open image (`action_resample`): the image
    /// is resampled to the size entered, at actual size.
    void resampleExecute();

  private:
    QAction* add(const QString& text, const char* name, const char* icon, const QKeySequence& key,
                 std::function<void()> command);

    engine::Engine& m_engine;
    QWidget& m_window;
    engine::TextQuery m_askText;
    Reactions m_reactions;
    QList<QAction*> m_actions;
    QAction* compress2size_btn = nullptr;
};

}  // namespace pimo::ui
