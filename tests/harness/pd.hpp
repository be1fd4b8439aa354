// The real-Pd test harness: build a patch in a few lines, script what is sent
// to it and when, run the real Pd headless, and look at what it printed.
//
//   lorvex::test::Scenario s;
//   s.array("a", {1, 5, 3});
//   int o = s.patch.obj("orvo_lo a b c");
//   s.patch.receive("o", o);            // [r o] -> inlet 0
//   s.patch.print(o, 0, "out");         // outlet 0 -> [lvx_print out]
//   s.send("o bang").dump("c");
//   auto r = s.run();
//   EXPECT_EQ(r.printed("out"), (std::vector<std::string>{"bang"}));
//   EXPECT_EQ(r.array("c"), ...);
#pragma once

#include <array>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <thread>
#include <type_traits>
#include <vector>

namespace lorvex::test {

// Where the build put things (set by CMake).
std::filesystem::path plugin_dir();           // build/lorvex
std::filesystem::path sanitized_plugin_dir(); // build-asan/lorvex (LORVEX_SANITIZED_PLUGIN_DIR)
std::filesystem::path probe_dir();            // the test-only probes
std::filesystem::path tool_dir();             // build/bin
std::filesystem::path source_dir();           // the repository
// True when LORVEX_EMULATED says the Pd runs another architecture or system
// under emulation or translation (qemu-user, wine): natively built extras
// (the sanitizer builds) do not run there.
bool emulated();
// True when LORVEX_WINDOWS says the Pd is Pd for Windows (under wine), with
// the Windows build of the plug-ins: where Windows must differ, a scenario
// asks this.
bool windows();
// The file name suffix of a plug-in for the Pd that runs: ".pd_linux", or
// ".dll" for Windows.
std::string module_suffix();
// The command that starts a command-line tool ("lorvex-shm") of the build
// the scenarios run: the program in tool_dir(), or for Windows "<name>.exe"
// of the Windows build (LORVEX_WINDOWS_TOOL_DIR) through LORVEX_WINE, the
// command that runs Windows programs. tool_dir() keeps naming the native
// tools, the Linux peers of a Windows Pd.
std::vector<std::string> tool_command(std::string_view name);
// The command that starts Pd: LORVEX_PD (e.g. "qemu-arm -L <tree>
// <tree>/usr/bin/puredata"), else the release CTest chose (LORVEX_HOST_PD),
// else "pd".
std::string pd_host();
// That Pd's release, {major, minor, bugfix} (LORVEX_PD_VERSION for the release
// CTest chose, else asked).
std::array<int, 3> pd_version();
bool pd_at_least(int major, int minor);
// The sample rate that Pd runs at unless told otherwise with -r (44100 before
// Pd 0.56, 48000 since), as [samplerate~] reports it; asked once.
float pd_default_rate();

// Pd's float and sample type in the Pd the scenarios are built for: float,
// or double for double-precision Pd (Pd64; LORVEX_TEST_FLOATSIZE=64). Models
// compute in it where Pd does.
#if LORVEX_TEST_FLOATSIZE == 64
using pd_float = double;
#else
using pd_float = float;
#endif
inline constexpr bool pd64 = sizeof(pd_float) == 8;
// Its bit pattern, to compare values exactly (NaNs, -0).
using pd_uint = std::conditional_t<pd64, std::uint64_t, std::uint32_t>;
inline pd_uint pd_bits(pd_float v) { return std::bit_cast<pd_uint>(v); }

// Formats a float so that Pd parses it back to the same value; NaN, the
// infinities and -0 become the probe's @-tokens.
std::string num(pd_float v);
std::string nums(const std::vector<pd_float> &v);

// A canvas (the patch or a subpatch) as Pd's file format; box indices count
// every box at this level in creation order, as "#X connect" does.
class Canvas {
public:
    explicit Canvas(std::string name = {});

