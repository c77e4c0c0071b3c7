#include "brenlo/binary.hpp"
#include "brenlo/color.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>

using namespace brenlo;
using namespace brenlo::io;
using brenlo::gfx::RGBAColor;

TEST(Color, HexAndInterpolation) {
    EXPECT_EQ(RGBAColor(0, 0, 0, 0).toHex6(), "#000000");
    EXPECT_EQ(RGBAColor(255, 255, 255, 255).toHex6(), "#FFFFFF");
    EXPECT_EQ(RGBAColor(10, 11, 12, 13).toHex6(), "#0A0B0C");
    EXPECT_EQ(RGBAColor::MAGENTA.toHex6(), "#FF00FF");
    EXPECT_EQ(RGBAColor(), RGBAColor(0, 0, 0, 0));
    RGBAColor olive(170, 170, 85, 255), blue(85, 85, 170, 255);
    EXPECT_EQ(olive.lerp(0.5, blue), RGBAColor(127, 127, 127, 255));
    EXPECT_EQ(olive.lerp(1, blue), blue);
    EXPECT_EQ(olive.lerp(0, blue), olive);
    EXPECT_EQ(RGBAColor::lerp(0.5, RGBAColor(0, 0, 0, 0), RGBAColor(255, 255, 255, 255)),
              RGBAColor(127, 127, 127, 127));
    // Out of range keeps the low eight bits; NaN and huge values give black.
    EXPECT_EQ(RGBAColor(0, 0, 0, 0).lerp(2, RGBAColor(200, 0, 0, 0)).r(), (400 & 0xFF));
    EXPECT_EQ(olive.lerp(std::nan(""), blue).toHex6(), "#000000");
    EXPECT_EQ(olive.lerp(std::numeric_limits<double>::infinity(), blue).toHex6(), "#000000");
}

TEST(Endian, ConversionsAndSwaps) {
    EXPECT_EQ(swap16(0x0102), 0x0201);
    EXPECT_EQ(swap32(0x01020304u), 0x04030201u);
    EXPECT_EQ(swap64(0x0102030405060708ull), 0x0807060504030201ull);
    char buf[] = "abcd";
    cswap(buf, 4);
    EXPECT_STREQ(buf, "dcba");
    EXPECT_EQ(endianConvert32(5, ENDIAN_BIG, ENDIAN_BIG), 5u);
    EXPECT_EQ(endianConvert16(0x0102, ENDIAN_BIG, ENDIAN_LITTLE), 0x0201);
    try {
        endianConvert16(1, ENDIAN_BIG, static_cast<Endianness>(7));
        FAIL() << "no exception";
    } catch (const UnsupportedOperationException& e) {
        EXPECT_STREQ(e.what(), "Can't handle endian.");
    }
    EXPECT_TRUE(HOST_ENDIAN == ENDIAN_LITTLE || HOST_ENDIAN == ENDIAN_BIG);
}

TEST(BinaryStreams, ByteLayoutsAndRoundTrips) {
    unsigned char block[64] = {};
    BinaryWriter big(block, sizeof block, ENDIAN_BIG);
    EXPECT_EQ(big.writeUI16(0x0102), 2u);
    EXPECT_EQ(block[0], 1);
    EXPECT_EQ(block[1], 2);
    BinaryReader asBig(block, 2, ENDIAN_BIG);
    EXPECT_EQ(asBig.readUI16(), 0x0102);
    BinaryReader asLittle(block, 2, ENDIAN_LITTLE);
    EXPECT_EQ(asLittle.readUI16(), 0x0201);

    for (Endianness e : {ENDIAN_BIG, ENDIAN_LITTLE}) {
        std::stringstream s;
        BinaryWriter w(s, e);
        w.writeSI8(-2);
        w.writeUI8(0xF0);
        w.writeSI16(-12345);
        w.writeUI16(0xFEDC);
        w.writeSI32(-123456789);
        w.writeUI32(0xFEDCBA98u);
        w.writeSI64(-1234567890123456789ll);
        w.writeUI64(0xFEDCBA9876543210ull);
        w.writeFloat(1.5f);
        w.writeDouble(-2.25);
        BinaryReader r(s, e);
        EXPECT_EQ(r.readSI8(), -2);
        EXPECT_EQ(r.readUI8(), 0xF0);
        EXPECT_EQ(r.readSI16(), -12345);
        EXPECT_EQ(r.readUI16(), 0xFEDC);
        EXPECT_EQ(r.readSI32(), -123456789);
        EXPECT_EQ(r.readUI32(), 0xFEDCBA98u);
        EXPECT_EQ(r.readSI64(), -1234567890123456789ll);
        EXPECT_EQ(r.readUI64(), 0xFEDCBA9876543210ull);
        EXPECT_EQ(r.readFloat(), 1.5f);
        EXPECT_EQ(r.readDouble(), -2.25);
        EXPECT_THROW(r.readUI32(), IOException);
    }
}

TEST(BinaryStreams, Strings) {
    std::stringstream s;
    BinaryWriter w(s, ENDIAN_BIG);
    EXPECT_EQ(w.writePStr8("abc"), 4u);
    EXPECT_EQ(s.str(), std::string("\x03"
                                   "abc"));
    EXPECT_EQ(w.writePStr8(std::string(255, 'x')), 256u);
    try {
        w.writePStr8(std::string(256, 'x'));
        FAIL() << "no exception";
    } catch (const IOException& e) {
        EXPECT_STREQ(e.what(), "String too large to fit in a PStr8");
    }
    EXPECT_THROW(w.writePStr16(std::string(65536, 'x')), IOException);
    EXPECT_EQ(w.writePStr16(std::string(65535, 'x')), 65537u);

    std::stringstream s64;
    BinaryWriter w64(s64, ENDIAN_LITTLE);
    EXPECT_EQ(w64.writePStr64("abc"), 11u);
    EXPECT_EQ(s64.str(), std::string("\x03\0\0\0\0\0\0\0abc", 11));
    EXPECT_EQ(w64.writePStr32("hello", 1, 3), 7u);
    BinaryReader r64(s64, ENDIAN_LITTLE);
    EXPECT_EQ(r64.readPStr64(), "abc");
    EXPECT_EQ(r64.readPStr32(), "ell");

    std::stringstream nts;
    BinaryWriter wn(nts, ENDIAN_LITTLE);
    EXPECT_EQ(wn.writeNTS("ab"), 3u);
    wn.writeUI8('c');
    BinaryReader rn(nts, ENDIAN_LITTLE);
    EXPECT_EQ(rn.readNTS(), "ab");
    EXPECT_EQ(rn.readUI8(), 'c');

    unsigned char block[] = {5, 'a', 'b'};
    BinaryReader rb(block, sizeof block, ENDIAN_LITTLE);
    EXPECT_EQ(rb.readPStr8(), "ab");
}
