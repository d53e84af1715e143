#include "crc.h"
#include "frame.h"

#include <gtest/gtest.h>

using namespace kestra;

TEST(Checksum, KnownValues)
{
    EXPECT_EQ(checksum("123456789"), 0x906E);
    EXPECT_EQ(checksum("abc"), 0x9E25);
    EXPECT_EQ(checksum("KESTRA #nonumber $0000 get_ID CRC="), 0x8ECE);
}

TEST(Frame, FirstFrameAndAddressedFrame)
{
    EXPECT_EQ(buildFrame("", 0, "get_ID"), "KESTRA #nonumber $0000 get_ID CRC=8ECE\r\n");
    std::string frame = buildFrame("123456", 0x2A, "get_dose");
    std::string head = "KESTRA #123456 $002A get_dose CRC=";
    ASSERT_EQ(frame.substr(0, head.size()), head);
    char crc[8];
    std::snprintf(crc, sizeof crc, "%04X", checksum(head));
    EXPECT_EQ(frame.substr(head.size()), std::string(crc) + "\r\n");
}
