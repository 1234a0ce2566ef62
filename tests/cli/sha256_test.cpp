// The run record's SHA-256 against the standard's own examples, fed in pieces that cross the
// 64-byte blocks every way.
#include "base/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace veltrix::cli {
namespace {

TEST(Sha256, StandardExamplesInAnyPieces) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [text, digest] : cases) {
        for (size_t piece : {size_t{1}, size_t{63}, size_t{64}, size_t{65}, size_t{4096}}) {
            Sha256 sha;
            for (size_t at = 0; at < text.size(); at += piece) {
                const auto* bytes = reinterpret_cast<const uint8_t*>(text.data()) + at;
                sha.Update(bytes, std::min(piece, text.size() - at));
            }
            EXPECT_EQ(sha.HexDigest(), digest) << text.size() << " in " << piece;
        }
    }
}

}  // namespace
}  // namespace veltrix::cli
