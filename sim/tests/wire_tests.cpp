#include "kestrasim/wire.h"
#include "replyrules.h"

#include <gtest/gtest.h>

using namespace kestra::sim;

TEST(Wire, ChecksumKnownValues)
{
    EXPECT_EQ(crc16X25("123456789"), 0x906E);
    EXPECT_EQ(crc16X25("abc"), 0x9E25);
    EXPECT_EQ(crc16X25("KESTRA #nonumber $0000 get_ID CRC="), 0x8ECE);
}

TEST(Wire, ReplyChecksumCoversPrefixThroughEquals)
{
    const std::string reply = formatReply("123456", "u=Sv");
    EXPECT_EQ(reply.substr(0, 20), "KESTRA #123456 u=Sv ");
    ASSERT_EQ(reply.size(), 19 + 9 + 2u); // " CRC=XXXX" and CR LF
    EXPECT_EQ(reply.substr(reply.size() - 2), "\r\n");
    const auto checked = replyrules::check(reply, "123456");
    EXPECT_TRUE(checked.complete);
    EXPECT_TRUE(checked.checksumOk);
    // Exactly four upper-case digits.
    const std::string digits = reply.substr(reply.find("CRC=") + 4, 4);
    for (char c : digits)
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F')) << digits;
}

TEST(Wire, ParseFrameCases)
{
    const std::string good = replyrules::frame("123456", 0x002A, "get_dose");
    struct Case {
        std::string text;
        bool wellFormed;
        bool checksumOk;
        std::string address;
        uint16_t sequence;
        std::string command;
    } cases[] = {
        { good, true, true, "123456", 0x002A, "get_dose" },
        { "KESTRA #nonumber $0000 get_ID CRC=8ECE\r\n", true, true, "nonumber", 0, "get_ID" },
        { "KESTRA #nonumber $0000 get_ID CRC=8ece\r\n", true, true, "nonumber", 0, "get_ID" },
        { "KESTRA #nonumber $0000 get_ID CRC=8ECF\r\n", true, false, "nonumber", 0, "get_ID" },
        // Two spaces before CRC= keep the trailing space of the command.
        { replyrules::frame("1", 7, "r_det_vers N=00 "), true, true, "1", 7, "r_det_vers N=00 " },
        { "KESTRA #nonumber $00G0 get_ID CRC=8ECE\r\n", false, false, "nonumber", 0, "" },
        { "KESTRA #nonumber get_ID CRC=8ECE\r\n", false, false, "nonumber", 0, "" },
        { "KESTRA #nonumber $0000 get_ID\r\n", false, false, "", 0, "" },
        { "KESTRA #nonumber $0000 get_ID CRC=\r\n", false, false, "nonumber", 0, "get_ID" },
        { "KESTRA # $0000 x CRC=0000\r\n", false, false, "", 0, "" },
    };
    for (const Case& c : cases) {
        const Frame f = parseFrame(c.text);
        EXPECT_EQ(f.wellFormed, c.wellFormed) << c.text;
        EXPECT_EQ(f.checksumOk, c.checksumOk) << c.text;
        if (c.wellFormed) {
            EXPECT_EQ(f.address, c.address) << c.text;
            EXPECT_EQ(f.sequence, c.sequence) << c.text;
            EXPECT_EQ(f.command, c.command) << c.text;
        }
    }
}

TEST(Wire, ParserCutsFramesFromNoisyStream)
{
    const std::string a = replyrules::frame("nonumber", 0, "get_ID");
    const std::string b = replyrules::frame("123456", 1, "info");
    FrameParser parser;
    // Stray bytes, a frame cut short by the next one, and a frame split across reads.
    const std::string stream = std::string("\x00\xFFzz", 4) + "KESTRA #123456 $0000 get_d" + a + b;
    for (std::size_t i = 0; i < stream.size(); i += 5)
        parser.feed(stream.data() + i, std::min<std::size_t>(5, stream.size() - i));
    auto first = parser.next();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->raw, a);
    EXPECT_TRUE(first->checksumOk);
    auto second = parser.next();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->command, "info");
    EXPECT_FALSE(parser.next());
    EXPECT_EQ(parser.buffered(), 0u);
}

TEST(Wire, ParserStaysBoundedWithoutLineEnds)
{
    FrameParser parser;
    const std::string junk(10000, 'x');
    parser.feed(junk.data(), junk.size());
    EXPECT_FALSE(parser.next());
    EXPECT_LT(parser.buffered(), 8u);
    // A prefix followed by endless text without CR LF is dropped once it passes the bound.
    const std::string open = "KESTRA #1 $0000 " + std::string(FrameParser::kMaxFrameBytes * 2, 'y');
    parser.feed(open.data(), open.size());
    EXPECT_FALSE(parser.next());
    EXPECT_LE(parser.buffered(), FrameParser::kMaxFrameBytes + 1);
    const std::string good = replyrules::frame("1", 2, "info");
    parser.feed(good.data(), good.size());
    auto f = parser.next();
    ASSERT_TRUE(f);
    EXPECT_EQ(f->command, "info");
}

TEST(Wire, HexAndNumberFormats)
{
    const uint8_t bytes[] = { 0x00, 0xAB, 0x7F };
    EXPECT_EQ(toHex(bytes, 3), "00AB7F");
    auto back = fromHex("00ab7F");
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, std::vector<uint8_t>({ 0x00, 0xAB, 0x7F }));
    EXPECT_FALSE(fromHex("abc"));
    EXPECT_FALSE(fromHex("zz"));
    EXPECT_EQ(formatE(1.2e-4), "1.200000E-004");
    EXPECT_EQ(formatE(45), "4.500000E+001");
    EXPECT_EQ(formatE(0), "0.000000E+000");
    EXPECT_EQ(formatE(-2.5e-300), "-2.500000E-300");
}
