// The MIDI objects in the real Pd. The senders are checked on the wire: Pd's
// OSS MIDI output writes raw bytes to /dev/midi0, /dev/midi1, ..., and FIFOs
// made at those paths hand the test exactly what left Pd. Where Pd is
// embedded in a program (LORVEX_MIDI_HOOKS set: the libpd runner), MIDI
// output goes to the program's hooks instead, which print each message as
// "lvx midi <port>: <bytes>". offcull needs no device and runs in batch mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "midi_wire.hpp"
#include "pd.hpp"

using namespace lorvex::test;
namespace fs = std::filesystem;
using strings = std::vector<std::string>;

namespace {

// One box of a wire case, with a receiver per inlet: name (left), name_1, ...
struct Box {
    std::string text, name;
    int inlets;
};

// Boxes made, script lines sent in order, and the bytes each of Pd's output
// ports 0, 1 and 2 (devices 1, 2, 3) must then have received, in hex.
struct WireCase {
    std::string name;
    std::vector<Box> boxes;
    strings script;
    strings expect;
    // Where a program's hooks get other bytes than Pd's devices (empty: the same).
    strings expect_embedded = {};
};

// MIDI output through a program's hooks rather than Pd's devices.
bool hooks()
{
    const char *v = std::getenv("LORVEX_MIDI_HOOKS");
    return v && *v;
}

// What the test listings show for a case.
void PrintTo(const WireCase &c, std::ostream *os) { *os << c.name; }

const WireCase wire_cases[] = {
    // ---- status and data bytes of each class
    {"KnobSendsControllerAndValue", {{"qo_knob 7 10", "k", 3}},
        {"k 64", "k_1 1", "k 64.9", "k -0.5", "k 127"},
        {"b9 07 40 b9 01 40 b9 01 00 b9 01 7f", "", ""}},
    // No velocity yet: a note-on with velocity 0.
    {"PitchTakesVelocityFromTheMiddleInlet", {{"qo_pitch", "p", 3}},
        {"p 60", "p_1 100", "p 60.7", "p 61", "p_1 0.9", "p 62"},
        {"90 3c 00 90 3c 64 90 3d 64 90 3e 00", "", ""}},
    {"PressTakesKeyFromTheMiddleInlet", {{"qo_press 3", "a", 3}},
        {"a 50", "a_1 64", "a 50.5", "a_1 65.9", "a 0"},
        {"a2 00 32 a2 40 32 a2 41 00", "", ""}},
    {"PatchIsOneBasedAndClipped", {{"qo_patch 4", "c", 2}},
        {"c 1", "c 0", "c 1.5", "c -40", "c 2.5", "c 128", "c 200", "c 64"},
        {"c3 00 c3 00 c3 00 c3 00 c3 01 c3 7f c3 7f c3 3f", "", ""}},
    // LSB first, then MSB: 8192 is 00 40, 0 is 00 00, 16383 is 7f 7f.
    {"WheelIsFourteenBitsAroundTheCentre", {{"qo_wheel 5", "w", 2}},
        {"w 0", "w -8192", "w 8191", "w 1", "w -1.5", "w 200.9"},
        {"e4 00 40 e4 00 00 e4 7f 7f e4 01 40 e4 7f 3f e4 48 41", "", ""}},
    {"SqueezeSendsChannelPressure", {{"qo_squeeze 16", "q", 2}},
        {"q 90", "q 0.9", "q 127.5"},
        {"df 5a df 00 df 7f", "", ""}},
    // A port argument of 0 or below is port 1.
    {"RawSendsEachFloatAsOneByteToItsPort",
        {{"qo_raw 2", "r", 2}, {"qo_raw", "r0", 2}, {"qo_raw -7 5", "r7", 2}},
        {"r 144", "r 60.9", "r 100", "r0 248", "r7 250", "r_1 3", "r 252"},
        {"f8 fa", "90 3c 64", "fc"}},
    // Pd writes as many bytes as the status byte's message has: real-time
    // bytes alone, F2 (song position) with both zeros, F3 (song select) and
    // C0..DF (program, pressure) with one, a channel status with both.
    {"SysSendsAStatusByteThroughTheMessageEntry",
        {{"qo_sys 1", "y", 1}, {"qo_sys 17", "y17", 1}, {"qo_sys 40.5 99", "y40", 1}},
        {"y 248", "y 250.7", "y 242", "y 243", "y 192", "y 144", "y17 252", "y40 254"},
        {"f8 fa f2 00 00 f3 00 c0 00 90 00 00", "fc", "fe"}},

    // ---- ports and channels
    // Channel 49 is port 3, which Pd has not opened: dropped.
    {"CombinedChannelSelectsPortAndChannel",
        {{"qo_knob 1 17", "k", 3}, {"qo_pitch 18", "p", 3}, {"qo_press 19", "a", 3},
            {"qo_patch 32", "c", 2}, {"qo_wheel 33", "w", 2}, {"qo_squeeze 48", "q", 2}},
        {"p_1 1", "a_1 2", "k 10", "p 11", "a 12", "c 14", "w 0", "q 15", "k_2 49", "k 99",
            "k_2 34.9", "k 16"},
        {"", "b0 01 0a 91 0b 01 a2 02 0c cf 0d", "e0 00 40 df 0f b1 01 10"}},
    // Created on port 1; a channel of 0 or below (or NaN) sent later is
    // channel 1 of port 0, and 2.9 is channel 2.
    {"ChannelInletAfterCreationIsNotLifted",
        {{"qo_knob 5 20", "k", 3}, {"qo_pitch 20", "p", 3}, {"qo_press 20", "a", 3},
            {"qo_patch 20", "c", 2}, {"qo_wheel 20", "w", 2}, {"qo_squeeze 20", "q", 2}},
        {"k_2 0", "p_2 0", "a_2 -3", "c_1 0", "w_1 @-inf", "q_1 @nan", "k 1", "p 2", "a 3",
            "c 5", "w 0", "q 6", "k_2 2.9", "k 7"},
        {"b0 05 01 90 02 00 a0 00 03 c0 04 e0 00 40 d0 06 b1 05 07", "", ""}},
    // qo_knob keeps a creation channel of 0.5 (trunc(-0.5) is 0: channel 1);
    // qo_pitch lifts it to 1.
    {"CreationLiftsSmallChannelsToOne",
        {{"qo_knob 1 0", "k0", 3}, {"qo_knob 1 -3", "k3", 3}, {"qo_knob", "kn", 3},
            {"qo_knob 1 0.5", "kh", 3}, {"qo_pitch 0.5", "ph", 3}, {"qo_patch -1", "c", 2}},
        {"k0 1", "k3 2", "kn 3", "kh 4", "ph 5", "c 1"},
        {"b0 01 01 b0 01 02 b0 00 03 b0 01 04 90 05 00 c0 00", "", ""}},
    // 0.5 is above 0, so it is kept: trunc(0.5) - 1 is port -1, which Pd drops.
    {"SysKeepsAChannelBelowOneAndThatPortIsDropped",
        {{"qo_sys 0.5", "y", 1}, {"qo_sys 0", "y0", 1}},
        {"y 248", "y0 250"},
        {"fa", "", ""}},

    // ---- what Pd does with values out of the MIDI ranges
    // These objects pass such values on; Pd's output clips channel-message
    // data to 0..127 (bend to 0..16383), writes the low eight bits of a raw
    // byte, and drops ports it has not opened, -1 among them.
    {"PdClipsDataAndDropsUnknownPorts",
        {{"qo_knob 300 1", "k", 3}, {"qo_pitch", "p", 3}, {"qo_wheel 2", "w", 2},
            {"qo_squeeze 100", "q", 2}, {"qo_raw 2", "r", 2}},
        {"k 200", "k -5", "p_1 1000", "p -3", "w 9000", "w -9000", "w @inf", "w @-inf", "w @nan",
            "q 1", "r 300", "r -1", "r_1 0", "r 1", "r_1 4", "r 2"},
        {"b0 7f 7f b0 7f 00 90 00 7f e1 7f 7f e1 00 00 e1 7f 7f e1 00 00 e1 00 40", "2c ff", ""},
        // libpd clips a raw byte to 0..255 where Pd's devices keep its low eight bits.
        {"b0 7f 7f b0 7f 00 90 00 7f e1 7f 7f e1 00 00 e1 7f 7f e1 00 00 e1 00 40", "ff 00", ""}},
};

// Runs a case with Pd's MIDI output on the three FIFOs. Skips without root,
// which /dev needs.
class Wire : public ::testing::TestWithParam<WireCase> {
protected:
    void SetUp() override
    {
        if (hooks())
            return;
        if (geteuid() != 0)
            GTEST_SKIP() << "MIDI bytes on the wire not checked: making FIFOs at /dev/midiN "
                            "needs root";
        std::string failed = wire_.open();
        ASSERT_EQ(failed, "");
        devs_ = wire_.outdevs();
        ASSERT_NE(devs_, "") << "Pd would not list the FIFOs among its first ten devices";
    }

