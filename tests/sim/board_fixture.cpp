#include "tests/sim/board_fixture.h"

namespace veltrix::sim::testing {

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes HelloRequest() {
    Bytes hello{0x01};
    const Bytes magic = Text("QCOM fast download protocol host");
    hello.insert(hello.end(), magic.begin(), magic.end());
    hello.insert(hello.end(), {0x04, 0x02, 0x11});
    return hello;
}

void BoardFixture::BootProgrammer(RawHost& host) {
    Bytes go{0x05};
    AppendBe32(go, 0x2A000000);
    ASSERT_EQ(host.Exchange(go), Bytes{0x02});
    ASSERT_EQ(board->mode(), BoardMode::kProgrammer);
    const auto hello = host.Exchange(HelloRequest());
    ASSERT_TRUE(hello && !hello->empty());
    ASSERT_EQ((*hello)[0], 0x02);
    ASSERT_EQ(host.Exchange({0x17, 0x00}), Bytes{0x18});
    const auto open = host.Exchange({0x1B, 0x21});
    ASSERT_TRUE(open && !open->empty());
    ASSERT_EQ((*open)[0], 0x1C);
}

}  // namespace veltrix::sim::testing
