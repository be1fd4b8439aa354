// The example patches in build/lorvex/examples as a user gets them: each
// opens without an error, finding lorvex's objects through its own declare,
// and each does what its comments say. What a patch sends is observed by
// boxes the test adds to the running patch (Pd's "obj" and "connect"
// messages to its canvas), never by changing the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sndfile.h>
#include <sstream>
#include <sys/shm.h>
#include <thread>

#include "pd.hpp"
#include "receiver.hpp"

using namespace lorvex::test;
namespace fs = std::filesystem;
using strings = std::vector<std::string>;

namespace {

fs::path examples_dir() { return plugin_dir() / "examples"; }
fs::path example(const std::string &name) { return examples_dir() / (name + ".pd"); }

std::vector<std::string> example_names()
{
    std::vector<std::string> v;
    for (const auto &e : fs::directory_iterator(examples_dir()))
        if (e.path().extension() == ".pd")
            v.push_back(e.path().stem().string());
    std::sort(v.begin(), v.end());
    return v;
}

// A patch file's top level as Pd numbers it: every box, comment and graph
// in file order, and the connections between them.
struct PatchFile {
    std::vector<std::string> boxes;  // the text after "#X obj x y " (or the kind)
    struct Connect {
        int from, outlet, to, inlet;
    };
    std::vector<Connect> connects;

    explicit PatchFile(const fs::path &p)
    {
        std::ifstream in(p);
        std::stringstream all;
        all << in.rdbuf();
        int depth = 0;
        // Pd's records end at an unescaped ';'.
        static const std::regex record(R"(((?:[^;\\]|\\.)*);\s*)");
        std::string text = all.str();
        for (auto it = std::sregex_iterator(text.begin(), text.end(), record);
             it != std::sregex_iterator(); ++it) {
            std::istringstream w((*it)[1].str());
            std::string head, kind;
            w >> head >> kind;
            if (head == "#N" && kind == "canvas") {
                depth++;
            } else if (head == "#X" && kind == "restore") {
                if (--depth == 1)
                    boxes.push_back("graph or subpatch");
            } else if (head == "#X" && depth == 1 && kind == "connect") {
                Connect c{};
                w >> c.from >> c.outlet >> c.to >> c.inlet;
                connects.push_back(c);
            } else if (head == "#X" && depth == 1 &&
                       (kind == "obj" || kind == "msg" || kind == "text" ||
                           kind == "floatatom" || kind == "symbolatom" || kind == "listbox")) {
                int x, y;
                w >> x >> y;
                std::string rest;
                std::getline(w >> std::ws, rest);
                boxes.push_back(kind == "obj" ? rest : kind + " " + rest);
            }
        }
    }

    int size() const { return static_cast<int>(boxes.size()); }

    // The one object box whose text is `text`.
    int find(const std::string &text) const
    {
        auto it = std::find(boxes.begin(), boxes.end(), text);
        EXPECT_EQ(std::count(boxes.begin(), boxes.end(), text), 1) << "[" << text << "]";
        return it == boxes.end() ? -1 : static_cast<int>(it - boxes.begin());
    }

