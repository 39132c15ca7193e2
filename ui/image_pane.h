#pragma once
// One of the two image views: a picture in a scroll area, fitted to the view
// or at actual size.

#include <QImage>
#include <QLabel>
#include <QScrollArea>

namespace pimo::ui {

class ImagePane : public QScrollArea {
    Q_OBJECT
  public:
    explicit ImagePane(QWidget* parent = nullptr);

    void setImage(const QImage& image);
    void clear();
    bool hasPicture() const { return !m_image.isNull(); }
    void setFitToWindow(bool fit);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void refresh();

    QLabel* m_label;
    QImage m_image;
    bool m_fit = true;
};

}  // namespace pimo::ui
