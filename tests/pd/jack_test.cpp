// plug-roster and liblorvex against a real JACK server (jackd with the dummy
// driver, under a name of its own), and without one.
#include <gtest/gtest.h>

#include <jack/jack.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "pd.hpp"

using namespace lorvex::test;
using strings = std::vector<std::string>;

namespace {

std::string unique_name(const char *what)
{
    static int counter;
    return std::string("lorvex-") + what + "-" + std::to_string(getpid()) + "-" +
           std::to_string(counter++);
}

jack_client_t *open_client(const std::string &server, const char *name, int options = 0)
{
    jack_status_t status;
    return jack_client_open(name,
        static_cast<jack_options_t>(JackNoStartServer | JackServerName | options), &status,
        server.c_str());
}

// jackd -d dummy under a unique name; stopped when this goes away, and by the
// kernel if the test process dies first.
class JackServer {
public:
    explicit JackServer(std::string name = unique_name("jackd")) : name_(std::move(name))
    {
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execlp("jackd", "jackd", "-r", "-n", name_.c_str(), "-d", "dummy", nullptr);
            _exit(127);
        }
        for (int i = 0; i < 200 && !ready_; i++) {
            if (jack_client_t *c = open_client(name_, "lorvex-probe")) {
                jack_client_close(c);
                ready_ = true;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
    }
    ~JackServer()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    JackServer(const JackServer &) = delete;
    JackServer &operator=(const JackServer &) = delete;

    const std::string &name() const { return name_; }
    bool ready() const { return ready_; }

private:
    std::string name_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

// A client of the test's own with known ports, one of them with a ':' in its name.
class PortClient {
public:
    explicit PortClient(const std::string &server) : client_(open_client(server, "lvxports"))
    {
        if (!client_)
            return;
        for (const char *p : {"out_a", "out_b", "odd:name"})
            jack_port_register(client_, p, JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        jack_port_register(client_, "in_a", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_activate(client_);
    }
    ~PortClient()
    {
        if (client_)
            jack_client_close(client_);
    }
    PortClient(const PortClient &) = delete;
    PortClient &operator=(const PortClient &) = delete;
    bool ok() const { return client_ != nullptr; }

private:
    jack_client_t *client_;
};

void use_server(Scenario &s, const std::string &server)
{
    s.env("JACK_DEFAULT_SERVER", server).env("JACK_NO_START_SERVER", "1");
}

// [plug-roster] at [r o], its outlets printed as "out" and "in".
void add_roster(Scenario &s)
{
    int o = s.patch.obj("plug-roster");
    s.patch.receive("o", o);
    s.patch.print(o, 0, "out");
    s.patch.print(o, 1, "in");
}

const strings all_outputs = {"list system capture_1", "list system capture_2",
    "list lvxports out_a", "list lvxports out_b", "list lvxports odd:name"};
const strings all_inputs = {
    "list system playback_1", "list system playback_2", "list lvxports in_a"};

class WithServer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server = new JackServer;
        ports = new PortClient(server->name());
    }
    static void TearDownTestSuite()
    {
        delete ports;
        delete server;
    }
    void SetUp() override
    {
        ASSERT_TRUE(server->ready()) << "jackd did not come up";
        ASSERT_TRUE(ports->ok());
    }

    // Sends each message to a fresh [plug-roster] and answers what both outlets printed.
    static Result ask(const strings &messages)
    {
        Scenario s;
        use_server(s, server->name());
        add_roster(s);
        for (const auto &m : messages)
            s.send("o " + m).say("done");
        return s.run();
    }

    static JackServer *server;
    static PortClient *ports;
};

JackServer *WithServer::server;
PortClient *WithServer::ports;

} // namespace

TEST_F(WithServer, BangListsEveryOutputPortThenEveryInputPort)
{
    Result r = ask({"bang", "bang 1 2 input"});
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    strings both = all_outputs;
    both.insert(both.end(), all_outputs.begin(), all_outputs.end());
    EXPECT_EQ(r.printed("out"), both);
    strings ins = all_inputs;
    ins.insert(ins.end(), all_inputs.begin(), all_inputs.end());
    EXPECT_EQ(r.printed("in"), ins);
    // all of the left outlet first, then the right
    std::size_t last_out = 0, first_in = r.lines.size();
    for (std::size_t i = 0; i < r.lines.size() && r.lines[i] != "lvx: done"; i++) {
        if (r.lines[i].rfind("out:", 0) == 0)
            last_out = i;
        if (r.lines[i].rfind("in:", 0) == 0)
            first_in = std::min(first_in, i);
    }
    EXPECT_LT(last_out, first_in);
}

TEST_F(WithServer, KeywordsChooseTheKindOfPort)
{
    struct Case {
        std::string message;
        strings out, in;
    };
    const std::vector<Case> cases = {
        {"input", {}, all_inputs},
        {"output", all_outputs, {}},
        {"input output", {}, {}},
        {"physical output", {"list system capture_1", "list system capture_2"}, {}},
        {"physical", {"list system capture_1", "list system capture_2"},
            {"list system playback_1", "list system playback_2"}},
        // "virtual" drops the physical condition, it does not ask for non-physical ports
        {"physical virtual", all_outputs, all_inputs},
        {"virtual out_a", {"list lvxports out_a"}, {}},
        {"virtual capture", {"list system capture_1", "list system capture_2"}, {}},
    };
    for (const Case &c : cases) {
        Result r = ask({c.message});
        EXPECT_EQ(r.printed("out"), c.out) << c.message;
        EXPECT_EQ(r.printed("in"), c.in) << c.message;
    }
}

TEST_F(WithServer, TheFirstOtherWordIsThePattern)
{
    struct Case {
        std::string message;
        strings out, in;
    };
    const std::vector<Case> cases = {
        // the selector as pattern, then a keyword
        {"lvxports input", {}, {"list lvxports in_a"}},
        {"lvxports", {"list lvxports out_a", "list lvxports out_b", "list lvxports odd:name"},
            {"list lvxports in_a"}},
        // a second non-keyword word is ignored
        {"out_b in_a", {"list lvxports out_b"}, {}},
        {"output out_b capture_1", {"list lvxports out_b"}, {}},
        // a regular expression over the full name
        {"^system:.*_2$", {"list system capture_2"}, {"list system playback_2"}},
        {"nothing-matches-this", {}, {}},
    };
    for (const Case &c : cases) {
        Result r = ask({c.message});
        EXPECT_EQ(r.printed("out"), c.out) << c.message;
        EXPECT_EQ(r.printed("in"), c.in) << c.message;
    }
    // The pattern lasts for one request only.
    Result r = ask({"out_a", "bang"});
    strings expect = {"list lvxports out_a"};
    expect.insert(expect.end(), all_outputs.begin(), all_outputs.end());
    EXPECT_EQ(r.printed("out"), expect);
}

TEST_F(WithServer, OverlongWordsAreCutNotOverflowed)
{
    Scenario s;
    use_server(s, server->name());
    s.sanitized();
    add_roster(s);
    // 500 characters as selector and as argument: longer than the pattern
    // buffer; the cut pattern matches nothing.
    std::string longword(500, 'q');
    s.send("o " + longword).send("o input " + longword).send("o @long output").send("o out_a");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.printed("out"), strings{"list lvxports out_a"});
    EXPECT_TRUE(r.printed("in").empty());
}

// The first port listed makes the patch ask the same object for every port
// before the rest of the first request has gone out. The request under way
// keeps its pattern, and every receiver of a list gets that list.
TEST_F(WithServer, AskingAgainFromAnAnswerLeavesTheFirstRequestAlone)
{
    Scenario s;
    use_server(s, server->name());
    int o = s.patch.obj("plug-roster");
    s.patch.receive("o", o);
    int once = s.patch.obj("spigot 1");
    int then = s.patch.obj("t b b");
    int shut = s.patch.msg("0");
    int again = s.patch.msg("bang");
    s.patch.connect(o, 0, once, 0);
    s.patch.print(o, 0, "out");
    s.patch.print(o, 1, "in");
    s.patch.connect(once, 0, then, 0);
    s.patch.connect(then, 1, shut, 0);
    s.patch.connect(shut, 0, once, 1);
    s.patch.connect(then, 0, again, 0);
    s.patch.connect(again, 0, o, 0);
    s.send("o ^system:");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    // [print out] is connected after the spigot: it is handed the first list
    // once the second request has been answered.
    strings out = all_outputs;
    out.insert(out.end(), {"list system capture_1", "list system capture_2"});
    EXPECT_EQ(r.printed("out"), out);
    strings in = all_inputs;
    in.insert(in.end(), {"list system playback_1", "list system playback_2"});
    EXPECT_EQ(r.printed("in"), in);
}

TEST_F(WithServer, HostileMessagesAndDeletionWithAServer)
{
    Scenario s;
    use_server(s, server->name());
    s.sanitized();
    auto &c = s.patch.subpatch("sweep");
    c.obj("plug-roster");
    c.obj("plug-roster");
    s.send("lvx hostile sweep").send("pd-sweep clear").say("alive");
    Result r = s.run();
    EXPECT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.contains("hostile messages sent to 2 objects")) << r.output();
    EXPECT_TRUE(r.contains("lvx: alive"));
}

