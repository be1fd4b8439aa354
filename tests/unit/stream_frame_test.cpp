#include <gtest/gtest.h>

#include <bit>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "lorvex/stream_frame.hpp"

using namespace lorvex::stream;

namespace {

// References in long double, whose 64-bit significand holds x × 32767 and
// (x + 1) × 128 exactly for every |x| of at least 2^-30 (and in the default
// rounding mode rintl rounds ties to even).
std::int16_t reference_16bit(float x)
{
    long double p = std::rintl(static_cast<long double>(x) * 32767.0L);
    std::int64_t v = p > 2147483647.0L ? INT32_MAX : p < -2147483648.0L ? INT32_MIN
                                                                          : static_cast<std::int64_t>(p);
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(v & 0xffff));
}

std::uint8_t reference_8bit(float x)
{
    long double p = std::truncl((static_cast<long double>(x) + 1.0L) * 128.0L);
    std::int64_t v = p > 32767.0L ? 32767 : p < -32768.0L ? -32768 : static_cast<std::int64_t>(p);
    return static_cast<std::uint8_t>(v & 0xff);
}

} // namespace

TEST(StreamTag, BytesOnTheWire)
{
    const tag_bytes b = encode_tag(SF_16BIT, 0x01020304, 2, 4096);
    const tag_bytes expect = {1, 11, 0, 0, 4, 3, 2, 1, 2, 0, 0, 0, 0, 0x10, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(b, expect);
    // Signed fields in two's complement, little-endian.
    const tag_bytes neg = encode_tag(SF_FLOAT, -2, 32, 131072);
    EXPECT_EQ(neg[4], 0xfe);
    EXPECT_EQ(neg[7], 0xff);
    EXPECT_EQ(neg[8], 32);
    EXPECT_EQ(neg[14], 0x02);

    const t_tag t = decode_tag(b);
    EXPECT_EQ(t.mark, 1);
    EXPECT_EQ(t.format, SF_16BIT);
    EXPECT_EQ(t.count, 0x01020304);
    EXPECT_EQ(t.channels, 2);
    EXPECT_EQ(t.framesize, 4096);
    EXPECT_EQ(tag_problem(t), nullptr);
}

TEST(StreamTag, ProblemsAReceiverMustRefuse)
{
    auto problem = [](tag_bytes b) { return tag_problem(decode_tag(b)); };
    const tag_bytes good = encode_tag(SF_8BIT, 7, 3, 3072);
    EXPECT_EQ(problem(good), nullptr);
    for (int at : {2, 3, 9, 10, 11, 16, 20, 23}) {
        tag_bytes b = good;
        b[at] = 1;
        EXPECT_NE(problem(b), nullptr) << "reserved byte " << at;
    }
    tag_bytes b = good;
    b[0] = 2;
    EXPECT_NE(problem(b), nullptr);
    EXPECT_NE(problem(encode_tag(SF_MP3, 1, 1, 1024)), nullptr);
    EXPECT_NE(problem(encode_tag(0, 1, 1, 1024)), nullptr);
    EXPECT_NE(problem(encode_tag(SF_FLOAT, 1, 33, frame_bytes(SF_FLOAT, 33))), nullptr);
    EXPECT_NE(problem(encode_tag(SF_FLOAT, 1, -1, 0)), nullptr);
    EXPECT_NE(problem(encode_tag(SF_FLOAT, 1, 2, 4096)), nullptr);
    EXPECT_NE(problem(encode_tag(SF_16BIT, 1, 2, 8192)), nullptr);
    EXPECT_EQ(problem(encode_tag(SF_FLOAT, 1, 0, 0)), nullptr);
    EXPECT_EQ(problem(encode_tag(SF_FLOAT, 1, 32, 131072)), nullptr);
}

TEST(StreamTag, CountWrapsAtTheTopOfItsRange)
{
    // Evaluated by the compiler, which refuses a signed overflow on the way.
    constexpr std::int32_t after_top = next_count(INT32_MAX);
    EXPECT_EQ(after_top, INT32_MIN);
    EXPECT_EQ(next_count(0), 1);
    EXPECT_EQ(next_count(-1), 0);
    EXPECT_EQ(encode_tag(SF_FLOAT, after_top, 1, 4096)[7], 0x80);
}

TEST(StreamTag, FrameSizes)
{
    EXPECT_EQ(frame_bytes(SF_FLOAT, 2), 8192);
    EXPECT_EQ(frame_bytes(SF_16BIT, 31), 63488);
    EXPECT_EQ(frame_bytes(SF_8BIT, 32), 32768);
    EXPECT_EQ(frame_bytes(SF_FLOAT, 15), 61440);
    EXPECT_EQ(frame_bytes(SF_FLOAT, 16), 65536);
    EXPECT_EQ(frame_bytes(SF_MP3, 1), 1024);
}

TEST(StreamEncoding, SixteenBitWrapsWithoutClipping)
{
    EXPECT_EQ(encode_16bit(1.0f), 32767);
    EXPECT_EQ(encode_16bit(-1.0f), -32767);
    EXPECT_EQ(encode_16bit(0.5f), 16384);   // 16383.5: tie to even
    EXPECT_EQ(encode_16bit(-0.5f), -16384);
    EXPECT_EQ(encode_16bit(1.5f), -16386);  // 49150.5 -> 49150, wrapped
    EXPECT_EQ(encode_16bit(2.5f), 16382);   // 81917.5 -> 81918
    EXPECT_EQ(encode_16bit(0.25f), 8192);   // 8191.75
    EXPECT_EQ(encode_16bit(0.0f), 0);
    EXPECT_EQ(encode_16bit(-0.0f), 0);
    // Just either side of a half: 2^-16 × 32767 = 0.49998..., 3 × 2^-16 gives 1.49998...
    EXPECT_EQ(encode_16bit(std::ldexp(1.f, -16)), 0);
    EXPECT_EQ(encode_16bit(std::ldexp(3.f, -16)), 1);
}

TEST(StreamEncoding, EightBitWrapsWithoutClipping)
{
    EXPECT_EQ(encode_8bit(-1.0f), 0);
    EXPECT_EQ(encode_8bit(0.0f), 128);
    EXPECT_EQ(encode_8bit(0.5f), 192);
    EXPECT_EQ(encode_8bit(0.999f), 255);
    EXPECT_EQ(encode_8bit(1.0f), 0);
    EXPECT_EQ(encode_8bit(-1.5f), 192);
    EXPECT_EQ(encode_8bit(-0.999f), 0);    // 0.128 truncates to 0
    EXPECT_EQ(encode_8bit(-1.01f), 255);   // -1.28 truncates toward zero to -1
    // Exactly as the arithmetic says, also where a float sum would round:
    // (1/128 - 2^-30 + 1) × 128 lies just below 129.
    EXPECT_EQ(encode_8bit(0.0078125f - std::ldexp(1.f, -30)), 128);
    EXPECT_EQ(encode_8bit(-1e-30f), 127);
    EXPECT_EQ(encode_8bit(1e-30f), 128);
}

TEST(StreamEncoding, BeyondTheIntegerRangeIsDefined)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    // The 32-bit integer takes the nearest limit (0x7fffffff, 0x80000000) and NaN gives 0.
    EXPECT_EQ(encode_16bit(nan), 0);
    EXPECT_EQ(encode_16bit(-nan), 0);
    EXPECT_EQ(encode_16bit(inf), -1);
    EXPECT_EQ(encode_16bit(-inf), 0);
    EXPECT_EQ(encode_16bit(1e30f), -1);
    EXPECT_EQ(encode_16bit(-1e30f), 0);
    // The last values inside the 32-bit range still wrap.
    EXPECT_EQ(encode_16bit(65538.f), reference_16bit(65538.f));
    EXPECT_EQ(encode_16bit(65540.f), -1);   // 2147549180 is past the top
    // The 16-bit integer of the 8-bit encoding likewise (0x7fff, 0x8000).
    EXPECT_EQ(encode_8bit(nan), 0);
    EXPECT_EQ(encode_8bit(inf), 255);
    EXPECT_EQ(encode_8bit(-inf), 0);
    EXPECT_EQ(encode_8bit(1e30f), 255);
    EXPECT_EQ(encode_8bit(-1e30f), 0);
    EXPECT_EQ(encode_8bit(254.f), reference_8bit(254.f));   // 32640
    EXPECT_EQ(encode_8bit(255.f), 255);                     // 32768 is past the top
}

