#pragma once
// The handset models the program serves, the families each belongs to, and where its files lie.

#include <filesystem>
#include <span>
#include <string_view>

namespace veltrix {

// The questions ModelClass answers about a model.
enum class ModelQuery {
    PmicFamily = 1,      // which PMIC rail layout, or 8: PMIC test not supported
    LoaderFamily = 2,    // 0 Sahara, 2 DLOAD with the OEMSBL image set, 1 DLOAD with sbl2
    DdrImageFamily = 3,  // 3 the SDRAM test runs through the DDR-debug image, 8 two-phase test
};

// Classes the engine acts on.
inline constexpr int kPmicNotSupported = 8;
inline constexpr int kSaharaLoader = 0;
inline constexpr int kDdrDebugImage = 3;

struct ModelRow {
    std::string_view displayText;  // name, a space, the chipset in parentheses
    std::string_view chipset;
    int loaderFamily;
    int pmicFamily;
    int ddrImageFamily;
};

inline constexpr int kModelCount = 17;

// The rows in the order the dialog adds them to its model list.
std::span<const ModelRow, kModelCount> ModelTable();

// The class of `model` for the query: the matching row's (whole text, case-sensitive), or the
// default of the query for a text in no row (1 for PmicFamily and LoaderFamily, 8 for
// DdrImageFamily).
int ModelClass(std::string_view model, ModelQuery query);

// The model's folder: workDir, "model", then the model text exactly as given (UTF-8), joined
// with the platform separator. The text is appended as it stands, so a text that looks like an
// absolute path still names a folder below workDir/model.
std::filesystem::path ModelFolder(const std::filesystem::path& workDir, std::string_view model);

// A path from UTF-8 text.
std::filesystem::path PathFromUtf8(std::string_view text);

}  // namespace veltrix