TEST_F(WithServer, ATakenNameGivesAnotherNameAndTheStatus)
{
    jack_client_t *taker = open_client(server->name(), "lorvex-pd", JackUseExactName);
    ASSERT_NE(taker, nullptr);
    Scenario s;
    use_server(s, server->name());
    s.lib("lvxjack");
    int p = s.patch.obj("lvx_jack");
    s.patch.receive("p", p);
    add_roster(s);
    s.send("p bang").send("o lvxports input");
    Result r = s.run();
    jack_client_close(taker);
    ASSERT_TRUE(r.clean()) << r.output();
    auto errors = r.errors();
    ASSERT_EQ(errors.size(), 1u) << r.output();
    ASSERT_EQ(errors[0].rfind("lorvex: server returned status ", 0), 0u) << errors[0];
    int status = std::stoi(errors[0].substr(errors[0].rfind(' ') + 1));
    EXPECT_TRUE(status & JackNameNotUnique) << status;
    // The client JACK named otherwise is kept and works.
    EXPECT_TRUE(r.contains("lvx_jack: client lorvex-pd-")) << r.output();
    EXPECT_EQ(r.printed("in"), strings{"list lvxports in_a"});
}

TEST(WithoutServer, TheLibrarySaysWhyAndThePortListerStaysSilent)
{
    Scenario s;
    use_server(s, unique_name("absent"));
    s.lib("lvxjack");
    int p = s.patch.obj("lvx_jack");
    s.patch.receive("p", p);
    add_roster(s);
    s.send("o bang").send("o physical").send("p bang");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    // Once when plug-roster loads, once for the probe: null is not remembered.
    int failed = JackFailure | JackServerFailed;
    strings once = {"lorvex: unable to connect to JACK server",
        "lorvex: server returned status " + std::to_string(failed)};
    // Pd for Windows under wine has no JACK at all: its DLL is not there,
    // and the console says so in Windows' words.
    if (windows()) {
        strings errors = r.errors();
        ASSERT_EQ(errors.size(), 2u) << r.output();
        for (const std::string &e : errors)
            EXPECT_EQ(e.rfind("lorvex: JACK is not installed (libjack64.dll: ", 0), 0u) << e;
        EXPECT_EQ(errors[0], errors[1]);
        once = {errors[0]};
    }
    strings twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(r.errors(), twice);
    EXPECT_TRUE(r.contains("lvx_jack: null"));
    EXPECT_TRUE(r.printed("out").empty());
    EXPECT_TRUE(r.printed("in").empty());
}

// The library opens the client as soon as a server is there; a plug-roster
// loaded before that keeps the null it fetched at load and stays silent.
TEST(WithoutServer, ALaterCallFindsAServerThatCameUp)
{
    if (windows())
        GTEST_SKIP() << "no JACK server for Windows here (Debian has no JACK for Windows)";
    std::string name = unique_name("late");
    Scenario s;
    use_server(s, name);
    s.lib("lvxjack").realtime().timeout(40);
    int p = s.patch.obj("lvx_jack");
    s.patch.receive("p", p);
    add_roster(s);
    // p poll keeps asking until the server the test starts below is up; then
    // the port lister is asked and Pd quits.
    int then = s.patch.msg("; o bang; pd quit");
    s.patch.connect(p, 0, then, 0);
    s.no_quit().send("p bang").send("p poll");
    Result r;
    std::thread pd([&] { r = s.run(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    {
        JackServer late_server(name);
        pd.join();
    }
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.contains("lvx_jack: null")) << r.output();
    EXPECT_TRUE(r.contains("lvx_jack: client lorvex-pd")) << r.output();
    EXPECT_TRUE(r.printed("out").empty()) << r.output();
    EXPECT_TRUE(r.printed("in").empty()) << r.output();
}
