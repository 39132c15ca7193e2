#include "ui/viewport_math.h"

#include <algorithm>
#include <cmath>

#include "settings/settings_keys.h"

namespace pimo::ui {
namespace {

constexpr float kMinZoomFactor = static_cast<float>(settings::SettingsKeyRange("ZoomFactor").min);
constexpr float kMaxZoomFactor = static_cast<float>(settings::SettingsKeyRange("ZoomFactor").max);

// Where the view goes on one axis after a zoom: centred, then moved by the
// old offset of its centre from the middle, scaled like the view. The image
// point that sat in the middle was `offset` left of the view's centre; after
// scaling it is `offset x scale` away, so moving the centred view by that
// much puts the point back in the middle.
int ZoomedPosition(int centred, int offset, double scale, int clientSide, int viewSide) {
    if (viewSide <= clientSide) return centred;
    return centred + RoundHalfAway(offset * scale);
}

// One axis of a pan: stays put when the view fits on it; otherwise moves by
// `delta`, kept where some of the image crosses the middle of the client area.
int PannedPosition(int position, int delta, int clientSide, int viewSide) {
    if (viewSide <= clientSide) return position;
    const int half = clientSide / 2;
    const int lowest = half - viewSide + 1;
    const int highest = half - 1;
    return std::clamp(position + delta, lowest, std::max(lowest, highest));
}

// One side after a zoom step, widened so that it cannot overflow. A side
// too small for the factor to change it after rounding (a 2-pixel side at
// 1.2, a 40-pixel side at 1.01) moves by one pixel, so every step zooms.
double SteppedSide(int side, double scale, ZoomStep step) {
    const double stepped = std::round(side * scale);
    if (stepped != side) return std::max(1.0, stepped);
    return step == ZoomStep::In ? side + 1.0 : std::max(1.0, side - 1.0);
}

}  // namespace

int RoundHalfAway(double x) {
    return static_cast<int>(x < 0 ? x - 0.5 : x + 0.5);
}

float ClampedZoomFactor(float factor) {
    if (!(factor >= kMinZoomFactor)) return kMinZoomFactor;  // also NaN
    return std::min(factor, kMaxZoomFactor);
}

int ZoomPercent(int sourceWidth, int viewWidth) {
    if (sourceWidth <= 0) return 0;
    // Single precision, as the stored factor is single precision.
    const float p = static_cast<float>(viewWidth) * 100.0f / static_cast<float>(sourceWidth);
    if (p == 100.0f) return 100;
    const int rounded = RoundHalfAway(p);
    if (rounded != 100) return rounded;
    return p < 100.0f ? 99 : 101;
}

std::string ZoomText(int percent) {
    return "Zoom " + std::to_string(percent) + "%";
}

ViewPoint CenteredPosition(ViewSize client, ViewSize view) {
    return {(client.width - view.width) / 2, (client.height - view.height) / 2};
}

bool ViewFits(ViewSize client, ViewSize view) {
    return client.width >= view.width && client.height >= view.height;
}

ViewportState ActualSizeState(ViewSize client, ViewSize image) {
    return {image, CenteredPosition(client, image), ViewMode::Actual};
}

ViewportState FitState(ViewSize client, ViewSize image, bool fitOnlyBig) {
    if (image.width <= 0 || image.height <= 0 || client.width <= 0 || client.height <= 0)
        return ActualSizeState(client, image);
    if (fitOnlyBig && image.width < client.width && image.height < client.height)
        return ActualSizeState(client, image);
    const float imageRatio = static_cast<float>(image.width) / static_cast<float>(image.height);
    const float clientRatio = static_cast<float>(client.width) / static_cast<float>(client.height);
    ViewSize view;
    if (clientRatio >= imageRatio) {
        view.height = client.height;
        view.width = std::max(1, RoundHalfAway(view.height * imageRatio));
    } else {
        view.width = client.width;
        view.height = std::max(1, RoundHalfAway(view.width / imageRatio));
    }
    return {view, CenteredPosition(client, view), ViewMode::Stretched};
}

ViewportState ZoomedState(const ViewportState& state, ViewSize client, float factor,
                          ZoomStep step) {
    const ViewSize old = state.view;
    if (step == ZoomStep::In && old.width > kMaxZoomSide && old.height > kMaxZoomSide) return state;
    if (step == ZoomStep::Out && old.width < kMinZoomSide && old.height < kMinZoomSide)
        return state;
    const double scale = step == ZoomStep::In ? double(factor) : 1.0 / double(factor);
    const double width = SteppedSide(old.width, scale, step);
    const double height = SteppedSide(old.height, scale, step);
    if (width > kMaxViewSide || height > kMaxViewSide) return state;

    // The offset of the view's centre from the middle of the client area,
    // taken before anything changes.
    const int dx = state.position.x + old.width / 2 - client.width / 2;
    const int dy = state.position.y + old.height / 2 - client.height / 2;

    ViewportState zoomed;
    zoomed.mode = ViewMode::Stretched;
    zoomed.view = {static_cast<int>(width), static_cast<int>(height)};
    const ViewPoint centred = CenteredPosition(client, zoomed.view);
    zoomed.position = {ZoomedPosition(centred.x, dx, scale, client.width, zoomed.view.width),
                       ZoomedPosition(centred.y, dy, scale, client.height, zoomed.view.height)};
    return zoomed;
}

ViewportState PannedState(const ViewportState& state, ViewSize client, int dx, int dy) {
    ViewportState panned = state;
    panned.position.x = PannedPosition(state.position.x, dx, client.width, state.view.width);
    panned.position.y = PannedPosition(state.position.y, dy, client.height, state.view.height);
    return panned;
}

ViewportState ResizedState(const ViewportState& state, ViewSize client, ViewSize image, bool fitted,
                           bool fitOnlyBig) {
    if (fitted) return FitState(client, image, fitOnlyBig);
    ViewportState resized = state;
    resized.position = CenteredPosition(client, state.view);
    return resized;
}

int DisplayReduction(ViewSize image, ViewSize view) {
    if (image.width <= 0 || image.height <= 0 || view.width <= 0 || view.height <= 0) return 1;
    int chosen = 1;
    for (const int reduction : kDisplayReductions) {
        const int width = (image.width + reduction - 1) / reduction;
        const int height = (image.height + reduction - 1) / reduction;
        if (width >= view.width && height >= view.height) chosen = reduction;
    }
    return chosen;
}

}  // namespace pimo::ui
