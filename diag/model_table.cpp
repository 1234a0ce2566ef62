#include "diag/model_table.h"

#include <array>
#include <string>

namespace veltrix {
namespace {

constexpr int kDefaultPmicFamily = 1;
constexpr int kDefaultLoaderFamily = 1;
constexpr int kDefaultDdrImageFamily = 8;

// display text, chipset, LoaderFamily, PmicFamily, DdrImageFamily
constexpr std::array<ModelRow, kModelCount> kModels{{
    {"Tamsin (APQ8064)", "APQ8064", 1, 1, 8},
    {"Oriel (MSM8960 L,V)", "MSM8960", 1, 1, 8},
    {"Oriel (MSM8960 S,K,D,A)", "MSM8960", 1, 1, 8},
    {"Brask (APQ8064)", "APQ8064", 1, 1, 8},
    {"Oriel (MSM8960 SKDA DDR8G)", "MSM8960", 1, 1, 8},
    {"Corvin (MSM8974)", "MSM8974", 0, 4, 8},
    {"Pellam (MSM8974_Stonewort)", "MSM8974", 0, 4, 8},
    {"FenrowII (MSM8225)", "MSM8225", 2, 8, 8},
    {"Fenrow (MSM7227)", "MSM7227", 2, 8, 8},
    {"Marlo (MSM7225)", "MSM7225", 2, 8, 8},
    {"MosselII (MSM7225)", "MSM7225", 2, 8, 8},
    {"Ysolde Ferrand (MSM8210)", "MSM8210", 0, 5, 3},
    {"Ysolde Ferrand (MSM8610)", "MSM8610", 0, 5, 3},
    {"Tibbet (MSM8930)", "MSM8930", 1, 8, 8},
    {"Hadley Loxley (MSM8226)", "MSM8226", 0, 6, 3},
    {"Amberly (MSM8926)", "MSM8926", 0, 7, 3},
    {"Rusk (MSM8974AC)", "MSM8974AC", 0, 4, 8},
}};

}  // namespace

std::span<const ModelRow, kModelCount> ModelTable() { return kModels; }

int ModelClass(std::string_view model, ModelQuery query) {
    for (const ModelRow& row : kModels) {
        if (row.displayText != model) {
            continue;
        }
        switch (query) {
            case ModelQuery::PmicFamily:
                return row.pmicFamily;
            case ModelQuery::LoaderFamily:
                return row.loaderFamily;
            case ModelQuery::DdrImageFamily:
                return row.ddrImageFamily;
        }
    }
    switch (query) {
        case ModelQuery::PmicFamily:
            return kDefaultPmicFamily;
        case ModelQuery::LoaderFamily:
            return kDefaultLoaderFamily;
        case ModelQuery::DdrImageFamily:
            return kDefaultDdrImageFamily;
    }
    return kDefaultPmicFamily;
}

std::filesystem::path PathFromUtf8(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::filesystem::path ModelFolder(const std::filesystem::path& workDir, std::string_view model) {
    std::filesystem::path folder = workDir / "model";
    folder += std::filesystem::path::preferred_separator;
    folder += PathFromUtf8(model);
    return folder;
}

}  // namespace veltrix
