// The model table's classes and model folders.

#include "diag/model_table.h"

#include <gtest/gtest.h>

#include <set>

namespace veltrix {
namespace {

struct ClassCase {
    const char* model;
    int pmic;
    int loader;
    int ddrImage;
};

TEST(ModelClassTest, AnswersEachQueryForRowsAndTypedTexts) {
    const ClassCase cases[] = {
        // PMIC refused, but the AP check still takes the emergency-download upload.
        {"Tibbet (MSM8930)", 8, 1, 8},
        // Same family for both chipsets of one model.
        {"Ysolde Ferrand (MSM8210)", 5, 0, 3},
        {"Ysolde Ferrand (MSM8610)", 5, 0, 3},
        {"FenrowII (MSM8225)", 8, 2, 8},
        {"Amberly (MSM8926)", 7, 0, 3},
        {"Rusk (MSM8974AC)", 4, 0, 8},
        // Typed texts that match no row exactly get the defaults.
        {"Tibbet (MSM8930) ", 1, 1, 8},
        {"tibbet (MSM8930)", 1, 1, 8},
        {"Hadley Loxley (msm8226)", 1, 1, 8},
        {"Hadley Loxley", 1, 1, 8},
        {"", 1, 1, 8},
    };
    for (const ClassCase& c : cases) {
        SCOPED_TRACE(c.model);
        EXPECT_EQ(ModelClass(c.model, ModelQuery::PmicFamily), c.pmic);
        EXPECT_EQ(ModelClass(c.model, ModelQuery::LoaderFamily), c.loader);
        EXPECT_EQ(ModelClass(c.model, ModelQuery::DdrImageFamily), c.ddrImage);
    }
}

TEST(ModelClassTest, EveryRowIsFoundByItsOwnText) {
    std::set<std::string_view> texts;
    for (const ModelRow& row : ModelTable()) {
        SCOPED_TRACE(row.displayText);
        EXPECT_TRUE(texts.insert(row.displayText).second) << "duplicate text";
        EXPECT_EQ(ModelClass(row.displayText, ModelQuery::PmicFamily), row.pmicFamily);
        EXPECT_EQ(ModelClass(row.displayText, ModelQuery::LoaderFamily), row.loaderFamily);
        EXPECT_EQ(ModelClass(row.displayText, ModelQuery::DdrImageFamily), row.ddrImageFamily);
    }
}

TEST(ModelFolderTest, IsTheExactTextBelowModel) {
    const std::filesystem::path work = "/opt/veltrix";
    EXPECT_EQ(ModelFolder(work, "Oriel (MSM8960 S,K,D,A)"),
              std::filesystem::path("/opt/veltrix/model/Oriel (MSM8960 S,K,D,A)"));
    EXPECT_EQ(ModelFolder(work, "Corvin (MSM8974) ").filename(), "Corvin (MSM8974) ");
    EXPECT_TRUE(ModelFolder(work, "모델 (MSM8974)").filename().u8string() == u8"모델 (MSM8974)");
    // A typed text that looks absolute still names a folder below the model folder.
    const std::string below = ModelFolder(work, "/etc").generic_string();
    EXPECT_EQ(below.rfind("/opt/veltrix/model/", 0), 0u) << below;
}

}  // namespace
}  // namespace veltrix