    int obj(std::string_view text);
    int msg(std::string_view text);
    // [array define name size]; set its contents with Scenario::array or a send.
    int array_define(std::string_view name, int size);
    // A subpatch [pd name]; the reference stays valid while this canvas lives.
    Canvas &subpatch(std::string_view name, int *index = nullptr);
    void connect(int from, int outlet, int to, int inlet);
    // [r name] connected to inlet `inlet` of box `to`.
    int receive(std::string_view name, int to, int inlet = 0);
    // Outlet `outlet` of box `from` into [lvx_print label].
    int print(int from, int outlet, std::string_view label);
    // Signal outlet `outlet` of box `from` into [lvx_capture~ label samples].
    int capture(int from, int outlet, std::string_view label, int samples);
    // [inlet] / [outlet] style helpers for abstractions are plain obj() calls.

    int size() const { return static_cast<int>(boxes_.size()); }
    std::string text(bool top = true) const;

private:
    struct Box {
        std::string line;                   // "#X obj ..." without position
        std::unique_ptr<Canvas> sub;        // set for subpatches
    };
    std::string name_;
    std::vector<Box> boxes_;
    std::vector<std::string> connects_;
};

struct Result {
    int exit_code = -1;     // Pd's exit status, when it exited
    int signal = 0;         // the signal that ended Pd, if any
    bool timed_out = false;
    int pid = 0;            // the process that ran (to find what it left behind)
    std::vector<std::string> lines;

    // Everything after "label: " on the lines printed under that label, in order.
    std::vector<std::string> printed(std::string_view label) const;
    // The same, each parsed as numbers ("bang" and symbols are skipped by the caller).
    std::vector<std::vector<pd_float>> printed_floats(std::string_view label) const;
    // The contents of an array that the script dumped (the last dump).
    std::vector<pd_float> array(std::string_view name) const;
    // Lines Pd printed as errors ("error: ..."), without the prefix.
    std::vector<std::string> errors() const;
    bool contains(std::string_view text) const;
    std::size_t count(std::string_view text) const;
    // No crash, no time-out, exit status 0, no sanitizer report.
    bool clean() const;
    // Ended by a signal, or (a Windows program under wine) by an exception:
    // wine passes on the low byte of its code as the exit status (0xC0000005,
    // an access violation, gives 5).
    bool crashed() const;
    std::string output() const;
};

struct ClassOptions;

// Options as a patch is run: flags, environment, files and the script.
class Scenario {
public:
    Scenario();
    ~Scenario();
    Scenario(const Scenario &) = delete;
    Scenario &operator=(const Scenario &) = delete;

    Canvas patch;

    // [array define name n] with these contents, set before anything else is sent.
    Scenario &array(std::string_view name, const std::vector<pd_float> &values);
    // One script line, "receiver message ...", sent at the current script time.
    // Lines with @-tokens (see num()) go through the probe.
    Scenario &send(std::string_view line);
    // Advances script time (logical milliseconds; real ones without batch mode).
    Scenario &wait(double ms);
    Scenario &dsp(bool on);
    Scenario &dump(std::string_view array);   // prints "array name: ..." at this time
    Scenario &say(std::string_view text);     // prints "lvx: text" at this time

    Scenario &flag(std::string_view f);       // extra Pd command-line argument
    Scenario &lib(std::string_view name);     // -lib name
    Scenario &verbose(int level = 1);         // -verbose, repeated
    Scenario &env(std::string_view name, std::string_view value);
    Scenario &unset_env(std::string_view name);
    Scenario &realtime();                     // run without -batch
    Scenario &sanitized();                    // plug-ins from the sanitizer build
    Scenario &timeout(double seconds);
    Scenario &no_quit();                      // the patch ends the run itself
    // Extra files beside the patch (abstractions, data), relative to dir().
    Scenario &file(std::string_view name, std::string_view content);
    Scenario &abstraction(std::string_view name, const Canvas &c);
    // Called with each line Pd prints, as it prints it (to act while Pd runs).
    Scenario &on_line(std::function<void(const std::string &)> f);
    // What a class asks for to run at all (see ClassOptions): its libraries,
    // its environment, real time.
    Scenario &options(const ClassOptions &o);