    strings run(const WireCase &c)
    {
        Scenario s;
        if (!hooks())
            s.realtime().flag("-ossmidi").flag("-nomidiin").flag("-midioutdev").flag(devs_);
        for (const Box &b : c.boxes) {
            int o = s.patch.obj(b.text);
            s.patch.receive(b.name, o, 0);
            for (int i = 1; i < b.inlets; i++)
                s.patch.receive(b.name + "_" + std::to_string(i), o, i);
        }
        // The script's first lines come from a [qlist] on the scheduler's
        // first tick, after loading: Pd 0.55 and later open their MIDI
        // devices only once the patch has loaded, and drop what is written
        // to them before.
        for (const auto &line : c.script)
            s.send(line);
        // Pd writes queued channel messages when its scheduler next polls:
        // leave it time before quitting.
        s.wait(100);
        Result r = s.run();
        EXPECT_TRUE(r.clean()) << r.output();
        EXPECT_FALSE(r.contains("couldn't open MIDI")) << r.output();
        EXPECT_TRUE(r.errors().empty()) << r.output();
        strings out;
        if (hooks()) {
            out.assign(MidiWire::devices, "");
            for (const std::string &l : r.lines)
                for (int port = 0; port < MidiWire::devices; port++) {
                    const std::string head = "lvx midi " + std::to_string(port) + ": ";
                    if (l.rfind(head, 0) == 0)
                        out[port] += (out[port].empty() ? "" : " ") + l.substr(head.size());
                }
            return out;
        }
        for (const auto &bytes : wire_.drain())
            out.push_back(hex(bytes));
        return out;
    }

private:
    MidiWire wire_;
    std::string devs_;
};

} // namespace

