#pragma once
// The adjustments page: brightness, contrast, gamma, invert and greyscale of
// the optimization settings, their reset, baking them into the source, and
// whether they are remembered between runs.

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QWidget>

#include "engine/optimization_settings.h"

namespace pimo::ui {

class ImageAdjustTab : public QWidget {
    Q_OBJECT
  public:
    /// Binds the controls to the five adjustment fields of `settings` and the
    /// remember box to `saveImageAdjustments`; both must outlive the page.
    ImageAdjustTab(engine::OptimizationSettings& settings, bool& saveImageAdjustments,
                   QWidget* parent = nullptr);

    /// The controls show the fields, with no signal.
    void showSettings();

  signals:
    /// The user changed an adjustment (the end of a scroll, a click, a reset).
    void settingsChanged();
    /// The user asked to bake the adjustments into the source; only sent
    /// when brightness, contrast, gamma or invert change something.
    void applyToSourceRequested();

  private:
    /// The bar moves its field and label at once; the change counts when the
    /// scroll ends.
    void bindScrollBar(QSlider* bar, QLabel* label, int engine::OptimizationSettings::*field);
    void bindCheckBox(QCheckBox* box, bool engine::OptimizationSettings::*field);
    /// Neutral brightness, contrast, gamma and invert, shown without a signal.
    void showNeutral();
    void Button2Click();
    void Button1Click();
    void changed();

    engine::OptimizationSettings& m_settings;
    bool& m_saveImageAdjustments;
    /// Set while the program moves the controls: no settings-changed signal.
    bool m_programUpdate = false;

    QSlider* brightness = nullptr;
    QLabel* label_brightness = nullptr;
    QSlider* contrast = nullptr;
    QLabel* label_contrast = nullptr;
    QSlider* gamma = nullptr;
    QLabel* label_gamma = nullptr;
    QCheckBox* invert = nullptr;
    QCheckBox* grayscale = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button1 = nullptr;
    QCheckBox* save_img_adjust = nullptr;
};

/// The text of `label_gamma` for a `gamma` position: the position / 100 with
/// two decimals and the user's decimal separator.
QString GammaText(int position);

}  // namespace pimo::ui