    std::filesystem::path dir() const { return dir_; }
    std::filesystem::path patch_path() const { return dir_ / "main.pd"; }
    Result run();

private:
    std::filesystem::path dir_;
    std::vector<std::string> init_;
    std::vector<std::string> script_;
    double pending_ms_ = 0;
    std::vector<std::string> flags_;
    std::vector<std::pair<std::string, std::optional<std::string>>> env_;
    bool batch_ = true;
    bool sanitized_ = false;
    bool quit_ = true;
    double timeout_ = 30;
    std::function<void(const std::string &)> on_line_;
};

// Runs a program with arguments and environment changes, capturing its output
// (stdout and stderr together) line by line, killed after the timeout;
// on_line, if given, sees each line as it arrives.
Result run_process(const std::vector<std::string> &argv,
    const std::vector<std::pair<std::string, std::optional<std::string>>> &env,
    const std::filesystem::path &cwd, double timeout_seconds,
    const std::function<void(const std::string &)> &on_line = {});

// A program as a child process while the test goes on: its standard input a
// pipe the test holds, its output (stdout and stderr) read line by line on a
// thread as it comes. Ended with SIGTERM when it goes, if still running.
class Child {
public:
    explicit Child(std::vector<std::string> argv);
    ~Child();
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    pid_t pid() const { return pid_; }

    // Waits (up to `seconds`) until pred holds for the lines so far, or the
    // program's output ends; answers whether it holds.
    template <typename Pred>
    bool wait_for(Pred pred, double seconds)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::duration<double>(seconds),
                   [&] { return pred(lines_) || ended_; }) &&
               pred(lines_);
    }
    bool wait_for_line(const std::string &text, double seconds = 10);
    // The first line (up to `seconds`) with a match of `pattern`: the match
    // and its groups, or nothing.
    std::vector<std::string> wait_for_match(const std::string &pattern, double seconds);

    void close_stdin();
    // Ends it with `sig` (0: waits for it to end by itself) and answers all it printed.
    std::vector<std::string> finish(int sig);

private:
    void read_all(int fd);

    pid_t pid_ = -1;
    int stdin_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    bool ended_ = false;
};

// Pd's command line for a headless run of `patch`.
std::vector<std::string> pd_command(const std::filesystem::path &patch, bool batch,
    bool sanitized, const std::vector<std::string> &extra);

// Environment for the sanitizer build (preloaded runtime, leak checks off).
std::vector<std::pair<std::string, std::optional<std::string>>> sanitizer_env();

// System V segments that process `pid` created and nobody is attached to any
// more: what a plug-in left behind in the system. They are removed (so that
// a failing test does not leave them to the next) and described.
std::vector<std::string> remove_segments_left_by(int pid);

// A text as a test's name: letters and digits kept, anything else '_'
// ("peekcub~" gives "peekcub_").
std::string test_name(std::string_view text);

// True where the scenarios run in Pd embedded in a program (the libpd
// runner, LORVEX_EMBEDDED set) rather than in Pd itself.
bool embedded();

// True where the runner plays each scenario in several instances on threads
// of their own at once (its --concurrent flag in LORVEX_PD). Pd 0.53 keeps
// the canvas it is building boxes into in one place for the whole process,
// so a scenario that builds boxes while it runs cannot run so.
bool concurrent_instances();

// True where the Pd that runs the scenarios has every class compiled in (a
// program embedding Pd, LORVEX_CLASSES_DIR set) rather than loading plug-ins.
bool classes_compiled_in();

// The classes the build produced: the names of build/lorvex/*.pd_linux (or
// *.dll for Windows, liblorvex.dll aside; of LORVEX_CLASSES_DIR where set).
std::vector<std::string> built_classes();

// How the sweep and the help check meet a class, from tests/sweep/<class>.sweep
// (absent: the defaults). Lines:
//   lib <name>       load this plug-in at startup with -lib (repeatable)
//   nobox            the plug-in registers no class; it is only loaded
//   realtime         run without -batch (threads, sockets, devices)
//   env NAME=VALUE   unset NAME
//   seconds N        time limit of one run
//   args <text>      one more set of creation arguments (@-tokens allowed)
//   allow <text>     an error line containing the text is expected when the
//                    help patch opens here (say why in the file)
struct ClassOptions {
    std::vector<std::string> libs;
    bool nobox = false;
    bool realtime = false;
    std::vector<std::pair<std::string, std::optional<std::string>>> env;
    double seconds = 60;
    std::vector<std::string> args;
    std::vector<std::string> allow;
};
ClassOptions class_options(const std::string &cls);

} // namespace lorvex::test
