#include <gtest/gtest.h>

#include "tests/fakes/fake_port.h"

namespace fake {

void expectFailureAfterClose(const std::string& out, const std::string& text)
{
    size_t at = out.find("failure: line(");
    ASSERT_NE(at, std::string::npos) << out;
    EXPECT_EQ(out.find("failure: line(", at + 1), std::string::npos) << out;
    EXPECT_EQ(out.substr(out.find(") ", at) + 2), text);
    EXPECT_EQ(library().closeOutputOffsets, std::vector<long> { static_cast<long>(at) });
    EXPECT_EQ(library().openHandles, 0);
}

} // namespace fake
