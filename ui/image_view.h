#pragma once
// The central image view: the source and the result side by side (or the
// result alone), both drawn from one viewport so they can never drift apart,
// with the zoom toolbar between them, zooming, fitting, panning by dragging
// and the in-place comparison.

#include <QAction>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QToolBar>
#include <QWidget>

#include "ui/display_image.h"
#include "ui/viewport_math.h"

namespace pimo::ui {

class ImageView;

/// One pane's drawing surface (`Image1`, `Image2`): paints its picture where
/// the shared viewport says, over the dark background of the pane.
class ImageCanvas : public QWidget {
    Q_OBJECT
  public:
    ImageCanvas(const ImageView& view, bool sourceSide, QWidget* parent);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    const ImageView& m_view;
    bool m_sourceSide;
};

class ImageView : public QWidget {
    Q_OBJECT
  public:
    explicit ImageView(QWidget* parent = nullptr);

    /// A new source picture. A picture of another size than the last one
    /// (or the first) is fitted to the window; one of the same size keeps the
    /// zoom and position (an adjusted source, a rotation of a square).
    void setSourceImage(const QImage& image);
    /// A new result, drawn in the source's place and size; `reduction` and
    /// `fullSize` as for a reduced DisplayImage (none: all of its pixels).
    void setResultImage(const QImage& image, int reduction = 1, QSize fullSize = {});
    /// The same result again, with more of its pixels (from
    /// resultDetailNeeded): taken only while it is still reduced more.
    void setResultDetail(DisplayImage picture);
    /// How much a result of `width` x `height` pixels may be reduced for the
    /// zoom shown now (see DisplayReduction).
    int resultReductionFor(int width, int height) const;
    /// The result's picture handed back for its memory to be reused; the
    /// view shows no result until the next one is set.
    QImage takeResultImage() { return m_result.release(); }
    /// The no-image state: no pictures, no size texts, zoom commands off.
    void clear();

    void setSourceSizeText(const QString& text, const QString& hint);
    /// The result's size text, in bold and `colour`.
    void setResultSizeText(const QString& text, const QString& hint, const QColor& colour);
    /// The result's quality score, beside its size; empty hides it.
    void setQualityText(const QString& text);

    /// Dual view shows both panes; single view the result alone. Fits the views.
    void setDualView(bool dual);
    bool dualView() const { return m_dualView; }
    /// With fit-only-big on, fitting leaves pictures smaller than the pane at
    /// actual size.
    void setFitOnlyBig(bool on);
    bool fitOnlyBig() const { return m_fitOnlyBig; }
    /// The factor of one zoom step; kept within 1.01..2.00.
    void setZoomFactor(float factor);
    float zoomFactor() const { return m_zoomFactor; }

    /// The commands, for the window's menus and shortcuts as well.
    QAction* zoomInAction() const { return m_zoomIn; }
    QAction* zoomOutAction() const { return m_zoomOut; }
    QAction* actualSizeAction() const { return m_actualSize; }
    QAction* fitInWindowAction() const { return m_fitInWindow; }
    QAction* compareAction() const { return m_compare; }
    QAction* dualViewAction() const { return m_dualViewAction; }
    QAction* fitOnlyBigAction() const { return m_fitOnlyBigAction; }

    void zoom_inExecute();
    void zoom_outExecute();
    void actual_sizeExecute();
    void fit_in_windowExecute();
    /// While comparing, the result pane shows the source (and the source pane,
    /// in dual view, the result).
    void setComparing(bool comparing);
    bool comparing() const { return m_comparing; }

    const ViewportState& viewport() const { return m_state; }
    /// The client area both panes share, in device pixels.
    ViewSize clientSize() const;
    bool hasImages() const { return !m_source.isNull() && !m_result.isNull(); }
    /// The picture a pane shows now.
    const DisplayImage& pictureFor(bool sourceSide) const;

  signals:
    /// "Zoom 123%" or "Zoom 100%", after every zoom, fit or actual size.
    void zoomTextChanged(const QString& text);
    /// The result is held reduced more than the zoom now shows it: it wants
    /// decoding again at `reduction` (1: all of its pixels). Until then the
    /// reduced picture stands in, drawn smooth.
    void resultDetailNeeded(int reduction);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildActions();
    void buildPanes();
    void layOut();
    void applyState(const ViewportState& state, bool fitted);
    void announceZoom();
    /// Asks for the result's pixels when the zoom shows more than it holds.
    void askForResultDetail();
    void updateZoomControls();
    ViewSize sourceSize() const;
    bool mousePressed(QMouseEvent* event);
    bool mouseMoved(QObject* canvas, QMouseEvent* event);
    void mouseReleased(QObject* canvas);
    /// Ctrl with the wheel zooms; returns whether the event was used.
    bool wheelZoomed(QWheelEvent* event);

    DisplayImage m_source;
    DisplayImage m_result;
    ViewportState m_state;
    bool m_fitted = false;
    bool m_dualView = true;
    bool m_fitOnlyBig = true;
    float m_zoomFactor = 1.2f;
    bool m_comparing = false;
    int m_wheelRemainder = 0;
    // The reduction last asked for by resultDetailNeeded for this result.
    int m_detailAsked = 0;

    // The pan anchor: the canvas pressed last and the last pointer position.
    QObject* m_panCanvas = nullptr;
    bool m_panning = false;
    QPointF m_panLast;

    QFrame* ScrollBox1;
    QFrame* ScrollBox2;
    ImageCanvas* Image1;
    ImageCanvas* Image2;
    QToolBar* ZoomToolbar;
    QLabel* Label8;
    QLabel* dim_img_initiala;
    QLabel* Label_Optimized;
    QLabel* dim_img_optimizata;
    QLabel* quality_score;

    QAction* m_zoomIn;
    QAction* m_zoomOut;
    QAction* m_actualSize;
    QAction* m_fitInWindow;
    QAction* m_compare;
    QAction* m_dualViewAction;
    QAction* m_fitOnlyBigAction;
};

}  // namespace pimo::ui