TEST(StreamEncoding, MatchesExactArithmeticOverManyValues)
{
    std::mt19937 gen(7);
    std::vector<float> values;
    // Random bit patterns over the whole float range, and dense samples of
    // the audio range and of the wrap-around range.
    std::uniform_int_distribution<std::uint32_t> bits;
    std::uniform_real_distribution<float> audio(-2.f, 2.f), wide(-70000.f, 70000.f);
    for (int i = 0; i < 200000; i++) {
        values.push_back(std::bit_cast<float>(bits(gen)));
        values.push_back(audio(gen));
        values.push_back(wide(gen));
    }
    // Every exact tie k + 0.5 of the 16-bit product near full scale.
    for (int k = -3; k <= 3; k++)
        values.push_back(static_cast<float>(k) + 0.5f);
    int checked = 0;
    for (float x : values) {
        if (std::isnan(x) || (x != 0 && std::fabs(x) < std::ldexp(1.f, -30)))
            continue;
        ASSERT_EQ(encode_16bit(x), reference_16bit(x)) << x;
        ASSERT_EQ(encode_8bit(x), reference_8bit(x)) << x;
        checked++;
    }
    EXPECT_GT(checked, 500000);
}

TEST(StreamEncoding, BlocksAreInterleavedSampleMajor)
{
    const float a[3] = {0.5f, -1.0f, 1.5f}, b[3] = {-0.5f, 0.0f, 1.0f}, c[3] = {9, 9, 9};
    const float *in[3] = {a, b, c};
    unsigned char out[32] = {};
    // Only the first two inputs are channels.
    unsigned char *end = encode_block(SF_16BIT, in, 2, 3, out);
    ASSERT_EQ(end - out, 12);
    std::int16_t v[6];
    std::memcpy(v, out, sizeof v);
    EXPECT_EQ(std::vector<std::int16_t>(v, v + 6),
        (std::vector<std::int16_t>{16384, -16384, -32767, 0, -16386, 32767}));

    end = encode_block(SF_8BIT, in, 2, 3, out);
    ASSERT_EQ(end - out, 6);
    EXPECT_EQ(std::vector<int>(out, out + 6), (std::vector<int>{192, 64, 0, 128, 64, 0}));

    end = encode_block(SF_FLOAT, in, 2, 2, out);
    ASSERT_EQ(end - out, 16);
    float f[4];
    std::memcpy(f, out, sizeof f);
    EXPECT_EQ(std::vector<float>(f, f + 4), (std::vector<float>{0.5f, -0.5f, -1.0f, 0.0f}));
    EXPECT_EQ(encode_block(SF_FLOAT, in, 0, 3, out), out);
}

TEST(StreamEncoding, DecodingInvertsEveryCode)
{
    for (int code = -32768; code <= 32767; code++) {
        const auto c = static_cast<std::int16_t>(code);
        unsigned char at[2];
        std::memcpy(at, &c, 2);
        EXPECT_EQ(decode_sample(SF_16BIT, at), static_cast<float>(code) / 32767.f);
        if (code >= -32767) {
            ASSERT_EQ(encode_16bit(decode_16bit(c)), c) << code;
        }
    }
    for (int code = 0; code < 256; code++) {
        const auto c = static_cast<std::uint8_t>(code);
        EXPECT_EQ(decode_sample(SF_8BIT, &c), static_cast<float>(code - 128) / 128.f);
        EXPECT_EQ(encode_8bit(decode_8bit(c)), c) << code;
    }
    const float f = -0.123456789f;
    unsigned char at[4];
    std::memcpy(at, &f, 4);
    EXPECT_EQ(decode_sample(SF_FLOAT, at), f);
}
