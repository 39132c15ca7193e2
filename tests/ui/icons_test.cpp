// Every toolbar icon can be drawn, from the theme or from our own drawings.

#include "ui/icons.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>
#include <QSet>

namespace pimo::ui {
namespace {

// How many pixels of the icon drawn at 32 x 32 are not fully transparent.
int InkedPixels(const QIcon& icon) {
    const QImage image = icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
    int inked = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) inked += qAlpha(image.pixel(x, y)) > 0;
    return inked;
}

TEST(Icons, EveryNameDraws) {
    const QStringList names = ToolbarIconNames();
    EXPECT_EQ(names.size(), 19);
    for (const QString& name : names) {
        EXPECT_GT(InkedPixels(ToolbarIcon(name)), 30) << name.toStdString();
        // Our own drawing is there even where a theme would answer first.
        EXPECT_GT(InkedPixels(BuiltInIcon(name)), 30) << name.toStdString();
    }
}

TEST(Icons, DrawingsDiffer) {
    // A copy-paste slip would give two commands the same picture.
    QSet<QByteArray> seen;
    for (const QString& name : ToolbarIconNames()) {
        const QImage image = BuiltInIcon(name).pixmap(32, 32).toImage();
        const QByteArray bytes(reinterpret_cast<const char*>(image.constBits()),
                               image.sizeInBytes());
        EXPECT_FALSE(seen.contains(bytes)) << name.toStdString();
        seen.insert(bytes);
    }
}

TEST(Icons, AnUnknownNameHasNoIcon) {
    EXPECT_TRUE(ToolbarIcon("no_such_icon").isNull());
    EXPECT_TRUE(BuiltInIcon("").isNull());
}

}  // namespace
}  // namespace pimo::ui
