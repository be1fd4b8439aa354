// The platform layer (lorvex/os/) on the system it is built for: the same
// tests pass natively on Linux and, in the Windows build, under wine.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>

#include "lorvex/os/environment.hpp"
#include "lorvex/os/shared_block.hpp"
#include "lorvex/os/socket.hpp"
#include "lorvex/shm_block.hpp"

namespace os = lorvex::os;

namespace {

// ---- sockets ------------------------------------------------------------------

struct sockets : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(os::start_sockets()); }
};

// A listener on a loopback port the system chooses.
os::socket_t listener(int type, sockaddr_in &addr)
{
    os::socket_t s = os::open_private_socket(type);
    EXPECT_NE(s, os::no_socket);
    addr = sockaddr_in{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    if (type == SOCK_STREAM) {
        EXPECT_EQ(listen(s, 4), 0);
    }
    addr.sin_port = htons(static_cast<std::uint16_t>(os::bound_port(s)));
    return s;
}

// Waits (a few seconds at most) until `s` has something to read.
bool readable(os::socket_t s)
{
    pollfd p{s, POLLIN, 0};
    return os::wait_for_sockets(&p, 1, 5000) == 1;
}

TEST_F(sockets, StreamCarriesBytesBothWaysAndEndsCleanly)
{
    sockaddr_in addr;
    os::socket_t l = listener(SOCK_STREAM, addr);
    ASSERT_TRUE(os::set_nonblocking(l));
    os::socket_t c = os::open_socket(SOCK_STREAM);
    ASSERT_TRUE(os::set_nodelay(c));
    EXPECT_TRUE(os::set_priority(c, 6));
    ASSERT_TRUE(os::connect_to(c, addr));
    ASSERT_TRUE(readable(l));
    sockaddr_in from{};
    os::socket_t a = os::accept_connection(l, from);
    ASSERT_NE(a, os::no_socket);
    EXPECT_EQ(from.sin_addr.s_addr, htonl(INADDR_LOOPBACK));

    // Nothing there yet: the accepted socket does not wait.
    char buf[64];
    EXPECT_EQ(os::receive_bytes(a, buf, sizeof buf), -1);
    EXPECT_TRUE(os::would_block(os::socket_error()));

    const unsigned char frame[] = {1, 11, 0, 0, 0xff, 0x80, 0x7f, 0};
    ASSERT_EQ(os::send_bytes(c, frame, sizeof frame), static_cast<long>(sizeof frame));
    ASSERT_TRUE(readable(a));
    ASSERT_EQ(os::receive_bytes(a, buf, sizeof buf), static_cast<long>(sizeof frame));
    EXPECT_EQ(std::memcmp(buf, frame, sizeof frame), 0);

    os::close_socket(c);
    ASSERT_TRUE(readable(a));
    EXPECT_EQ(os::receive_bytes(a, buf, sizeof buf), 0);
    os::close_socket(a);
    os::close_socket(l);
}

// A peer that has gone makes a send fail with an error, never a signal that
// ends the process (which would end this test program).
TEST_F(sockets, SendingToAVanishedPeerFailsWithAnError)
{
    os::ignore_broken_pipe();
    sockaddr_in addr;
    os::socket_t l = listener(SOCK_STREAM, addr);
    os::socket_t c = os::open_socket(SOCK_STREAM);
    ASSERT_TRUE(os::connect_to(c, addr));
    sockaddr_in from{};
    ASSERT_TRUE(readable(l));
    os::socket_t a = os::accept_connection(l, from);
    ASSERT_NE(a, os::no_socket);
    os::close_socket(a);
    os::close_socket(l);
    static char data[65536];
    long r = 0;
    for (int i = 0; i < 200 && r >= 0; i++) {
        r = os::send_bytes(c, data, sizeof data);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_LT(r, 0);
    char text[256];
    os::socket_error_text(os::socket_error(), text, sizeof text);
    EXPECT_GT(std::strlen(text), 0u);
    EXPECT_STRNE(text, ("error " + std::to_string(os::socket_error())).c_str());
    os::close_socket(c);
}

TEST_F(sockets, ARefusedConnectionIsToldInTheSystemsWords)
{
    sockaddr_in addr;
    os::socket_t l = listener(SOCK_STREAM, addr);
    os::close_socket(l);    // the port is free again: nobody listens there
    os::socket_t c = os::open_socket(SOCK_STREAM);
    ASSERT_FALSE(os::connect_to(c, addr));
    const int err = os::socket_error();
#ifdef _WIN32
    EXPECT_EQ(err, WSAECONNREFUSED);
#else
    EXPECT_EQ(err, ECONNREFUSED);
#endif
    char text[256];
    os::socket_error_text(err, text, sizeof text);
    // Words, on one line, without the line end Windows' texts come with.
    EXPECT_GT(std::strlen(text), 5u);
    EXPECT_EQ(std::strchr(text, '\n'), nullptr);
    EXPECT_EQ(std::strchr(text, '\r'), nullptr);
    EXPECT_EQ(std::string(text).rfind("error ", 0), std::string::npos) << text;
    // A text never runs past the buffer it is given.
    char small[8];
    std::memset(small, 'x', sizeof small);
    os::socket_error_text(err, small, sizeof small);
    EXPECT_LT(std::strlen(small), sizeof small);
    os::close_socket(c);
}

TEST_F(sockets, DatagramsArriveWhole)
{
    sockaddr_in addr;
    os::socket_t r = listener(SOCK_DGRAM, addr);
    os::set_receive_buffer(r, 1 << 20);
    ASSERT_TRUE(os::set_nonblocking(r));
    os::socket_t s = os::open_socket(SOCK_DGRAM);
    ASSERT_TRUE(os::connect_to(s, addr));
    static unsigned char data[61440];
    for (std::size_t i = 0; i < sizeof data; i++)
        data[i] = static_cast<unsigned char>(i * 7);
    ASSERT_EQ(os::send_bytes(s, data, 24), 24);
    ASSERT_EQ(os::send_bytes(s, data, sizeof data), static_cast<long>(sizeof data));
    static unsigned char got[65536];
    sockaddr_in from{};
    ASSERT_TRUE(readable(r));
    EXPECT_EQ(os::receive_datagram(r, got, sizeof got, from), 24);
    ASSERT_TRUE(readable(r));
    ASSERT_EQ(os::receive_datagram(r, got, sizeof got, from), static_cast<long>(sizeof data));
    EXPECT_EQ(std::memcmp(got, data, sizeof data), 0);
    EXPECT_EQ(os::receive_datagram(r, got, sizeof got, from), -1);
    EXPECT_TRUE(os::would_block(os::socket_error()));
    os::close_socket(s);
    os::close_socket(r);
}

// ---- the environment ------------------------------------------------------------

void set_variable(const char *name, const char *value)
{
#ifdef _WIN32
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}

TEST(Environment, UnsetRemovesAVariableAndRefusesBadNames)
{
    set_variable("LORVEX_OS_TEST_A", "1");
    set_variable("LORVEX_OS_TEST_B", "2");
    ASSERT_NE(std::getenv("LORVEX_OS_TEST_A"), nullptr);
    os::unset_variable("LORVEX_OS_TEST_A");
    EXPECT_EQ(std::getenv("LORVEX_OS_TEST_A"), nullptr);
    os::unset_variable("LORVEX_OS_TEST_A");               // not set: nothing happens
    EXPECT_EQ(std::getenv("LORVEX_OS_TEST_A"), nullptr);
    os::unset_variable("LORVEX_OS_TEST_B=2");             // a name with '=' is refused
    os::unset_variable("");
    ASSERT_NE(std::getenv("LORVEX_OS_TEST_B"), nullptr);
    EXPECT_STREQ(std::getenv("LORVEX_OS_TEST_B"), "2");
#ifdef _WIN32
    // Programs started later inherit the process's own block: gone there too.
    os::unset_variable("LORVEX_OS_TEST_B");
    wchar_t buf[16];
    EXPECT_EQ(GetEnvironmentVariableW(L"LORVEX_OS_TEST_B", buf, 16), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
#else
    os::unset_variable("LORVEX_OS_TEST_B");
#endif
    EXPECT_EQ(std::getenv("LORVEX_OS_TEST_B"), nullptr);
}

// ---- shared blocks --------------------------------------------------------------

// A key nobody else uses while the test runs.
std::int32_t fresh_key()
{
    return static_cast<std::int32_t>(0x4c000000 + std::random_device{}() % 0x00ffffff);
}

TEST(SharedBlock, WindowsLayoutNamesAndSizeRecord)
{
    EXPECT_EQ(lorvex::shm::windows_name(1234), "Local\\lorvex-karbox-1234");
    EXPECT_EQ(lorvex::shm::windows_key("lorvex-karbox-1234"), 1234);
    EXPECT_EQ(lorvex::shm::windows_key("lorvex-karbox-2147483647"), 2147483647);
    for (const char *bad : {"lorvex-karbox-", "lorvex-karbox-0", "lorvex-karbox-012",
             "lorvex-karbox-2147483648", "lorvex-karbox-99999999999", "lorvex-karbox-12a",
             "lorvex-karbox--1", "other-1234", "lorvex-karbo-1"})
        EXPECT_EQ(lorvex::shm::windows_key(bad), 0) << bad;
    // Whole pages, with 8 bytes free after the floats for the size.
    EXPECT_EQ(lorvex::shm::windows_mapping_bytes(4), 4096);
    EXPECT_EQ(lorvex::shm::windows_mapping_bytes(4088), 4096);
    EXPECT_EQ(lorvex::shm::windows_mapping_bytes(4092), 8192);
    EXPECT_EQ(lorvex::shm::windows_mapping_bytes(400), 4096);
    EXPECT_EQ(lorvex::shm::windows_recorded_bytes(4096, 400), 400);
    EXPECT_EQ(lorvex::shm::windows_recorded_bytes(4096, 4088), 4088);
    EXPECT_EQ(lorvex::shm::windows_recorded_bytes(4096, 4089), -1);   // cannot be
    EXPECT_EQ(lorvex::shm::windows_recorded_bytes(4096, 0), -1);      // not yet written
}

TEST(SharedBlock, MadeJoinedAndGoneWithItsLastUser)
{
    const std::int32_t key = fresh_key();
    int err = 0;
    // Nothing to join yet, and nothing made without a size.
    EXPECT_EQ(os::get_block(key, 40, false, err), os::no_block);
    EXPECT_TRUE(os::block_absent(err));
    EXPECT_EQ(os::get_block(key, 0, true, err), os::no_block);

    const os::block_id made = os::get_block(key, 40, true, err);
    ASSERT_NE(made, os::no_block);
    auto *a = static_cast<float *>(os::attach_block(made, err));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(os::block_size(made, a, err), 40);
    for (int i = 0; i < 10; i++)
        EXPECT_EQ(a[i], 0.0f);     // new blocks are zeroed
    a[3] = 1.5f;
    EXPECT_EQ(os::block_holders(made), 1);

    // Joined by key, with a size or without: the same floats.
    const os::block_id joined = os::get_block(key, 0, true, err);
    ASSERT_NE(joined, os::no_block);
    auto *b = static_cast<float *>(os::attach_block(joined, err));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(os::block_size(joined, b, err), 40);
    EXPECT_EQ(b[3], 1.5f);
    b[9] = -2.0f;
    EXPECT_EQ(a[9], -2.0f);
    EXPECT_EQ(os::block_holders(made), 2);

    // A larger block under the same key is not to be had.
    const os::block_id larger = os::get_block(key, 400, true, err);
    if (larger != os::no_block) {
        // Windows joins it; its size tells.
        void *c = os::attach_block(larger, err);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(os::block_size(larger, c, err), 40);
        EXPECT_TRUE(os::detach_block(c));
        os::let_go_block(larger);
    } else {
        EXPECT_TRUE(os::block_too_small(err));
    }

    // The first lets go; the second still has it. The last one out removes it.
    EXPECT_TRUE(os::detach_block(a));
    EXPECT_TRUE(os::leave_block(made));
    EXPECT_EQ(b[3], 1.5f);
    const os::block_id again = os::get_block(key, 0, false, err);
    ASSERT_NE(again, os::no_block);
    os::let_go_block(again);
    EXPECT_TRUE(os::detach_block(b));
    EXPECT_TRUE(os::leave_block(joined));
    EXPECT_EQ(os::get_block(key, 0, false, err), os::no_block);
    EXPECT_TRUE(os::block_absent(err));
}

// What karbox's "allocate" does with the key it holds: Linux removes the
// segment at once (a holder keeps its memory, the key makes a fresh block);
// Windows can only let go, so a block another holds is joined again.
TEST(SharedBlock, RemovingWhileAnotherHoldsIt)
{
    const std::int32_t key = fresh_key();
    int err = 0;
    const os::block_id first = os::get_block(key, 8, true, err);
    ASSERT_NE(first, os::no_block);
    auto *a = static_cast<float *>(os::attach_block(first, err));
    ASSERT_NE(a, nullptr);
    a[0] = 7.0f;
    const os::block_id other = os::get_block(key, 8, true, err);
    auto *held = static_cast<float *>(os::attach_block(other, err));
    ASSERT_NE(held, nullptr);

    os::detach_block(a);
    os::remove_block(first);
    const os::block_id next = os::get_block(key, 8, true, err);
    ASSERT_NE(next, os::no_block);
    auto *n = static_cast<float *>(os::attach_block(next, err));
    ASSERT_NE(n, nullptr);
#ifdef _WIN32
    EXPECT_EQ(n[0], 7.0f);
#else
    EXPECT_EQ(n[0], 0.0f);
#endif
    EXPECT_EQ(held[0], 7.0f);
    os::detach_block(n);
    os::leave_block(next);
    os::detach_block(held);
    os::leave_block(other);
    EXPECT_EQ(os::get_block(key, 0, false, err), os::no_block);
}

} // namespace
