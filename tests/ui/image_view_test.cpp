// The image view offscreen: what the panes show after opening, zooming,
// panning and comparing, checked on the painted pixels.

#include "ui/image_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <cstdlib>

#include "ui/display_image.h"

namespace pimo::ui {
namespace {

QImage Filled(QSize size, QColor colour) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// A picture whose every region differs: a colour ramp with a black cross.
QImage Landmarks(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb(x * 255 / size.width(), y * 255 / size.height(), 128));
    QPainter painter(&image);
    painter.fillRect(size.width() / 3, 0, 3, size.height(), Qt::black);
    painter.fillRect(0, size.height() / 3, size.width(), 3, Qt::black);
    return image;
}

class ImageViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_view.resize(900, 530);
        m_view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_view));
    }

    QWidget* canvas(const char* name) { return m_view.findChild<QWidget*>(name); }
    QImage painted(const char* name) { return canvas(name)->grab().toImage(); }
    QColor middleOf(const char* name) {
        const QImage image = painted(name);
        return image.pixelColor(image.width() / 2, image.height() / 2);
    }
    QToolButton* compareButton() {
        auto* toolbar = m_view.findChild<QToolBar*>("ZoomToolbar");
        return qobject_cast<QToolButton*>(toolbar->widgetForAction(m_view.compareAction()));
    }
    void send(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        const QPointF local(at);
        QMouseEvent event(type, local, target->mapToGlobal(local),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }
    void wheel(int delta, Qt::KeyboardModifiers modifiers) {
        QWidget* target = canvas("Image2");
        const QPointF at(QPoint(target->width() / 2, target->height() / 2));  // a whole pixel
        QWheelEvent event(at, target->mapToGlobal(at), {}, {0, delta}, Qt::NoButton, modifiers,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &event);
    }

    ImageView m_view;
};

TEST_F(ImageViewTest, ASmallImageOpensAtActualSizeWithFitOnlyBig) {
    QSignalSpy zoom(&m_view, &ImageView::zoomTextChanged);
    m_view.setSourceImage(Filled({120, 90}, Qt::red));
    m_view.setResultImage(Filled({120, 90}, Qt::red));
    ASSERT_FALSE(zoom.isEmpty());
    EXPECT_EQ(zoom.last().at(0).toString(), "Zoom 100%");
    EXPECT_EQ(m_view.viewport().view, (ViewSize{120, 90}));

    // Without fit-only-big the same picture is enlarged to fill the pane.
    m_view.setFitOnlyBig(false);
    m_view.fit_in_windowExecute();
    const ViewSize client = m_view.clientSize();
    EXPECT_TRUE(m_view.viewport().view.width == client.width ||
                m_view.viewport().view.height == client.height);
    EXPECT_GT(m_view.viewport().view.width, 120);
    EXPECT_NE(zoom.last().at(0).toString(), "Zoom 100%");
}

TEST_F(ImageViewTest, HoldingCompareInSingleViewShowsTheSource) {
    m_view.setDualView(false);
    m_view.setSourceImage(Filled({300, 200}, Qt::red));
    m_view.setResultImage(Filled({300, 200}, Qt::blue));
    ASSERT_EQ(middleOf("Image2"), QColor(Qt::blue));

    QTest::mousePress(compareButton(), Qt::LeftButton);
    EXPECT_EQ(middleOf("Image2"), QColor(Qt::red));
    QTest::mouseRelease(compareButton(), Qt::LeftButton);
    EXPECT_EQ(middleOf("Image2"), QColor(Qt::blue));
}