    // The signal object (a class ending in '~') connected to an inlet.
    int signal_into(int to, int inlet) const
    {
        for (const Connect &c : connects)
            if (c.to == to && c.inlet == inlet) {
                const std::string cls = boxes[c.from].substr(0, boxes[c.from].find(' '));
                if (cls.ends_with("~"))
                    return c.from;
            }
        ADD_FAILURE() << "no signal into inlet " << inlet << " of [" << boxes[to] << "]";
        return -1;
    }
};

// "pd-<example>.pd <message>": a message to the running example's canvas.
std::string to_canvas(const std::string &name, const std::string &message)
{
    return "pd-" + name + ".pd " + message;
}

// The Pd command without the harness's search path: the example has to find
// lorvex's objects itself.
std::vector<std::string> bare_pd_command(const fs::path &patch)
{
    std::vector<std::string> cmd;
    std::istringstream w(pd_host());
    for (std::string word; w >> word;)
        cmd.push_back(word);
    cmd.insert(cmd.end(), {"-nogui", "-noprefs", "-noaudio", "-nrt", "-stderr", "-batch",
                              "-open", patch.string(), "-send", "pd quit"});
    return cmd;
}

// ---- every example opens cleanly ---------------------------------------------

class Example : public ::testing::TestWithParam<std::string> {};

TEST_P(Example, OpensWithoutErrorsFindingLorvexByItself)
{
    const fs::path patch = example(GetParam());
    Result r = run_process(bare_pd_command(patch), {}, patch.parent_path(), 60);
    // A block the example made stays behind when Pd quits without closing it.
    remove_segments_left_by(r.pid);
    EXPECT_TRUE(r.clean()) << r.output();
    EXPECT_FALSE(r.contains("couldn't create")) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
}

TEST_P(Example, SaysWhatItShowsAndHowToTryIt)
{
    std::ifstream in(example(GetParam()));
    std::stringstream text;
    text << in.rdbuf();
    // A title first, and "Try it" somewhere in its comments.
    EXPECT_TRUE(std::regex_search(text.str(), std::regex(R"(^#N canvas [^;]*;\n(#X declare [^;]*;\n)?#X text )")))
        << "the patch does not begin with a comment";
    EXPECT_NE(text.str().find("#X text"), std::string::npos);
    EXPECT_NE(text.str().find("Try it"), std::string::npos) << "no comment says how to try it";
}

INSTANTIATE_TEST_SUITE_P(Examples, Example, ::testing::ValuesIn(example_names()),
    [](const ::testing::TestParamInfo<std::string> &info) { return test_name(info.param); });

// ---- stream-to-desktop: strimo~ to lorvex-recv ---------------------------------

// Floats of a WAV file, interleaved.
std::vector<float> read_wav(const fs::path &p, int &channels, int &rate)
{
    SF_INFO info{};
    SNDFILE *f = sf_open(p.c_str(), SFM_READ, &info);
    if (!f)
        return {};
    std::vector<float> v(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_float(f, v.data(), info.frames);
    sf_close(f);
    channels = info.channels;
    rate = info.samplerate;
    return v;
}

TEST(StreamToDesktop, LorvexRecvRecordsWhatThePatchSendsSampleForSample)
{
    const std::string name = "stream-to-desktop";
    PatchFile ex(example(name));
    const int strimo = ex.find("strimo~ 2");
    const int left = ex.signal_into(strimo, 0), right = ex.signal_into(strimo, 1);
    ASSERT_TRUE(strimo >= 0 && left >= 0 && right >= 0);

    Scenario s;
    const fs::path wav = s.dir() / "board.wav";
    // As the patch's comment says, with a port of the system's choosing.
    Receiver recv({"-p", "0", "-r", "44100", "-o", wav.string(), "-v", "-1"});
    ASSERT_NE(recv.port(), 0);

    constexpr int samples = 8192;  // eight frames
    s.realtime().flag("-open").flag(example(name).string());
    s.send(to_canvas(name, "obj 20 900 lvx_capture~ sent-left " + std::to_string(samples)));
    s.send(to_canvas(name, "obj 200 900 lvx_capture~ sent-right " + std::to_string(samples)));
    s.send(to_canvas(name, "connect " + std::to_string(left) + " 0 " + std::to_string(ex.size()) + " 0"));
    s.send(to_canvas(name, "connect " + std::to_string(right) + " 0 " + std::to_string(ex.size() + 1) + " 0"));
    // The patch's connect box, aimed at the test's receiver; DSP on once
    // the connection stands, so that its first frame is the first sent.
    s.send("stream-retry 1").send("stream-ctl connect 127.0.0.1 " + std::to_string(recv.port()));
    s.wait(600).dsp(true).wait(800);
    // Its disconnect box.
    s.send("stream-retry 0").send("stream-ctl disconnect").wait(100);
    Result r = s.run();
    EXPECT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    EXPECT_TRUE(r.contains("strimo~: connected host 127.0.0.1")) << r.output();

    ASSERT_TRUE(recv.wait_for_line("summary:", 10)) << "lorvex-recv did not end";
    const strings said = recv.finish();
    const auto sum = summary(said);
    EXPECT_EQ(sum.at("connections"), 1) << joined(said);
    EXPECT_EQ(sum.at("gaps"), 0) << joined(said);
    EXPECT_GE(sum.at("frames"), samples / 1024) << joined(said);
    const auto first = std::find_if(said.begin(), said.end(),
        [](const std::string &l) { return l.rfind("frame ", 0) == 0; });
    ASSERT_NE(first, said.end()) << joined(said);
    EXPECT_EQ(*first, "frame 1: format float, channels 2, framesize 8192") << joined(said);

    auto sent_left = r.printed_floats("sent-left"), sent_right = r.printed_floats("sent-right");
    ASSERT_EQ(sent_left.size(), 1u) << r.output();
    ASSERT_EQ(sent_right.size(), 1u) << r.output();
    ASSERT_EQ(sent_left[0].size(), std::size_t(samples));
    ASSERT_EQ(sent_right[0].size(), std::size_t(samples));
    int channels = 0, rate = 0;
    const std::vector<float> got = read_wav(wav, channels, rate);
    ASSERT_EQ(channels, 2);
    EXPECT_EQ(rate, 44100);
    ASSERT_GE(got.size(), std::size_t(2 * samples));
    // The test tone is on when the patch opens: something to compare.
    EXPECT_GT(*std::max_element(sent_left[0].begin(), sent_left[0].end()), 0.1);
    for (int i = 0; i < samples; i++) {
        // The stream carries floats: Pd64's doubles arrive rounded.
        ASSERT_EQ(static_cast<float>(sent_left[0][i]), got[2 * i]) << "left sample " << i;
        ASSERT_EQ(static_cast<float>(sent_right[0][i]), got[2 * i + 1]) << "right sample " << i;
    }
}

TEST(StreamToDesktop, ConnectsAgainWhenTheReceiverComesBack)
{
    const std::string name = "stream-to-desktop";
    PatchFile ex(example(name));
    const int strimo = ex.find("strimo~ 2");
    ASSERT_GE(strimo, 0);
    auto first = std::make_unique<Receiver>(strings{"-p", "0", "-v"});
    const int port = first->port();
    ASSERT_NE(port, 0);

    Scenario s;
    s.realtime().flag("-open").flag(example(name).string());
    s.send(to_canvas(name, "obj 20 900 lvx_print state"));
    s.send(to_canvas(name, "connect " + std::to_string(strimo) + " 0 " + std::to_string(ex.size()) + " 0"));
    s.send("stream-retry 1").send("stream-ctl connect 127.0.0.1 " + std::to_string(port));
    // The patch tries again every 2 seconds from its loading on: the
    // receiver goes away after 0.8 s and is back, on the same port, before
    // the try at 2 s (or the one at 4 s on a slow machine).
    s.wait(300).dsp(true).wait(4500);
    std::unique_ptr<Receiver> second;
    strings first_said;
    std::thread desktop([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        first_said = first->finish();
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        second = std::make_unique<Receiver>(strings{"-p", std::to_string(port), "-v", "-1"});
    });
    Result r = s.run();
    desktop.join();
    EXPECT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    // Connected, dropped (the console says why), connected again.
    EXPECT_EQ(r.printed("state"), (strings{"1", "0", "1"})) << r.output();
    EXPECT_EQ(r.count("strimo~: connected host 127.0.0.1"), 2u) << r.output();
    ASSERT_TRUE(second);
    ASSERT_EQ(second->port(), port);
    ASSERT_TRUE(second->wait_for_line("summary:", 10));
    const strings said = second->finish();
    EXPECT_NE(std::find(said.begin(), said.end(), "frame 1: format float, channels 2, framesize 8192"),
        said.end()) << joined(said);
    EXPECT_EQ(summary(said).at("gaps"), 0) << joined(said);
    EXPECT_GE(summary(first_said).at("frames"), 1) << joined(first_said);
}

// ---- share-with-python: karbox and share.py, share.c -------------------------------

constexpr int share_key = 7300;

void remove_block(int key)
{
    const int id = shmget(key, 0, 0);
    if (id >= 0)
        shmctl(id, IPC_RMID, nullptr);
}

// The four numbers of a line of share.py: "curve N: smallest a largest b mean c".
std::vector<double> share_line(const std::string &l)
{
    static const std::regex line(R"(^curve (\d+): smallest (\S+) largest (\S+) mean (\S+)$)");
    std::smatch m;
    if (!std::regex_match(l, m, line))
        return {};
    return {std::stod(m[1]), std::stod(m[2]), std::stod(m[3]), std::stod(m[4])};
}

// What share.py computes from a curve, as it writes it: smallest, largest,
// mean, each rounded to a float.
std::array<float, 3> share_stats(const std::vector<pd_float> &curve)
{
    double low = static_cast<float>(curve[0]), high = low, sum = 0;
    for (pd_float v : curve) {
        const double f = static_cast<float>(v);  // the block holds floats
        low = std::min(low, f);
        high = std::max(high, f);
        sum += f;
    }
    return {static_cast<float>(low), static_cast<float>(high), static_cast<float>(sum / 32)};
}

// Whether share.py printed a line for these statistics (to its 4 decimals).
bool printed_stats(const strings &lines, const std::array<float, 3> &stats)
{
    for (const auto &l : lines) {
        auto v = share_line(l);
        if (v.size() == 4 && std::abs(v[1] - stats[0]) < 6e-5 && std::abs(v[2] - stats[1]) < 6e-5 &&
            std::abs(v[3] - stats[2]) < 6e-5)
            return true;
    }
    return false;
}

TEST(ShareWithPython, ThePythonProgramAndThePatchSeeEachOthersValues)
{
    if (windows())
        GTEST_SKIP() << "share.py and share.c reach System V shared memory, which Windows has not";
    const std::string name = "share-with-python";
    remove_block(share_key);
    // The program a user runs beside the patch, with Debian's Python.
    Child py({"/usr/bin/python3", "-u", (examples_dir() / "share.py").string()});
    ASSERT_TRUE(py.wait_for_line("joined block 7300: 64 floats", 20))
        << joined(py.finish(SIGTERM));

    // A second curve, as if drawn with the mouse while both run.
    std::vector<pd_float> drawn(32);
    for (int i = 0; i < 32; i++)
        drawn[i] = static_cast<pd_float>(std::round(1000 * std::cos(i * 0.3) * 0.9) / 1000);
    Scenario s;
    s.realtime().flag("-open").flag(example(name).string());
    s.wait(1500).dump("share-curve").dump("share-back");
    s.send("share-curve 0 " + nums(drawn)).wait(1500).dump("share-back");
    s.say("end");
    Result r = s.run();
    EXPECT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();

    auto dumps = r.printed_floats("array share-back");
    auto curves = r.printed_floats("array share-curve");
    ASSERT_EQ(dumps.size(), 2u) << r.output();
    ASSERT_EQ(curves.size(), 1u) << r.output();
    ASSERT_EQ(curves[0].size(), 32u);

    // share.py read each curve the patch wrote, and the patch read back what
    // share.py wrote for it.
    const strings lines = [&] {
        // The C program sees the same block while share.py keeps it.
        fs::path program = s.dir() / "share";
        Result cc = run_process({"cc", "-o", program.string(), (examples_dir() / "share.c").string()},
            {}, s.dir(), 60);
        EXPECT_EQ(cc.exit_code, 0) << cc.output();
        Result c = run_process({program.string()}, {}, s.dir(), 20);
        EXPECT_EQ(c.exit_code, 0) << c.output();
        std::vector<double> read;
        for (const auto &l : c.lines)
            if (l.rfind("curve:", 0) == 0) {
                std::istringstream w(l.substr(6));
                for (double v; w >> v;)
                    read.push_back(v);
            }
        EXPECT_EQ(read.size(), 32u) << c.output();
        for (std::size_t i = 0; i < read.size() && i < drawn.size(); i++)
            EXPECT_NEAR(read[i], drawn[i], 1e-5) << "share.c, point " << i;
        return py.finish(SIGINT);
    }();
    remove_block(share_key);

    for (const auto &[curve, back] : {std::pair{curves[0], dumps[0]}, std::pair{drawn, dumps[1]}}) {
        const auto stats = share_stats(curve);
        EXPECT_TRUE(printed_stats(lines, stats))
            << "share.py never read the curve from " << stats[0] << " to " << stats[1] << "\n"
            << joined(lines);
        ASSERT_EQ(back.size(), 4u);
        EXPECT_GE(back[0], 1);
        EXPECT_EQ(back[1], static_cast<pd_float>(stats[0]));
        EXPECT_EQ(back[2], static_cast<pd_float>(stats[1]));
        EXPECT_EQ(back[3], static_cast<pd_float>(stats[2]));
    }
    EXPECT_GT(dumps[1][0], dumps[0][0]) << "the change count did not grow";
}

// ---- synth-voice: band-limited -------------------------------------------------------

void fft(std::vector<std::complex<double>> &a)
{
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; i++) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const std::complex<double> step = std::polar(1.0, -2 * M_PI / static_cast<double>(len));
        for (std::size_t i = 0; i < n; i += len) {
            std::complex<double> w = 1;
            for (std::size_t k = 0; k < len / 2; k++, w *= step) {
                const auto u = a[i + k], v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
        }
    }
}

struct Spectrum {
    double fundamental_db;  // the fundamental's peak, dB of the power spectrum
    double folded_db;       // the strongest component off the harmonics, relative to it
    double folded_at;       // and its frequency
};

// A Hann-windowed spectrum of a power-of-two number of samples at `rate`:
// every component more than 30 Hz away from the harmonics of f0 (k * f0, up
// to half the rate) can only have folded back from above half the rate.
Spectrum spectrum(const std::vector<pd_float> &x, double rate, double f0)
{
    const std::size_t n = x.size();
    std::vector<std::complex<double>> a(n);
    for (std::size_t i = 0; i < n; i++)
        a[i] = static_cast<double>(x[i]) * (0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) / static_cast<double>(n)));
    fft(a);
    double fund = 0, folded = 0, at = 0;
    for (std::size_t i = 0; i < n / 2; i++) {
        const double f = static_cast<double>(i) * rate / static_cast<double>(n), p = std::norm(a[i]);
        if (std::abs(f - f0) < 30)
            fund = std::max(fund, p);
        if (std::abs(f - std::round(f / f0) * f0) >= 30 && p > folded) {
            folded = p;
            at = f;
        }
    }
    return {10 * std::log10(fund), 10 * std::log10(folded / fund), at};
}

