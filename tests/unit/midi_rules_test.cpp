#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "lorvex/midi.hpp"

using namespace lorvex::midi;

namespace {

void expect_address(float combined, int port, int channel)
{
    address a = channel_address(combined);
    EXPECT_EQ(a.port, port) << "combined channel " << combined;
    EXPECT_EQ(a.channel, channel) << "combined channel " << combined;
}

constexpr auto int_max = std::numeric_limits<std::int32_t>::max();
constexpr auto int_min = std::numeric_limits<std::int32_t>::min();

} // namespace

TEST(MidiAddress, SixteenChannelsPerPort)
{
    expect_address(1, 0, 0);
    expect_address(10, 0, 9);
    expect_address(16, 0, 15);
    expect_address(17, 1, 0);
    expect_address(32, 1, 15);
    expect_address(33, 2, 0);
    expect_address(100, 6, 3);
}

TEST(MidiAddress, FractionsTruncateAfterTheSubtraction)
{
    expect_address(2.9f, 0, 1);
    expect_address(1.99f, 0, 0);
    expect_address(17.5f, 1, 0);
    // 0.5 - 1 truncates to 0, not to -1.
    expect_address(0.5f, 0, 0);
}

TEST(MidiAddress, BelowOneIsChannelOne)
{
    expect_address(0, 0, 0);
    expect_address(-0.f, 0, 0);
    expect_address(-3, 0, 0);
    expect_address(-1e30f, 0, 0);
    expect_address(-INFINITY, 0, 0);
    expect_address(NAN, 0, 0);
}

TEST(MidiAddress, SubtractsInSinglePrecision)
{
    // 2^24 + 2 less 1 rounds to 2^24 in float; in double it would be 2^24 + 1.
    expect_address(16777218.f, 1048576, 0);
    expect_address(INFINITY, int_max >> 4, 15);
    expect_address(1e30f, int_max >> 4, 15);
}

TEST(MidiOneBased, ZeroOrLessBecomesOne)
{
    EXPECT_EQ(one_based<float>(0), 1);
    EXPECT_EQ(one_based<float>(-0.f), 1);
    EXPECT_EQ(one_based<float>(-3), 1);
    EXPECT_EQ(one_based<float>(-INFINITY), 1);
    EXPECT_EQ(one_based<float>(0.5f), 0.5f);
    EXPECT_EQ(one_based<float>(17), 17);
    EXPECT_TRUE(std::isnan(one_based<float>(NAN)));
}

TEST(MidiProgram, OneBasedAndClipped)
{
    EXPECT_EQ(program<float>(1), 0);
    EXPECT_EQ(program<float>(0), 0);
    EXPECT_EQ(program<float>(1.5f), 0);
    EXPECT_EQ(program<float>(-40), 0);
    EXPECT_EQ(program<float>(2.5f), 1);
    EXPECT_EQ(program<float>(128), 127);
    EXPECT_EQ(program<float>(129), 127);
    EXPECT_EQ(program<float>(200), 127);
    EXPECT_EQ(program<float>(INFINITY), 127);
    EXPECT_EQ(program<float>(-INFINITY), 0);
    EXPECT_EQ(program<float>(NAN), 0);
}

TEST(MidiBend, CentredAndUnclipped)
{
    EXPECT_EQ(bend<float>(0), 8192);
    EXPECT_EQ(bend<float>(-8192), 0);
    EXPECT_EQ(bend<float>(8191), 16383);
    EXPECT_EQ(bend<float>(9000), 17192);
    EXPECT_EQ(bend<float>(-9000), -808);
    EXPECT_EQ(bend<float>(0.9f), 8192);
    EXPECT_EQ(bend<float>(-0.9f), 8192);
    EXPECT_EQ(bend<float>(-1.5f), 8191);
    EXPECT_EQ(bend<float>(NAN), 8192);
}

TEST(MidiBend, StopsAtTheIntegerLimits)
{
    EXPECT_EQ(bend<float>(1e30f), int_max);
    EXPECT_EQ(bend<float>(INFINITY), int_max);
    // 2^31 - 8192 is the first offset whose sum would overflow.
    EXPECT_EQ(bend<float>(2147475456.f), int_max);
    EXPECT_EQ(bend<float>(2147475200.f), int_max - 255);
    EXPECT_EQ(bend<float>(-1e30f), int_min + 8192);
}

TEST(MidiPortIndex, OneBasedUnclipped)
{
    EXPECT_EQ(port_index<float>(1), 0);
    EXPECT_EQ(port_index<float>(2), 1);
    EXPECT_EQ(port_index<float>(2.9f), 1);
    EXPECT_EQ(port_index<float>(0), -1);
    EXPECT_EQ(port_index<float>(0.5f), 0);
    EXPECT_EQ(port_index<float>(-5), -6);
    EXPECT_EQ(port_index<float>(NAN), 0);
}

TEST(MidiSystemPort, TruncatesBeforeSubtracting)
{
    EXPECT_EQ(system_port<float>(1), 0);
    EXPECT_EQ(system_port<float>(16), 0);
    EXPECT_EQ(system_port<float>(17), 1);
    EXPECT_EQ(system_port<float>(33.9f), 2);
    // trunc(0.5) - 1 is -1, and -1 floor-divided by 16 stays -1.
    EXPECT_EQ(system_port<float>(0.5f), -1);
    EXPECT_EQ(system_port<float>(NAN), -1);
    EXPECT_EQ(system_port<float>(-16), -2);
    EXPECT_EQ(system_port<float>(-1e30f), static_cast<std::int32_t>((std::int64_t{int_min} - 1) >> 4));
    EXPECT_EQ(system_port<float>(1e30f), (int_max - 1) >> 4);
}

// In double-precision Pd the subtraction is in double: 2^24 + 2 less 1 is
// exact there. The other rules hold for every double as for every float.
TEST(MidiAddress, SubtractsInPdsFloatTypeInPd64)
{
    const address a = channel_address(16777218.0);
    EXPECT_EQ(a.port, 1048576);
    EXPECT_EQ(a.channel, 1);
    EXPECT_EQ(channel_address(std::nan("")).port, 0);
    EXPECT_EQ(channel_address(1e300).port, int_max >> 4);
    EXPECT_EQ(channel_address(-HUGE_VAL).channel, 0);
    EXPECT_EQ(program(129.5), 127);
    EXPECT_EQ(program(-1e300), 0);
    EXPECT_EQ(bend(1e300), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(bend(std::nan("")), 8192);
    EXPECT_EQ(port_index(2147483648.5), int_max);
    EXPECT_EQ(system_port(17.0), 1);
    EXPECT_EQ(one_based(-0.0), 1.0);
}

TEST(MidiDataBytes, AsManyAsTheStatusTakes)
{
    using lorvex::midi::data_bytes;
    for (int s : {0x80, 0x9f, 0xb5, 0xe0, 0xef, 0xf2})
        EXPECT_EQ(data_bytes(s), 2) << s;
    for (int s : {0xc0, 0xcf, 0xd0, 0xdf, 0xf0, 0xf1, 0xf3})
        EXPECT_EQ(data_bytes(s), 1) << s;
    for (int s : {0xf4, 0xf6, 0xf8, 0xfa, 0xfe, 0xff, 0x100})
        EXPECT_EQ(data_bytes(s), 0) << s;
    // Not a status byte: sent as a channel message would be.
    EXPECT_EQ(data_bytes(0), 2);
    EXPECT_EQ(data_bytes(-1), 2);
}