// Fitted, and zoomed in so far that a press on a pane would pan: the
// button's press is still the button's.
TEST_F(ImageViewTest, HoldingCompareInDualViewSwapsThePanes) {
    for (const int zoomSteps : {0, 6}) {
        SCOPED_TRACE(zoomSteps);
        m_view.setSourceImage(Filled({300, 200}, Qt::red));
        m_view.setResultImage(Filled({300, 200}, Qt::blue));
        for (int i = 0; i < zoomSteps; ++i) m_view.zoom_inExecute();
        QTest::mousePress(compareButton(), Qt::LeftButton);
        EXPECT_EQ(middleOf("Image1"), QColor(Qt::blue));
        EXPECT_EQ(middleOf("Image2"), QColor(Qt::red));
        QTest::mouseRelease(compareButton(), Qt::LeftButton);
        EXPECT_EQ(middleOf("Image1"), QColor(Qt::red));
        EXPECT_EQ(middleOf("Image2"), QColor(Qt::blue));
    }
}

TEST_F(ImageViewTest, ZoomingAndPanningKeepBothPanesAligned) {
    const QImage picture = Landmarks({1600, 1200});
    m_view.setSourceImage(picture);
    m_view.setResultImage(picture);
    const QImage fitted = painted("Image2");
    ASSERT_EQ(painted("Image1"), fitted);

    for (int i = 0; i < 4; ++i) m_view.zoom_inExecute();
    QWidget* right = canvas("Image2");
    send(right, QEvent::MouseButtonPress, {100, 100}, Qt::LeftButton);
    send(right, QEvent::MouseMove, {160, 70}, Qt::LeftButton);
    send(right, QEvent::MouseButtonRelease, {160, 70}, Qt::NoButton);
    m_view.zoom_outExecute();

    const QImage zoomed = painted("Image2");
    EXPECT_NE(zoomed, fitted);
    EXPECT_EQ(painted("Image1"), zoomed);
}

// The column of the cross's dark line in the middle row of a painted pane.
int DarkestColumn(const QImage& shown, int from, int to) {
    const int y = shown.height() / 2 + 40;  // below the horizontal line
    int darkest = from;
    for (int x = from; x < to; ++x)
        if (qGray(shown.pixel(x, y)) < qGray(shown.pixel(darkest, y))) darkest = x;
    return darkest;
}

// A result held reduced (as decoded for a fitted view) is drawn in the full
// picture's place: the panes line up, and a last block that stands for part
// of a pixel block still reaches the picture's edge, no further.
TEST_F(ImageViewTest, AReducedResultLinesUpWithTheSource) {
    for (const QSize full : {QSize(1600, 1200), QSize(1601, 1201)}) {
        SCOPED_TRACE(full.width());
        const QImage picture = Landmarks(full);
        const QSize reducedSize((full.width() + 1) / 2, (full.height() + 1) / 2);
        m_view.setSourceImage(picture);
        m_view.setResultImage(
            picture.scaled(reducedSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), 2, full);
        ASSERT_EQ(m_view.pictureFor(false).reduction(), 2);
        ASSERT_EQ(m_view.pictureFor(false).size(), full);

        const QImage source = painted("Image1");
        const QImage result = painted("Image2");
        ASSERT_EQ(source.size(), result.size());
        const qreal ratio = canvas("Image2")->devicePixelRatioF() / result.devicePixelRatio();
        const ViewportState& state = m_view.viewport();
        const int left = qRound(state.position.x / ratio);
        const int top = qRound(state.position.y / ratio);
        const int right = qRound((state.position.x + state.view.width) / ratio) - 1;
        const int bottom = qRound((state.position.y + state.view.height) / ratio) - 1;
        EXPECT_EQ(DarkestColumn(result, left, right), DarkestColumn(source, left, right));
        // Inside the picture nothing is far from the source's colour, up to
        // the last painted row and column; the pane around it is untouched.
        for (const QPoint at :
             {QPoint(left, top), QPoint(right, top), QPoint(left, bottom), QPoint(right, bottom),
              QPoint((left + right) / 2, bottom), QPoint(right, (top + bottom) / 2)}) {
            const QColor want = source.pixelColor(at), got = result.pixelColor(at);
            EXPECT_LE(std::abs(want.red() - got.red()) + std::abs(want.green() - got.green()) +
                          std::abs(want.blue() - got.blue()),
                      12)
                << at.x() << "," << at.y();
        }
        ASSERT_LT(bottom + 2, result.height());
        EXPECT_EQ(result.pixelColor((left + right) / 2, bottom + 2), QColor(48, 48, 48));
    }
}

