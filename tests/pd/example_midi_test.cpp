// The MIDI example (examples/midi-controller.pd) on the wire: its controls,
// driven through the names they listen to, make Pd's OSS MIDI output write
// exactly the bytes its comments promise to the FIFO at the first device.
#include <gtest/gtest.h>

#include <regex>

#include "midi_wire.hpp"
#include "pd.hpp"

using namespace lorvex::test;

TEST(MidiController, ControlsDrumsClockAndRawBytesReachTheDevice)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "MIDI bytes on the wire not checked: making FIFOs at /dev/midiN needs root";
    MidiWire wire;
    ASSERT_EQ(wire.open(), "");
    const std::string devs = wire.outdevs();
    ASSERT_NE(devs, "") << "Pd would not list the FIFOs among its first ten devices";

    Scenario s;
    s.realtime().flag("-ossmidi").flag("-nomidiin").flag("-midioutdev").flag(devs);
    s.flag("-open").flag((plugin_dir() / "examples" / "midi-controller.pd").string());
    // One control at a time, each given time to leave before the next: Pd
    // writes channel messages when its scheduler polls, raw bytes at once.
    for (const char *line : {"midi-volume 100", "midi-bright 64", "midi-bend 0", "midi-program 5",
             "midi-drum 36"})
        s.send(line).wait(60);
    // The drum's note-off (after 100 ms) is dropped; the note's comes after 300 ms.
    s.wait(150).send("midi-velocity 90").send("midi-note 60").wait(400);
    s.send("midi-panic bang").wait(60);
    s.send("midi-clock 1").wait(100).send("midi-clock 0").wait(100);
    Result r = s.run();
    EXPECT_TRUE(r.clean()) << r.output();
    EXPECT_FALSE(r.contains("couldn't open MIDI")) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();

    const auto bytes = wire.drain();
    const std::string first = hex(bytes[0]);
    // volume (controller 7), brightness (74), bend centre, program 5, the
    // kick's note-on on channel 10 alone, a note-on and its note-off at
    // velocity 90, all notes off as raw bytes, start, clocks, stop.
    const std::regex expected("b0 07 64 b0 4a 40 e0 00 40 c0 04 99 24 6e 90 3c 5a 90 3c 00 "
                              "b0 7b 00 fa( f8)+ fc");
    EXPECT_TRUE(std::regex_match(first, expected)) << first;
    EXPECT_TRUE(bytes[1].empty()) << hex(bytes[1]);
    EXPECT_TRUE(bytes[2].empty()) << hex(bytes[2]);
}
