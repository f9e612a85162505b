#include "webview/callback_adapter_code.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct AdapterCase {
    std::size_t argumentCount;
    std::uint32_t target;
    std::vector<std::uint8_t> bytes;
};

TEST(CallbackAdapterCode, LayoutForZeroTwoAndThreeArguments) {
    const AdapterCase cases[] = {
        {0, 0x12345678, {0x55, 0x8B, 0xEC, 0xB8, 0x78, 0x56, 0x34, 0x12, 0xFF, 0xD0, 0x5D, 0xC3}},
        {2, 0x00401000,
         {0x55, 0x8B, 0xEC, 0xB8, 0x00, 0x10, 0x40, 0x00,  //
          0xFF, 0xB5, 0x0C, 0x00, 0x00, 0x00,              // push [ebp+12]: the second argument
          0xFF, 0xB5, 0x08, 0x00, 0x00, 0x00,              // push [ebp+8]: the first argument
          0xFF, 0xD0, 0x5D, 0xC3}},
        {3, 0xFEDCBA98,
         {0x55, 0x8B, 0xEC, 0xB8, 0x98, 0xBA, 0xDC, 0xFE,  //
          0xFF, 0xB5, 0x10, 0x00, 0x00, 0x00,              // 16
          0xFF, 0xB5, 0x0C, 0x00, 0x00, 0x00,              // 12
          0xFF, 0xB5, 0x08, 0x00, 0x00, 0x00,              // 8
          0xFF, 0xD0, 0x5D, 0xC3}},
    };
    for (const AdapterCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "N = " << c.argumentCount);
        ASSERT_EQ(CallbackAdapterSize(c.argumentCount), c.bytes.size());
        // Exactly the adapter's size, so that a write past its end is caught.
        std::vector<std::uint8_t> code(CallbackAdapterSize(c.argumentCount));
        WriteCallbackAdapter(code.data(), c.target, c.argumentCount);
        EXPECT_EQ(code, c.bytes);
    }
}

TEST(CallbackAdapterCode, SizeIsSixPerArgumentPlusTwelve) {
    EXPECT_EQ(CallbackAdapterSize(0), 12u);
    EXPECT_EQ(CallbackAdapterSize(1), 18u);
    EXPECT_EQ(CallbackAdapterSize(2), 24u);
    EXPECT_EQ(CallbackAdapterSize(10), 72u);
}

}  // namespace