TEST(SynthVoice, KeysRenderBandLimitedWhereThePlainOscillatorFoldsBack)
{
    // The claim in the patch: with the filter open, for the notes the keys
    // play (up to C5), every folded component stays more than 50 dB below
    // the fundamental; the plain oscillator's (upsample 1, cutoff 0) does not.
    const std::string name = "synth-voice";
    PatchFile ex(example(name));
    const int wavlim = ex.find("wavlim~ voice-table");
    const int dac = ex.find("dac~");
    const int out = ex.signal_into(dac, 0);
    ASSERT_TRUE(wavlim >= 0 && out >= 0);
    const int n = ex.size();
    constexpr int samples = 16384;

    Scenario s;
    s.flag("-r").flag("44100").flag("-open").flag(example(name).string());
    for (const std::string label : {"band", "plain"}) {
        s.send(to_canvas(name, "obj 20 1000 lvx_capture~ " + label + " " + std::to_string(samples)));
        s.send(to_canvas(name, "obj 20 1030 r lvx-" + label));
    }
    s.send(to_canvas(name, "obj 20 1060 r lvx-wavlim"));
    s.send(to_canvas(name, "connect " + std::to_string(out) + " 0 " + std::to_string(n) + " 0"));
    s.send(to_canvas(name, "connect " + std::to_string(n + 1) + " 0 " + std::to_string(n) + " 0"));
    s.send(to_canvas(name, "connect " + std::to_string(out) + " 0 " + std::to_string(n + 2) + " 0"));
    s.send(to_canvas(name, "connect " + std::to_string(n + 3) + " 0 " + std::to_string(n + 2) + " 0"));
    s.send(to_canvas(name, "connect " + std::to_string(n + 4) + " 0 " + std::to_string(wavlim) + " 0"));
    // C5, the top key (k), held: filter open, past the sweep and the decay.
    s.send("voice-rest 12000").dsp(true).send("voice-note 72").wait(700);
    s.send("lvx-band bang").wait(500);
    // The patch's upsample 1, cutoff 0 box.
    s.send("lvx-wavlim upsample 1").send("lvx-wavlim cutoff 0").wait(50);
    s.send("lvx-plain bang").wait(500);
    Result r = s.run();
    EXPECT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();

    const double c5 = 440 * std::pow(2.0, 3.0 / 12);
    auto band = r.printed_floats("band"), plain = r.printed_floats("plain");
    ASSERT_EQ(band.size(), 2u) << r.output();   // at DSP on, then re-armed
    ASSERT_EQ(plain.size(), 2u) << r.output();
    ASSERT_EQ(band.back().size(), std::size_t(samples));
    ASSERT_EQ(plain.back().size(), std::size_t(samples));
    const Spectrum b = spectrum(band.back(), 44100, c5), p = spectrum(plain.back(), 44100, c5);
    // Sounding: the fundamental well above the window's noise.
    EXPECT_GT(b.fundamental_db, 40);
    EXPECT_LT(b.folded_db, -50) << "band-limited voice: folded component at " << b.folded_at << " Hz";
    EXPECT_GT(p.folded_db, -40) << "plain oscillator: strongest folded component at " << p.folded_at
                                << " Hz, " << p.folded_db << " dB";
}

