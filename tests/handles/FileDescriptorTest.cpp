#include "FileDescriptor.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>

// What each way of ending or handing on an owner does to its descriptor: it
// stays open only where the case takes it back (and then closes it itself).
TEST(FileDescriptor, ClosesWhatItOwnsExactlyOnce) {
    using Kept = FileDescriptor;
    const struct {
        const char* what;
        const char* path;               // what the descriptor is opened on
        std::function<int(int fd)> act; // the descriptor taken back, or -1
    } cases[] = {
        {"owner goes", ".", [](int fd) { return Kept(fd), -1; }},
        {"reset", ".",
         [](int fd) {
             Kept k(fd);
             k.reset();
             return k.get();
         }},
        {"close", ".",
         [](int fd) {
             Kept k(fd);
             EXPECT_TRUE(k.close());
             return k.get();
         }},
        {"release", ".", [](int fd) { return Kept(fd).release(); }},
        {"moved out, new owner goes", ".",
         [](int fd) {
             Kept k(fd);
             Kept(std::move(k));
             return k.get();
         }},
        {"moved to a kept owner", ".",
         [](int fd) {
             Kept k(fd), to;
             to = std::move(k);
             return to.release();
         }},
        {"moved over itself", ".",
         [](int fd) {
             Kept k(fd);
             Kept& same = k;
             k = std::move(same);
             return k.release();
         }},
        {"directory stream goes", ".",
         [](int fd) {
             EXPECT_TRUE(openDirectory(Kept(fd)));
             return -1;
         }},
        {"no stream for a device", "/dev/null",
         [](int fd) {
             EXPECT_FALSE(openDirectory(Kept(fd)));
             return -1;
         }},
    };
    for (const auto& c : cases) {
        const int fd = ::open(c.path, O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const int kept = c.act(fd);
        EXPECT_EQ(::fcntl(fd, F_GETFD) != -1, kept == fd) << c.what;
        if (kept >= 0)
            ::close(kept);
    }
}