// Zooming past what the reduced result holds asks once for its pixels; a
// picture with them replaces the stand-in, one of another result does not.
TEST_F(ImageViewTest, ZoomingPastAReducedResultAsksForItsPixels) {
    const QImage picture = Landmarks({1600, 1200});
    m_view.setSourceImage(picture);
    QSignalSpy asked(&m_view, &ImageView::resultDetailNeeded);
    // Held at an eighth: too coarse even for the fitted view, asked at once.
    m_view.setResultImage(picture.scaled(200, 150), 8, picture.size());
    ASSERT_EQ(asked.size(), 1);
    const int fitted = asked.last().at(0).toInt();
    EXPECT_EQ(fitted, DisplayReduction({1600, 1200}, m_view.viewport().view));
    EXPECT_LT(fitted, 8);

    // Actual size wants every pixel (unless the fitted view did already).
    m_view.actual_sizeExecute();
    const qsizetype asks = fitted == 1 ? 1 : 2;
    ASSERT_EQ(asked.size(), asks);
    EXPECT_EQ(asked.last().at(0).toInt(), 1);
    m_view.zoom_inExecute();
    EXPECT_EQ(asked.size(), asks);  // asked already

    m_view.setResultDetail(DisplayImage(Landmarks({800, 600})));  // not this result
    EXPECT_EQ(m_view.pictureFor(false).reduction(), 8);
    m_view.setResultDetail(DisplayImage(picture));
    EXPECT_EQ(m_view.pictureFor(false).reduction(), 1);
    m_view.actual_sizeExecute();
    EXPECT_EQ(painted("Image2"), painted("Image1"));
    EXPECT_EQ(asked.size(), asks);
}

TEST_F(ImageViewTest, CtrlWheelZoomsAndThePlainWheelDoesNot) {
    m_view.setSourceImage(Filled({1000, 800}, Qt::gray));
    m_view.actual_sizeExecute();
    wheel(120, Qt::NoModifier);
    EXPECT_EQ(m_view.viewport().view, (ViewSize{1000, 800}));
    wheel(120, Qt::ControlModifier);
    EXPECT_EQ(m_view.viewport().view, (ViewSize{1200, 960}));
    wheel(-120, Qt::ControlModifier);
    EXPECT_EQ(m_view.viewport().view, (ViewSize{1000, 800}));
}

TEST_F(ImageViewTest, DraggingPansOnlyAViewLargerThanItsPane) {
    m_view.setSourceImage(Filled({200, 100}, Qt::gray));
    QWidget* right = canvas("Image2");
    const ViewportState fitting = m_view.viewport();
    send(right, QEvent::MouseButtonPress, {50, 50}, Qt::LeftButton);
    EXPECT_FALSE(right->testAttribute(Qt::WA_SetCursor));
    send(right, QEvent::MouseMove, {90, 80}, Qt::LeftButton);
    send(right, QEvent::MouseButtonRelease, {90, 80}, Qt::NoButton);
    EXPECT_EQ(m_view.viewport(), fitting);

    m_view.setSourceImage(Filled({3000, 2000}, Qt::gray));
    m_view.actual_sizeExecute();
    const ViewPoint before = m_view.viewport().position;
    send(right, QEvent::MouseButtonPress, {50, 50}, Qt::LeftButton);
    EXPECT_EQ(right->cursor().shape(), Qt::SizeAllCursor);
    send(right, QEvent::MouseMove, {90, 80}, Qt::LeftButton);
    const qreal ratio = right->devicePixelRatioF();
    EXPECT_EQ(m_view.viewport().position,
              (ViewPoint{before.x + qRound(40 * ratio), before.y + qRound(30 * ratio)}));
    send(right, QEvent::MouseButtonRelease, {90, 80}, Qt::NoButton);
    EXPECT_NE(right->cursor().shape(), Qt::SizeAllCursor);
}

