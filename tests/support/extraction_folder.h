#pragma once
// A total image and an output folder in a temporary folder, and the extraction between them with
// a fresh run log each time.

#include <gtest/gtest.h>

#include <filesystem>

#include "layout/image_extraction.h"
#include "tests/support/bench_scene.h"
#include "tests/support/recording_view.h"

namespace veltrix::testing {

class ExtractionFolder : public ::testing::Test {
protected:
    ExtractionFolder() { std::filesystem::create_directory(out); }

    // Extracts `from` into `to`; the run log's lines and messages are kept in `lines`/`messages`.
    int Run(const std::filesystem::path& from, const std::filesystem::path& to) {
        RecordingView view;
        const int result = ExtractTotalImage(from, to, view);
        lines = view.Lines();
        messages = view.Messages();
        return result;
    }
    int Extract(const TotalImage& image) {
        WriteTotalImage(bin, image);
        return Run(bin, out);
    }
    void EmptyOut() {
        std::filesystem::remove_all(out);
        std::filesystem::create_directory(out);
    }

    TempFolder dir;
    std::filesystem::path bin = dir / "total.bin";
    std::filesystem::path out = dir / "out";
    Lines lines, messages;
};

}  // namespace veltrix::testing
