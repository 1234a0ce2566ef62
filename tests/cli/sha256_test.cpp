// The run record's SHA-256 against the standard's own examples, fed in awkward pieces.

#include "base/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace veltrix::cli {
namespace {

std::string Digest(const std::string& text, size_t piece) {
    Sha256 sha;
    for (size_t at = 0; at < text.size(); at += piece) {
        const std::string part = text.substr(at, piece);
        sha.Update(reinterpret_cast<const uint8_t*>(part.data()), part.size());
    }
    return sha.HexDigest();
}

TEST(Sha256, StandardExamplesInAnyPieces) {
    const struct {
        std::string text;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        for (size_t piece : {size_t{1}, size_t{63}, size_t{64}, size_t{65}, size_t{4096}}) {
            if (piece == 1 && c.text.size() > 1000)
                continue;
            EXPECT_EQ(Digest(c.text, piece), c.digest) << c.text.size() << " in " << piece;
        }
    }
}

}  // namespace
}  // namespace veltrix::cli
