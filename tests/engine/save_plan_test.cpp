// Save and Save As without a window: the proposed name, the replace offer,
// the dialog's start, the completed target and the remembered folder.

#include "engine/save_plan.h"

#include <gtest/gtest.h>

#include <set>

namespace pimo::engine {
namespace {

struct PlanCase {
    const char* name;
    SaveRequest request;
    std::set<std::string> existing;
    std::string expectedName;
    std::string expectedDialogStart;
    bool expectedOfferReplace;
    std::string expectedBesideSource;
};

void PrintTo(const PlanCase& c, std::ostream* os) {
    *os << c.name;
}

SaveRequest Request(bool saveAs, int format, int sourceFormat, std::string sourcePath,
                    std::string saveAsFolder = "", bool showDialogOnSave = false) {
    return {saveAs,          format, sourceFormat, std::move(sourcePath), std::move(saveAsFolder),
            showDialogOnSave};
}

class PlanSaveTest : public testing::TestWithParam<PlanCase> {};

TEST_P(PlanSaveTest, ProposesNameAndPlace) {
    const PlanCase& c = GetParam();
    const SavePlan plan =
        PlanSave(c.request, [&](const std::string& path) { return c.existing.contains(path); });
    EXPECT_EQ(plan.name, c.expectedName);
    EXPECT_EQ(plan.dialogStart, c.expectedDialogStart);
    EXPECT_EQ(plan.offerReplace, c.expectedOfferReplace);
    EXPECT_EQ(plan.besideSource, c.expectedBesideSource);
    EXPECT_EQ(plan.replaceQuestion, "Replace " + c.expectedName + " ?");
    EXPECT_EQ(plan.caption, c.request.saveAs ? "Save as" : "Save");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlanSaveTest,
    testing::Values(
        // The same format: the source's own path, offered for replacing.
        PlanCase{"SameFormatOffersTheSource",
                 Request(false, kFormatJpeg, kFormatJpeg, "/pics/a.jpg"),
                 {"/pics/a.jpg"},
                 "/pics/a.jpg",
                 "/pics/a.jpg",
                 true,
                 "/pics/a.jpg"},
        // Another format: the name alone with the new extension, beside the source.
        PlanCase{"OtherFormatNamesBesideTheSource",
                 Request(false, kFormatPng, kFormatJpeg, "/pics/a.jpg"),
                 {},
                 "a.png",
                 "/pics/a.png",
                 false,
                 "/pics/a.png"},
        PlanCase{"ExistingOutputIsOffered",
                 Request(false, kFormatGif, kFormatPng, "/pics/b.png"),
                 {"/pics/b.gif"},
                 "b.gif",
                 "/pics/b.gif",
                 true,
                 "/pics/b.gif"},
        // The dialog always shows when the user asked for it.
        PlanCase{"DialogOnSaveNeverOffersReplacing",
                 Request(false, kFormatJpeg, kFormatJpeg, "/pics/a.jpg", "", true),
                 {"/pics/a.jpg"},
                 "/pics/a.jpg",
                 "/pics/a.jpg",
                 false,
                 "/pics/a.jpg"},
        // Save As starts in its own folder with the name alone.
        PlanCase{"SaveAsStartsInItsFolder",
                 Request(true, kFormatJpeg, kFormatPng, "/pics/c.png", "/out/"),
                 {"/out/c.jpg"},
                 "c.jpg",
                 "/out/c.jpg",
                 false,
                 ""},
        PlanCase{"SaveAsWithoutAFolderStartsBesideTheSource",
                 Request(true, kFormatJpeg, kFormatPng, "/pics/c.png", ""),
                 {},
                 "c.jpg",
                 "/pics/c.jpg",
                 false,
                 ""},
        // An image without a file ("Untitled") gets the extension.
        PlanCase{"UntitledGetsTheExtension",
                 Request(true, kFormatPng, 3, "Untitled", "/out"),
                 {},
                 "Untitled.png",
                 "/out/Untitled.png",
                 false,
                 ""}));

TEST(SavePlan, LowPngCompressionAsksOnlyForPngAtTheFastLevels) {
    OptimizationSettings settings;
    settings.Format = kFormatPng;
    for (int level = 0; level <= 4; ++level) {
        settings.PNGCompressionType = level;
        EXPECT_EQ(AsksForHigherPngCompression(settings), level < kRecommendedPngCompression)
            << level;
    }
    settings.Format = kFormatJpeg;
    settings.PNGCompressionType = 0;
    EXPECT_FALSE(AsksForHigherPngCompression(settings));
}

TEST(SavePlan, ChosenTargetKeepsItsExtensionOrGetsTheFormats) {
    const SaveFormat png = SaveFormatFor(kFormatPng);
    EXPECT_EQ(CompletedSaveTarget("/out/x", png), "/out/x.png");
    EXPECT_EQ(CompletedSaveTarget("/out/x.jpeg", png), "/out/x.jpeg");
    EXPECT_EQ(CompletedSaveTarget("", png), "");
    EXPECT_EQ(SaveFormatFor(kFormatGif).defaultExtension, ".gif");
    EXPECT_EQ(SaveFormatFor(kFormatJpeg).filter, "JPEG Image (*.jpg *.jif *.jpeg *.jpe)");
}

TEST(SavePlan, SaveAsRemembersTheTargetsFolder) {
    EXPECT_EQ(SaveAsFolderAfter("/out/sub/x.png"), "/out/sub/");
}

}  // namespace
}  // namespace pimo::engine
