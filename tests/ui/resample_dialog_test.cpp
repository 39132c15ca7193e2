// The resample dialog offscreen: typed sizes mirror, the unit switches the
// texts, and OK makes the request and stores the choices.

#include "ui/resample_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "tests/ui/ui_helpers.h"

namespace pimo::ui {
namespace {

constexpr engine::ImageSize kOriginal{800, 600};

QLineEdit* Edit(const Tresample& dialog, const char* name) {
    return dialog.findChild<QLineEdit*>(name);
}

void Type(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

QStringList Texts(const Tresample& dialog) {
    return {Edit(dialog, "resize_w")->text(), Edit(dialog, "resize_h")->text()};
}

struct MirrorCase {
    const char* edit;
    const char* typed;
    bool percent;
    bool keepAspect;
    QStringList expected;  // width, height
};

class ResampleMirrorTest : public ::testing::TestWithParam<MirrorCase> {};

TEST_P(ResampleMirrorTest, TypedSizeMirrorsWithKeptAspect) {
    const MirrorCase c = GetParam();
    Tresample dialog(kOriginal, {1, c.percent ? 1 : 0, c.keepAspect});
    Type(Edit(dialog, c.edit), c.typed);
    EXPECT_EQ(Texts(dialog), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResampleMirrorTest,
    ::testing::Values(MirrorCase{"resize_w", "400", false, true, {"400", "300"}},
                      MirrorCase{"resize_h", "150", false, true, {"200", "150"}},
                      // 333 x 600 / 800 = 249.75
                      MirrorCase{"resize_w", "333", false, true, {"333", "250"}},
                      MirrorCase{"resize_w", "400", false, false, {"400", "600"}},
                      MirrorCase{"resize_w", "50", true, true, {"50", "50"}},
                      MirrorCase{"resize_h", "70", true, false, {"100", "70"}}));

TEST(ResampleDialog, TheUnitSwitchesTheTexts) {
    Tresample dialog(kOriginal, {});
    EXPECT_EQ(dialog.findChild<QLabel*>("Label3")->text(), "Original size: 800 x 600");
    EXPECT_EQ(Texts(dialog), (QStringList{"800", "600"}));
    QTest::mouseClick(dialog.findChild<QRadioButton*>("unit_percent"), Qt::LeftButton);
    EXPECT_EQ(Texts(dialog), (QStringList{"100", "100"}));
    QTest::mouseClick(dialog.findChild<QRadioButton*>("unit_pixels"), Qt::LeftButton);
    EXPECT_EQ(Texts(dialog), (QStringList{"800", "600"}));

    // A stored percent unit opens with the percent texts.
    Tresample percent(kOriginal, {1, 1, true});
    EXPECT_EQ(Texts(percent), (QStringList{"100", "100"}));
}

TEST(ResampleDialog, ShowsTheStoredChoices) {
    Tresample dialog(kOriginal, {4, 0, false});
    EXPECT_EQ(dialog.findChild<QComboBox*>("filter")->currentIndex(), 4);
    EXPECT_EQ(dialog.findChild<QComboBox*>("filter")->count(), 6);
    EXPECT_FALSE(dialog.findChild<QCheckBox*>("keep_aspect")->isChecked());
    // A filter index from a damaged settings file falls back to Catmull-Rom.
    Tresample damaged(kOriginal, {17, 0, true});
    EXPECT_EQ(damaged.findChild<QComboBox*>("filter")->currentIndex(), 1);
}

struct RequestCase {
    const char* width;
    const char* height;
    bool percent;
    bool keepAspect;
    engine::ResampleRequest expected;
};

class ResampleRequestTest : public ::testing::TestWithParam<RequestCase> {};

TEST_P(ResampleRequestTest, OkMakesTheRequestAndStoresTheChoices) {
    const RequestCase c = GetParam();
    ResampleChoices choices{2, c.percent ? 1 : 0, c.keepAspect};
    test::WhenShown<Tresample>([&c](Tresample* dialog) {
        // Set programmatically, so that no mirroring interferes.
        Edit(*dialog, "resize_w")->setText(c.width);
        Edit(*dialog, "resize_h")->setText(c.height);
        dialog->findChild<QComboBox*>("filter")->setCurrentIndex(5);
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    const std::optional<ResampleAnswer> answer = Tresample::Ask(nullptr, kOriginal, choices);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->request.width, c.expected.width);
    EXPECT_EQ(answer->request.height, c.expected.height);
    EXPECT_EQ(answer->request.percent, c.expected.percent);
    EXPECT_EQ(answer->request.keepAspect, c.expected.keepAspect);
    EXPECT_EQ(answer->filter, 5);
    EXPECT_EQ(choices, (ResampleChoices{5, c.percent ? 1 : 0, c.keepAspect}));
}

INSTANTIATE_TEST_SUITE_P(Table, ResampleRequestTest,
                         ::testing::Values(
                             // Both sides filled: the edits already follow the aspect ratio.
                             RequestCase{"400", "300", false, true, {400, 300, false, false}},
                             // One side empty: keep aspect passes on.
                             RequestCase{"1000", "", false, true, {1000, 0, false, true}},
                             RequestCase{"", "", false, true, {0, 0, false, true}},
                             RequestCase{"50", "70", true, false, {50, 70, true, false}},
                             RequestCase{"1000", "", false, false, {1000, 0, false, false}}));

TEST(ResampleDialog, CancelChangesNothing) {
    ResampleChoices choices{3, 1, false};
    test::WhenShown<Tresample>([](Tresample* dialog) {
        dialog->findChild<QComboBox*>("filter")->setCurrentIndex(0);
        dialog->findChild<QCheckBox*>("keep_aspect")->setChecked(true);
        dialog->reject();
    });
    EXPECT_FALSE(Tresample::Ask(nullptr, kOriginal, choices).has_value());
    EXPECT_EQ(choices, (ResampleChoices{3, 1, false}));
}

}  // namespace
}  // namespace pimo::ui
