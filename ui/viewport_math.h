#pragma once
// The arithmetic of the image view: zoom steps that keep the middle of the
// panes still, fitting, centring, panning within limits and the zoom text.
// Plain numbers only, so it is tested without a toolkit. All sizes and
// positions are device pixels of a pane's client area (the area inside its
// frame); at 100 % one image pixel covers one device pixel.

#include <string>

namespace pimo::ui {

struct ViewSize {
    int width = 0;
    int height = 0;
    bool operator==(const ViewSize&) const = default;
};

struct ViewPoint {
    int x = 0;
    int y = 0;
    bool operator==(const ViewPoint&) const = default;
};

/// Actual: the image at one image pixel per device pixel. Stretched: the
/// image drawn scaled to the view size.
enum class ViewMode { Actual, Stretched };

/// The one viewport both panes are drawn from: the size of the drawn image
/// and its top-left corner relative to the pane's client area (negative when
/// the image is larger than the pane).
struct ViewportState {
    ViewSize view;
    ViewPoint position;
    ViewMode mode = ViewMode::Actual;
    bool operator==(const ViewportState&) const = default;
};

/// Zoom in stops once the view is wider and taller than this; zoom out once
/// it is narrower and lower than kMinZoomSide.
inline constexpr int kMaxZoomSide = 20000;
inline constexpr int kMinZoomSide = 10;
/// No side ever grows beyond this, whatever the image's shape, so that the
/// arithmetic and the painter's coordinates cannot overflow.
inline constexpr int kMaxViewSide = 1 << 24;

/// Rounds to the nearest integer, halves away from zero.
int RoundHalfAway(double x);

/// The zoom step a stored factor gives: factors outside 1.01..2.00 (or not a
/// number) are clamped, so a damaged settings file cannot make zoom in shrink.
float ClampedZoomFactor(float factor);

/// The percent the status bar shows for `sourceWidth` image pixels drawn
/// `viewWidth` pixels wide: exactly 100 only at 1:1; a ratio that rounds to
/// 100 without being 1:1 shows 99 or 101. 0 without an image.
int ZoomPercent(int sourceWidth, int viewWidth);

/// "Zoom 123%".
std::string ZoomText(int percent);

/// The top-left position that centres `view` in `client` (truncating
/// halves), negative when the view is larger than the client area.
ViewPoint CenteredPosition(ViewSize client, ViewSize view);

/// The view fits when the client area holds it on both axes.
bool ViewFits(ViewSize client, ViewSize view);

/// The image at actual size, centred.
ViewportState ActualSizeState(ViewSize client, ViewSize image);

/// Fit in window: with `fitOnlyBig` an image smaller than the client area on
/// both axes stays at actual size; otherwise the largest view of the image's
/// aspect ratio inside the client area, centred. An empty image or client
/// gives the actual-size state.
ViewportState FitState(ViewSize client, ViewSize image, bool fitOnlyBig);

enum class ZoomStep { In, Out };

/// One zoom step: both sides multiplied (In) or divided (Out) by `factor`,
/// the image point in the middle of the client area kept in the middle. An
/// axis on which the zoomed view fits is centred. Returns `state` unchanged
/// at the limits: zoom in when the view is already wider and taller than
/// kMaxZoomSide, zoom out when it is narrower and lower than kMinZoomSide,
/// or when a side would pass kMaxViewSide.
ViewportState ZoomedState(const ViewportState& state, ViewSize client, float factor, ZoomStep step);

/// The state after dragging by (dx, dy). An axis on which the view fits does
/// not move; on the others the view stays where part of the image crosses
/// the middle of the client area (top strictly between half the client
/// height minus the view height and half the client height).
ViewportState PannedState(const ViewportState& state, ViewSize client, int dx, int dy);

/// The state after the client area changes size: a fitted view is fitted
/// again, any other view keeps its zoom and is centred.
ViewportState ResizedState(const ViewportState& state, ViewSize client, ViewSize image, bool fitted,
                           bool fitOnlyBig);

/// The reductions a JPEG decodes at directly, smallest first.
inline constexpr int kDisplayReductions[] = {1, 2, 4, 8};

/// The largest of kDisplayReductions at which `image`, each side divided and
/// rounded up (as the decoder scales it), still has at least as many pixels
/// as `view` on both axes: the smallest decode that shows a view of that
/// size as sharp as the full image would. 1 for an empty image or view.
int DisplayReduction(ViewSize image, ViewSize view);

}  // namespace pimo::ui
