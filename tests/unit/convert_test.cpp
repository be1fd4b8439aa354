#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>

#include "lorvex/convert.hpp"

using namespace lorvex::convert;
using bytes = std::array<unsigned char, 4>;

TEST(TextNumber, DecimalHexadecimalAndExponents)
{
    EXPECT_EQ(text_number<float>("12"), 12.f);
    EXPECT_EQ(text_number<float>("-2.5"), -2.5f);
    EXPECT_EQ(text_number<float>("1e3"), 1000.f);
    EXPECT_EQ(text_number<float>("2.5E-2"), 0.025f);
    EXPECT_EQ(text_number<float>("0x10"), 16.f);
    EXPECT_EQ(text_number<float>("-0X1f"), -31.f);
    EXPECT_EQ(text_number<float>("0x1.8p1"), 3.f);
    EXPECT_EQ(text_number<float>(".5"), 0.5f);
    EXPECT_EQ(text_number<float>("+7"), 7.f);
}

TEST(TextNumber, SpaceBeforeAndJunkAfter)
{
    EXPECT_EQ(text_number<float>("  \t\n42"), 42.f);
    EXPECT_EQ(text_number<float>("12abc"), 12.f);
    EXPECT_EQ(text_number<float>("3.5.6"), 3.5f);
    EXPECT_EQ(text_number<float>("1e"), 1.f);
    EXPECT_EQ(text_number<float>("0x"), 0.f);
    EXPECT_EQ(text_number<float>("abc"), 0.f);
    EXPECT_EQ(text_number<float>(""), 0.f);
    EXPECT_EQ(text_number<float>("- 5"), 0.f);
}

TEST(TextNumber, InfinityNanAndTheFloatRange)
{
    EXPECT_EQ(text_number<float>("inf"), INFINITY);
    EXPECT_EQ(text_number<float>("-Infinity"), -INFINITY);
    EXPECT_TRUE(std::isnan(text_number<float>("nan")));
    EXPECT_TRUE(std::isnan(text_number<float>("NAN(123)")));
    // Beyond the float range, but within the double range: still infinity.
    EXPECT_EQ(text_number<float>("1e39"), INFINITY);
    EXPECT_EQ(text_number<float>("-1e39"), -INFINITY);
    EXPECT_EQ(text_number<float>("1e400"), INFINITY);
    // The largest float and the rounding just past it.
    EXPECT_EQ(text_number<float>("3.4028234e38"), 3.4028234664e38f);
    EXPECT_EQ(text_number<float>("3.40282356e38"), 3.4028234664e38f);
    EXPECT_EQ(text_number<float>("3.4028236e38"), INFINITY);
    // Too small: rounds to zero, keeping the sign.
    EXPECT_EQ(text_number<float>("1e-50"), 0.f);
    EXPECT_TRUE(std::signbit(text_number<float>("-1e-50")));
    // Rounded once, from the decimal text to the nearest float.
    EXPECT_EQ(text_number<float>("0.1"), 0.1f);
    EXPECT_EQ(text_number<float>("16777217"), 16777216.f);
}

TEST(FirstByte, UnsignedCodeOfTheFirstByte)
{
    EXPECT_EQ(first_byte("A"), 65.f);
    EXPECT_EQ(first_byte("hello"), 104.f);
    EXPECT_EQ(first_byte(""), 0.f);
    EXPECT_EQ(first_byte("\x80"), 128.f);
    EXPECT_EQ(first_byte("\xff"), 255.f);
    // UTF-8 "é": only its lead byte.
    EXPECT_EQ(first_byte("\xc3\xa9"), 195.f);
}

TEST(GlyphByte, LowByteOfTheUnsignedTruncation)
{
    EXPECT_EQ(glyph_byte(65.f), 'A');
    EXPECT_EQ(glyph_byte(65.9f), 'A');
    EXPECT_EQ(glyph_byte(321.f), 'A');
    EXPECT_EQ(glyph_byte(353.f), 'a');
    EXPECT_EQ(glyph_byte(255.f), '\xff');
    EXPECT_EQ(glyph_byte(0.f), 0);
    EXPECT_EQ(glyph_byte(256.f), 0);
    EXPECT_EQ(glyph_byte(-1.f), 0);
    EXPECT_EQ(glyph_byte(-65.f), 0);
    EXPECT_EQ(glyph_byte(-0.f), 0);
    EXPECT_EQ(glyph_byte(NAN), 0);
    EXPECT_EQ(glyph_byte(-INFINITY), 0);
    // 2^32 and beyond give 4294967295, whose low byte is 255.
    EXPECT_EQ(glyph_byte(4294967296.f), '\xff');
    EXPECT_EQ(glyph_byte(1e30f), '\xff');
    EXPECT_EQ(glyph_byte(INFINITY), '\xff');
    // The float just below 2^32 is 2^32 - 256.
    EXPECT_EQ(glyph_byte(4294967040.f), 0);
}

TEST(FloatBytes, MemoryOrderOfTheBitPattern)
{
    EXPECT_EQ(float_bytes(1.f), (bytes{0, 0, 128, 63}));
    EXPECT_EQ(float_bytes(-2.5f), (bytes{0, 0, 32, 192}));
    EXPECT_EQ(float_bytes(0.1f), (bytes{205, 204, 204, 61}));
    EXPECT_EQ(float_bytes(0.f), (bytes{0, 0, 0, 0}));
    EXPECT_EQ(float_bytes(-0.f), (bytes{0, 0, 0, 128}));
    EXPECT_EQ(float_bytes(INFINITY), (bytes{0, 0, 128, 127}));
    EXPECT_EQ(float_bytes(1e-45f), (bytes{1, 0, 0, 0}));
    // Every bit pattern survives, NaN payloads included.
    const bytes payload{1, 2, 192, 255};
    float nan;
    std::memcpy(&nan, payload.data(), 4);
    EXPECT_EQ(float_bytes(nan), payload);
}

TEST(AmplitudeDb, TwentyLog10)
{
    EXPECT_EQ(amplitude_db(1.f), 0.f);
    EXPECT_EQ(amplitude_db(10.f), 20.f);
    EXPECT_EQ(amplitude_db(100.f), 40.f);
    EXPECT_EQ(amplitude_db(0.001f), -60.f);
    EXPECT_FLOAT_EQ(amplitude_db(0.5f), -6.0206f);
    EXPECT_FLOAT_EQ(amplitude_db(2.f), 6.0206f);
    // No floor for positive amplitudes, however small.
    EXPECT_EQ(amplitude_db(1e-30f), -600.f);
    EXPECT_NEAR(amplitude_db(1e-45f), -897.07f, 0.01f); // the smallest denormal
    EXPECT_EQ(amplitude_db(INFINITY), INFINITY);
}

TEST(AmplitudeDb, ZeroNegativeAndNan)
{
    EXPECT_EQ(amplitude_db(0.f), -199.9f);
    EXPECT_EQ(amplitude_db(-0.f), -199.9f);
    EXPECT_EQ(amplitude_db(-1.f), -199.9f);
    EXPECT_EQ(amplitude_db(-INFINITY), -199.9f);
    EXPECT_TRUE(std::isnan(amplitude_db(NAN)));
    EXPECT_TRUE(std::isnan(amplitude_db(-NAN)));
}
