#include "ReadWrite.h"
#include "FileDescriptor.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <sys/time.h>
#include <thread>
#include <vector>

namespace {

// A signal every 100 microseconds, caught without SA_RESTART, so that reads
// and writes that wait are cut short with EINTR, as a timer of the program
// would cut them.
class Interruptions {
  public:
    Interruptions() {
        struct sigaction quiet{};
        quiet.sa_handler = [](int) {};
        sigaction(SIGALRM, &quiet, &previous);
        const itimerval often{{0, 100}, {0, 100}};
        setitimer(ITIMER_REAL, &often, nullptr);
    }
    ~Interruptions() {
        const itimerval off{};
        setitimer(ITIMER_REAL, &off, nullptr);
        sigaction(SIGALRM, &previous, nullptr);
    }

  private:
    struct sigaction previous{};
};

} // namespace

// Through a pipe whose other end moves a few bytes at a time, slowly, with
// signals arriving all the while: every byte arrives, in order, and the end
// of the data is told by a short count.
TEST(ReadWrite, EveryByteCrossesAPipeThroughShortTransfersAndSignals) {
    constexpr std::size_t kSize = 200000;
    std::vector<std::uint8_t> sent(kSize);
    for (std::size_t i = 0; i < kSize; ++i)
        sent[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    const struct {
        const char* what;
        bool reading; // the call under test reads; else it writes
        std::function<bool(int fd, std::vector<std::uint8_t>& got)> call;
    } cases[] = {{"readUpTo", true,
                  [&](int fd, std::vector<std::uint8_t>& got) {
                      got.resize(kSize + 10);
                      const ssize_t n = ReadWrite::readUpTo(fd, got.data(), got.size());
                      got.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
                      return n == static_cast<ssize_t>(kSize);
                  }},
                 {"writeAll", false,
                  [&](int fd, std::vector<std::uint8_t>&) {
                      return ReadWrite::writeAll(fd, sent.data(), sent.size());
                  }},
                 {"writeAll of parts", false, [&](int fd, std::vector<std::uint8_t>&) {
                      std::vector<std::uint8_t> copy = sent;
                      iovec parts[3] = {{copy.data(), 1},
                                        {copy.data() + 1, 99999},
                                        {copy.data() + 100000, 100000}};
                      return ReadWrite::writeAll(fd, parts, 3);
                  }}};
    std::signal(SIGPIPE, SIG_IGN);
    for (const auto& c : cases) {
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        FileDescriptor readEnd(ends[0]), writeEnd(ends[1]);
        std::vector<std::uint8_t> got;
        // The other end, in pieces of 1 to 4096 bytes with pauses between;
        // the signals go to the thread under test.
        std::thread peer([&] {
            sigset_t alarm;
            sigemptyset(&alarm);
            sigaddset(&alarm, SIGALRM);
            pthread_sigmask(SIG_BLOCK, &alarm, nullptr);
            std::uint8_t piece[4096];
            for (std::size_t at = 0, step = 1;; step = step * 3 % 4096 + 1) {
                const std::size_t n = c.reading ? std::min(step, kSize - at) : step;
                const ssize_t moved = c.reading ? ::write(writeEnd.get(), sent.data() + at, n)
                                                : ::read(readEnd.get(), piece, n);
                if (moved <= 0 || (c.reading && (at += moved) == kSize))
                    break;
                if (!c.reading)
                    got.insert(got.end(), piece, piece + moved);
                if (step % 5 == 0)
                    usleep(200);
            }
            if (c.reading)
                writeEnd.reset();
        });
        {
            Interruptions signals;
            EXPECT_TRUE(c.call(c.reading ? readEnd.get() : writeEnd.get(), got)) << c.what;
        }
        // The end under test goes, so that the other end stops too.
        (c.reading ? readEnd : writeEnd).reset();
        peer.join();
        EXPECT_TRUE(got == sent) << c.what << ": " << got.size() << " bytes arrived";
    }
}

// At offsets of a file: what lies there, a short count at its end, nothing
// past it; and a failure is told, not taken for an end.
TEST(ReadWrite, OffsetsEndsAndFailuresOfAFile) {
    char name[] = "/tmp/orbivue-readwrite-XXXXXX";
    const FileDescriptor file(mkstemp(name));
    ASSERT_TRUE(file);
    unlink(name);
    std::vector<std::uint8_t> bytes(10000);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 13);
    ASSERT_TRUE(ReadWrite::writeAllAt(file.get(), bytes.data(), 6000, 4000));
    ASSERT_TRUE(ReadWrite::writeAllAt(file.get(), bytes.data() + 6000, 4000, 0));
    const struct {
        off_t offset;
        std::size_t asked;
        ssize_t got;
        std::size_t from; // of `bytes`, where what is read begins
    } cases[] = {{4000, 6000, 6000, 0},
                 {0, 4000, 4000, 6000},
                 {9000, 2000, 1000, 5000},
                 {10000, 10, 0, 0},
                 {20000, 10, 0, 0}};
    for (const auto& c : cases) {
        std::vector<std::uint8_t> out(c.asked);
        EXPECT_EQ(ReadWrite::readUpToAt(file.get(), out.data(), c.asked, c.offset), c.got)
            << "at " << c.offset;
        out.resize(static_cast<std::size_t>(std::max<ssize_t>(c.got, 0)));
        EXPECT_TRUE(std::equal(out.begin(), out.end(), bytes.begin() + c.from))
            << "at " << c.offset;
    }
    std::uint8_t byte = 0;
    EXPECT_EQ(ReadWrite::readUpTo(-1, &byte, 1), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_FALSE(ReadWrite::writeAll(-1, &byte, 1));
    const FileDescriptor readOnly(::open("/dev/null", O_RDONLY));
    EXPECT_FALSE(ReadWrite::writeAllAt(readOnly.get(), &byte, 1, 0));
}
