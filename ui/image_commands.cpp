#include "ui/image_commands.h"

#include "engine/geometry.h"
#include "ui/icons.h"
#include "ui/resample_dialog.h"

namespace pimo::ui {

ImageCommands::ImageCommands(engine::Engine& engine, QWidget& window, engine::TextQuery askText,
                             Reactions reactions)
    : QObject(&window),
      m_engine(engine),
      m_window(window),
      m_askText(std::move(askText)),
      m_reactions(std::move(reactions)) {
    const auto turned = [this](auto step) {
        return [this, step] {
            step();
            m_reactions.sourceReplaced();
        };
    };
    add(tr("Rotate left"), "rotate_left", "rotate_left", Qt::Key_L,
        turned([this] { m_engine.Rotate(engine::Rotation::Left); }));
    add(tr("Rotate right"), "rotate_right", "rotate_right", Qt::Key_R,
        turned([this] { m_engine.Rotate(engine::Rotation::Right); }));
    add(tr("Flip horizontally"), "flip_horizontally", "flip_h", Qt::Key_H,
        turned([this] { m_engine.Flip(engine::FlipAxis::Horizontal); }));
    add(tr("Flip vertically"), "flip_vertically", "flip_v", Qt::Key_V,
        turned([this] { m_engine.Flip(engine::FlipAxis::Vertical); }));
    add(tr("Resample..."), "action_resample", "fit", Qt::CTRL | Qt::Key_R,
        [this] { resampleExecute(); });
    compress2size_btn =
        add(tr("Compress to size..."), "compress2size_btn", "compress_to_size", Qt::Key_F9, [this] {
            engine::CompressToSize(m_engine, m_askText);
            m_reactions.settingsChosen();
        });
    update();
}

QAction* ImageCommands::add(const QString& text, const char* name, const char* icon,
                            const QKeySequence& key, std::function<void()> command) {
    auto* action = new QAction(ToolbarIcon(icon), text, this);
    action->setObjectName(name);
    action->setShortcut(key);
    connect(action, &QAction::triggered, this, std::move(command));
    m_actions << action;
    return action;
}

void ImageCommands::addTo(QMenu* menu, QToolBar* tools) const {
    menu->addActions(m_actions);
    tools->addSeparator();
    for (QAction* action : m_actions)
        if (action->objectName() != "action_resample") tools->addAction(action);
}

void ImageCommands::update() const {
    const bool open = m_engine.SourceBitmap != nullptr && !m_engine.Busy();
    for (QAction* action : m_actions) action->setEnabled(open);
    compress2size_btn->setEnabled(open && engine::CompressToSizeAvailable(m_engine));
}

void ImageCommands::resampleExecute() {
    if (!m_engine.SourceBitmap || m_engine.Busy()) return;
    const engine::ImageSize size = engine::BitmapSize(m_engine.SourceBitmap.get());
    engine::OptimizationSettings& settings = m_engine.settings;
    ResampleChoices choices{settings.ResampleFilter, settings.ResampleUnit,
                            settings.ResampleKeepAspectRatio};
    const std::optional<ResampleAnswer> answer = Tresample::Ask(&m_window, size, choices);
    settings.ResampleFilter = choices.ResampleFilter;
    settings.ResampleUnit = choices.ResampleUnit;
    settings.ResampleKeepAspectRatio = choices.ResampleKeepAspectRatio;
    if (!answer) return;
    const engine::ResampleRequest& request = answer->request;
    m_engine.ResampleImage(request.width, request.height, true, request.percent, request.keepAspect,
                           answer->filter);
    m_reactions.sourceReplaced();
}

}  // namespace pimo::ui