TEST_F(ImageViewTest, EnlargedPixelsStaySharp) {
    QImage checker(2, 2, QImage::Format_RGB32);
    checker.setPixel(0, 0, qRgb(0, 0, 0));
    checker.setPixel(1, 1, qRgb(0, 0, 0));
    checker.setPixel(1, 0, qRgb(255, 255, 255));
    checker.setPixel(0, 1, qRgb(255, 255, 255));
    m_view.setSourceImage(checker);
    m_view.setResultImage(checker);
    for (int i = 0; i < 30; ++i) m_view.zoom_inExecute();
    const ViewportState& state = m_view.viewport();
    ASSERT_GT(state.view.width, 200);
    // Every pixel inside the picture is black or white, never a blend.
    const QImage shown = painted("Image2");
    // Grabbed pixels to the device pixels the viewport counts in.
    const qreal ratio = canvas("Image2")->devicePixelRatioF() / shown.devicePixelRatio();
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) {
            const int dx = qRound(x * ratio) - state.position.x;
            const int dy = qRound(y * ratio) - state.position.y;
            if (dx < 1 || dy < 1 || dx >= state.view.width - 1 || dy >= state.view.height - 1)
                continue;
            const int grey = qGray(shown.pixel(x, y));
            ASSERT_TRUE(grey == 0 || grey == 255) << x << "," << y << " is " << grey;
        }
}

// A picture drawn at half its size shows each 2 x 2 block's average, rounded,
// whatever the block holds, up to the last column; an odd last column of the
// picture is left out.
TEST(DisplayImageTest, AHalfSizeDrawingAveragesEachBlock) {
    struct Block {
        QRgb pixels[4];
        QRgb average;
    };
    const Block blocks[] = {
        {{qRgb(0, 0, 0), qRgb(255, 255, 255), qRgb(255, 255, 255), qRgb(0, 0, 0)},
         qRgb(128, 128, 128)},
        {{qRgb(10, 20, 30), qRgb(50, 60, 70), qRgb(90, 100, 110), qRgb(130, 140, 150)},
         qRgb(70, 80, 90)},
        {{qRgb(0, 1, 255), qRgb(0, 0, 255), qRgb(0, 0, 255), qRgb(2, 0, 254)}, qRgb(1, 0, 255)},
    };
    for (const Block& block : blocks) {
        QImage picture(515, 512, QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixel(x, y, block.pixels[(y % 2) * 2 + x % 2]);
        const DisplayImage display(picture);
        QImage drawn(257, 256, QImage::Format_RGB32);
        drawn.fill(Qt::magenta);
        QPainter painter(&drawn);
        display.draw(painter, drawn.rect(), drawn.rect());
        painter.end();
        for (const QPoint at : {QPoint(0, 0), QPoint(128, 77), QPoint(255, 255), QPoint(256, 3)})
            EXPECT_EQ(drawn.pixel(at), block.average)
                << qRed(drawn.pixel(at)) << "," << qGreen(drawn.pixel(at)) << ","
                << qBlue(drawn.pixel(at));
    }
}

TEST_F(ImageViewTest, ActualSizeIsOneImagePixelPerDevicePixel) {
    // Columns alternating black and white, one pixel each.
    QImage stripes(64, 64, QImage::Format_RGB32);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) stripes.setPixel(x, y, x % 2 ? qRgb(255, 255, 255) : 0);
    m_view.setSourceImage(stripes);
    m_view.setResultImage(stripes);
    m_view.actual_sizeExecute();
    // The grab holds device pixels on any screen density.
    const QImage shown = painted("Image2");
    const ViewportState& state = m_view.viewport();
    ASSERT_EQ(state.view, (ViewSize{64, 64}));
    const int y = state.position.y + 32;
    for (int x = 0; x < 64; ++x)
        ASSERT_EQ(qGray(shown.pixel(state.position.x + x, y)), x % 2 ? 255 : 0) << x;
}

