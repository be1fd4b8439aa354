#include "pd.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <regex>
#include <sstream>
#include <sys/file.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace lorvex::test {

namespace {

std::vector<std::string> split_words(std::string_view s);
void claim_wine_prefix();
void clear_loading_mark();
extern const char *const pd_windows_skipped_libraries;

// A Windows program ends its lines with CR LF: the lines are compared without it.
std::string strip_cr(std::string line)
{
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

// LORVEX_SETTINGS names a file of NAME=VALUE lines: the environment of a set
// of scenarios (one test registration can pass one variable), taken into
// this process's environment before anything reads it, where not set already.
const bool settings_read = [] {
    const char *file = std::getenv("LORVEX_SETTINGS");
    if (!file || !*file)
        return false;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        if (auto eq = line.find('='); eq != std::string::npos && eq > 0)
            setenv(line.substr(0, eq).c_str(), line.substr(eq + 1).c_str(), 0);
    return true;
}();

// The environment may point the scenarios at another build of the plug-ins
// and another Pd (a cross build and the target's Pd under emulation).
fs::path from_env(const char *name, const char *fallback)
{
    const char *v = std::getenv(name);
    return v && *v ? v : fallback;
}

} // namespace

// Absolute, because Pd for Windows fails to load plug-ins from a relative
// -path under wine.
fs::path plugin_dir() { return fs::absolute(from_env("LORVEX_PLUGIN_DIR", LORVEX_PLUGIN_DIR)); }
fs::path sanitized_plugin_dir()
{
    return from_env("LORVEX_SANITIZED_PLUGIN_DIR", LORVEX_SANITIZED_PLUGIN_DIR);
}
fs::path probe_dir() { return fs::absolute(from_env("LORVEX_PROBE_DIR", LORVEX_PROBE_DIR)); }

bool emulated()
{
    const char *v = std::getenv("LORVEX_EMULATED");
    return v && *v;
}

bool windows()
{
    const char *v = std::getenv("LORVEX_WINDOWS");
    return v && *v;
}

std::string module_suffix() { return windows() ? ".dll" : ".pd_linux"; }

std::vector<std::string> tool_command(std::string_view name)
{
    if (!windows())
        return {(tool_dir() / name).string()};
    claim_wine_prefix();
    std::vector<std::string> cmd = split_words(from_env("LORVEX_WINE", "wine64").string());
    cmd.push_back((fs::absolute(from_env("LORVEX_WINDOWS_TOOL_DIR", LORVEX_TOOL_DIR)) /
                   (std::string(name) + ".exe")).string());
    return cmd;
}

namespace {

// Pd for Windows marks in the registry that it is loading its startup
// libraries (-lib) and skips them when it finds the mark already set, taking
// it for a crash of the Pd before ("Pd seems to have crashed on startup"):
// two Pd processes starting at once under one wine prefix, one registry,
// trip over each other. So each test program takes a prefix of its own from
// LORVEX_WINE_PREFIXES (colon-separated, one per test run in parallel, each
// with its wine session up), held by a lock for the program's life, and
// every wine program it starts runs there (WINEPREFIX).
void claim_wine_prefix()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const char *list = std::getenv("LORVEX_WINE_PREFIXES");
        if (!list || !*list)
            return;
        std::vector<std::string> prefixes;
        std::stringstream in(list);
        for (std::string p; std::getline(in, p, ':');)
            if (!p.empty())
                prefixes.push_back(p);
        // Waits for one to come free when every prefix is taken.
        for (;;) {
            for (const std::string &p : prefixes) {
                int fd = open((p + "/.lorvex-lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
                if (fd < 0)
                    continue;
                if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
                    setenv("WINEPREFIX", p.c_str(), 1);
                    return;   // the lock stays held until the program ends
                }
                close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
}

// A Pd for Windows that crashed or was stopped while loading its startup
// libraries leaves its mark set, and every Pd after it in that prefix would
// skip them: the mark is cleared, so that the failure stays with the test
// that had it.
const char *const pd_windows_skipped_libraries = "Pd seems to have crashed on startup";

void clear_loading_mark()
{
    std::vector<std::string> cmd = split_words(from_env("LORVEX_WINE", "wine64").string());
    cmd.insert(cmd.end(), {"reg", "add", "HKCU\\Software\\Pure-Data", "/v", "loading", "/d",
                              "no", "/f"});
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char *> args;
        for (auto &a : cmd)
            args.push_back(a.data());
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    if (pid > 0)
        waitpid(pid, nullptr, 0);
}

} // namespace

std::string pd_host()
{
    if (windows())
        claim_wine_prefix();
    for (const char *name : {"LORVEX_PD", "LORVEX_HOST_PD"})
        if (const char *v = std::getenv(name); v && *v)
            return v;
    return "pd";
}

std::array<int, 3> pd_version()
{
    static const std::array<int, 3> version = [] {
        // LORVEX_PD_VERSION names the release CTest chose; a Pd given in
        // LORVEX_PD takes its place and is asked.
        std::string text;
        const char *given = std::getenv("LORVEX_PD");
        if (const char *v = std::getenv("LORVEX_PD_VERSION"); v && *v && !(given && *given)) {
            text = v;
        } else {
            Result r = run_process(split_words(pd_host() + " -version"), {}, ".", 30);
            for (const std::string &l : r.lines)
                if (l.rfind("Pd-", 0) == 0)
                    text = l.substr(3);
        }
        std::array<int, 3> out{0, 0, 0};
        std::sscanf(text.c_str(), "%d.%d.%d", &out[0], &out[1], &out[2]);
        return out;
    }();
    return version;
}

bool pd_at_least(int major, int minor)
{
    auto v = pd_version();
    return v[0] > major || (v[0] == major && v[1] >= minor);
}

float pd_default_rate()
{
    static const float rate = [] {
        Scenario s;
        int sr = s.patch.obj("samplerate~");
        s.patch.receive("lvx-rate", sr);
        s.patch.print(sr, 0, "rate");
        s.send("lvx-rate bang");
        auto got = s.run().printed_floats("rate");
        return got.size() == 1 && got[0].size() == 1 ? got[0][0] : 0.0f;
    }();
    return rate;
}

fs::path tool_dir() { return LORVEX_TOOL_DIR; }
fs::path source_dir() { return LORVEX_SOURCE_DIR; }

std::string num(pd_float v)
{
    if (std::isnan(v))
        return std::signbit(v) ? "@-nan" : "@nan";
    if (std::isinf(v))
        return v > 0 ? "@inf" : "@-inf";
    if (v == 0 && std::signbit(v))
        return "@-0";
    // 9 significant digits round-trip a float, 17 a double.
    char buf[32];
    std::snprintf(buf, sizeof buf, pd64 ? "%.17g" : "%.9g", static_cast<double>(v));
    return buf;
}

std::string nums(const std::vector<pd_float> &v)
{
    std::string out;
    for (pd_float f : v) {
        if (!out.empty())
            out += ' ';
        out += num(f);
    }
    return out;
}

namespace {

// Box text as Pd's file format wants it: separators escaped and standing
// apart as words of their own (glued to a word they would be literal), dollars
// escaped.
std::string escape(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == ';' || c == ',')
            out += std::string(" \\") + c + " ";
        else if (c == '$')
            out += "\\$";
        else
            out += c;
    }
    return out;
}

bool has_token(std::string_view line)
{
    return line.find(" @") != std::string_view::npos || line.rfind("@", 0) == 0;
}

std::vector<std::string> split_words(std::string_view s)
{
    std::vector<std::string> words;
    std::istringstream in{std::string(s)};
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

// True when the command that starts Pd is a script ("#!") rather than a program.
bool host_is_script()
{
    const std::vector<std::string> words = split_words(pd_host());
    if (words.empty() || words[0].find('/') == std::string::npos)
        return false;
    char magic[2] = {};
    std::ifstream(words[0]).read(magic, 2);
    return magic[0] == '#' && magic[1] == '!';
}

} // namespace

// ---- Canvas ---------------------------------------------------------------

Canvas::Canvas(std::string name) : name_(std::move(name)) {}

int Canvas::obj(std::string_view text)
{
    boxes_.push_back({"obj " + escape(text), nullptr});
    return size() - 1;
}

int Canvas::msg(std::string_view text)
{
    boxes_.push_back({"msg " + escape(text), nullptr});
    return size() - 1;
}

int Canvas::array_define(std::string_view name, int n)
{
    return obj("array define " + std::string(name) + " " + std::to_string(n));
}

Canvas &Canvas::subpatch(std::string_view name, int *index)
{
    boxes_.push_back({"", std::make_unique<Canvas>(std::string(name))});
    if (index)
        *index = size() - 1;
    return *boxes_.back().sub;
}

void Canvas::connect(int from, int outlet, int to, int inlet)
{
    connects_.push_back("#X connect " + std::to_string(from) + " " + std::to_string(outlet) +
                        " " + std::to_string(to) + " " + std::to_string(inlet) + ";");
}

int Canvas::receive(std::string_view name, int to, int inlet)
{
    int r = obj("r " + std::string(name));
    connect(r, 0, to, inlet);
    return r;
}

int Canvas::print(int from, int outlet, std::string_view label)
{
    int p = obj("lvx_print " + std::string(label));
    connect(from, outlet, p, 0);
    return p;
}

int Canvas::capture(int from, int outlet, std::string_view label, int samples)
{
    int c = obj("lvx_capture~ " + std::string(label) + " " + std::to_string(samples));
    connect(from, outlet, c, 0);
    return c;
}

std::string Canvas::text(bool top) const
{
    std::string out = top ? "#N canvas 0 0 800 600 12;\n"
                          : "#N canvas 0 0 800 600 " + name_ + " 0;\n";
    int y = 10;
    for (const Box &b : boxes_) {
        std::string pos = " 10 " + std::to_string(y) + " ";
        if (b.sub)
            out += b.sub->text(false) + "#X restore" + pos + "pd " + b.sub->name_ + ";\n";
        else
            out += "#X " + b.line.substr(0, 3) + pos + b.line.substr(4) + ";\n";
        y += 25;
    }
    for (const std::string &c : connects_)
        out += c + "\n";
    return out;
}

// ---- Result ---------------------------------------------------------------

std::vector<std::string> Result::printed(std::string_view label) const
{
    std::string prefix = std::string(label) + ":";
    std::vector<std::string> out;
    for (const std::string &l : lines)
        if (l.rfind(prefix, 0) == 0)
            out.push_back(l.size() > prefix.size() ? l.substr(prefix.size() + 1) : "");
    return out;
}

std::vector<std::vector<pd_float>> Result::printed_floats(std::string_view label) const
{
    std::vector<std::vector<pd_float>> out;
    for (const std::string &text : printed(label)) {
        std::vector<pd_float> v;
        for (const std::string &w : split_words(text)) {
            if (w == "list")
                continue;
            char *end = nullptr;
            const pd_float f = pd64 ? static_cast<pd_float>(std::strtod(w.c_str(), &end))
                                    : static_cast<pd_float>(std::strtof(w.c_str(), &end));
            if (end && *end == 0)
                v.push_back(f);
        }
        out.push_back(v);
    }
    return out;
}

std::vector<pd_float> Result::array(std::string_view name) const
{
    auto dumps = printed_floats("array " + std::string(name));
    return dumps.empty() ? std::vector<pd_float>{} : dumps.back();
}

std::vector<std::string> Result::errors() const
{
    std::vector<std::string> out;
    for (const std::string &l : lines)
        if (l.rfind("error: ", 0) == 0)
            out.push_back(l.substr(7));
    return out;
}

bool Result::contains(std::string_view text) const { return count(text) > 0; }

std::size_t Result::count(std::string_view text) const
{
    std::size_t n = 0;
    for (const std::string &l : lines)
        if (l.find(text) != std::string::npos)
            n++;
    return n;
}

bool Result::clean() const
{
    return !timed_out && signal == 0 && exit_code == 0 && !contains("AddressSanitizer") &&
           !contains("runtime error:") && !contains("LeakSanitizer");
}

namespace {

// The exceptions that end a Windows program, by the low byte of their code
// (what wine's exit status carries), and abort()'s exit status 3.
const std::map<int, const char *> windows_crashes = {{0x05, "access violation (0xC0000005)"},
    {0x1D, "illegal instruction (0xC000001D)"}, {0x8C, "array bounds (0xC000008C)"},
    {0x94, "integer division by zero (0xC0000094)"}, {0x95, "integer overflow (0xC0000095)"},
    {0xFD, "stack overflow (0xC00000FD)"}, {0x09, "stack buffer overrun (0xC0000409)"},
    {0x03, "abort"}};

} // namespace

bool Result::crashed() const
{
    return signal != 0 || (windows() && !timed_out && windows_crashes.count(exit_code));
}

std::string Result::output() const
{
    std::string out;
    for (const std::string &l : lines)
        out += l + "\n";
    if (timed_out)
        out += "[timed out]\n";
    if (signal)
        out += "[killed by signal " + std::to_string(signal) + "]\n";
    else if (crashed())
        out += "[exit status " + std::to_string(exit_code) + ": a Windows program's " +
               windows_crashes.at(exit_code) + "]\n";
    else
        out += "[exit status " + std::to_string(exit_code) + "]\n";
    return out;
}

// ---- Scenario -------------------------------------------------------------

Scenario::Scenario()
{
    std::string tmpl = (fs::temp_directory_path() / "lorvex-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
}

Scenario::~Scenario()
{
    if (!std::getenv("LORVEX_KEEP_TMP")) {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
}

Scenario &Scenario::array(std::string_view name, const std::vector<pd_float> &values)
{
    patch.array_define(name, static_cast<int>(values.size()));
    // Long arrays are set in chunks: one script line stays short.
    for (std::size_t at = 0; at < values.size(); at += 200) {
        std::vector<pd_float> chunk(values.begin() + at,
            values.begin() + std::min(values.size(), at + 200));
        init_.push_back("lvx send " + std::string(name) + " " + std::to_string(at) + " " +
                        nums(chunk));
    }
    return *this;
}

Scenario &Scenario::send(std::string_view line)
{
    std::string text(line);
    if (has_token(text))
        text = "lvx send " + text;
    char delay[32];
    std::snprintf(delay, sizeof delay, "%g", pending_ms_);
    script_.push_back(std::string(delay) + " " + text);
    pending_ms_ = 0;
    return *this;
}

Scenario &Scenario::wait(double ms)
{
    pending_ms_ += ms;
    return *this;
}

Scenario &Scenario::dsp(bool on) { return send(on ? "pd dsp 1" : "pd dsp 0"); }
Scenario &Scenario::dump(std::string_view a) { return send("lvx dump " + std::string(a)); }
Scenario &Scenario::say(std::string_view t) { return send("lvx say " + std::string(t)); }

Scenario &Scenario::flag(std::string_view f)
{
    flags_.emplace_back(f);
    return *this;
}

Scenario &Scenario::lib(std::string_view name)
{
    flags_.emplace_back("-lib");
    flags_.emplace_back(name);
    return *this;
}

Scenario &Scenario::verbose(int level)
{
    for (int i = 0; i < level; i++)
        flags_.emplace_back("-verbose");
    return *this;
}

Scenario &Scenario::env(std::string_view name, std::string_view value)
{
    env_.emplace_back(std::string(name), std::string(value));
    return *this;
}

Scenario &Scenario::unset_env(std::string_view name)
{
    env_.emplace_back(std::string(name), std::nullopt);
    return *this;
}

Scenario &Scenario::realtime()
{
    batch_ = false;
    return *this;
}

Scenario &Scenario::sanitized()
{
    sanitized_ = true;
    return *this;
}

Scenario &Scenario::timeout(double seconds)
{
    timeout_ = seconds;
    return *this;
}

Scenario &Scenario::no_quit()
{
    quit_ = false;
    return *this;
}

Scenario &Scenario::file(std::string_view name, std::string_view content)
{
    fs::path p = dir_ / name;
    fs::create_directories(p.parent_path());
    std::ofstream(p) << content;
    return *this;
}

Scenario &Scenario::abstraction(std::string_view name, const Canvas &c)
{
    return file(std::string(name) + ".pd", c.text());
}

Scenario &Scenario::on_line(std::function<void(const std::string &)> f)
{
    on_line_ = std::move(f);
    return *this;
}

Scenario &Scenario::options(const ClassOptions &o)
{
    for (const auto &l : o.libs)
        lib(l);
    for (const auto &[k, v] : o.env)
        v ? env(k, *v) : unset_env(k);
    if (o.realtime)
        realtime();
    return *this;
}

namespace {

// Script lines that build boxes while the patch runs: into a canvas, or as a
// patch opened. Pd 0.53 keeps the canvas it builds into in one place for the
// whole process, so instances doing so at once on threads of their own trip
// over each other: such a scenario runs in one instance only.
bool builds_boxes(const std::vector<std::string> &script)
{
    static const std::regex builder(R"(^\S+ (pd-\S+ (obj|msg|floatatom|symbolatom|listbox|)"
                                    R"(text|restore|graph|array|scalar)|pd (open|menunew)) .*)");
    return std::any_of(script.begin(), script.end(),
        [](const std::string &l) { return std::regex_match(l, builder); });
}

} // namespace

Result Scenario::run()
{
    // The script runs from a [qlist] started at load time; its boxes come
    // after the test's own, so the test's box indices stay as it counted them.
    std::ofstream script(dir_ / "script.txt");
    for (const std::string &l : init_)
        script << "0 " << l << ";\n";
    for (const std::string &l : script_)
        script << l << ";\n";
    if (quit_) {
        char delay[32];
        std::snprintf(delay, sizeof delay, "%g", pending_ms_);
        script << delay << " pd quit;\n";
    }
    script.close();

    std::string text = patch.text();
    int base = patch.size();
    text += "#X obj 500 10 loadbang;\n#X msg 500 40 read script.txt \\, bang;\n"
            "#X obj 500 70 qlist;\n";
    text += "#X connect " + std::to_string(base) + " 0 " + std::to_string(base + 1) + " 0;\n";
    text += "#X connect " + std::to_string(base + 1) + " 0 " + std::to_string(base + 2) + " 0;\n";
    std::ofstream(patch_path()) << text;

    auto env = env_;
    if (sanitized_ && !emulated()) {
        auto s = sanitizer_env();
        env.insert(env.begin(), s.begin(), s.end());
    }
    // A script that starts Pd (the fetched releases' commands) would run with
    // the runtime preloaded itself, which ThreadSanitizer's does not survive:
    // it gets the runtime in PD_PRELOAD and preloads it into Pd alone.
    if (host_is_script())
        for (auto &[name, value] : env)
            if (name == "LD_PRELOAD")
                name = "PD_PRELOAD";
    auto cmd = pd_command(patch_path(), batch_, sanitized_, flags_);
    if (concurrent_instances() && builds_boxes(script_))
        if (auto at = std::find(cmd.begin(), cmd.end(), "--concurrent"); at != cmd.end())
            cmd.erase(at, std::min(at + 2, cmd.end()));
    return run_process(cmd, env, dir_, timeout_, on_line_);
}

// ---- processes ------------------------------------------------------------

std::vector<std::string> pd_command(const fs::path &patch, bool batch, bool sanitized,
    const std::vector<std::string> &extra)
{
    // The sanitizer build is native only, so emulated runs use the plain plug-ins.
    std::vector<std::string> cmd = split_words(pd_host());
    if (emulated())
        sanitized = false;
    cmd.insert(cmd.end(), {"-nogui", "-noprefs", "-noaudio", "-stderr"});
    // Pd for Windows has no real-time priority to leave (and says so at -nrt).
    if (!windows())
        cmd.push_back("-nrt");
    if (batch)
        cmd.push_back("-batch");
    cmd.insert(cmd.end(), {"-path", (sanitized ? sanitized_plugin_dir() : plugin_dir()).string(),
                              "-path", probe_dir().string(), "-lib", "lvxprobe"});
    cmd.insert(cmd.end(), extra.begin(), extra.end());
    cmd.insert(cmd.end(), {"-open", patch.string()});
    return cmd;
}

std::vector<std::pair<std::string, std::optional<std::string>>> sanitizer_env()
{
    return {{"LD_PRELOAD", LORVEX_ASAN_RUNTIME},
        {"ASAN_OPTIONS", "detect_leaks=0:halt_on_error=1:abort_on_error=0:exitcode=86"},
        {"UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1"}};
}

Result run_process(const std::vector<std::string> &argv,
    const std::vector<std::pair<std::string, std::optional<std::string>>> &env,
    const fs::path &cwd, double timeout_seconds,
    const std::function<void(const std::string &)> &on_line)
{
    Result r;
    // Whatever it starts (a script that runs Pd for Windows among others)
    // runs in this program's wine prefix.
    if (windows())
        claim_wine_prefix();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        if (chdir(cwd.c_str()) != 0)
            _exit(127);
        for (const auto &[k, v] : env) {
            if (v)
                setenv(k.c_str(), v->c_str(), 1);
            else
                unsetenv(k.c_str());
        }
        std::vector<char *> args;
        for (const std::string &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        std::fprintf(stderr, "exec %s: %s\n", args[0], std::strerror(errno));
        _exit(127);
    }
    close(fds[1]);
    r.pid = pid;
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(static_cast<long>(timeout_seconds * 1000));
    std::string buf;
    std::size_t seen = 0;   // what on_line has been shown
    char chunk[65536];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0 && !r.timed_out) {
            // Keep reading what it said before it was stopped.
            r.timed_out = true;
            kill(pid, SIGKILL);
            deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            continue;
        }
        if (left <= 0)
            break;
        pollfd p{fds[0], POLLIN, 0};
        int rc = poll(&p, 1, static_cast<int>(std::min<long>(left, 1000)));
        if (rc < 0 && errno != EINTR)
            break;
        if (rc <= 0)
            continue;
        ssize_t n = read(fds[0], chunk, sizeof chunk);
        if (n <= 0)
            break;
        buf.append(chunk, static_cast<std::size_t>(n));
        for (std::size_t nl; on_line && (nl = buf.find('\n', seen)) != std::string::npos;) {
            on_line(strip_cr(buf.substr(seen, nl - seen)));
            seen = nl + 1;
        }
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status))
        r.exit_code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        r.signal = WTERMSIG(status);
    std::istringstream in(buf);
    for (std::string l; std::getline(in, l);)
        r.lines.push_back(strip_cr(std::move(l)));
    if (windows() && (r.crashed() || r.timed_out || r.contains(pd_windows_skipped_libraries)))
        clear_loading_mark();
    return r;
}

std::vector<std::string> remove_segments_left_by(int pid)
{
    std::ifstream in("/proc/sysvipc/shm");
    std::string line;
    std::getline(in, line);
    std::vector<std::string> left;
    while (std::getline(in, line)) {
        std::istringstream w(line);
        long long key, id, perms, size, cpid, lpid, nattch;
        if (w >> key >> id >> perms >> size >> cpid >> lpid >> nattch &&
            cpid == pid && nattch == 0) {
            left.push_back("key " + std::to_string(key) + ", " + std::to_string(size) + " bytes");
            shmctl(static_cast<int>(id), IPC_RMID, nullptr);
        }
    }
    return left;
}

// ---- Child ------------------------------------------------------------------

Child::Child(std::vector<std::string> argv)
{
    int out[2], in[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(in, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(out[1], 2);
        std::vector<char *> args;
        for (auto &a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    close(in[0]);
    stdin_ = in[1];
    reader_ = std::thread([this, fd = out[0]] { read_all(fd); });
}

Child::~Child() { finish(SIGTERM); }

bool Child::wait_for_line(const std::string &text, double seconds)
{
    return wait_for([&](const std::vector<std::string> &l) {
        return std::any_of(l.begin(), l.end(),
            [&](const std::string &x) { return x.find(text) != std::string::npos; });
    }, seconds);
}

std::vector<std::string> Child::wait_for_match(const std::string &pattern, double seconds)
{
    const std::regex re(pattern);
    std::vector<std::string> found;
    wait_for([&](const std::vector<std::string> &l) {
        for (const std::string &line : l) {
            std::smatch m;
            if (std::regex_search(line, m, re)) {
                found.assign(m.begin(), m.end());
                return true;
            }
        }
        return false;
    }, seconds);
    return found;
}

void Child::close_stdin()
{
    if (stdin_ >= 0)
        close(stdin_);
    stdin_ = -1;
}

std::vector<std::string> Child::finish(int sig)
{
    close_stdin();
    if (pid_ > 0) {
        if (sig)
            kill(pid_, sig);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        reader_.join();
    }
    return lines_;
}

void Child::read_all(int fd)
{
    std::string buf;
    char chunk[4096];
    for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;) {
        buf.append(chunk, static_cast<std::size_t>(n));
        std::lock_guard lock(mutex_);
        for (std::size_t nl; (nl = buf.find('\n')) != std::string::npos;) {
            lines_.push_back(strip_cr(buf.substr(0, nl)));
            buf.erase(0, nl + 1);
        }
        changed_.notify_all();
    }
    close(fd);
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}

std::string test_name(std::string_view text)
{
    std::string n;
    for (char c : text)
        n += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return n;
}

bool embedded()
{
    const char *v = std::getenv("LORVEX_EMBEDDED");
    return v && *v;
}

bool concurrent_instances()
{
    for (const std::string &w : split_words(pd_host()))
        if (w == "--concurrent")
            return true;
    return false;
}

bool classes_compiled_in()
{
    const char *v = std::getenv("LORVEX_CLASSES_DIR");
    return v && *v;
}

std::vector<std::string> built_classes()
{
    // A Pd with every class compiled in has no plug-in files on its path:
    // LORVEX_CLASSES_DIR names the folder of the ones it was built from.
    std::vector<std::string> out;
    for (const auto &e : fs::directory_iterator(from_env("LORVEX_CLASSES_DIR",
             plugin_dir().c_str())))
        if (e.path().extension() == module_suffix() && e.path().stem() != "liblorvex")
            out.push_back(e.path().stem().string());
    std::sort(out.begin(), out.end());
    return out;
}

ClassOptions class_options(const std::string &cls)
{
    ClassOptions o;
    std::ifstream in(source_dir() / "tests" / "sweep" / (cls + ".sweep"));
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string key, rest;
        words >> key;
        std::getline(words >> std::ws, rest);
        if (key == "lib")
            o.libs.push_back(rest);
        else if (key == "nobox")
            o.nobox = true;
        else if (key == "realtime")
            o.realtime = true;
        else if (key == "env" && rest.find('=') != std::string::npos)
            o.env.emplace_back(rest.substr(0, rest.find('=')), rest.substr(rest.find('=') + 1));
        else if (key == "unset")
            o.env.emplace_back(rest, std::nullopt);
        else if (key == "seconds")
            o.seconds = std::stod(rest);
        else if (key == "args")
            o.args.push_back(rest);
        else if (key == "allow")
            o.allow.push_back(rest);
    }
    return o;
}

} // namespace lorvex::test