// ---- look-at-a-sound: the orvo_ views -------------------------------------------------

TEST(LookAtASound, TheArraysHoldTheSoundItsEnvelopeAndItsViews)
{
    const std::string name = "look-at-a-sound";
    Scenario s;
    s.flag("-open").flag(example(name).string());
    for (const char *a : {"look-sound", "look-hi", "look-lo", "look-mean", "look-thin"})
        s.dump(a);
    Result r = s.run();
    EXPECT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();

    // The sound file as Pd's soundfiler reads 16-bit samples: s / 32768.
    int channels = 0, rate = 0;
    const std::vector<float> file = read_wav(examples_dir() / "plucks.wav", channels, rate);
    EXPECT_EQ(channels, 1);
    EXPECT_EQ(rate, 11025);
    ASSERT_EQ(file.size(), 16384u);
    const auto sound = r.array("look-sound");
    ASSERT_EQ(sound.size(), file.size());
    for (std::size_t i = 0; i < file.size(); i++)
        ASSERT_EQ(sound[i], static_cast<pd_float>(file[i])) << "sample " << i;

    // 128 groups of 128 samples, one value each.
    const auto hi = r.array("look-hi"), lo = r.array("look-lo");
    const auto mean = r.array("look-mean"), thin = r.array("look-thin");
    ASSERT_EQ(hi.size(), 128u);
    ASSERT_EQ(lo.size(), 128u);
    ASSERT_EQ(mean.size(), 128u);
    ASSERT_EQ(thin.size(), 128u);
    for (std::size_t g = 0; g < 128; g++) {
        auto first = sound.begin() + static_cast<long>(g * 128), last = first + 128;
        EXPECT_EQ(hi[g], *std::max_element(first, last)) << "group " << g;
        EXPECT_EQ(lo[g], *std::min_element(first, last)) << "group " << g;
        pd_float sum = 0;
        for (auto it = first; it != last; ++it)
            sum += *it;
        EXPECT_EQ(mean[g], sum / pd_float(128)) << "group " << g;
        EXPECT_EQ(thin[g], *first) << "group " << g;
    }
    // An envelope worth looking at: three notes, loud and quiet.
    EXPECT_GT(*std::max_element(hi.begin(), hi.end()), 0.5);
    EXPECT_LT(*std::min_element(lo.begin(), lo.end()), -0.5);
}

} // namespace