TEST_F(ImageViewTest, ATransparentPictureLiesOverACheckerboard) {
    QImage clear(200, 200, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    m_view.setSourceImage(clear);
    m_view.setResultImage(clear);
    for (const char* pane : {"Image1", "Image2"}) {
        const QImage shown = painted(pane);
        QSet<QRgb> colours;
        const int cx = shown.width() / 2;
        const int cy = shown.height() / 2;
        for (int y = cy - 20; y < cy + 20; ++y)
            for (int x = cx - 20; x < cx + 20; ++x) colours.insert(shown.pixel(x, y));
        EXPECT_EQ(colours, (QSet<QRgb>{qRgb(255, 255, 255), qRgb(204, 204, 204)})) << pane;
    }
}

TEST_F(ImageViewTest, TheNoImageStateTurnsTheZoomCommandsOff) {
    m_view.setSourceImage(Filled({300, 200}, Qt::red));
    m_view.setResultImage(Filled({300, 200}, Qt::blue));
    m_view.setSourceSizeText("12 KiB", "12,345 bytes");
    EXPECT_TRUE(m_view.zoomInAction()->isEnabled());
    EXPECT_TRUE(m_view.compareAction()->isEnabled());

    m_view.clear();
    for (QAction* action :
         {m_view.zoomInAction(), m_view.zoomOutAction(), m_view.actualSizeAction(),
          m_view.fitInWindowAction(), m_view.compareAction()})
        EXPECT_FALSE(action->isEnabled()) << action->objectName().toStdString();
    EXPECT_TRUE(m_view.findChild<QLabel*>("dim_img_initiala")->text().isEmpty());
    // Nothing but the pane's background is painted.
    const QImage shown = painted("Image2");
    EXPECT_EQ(shown.pixelColor(shown.width() / 2, shown.height() / 2), shown.pixelColor(1, 1));
    EXPECT_NE(shown.pixelColor(shown.width() / 2, shown.height() / 2), QColor(Qt::blue));
}

TEST_F(ImageViewTest, TheCommandsCarryTheirNamesAndKeys) {
    struct Expected {
        QAction* action;
        const char* name;
        QKeySequence key;
    };
    for (const Expected& e :
         {Expected{m_view.zoomInAction(), "zoom_in", Qt::KeypadModifier | Qt::Key_Plus},
          Expected{m_view.zoomOutAction(), "zoom_out", Qt::KeypadModifier | Qt::Key_Minus},
          Expected{m_view.actualSizeAction(), "actual_size", Qt::KeypadModifier | Qt::Key_Asterisk},
          Expected{m_view.fitInWindowAction(), "fit_in_window", Qt::KeypadModifier | Qt::Key_Slash},
          Expected{m_view.dualViewAction(), "action_dual_View", Qt::SHIFT | Qt::Key_D},
          Expected{m_view.fitOnlyBigAction(), "action_fob", Qt::SHIFT | Qt::Key_F}}) {
        EXPECT_EQ(e.action->objectName(), e.name);
        EXPECT_EQ(e.action->shortcut(), e.key) << e.name;
    }
    EXPECT_EQ(m_view.compareAction()->objectName(), "inplace_compare");
    // Shift+D toggles the dual view.
    m_view.setSourceImage(Filled({300, 200}, Qt::red));
    QTest::keyClick(&m_view, Qt::Key_D, Qt::ShiftModifier);
    EXPECT_FALSE(m_view.dualView());
    EXPECT_FALSE(m_view.findChild<QWidget*>("ScrollBox1")->isVisible());
    QTest::keyClick(&m_view, Qt::Key_Plus, Qt::KeypadModifier);
    EXPECT_EQ(m_view.viewport().view, (ViewSize{360, 240}));
    // X11 hands the shortcut map a keypad key without its keypad modifier:
    // the plain key is bound too.
    EXPECT_TRUE(m_view.zoomOutAction()->shortcuts().contains(QKeySequence(Qt::Key_Minus)));
    QTest::keyClick(&m_view, Qt::Key_Minus);
    EXPECT_EQ(m_view.viewport().view, (ViewSize{300, 200}));
}

}  // namespace
}  // namespace pimo::ui
