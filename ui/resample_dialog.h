#pragma once
// The resample dialog: a new size in pixels or percent, the aspect ratio kept
// or not, and one of six filters. It only collects the request; the window
// resamples.

#include <QDialog>
#include <optional>

#include "engine/resample_math.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace pimo::ui {

/// The dialog's remembered choices, read when it is shown and written on OK.
struct ResampleChoices {
    int ResampleFilter = 1;  // index into the filter list, Catmull-Rom by default
    int ResampleUnit = engine::kResampleUnitPixels;
    bool ResampleKeepAspectRatio = true;
    bool operator==(const ResampleChoices&) const = default;
};

/// What OK asks for: the size request and the filter index.
struct ResampleAnswer {
    engine::ResampleRequest request;
    int filter = 1;
};

class Tresample : public QDialog {
    Q_OBJECT
  public:
    /// The filters in the order of their index.
    static QStringList FilterNames();

    Tresample(engine::ImageSize original, const ResampleChoices& choices,
              QWidget* parent = nullptr);

    /// The choices as the controls hold them now.
    ResampleChoices choices() const;
    /// The request OK makes from the controls now.
    ResampleAnswer answer() const;

    /// Shows the dialog modally for a picture of `original` size. On OK,
    /// `choices` receives the dialog's choices and the answer is returned;
    /// Cancel changes nothing and returns nullopt.
    static std::optional<ResampleAnswer> Ask(QWidget* parent, engine::ImageSize original,
                                             ResampleChoices& choices);

  private:
    void unit_groupClick();
    void mirror(QLineEdit* edited, QLineEdit* other, const QString& text);
    int unit() const;

    engine::ImageSize m_original;
    QLabel* Label3;
    QLineEdit* resize_w;
    QLineEdit* resize_h;
    QCheckBox* keep_aspect;
    QButtonGroup* unit_group;
    QRadioButton* m_pixels;
    QRadioButton* m_percent;
    QComboBox* filter;
};

}  // namespace pimo::ui
