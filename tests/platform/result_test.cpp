#include "platform/result.h"
#include "platform/hresult.h"

#include <gtest/gtest.h>

namespace orvik {
namespace {

Result<int> parsePositive(int v) {
    if (v <= 0)
        return makeError("not positive");
    return v;
}

TEST(Result, CarriesValueOrMessage) {
    auto good = parsePositive(3);
    ASSERT_TRUE(good.ok());
    EXPECT_EQ(*good, 3);
    auto bad = parsePositive(-1);
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error(), "not positive");
    Result<void> fine;
    EXPECT_TRUE(fine.ok());
    Result<void> broken = makeError("cannot write");
    EXPECT_EQ(broken.error(), "cannot write");
}

TEST(HResult, KeepsTheKnownNumbers) {
    EXPECT_EQ(static_cast<std::uint32_t>(VFW_E_WRONG_STATE), 0x80040227u);
    EXPECT_TRUE(failed(E_FAIL));
    EXPECT_TRUE(succeeded(S_FALSE));
}

}  // namespace
}  // namespace orvik