TEST_P(Wire, BytesLeavingPd)
{
    const WireCase &c = GetParam();
    EXPECT_EQ(run(c), hooks() && !c.expect_embedded.empty() ? c.expect_embedded : c.expect);
}

INSTANTIATE_TEST_SUITE_P(Midi, Wire, ::testing::ValuesIn(wire_cases),
    [](const ::testing::TestParamInfo<WireCase> &info) { return info.param.name; });

// ---- offcull ---------------------------------------------------------------

namespace {

// [offcull] with [r n] at the left, [r v] at the right; what its outlets send
// comes back as "vel x" / "pitch y" in the order it was sent.
strings offcull(const strings &script)
{
    Scenario s;
    int o = s.patch.obj("offcull");
    s.patch.receive("n", o, 0);
    s.patch.receive("v", o, 1);
    s.patch.print(o, 0, "pitch");
    s.patch.print(o, 1, "vel");
    for (const auto &line : script)
        s.send(line);
    Result r = s.run();
    EXPECT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    strings out;
    for (const auto &l : r.lines)
        if (l.rfind("vel: ", 0) == 0 || l.rfind("pitch: ", 0) == 0)
            out.push_back(l.substr(0, l.find(':')) + l.substr(l.find(':') + 1));
    return out;
}

} // namespace

TEST(Offcull, VelocityGoesRightFirstThenPitch)
{
    EXPECT_EQ(offcull({"v 100", "n 60", "n 62", "v 64", "n 61"}),
        (strings{"vel 100", "pitch 60", "vel 100", "pitch 62", "vel 64", "pitch 61"}));
}

TEST(Offcull, ZeroVelocityPassesNothing)
{
    // A new object has velocity 0; both zeros count.
    EXPECT_EQ(offcull({"n 60", "v 0", "n 61", "v @-0", "n 62", "v 5", "v 0", "n 63"}), strings{});
    EXPECT_EQ(offcull({"v 7", "n 1", "v @-0", "n 2", "v 8", "n 3"}),
        (strings{"vel 7", "pitch 1", "vel 8", "pitch 3"}));
}

TEST(Offcull, ValuesPassUnchanged)
{
    EXPECT_EQ(offcull({"v -5", "n 60", "v 0.5", "n 60.7", "v " + num(1e30f), "n -3", "v @nan",
                  "n @-inf"}),
        (strings{"vel -5", "pitch 60", "vel 0.5", "pitch " + num(pd_float(60.7)), "vel " + num(1e30f),
            "pitch -3", "vel nan", "pitch -inf"}));
}

TEST(Offcull, OtherMessagesAtTheLeftInletAreRefused)
{
    Scenario s;
    int o = s.patch.obj("offcull");
    s.patch.receive("n", o, 0);
    s.patch.print(o, 0, "pitch");
    s.send("n bang").send("n symbol x");
    Result r = s.run();
    EXPECT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.printed("pitch").empty()) << r.output();
    EXPECT_EQ(r.errors().size(), 2u) << r.output();
}
