#include <gmock/gmock.h>
#include <gtest/gtest.h>


#include "common/ComputerInfo.h"

namespace quorvin {
namespace {

TEST(ComputerInfo, MacAddressTextForm) {
    const std::uint8_t address[6] = {0x00, 0x50, 0x56, 0xC0, 0x00, 0x08};
    EXPECT_EQ(CComputerInfo::FormatMacAddress(address), "00-50-56-C0-00-08");
    const std::uint8_t high[6] = {0xAB, 0xCD, 0xEF, 0x0A, 0x0B, 0xFF};
    EXPECT_EQ(CComputerInfo::FormatMacAddress(high), "AB-CD-EF-0A-0B-FF");
}

TEST(ComputerInfo, ThisMachinesAdapterOrAnUntouchedBuffer) {
    std::string out = "untouched";
    const int rc = CComputerInfo::GetMacAddress(out);
    if (rc == 0) {
        // "00-50-56-C0-00-08": six upper-case hex pairs between dashes.
        ASSERT_EQ(out.size(), 17u) << out;
        for (std::size_t i = 0; i < out.size(); ++i) {
            if (i % 3 == 2) {
                EXPECT_EQ(out[i], '-') << out;
            } else {
                EXPECT_NE(std::string("0123456789ABCDEF").find(out[i]), std::string::npos) << out;
            }
        }
        EXPECT_NE(out, "00-00-00-00-00-00");
    } else {
        EXPECT_EQ(out, "untouched");
    }
}

TEST(ComputerInfo, HostNameFitsItsBuffer) {
    const std::string name = CComputerInfo::GetHostName();
    EXPECT_FALSE(name.empty());
    EXPECT_LE(name.size(), 99u);
    EXPECT_EQ(name.find('\0'), std::string::npos);
}

}  // namespace
}  // namespace quorvin
