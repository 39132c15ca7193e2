#pragma once
// The main window: opens an image, shows the source and the result side by
// side with both sizes, and edits the settings the engine reads. It decides
// nothing about images itself; it forwards to the engine and shows its state.

#include <QLabel>
#include <QMainWindow>
#include <QSlider>
#include <QSpinBox>
#include <QStringList>
#include <QTimer>

#include "engine/engine.h"
#include "ui/image_pane.h"

namespace pimo::ui {

class TForm1 : public QMainWindow, public engine::Host {
    Q_OBJECT
public:
    /// `arguments`: the command line without the program name.
    explicit TForm1(QStringList arguments, QWidget* parent = nullptr);
    ~TForm1() override;

    engine::Engine& engine() { return m_engine; }

    // ---- engine::Host ----
    void setStatusText(const std::string& text, int panel) override;
    void setBusyCursor(bool busy) override;
    engine::MessageAnswer showMessage(engine::MessageKind kind, const std::string& text,
                                      engine::MessageButtons buttons) override;
    void showBalloon(const std::string& title, const std::string& description, int timeoutMs) override;
    void hideBalloon() override;
    void processPendingEvents() override;
    void setMainWindowEnabled(bool enabled) override;
    void showNoImage() override;
    void showFileInformation(const std::string& caption, const std::string& sizeText,
                             const std::string& sizeHint) override;
    void showSourceImage(bool actualSize) override;
    bool showResultImage() override;
    void showResultSize(const std::string& sizeText, const std::string& sizeHint, bool smaller) override;

    /// Loads an image file (UTF-8 path) as the open command does.
    bool openFile(const QString& path);

signals:
    /// The start-up tasks have run.
    void startedUp();

private slots:
    void Timer1Timer();
    void open_btnClick();
    void save_asExecute();
    void jpeg_qscrollChange(int value);

private:
    void buildWidgets();
    void buildActions();
    void updateSaveActions();

    engine::Engine m_engine;
    QStringList m_arguments;
    QTimer Timer1;
    ImagePane* Image1 = nullptr;
    ImagePane* Image2 = nullptr;
    QLabel* dim_img_initiala = nullptr;
    QLabel* dim_img_optimizata = nullptr;
    QSlider* jpeg_qscroll = nullptr;
    QSpinBox* jpeg_calitate = nullptr;
    QLabel* m_statusPanels[4] = {};
    QAction* m_saveAs = nullptr;
    bool m_suppressSettingsEvents = false;
};

}  // namespace pimo::ui
