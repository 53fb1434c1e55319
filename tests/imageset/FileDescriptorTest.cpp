#include "FileDescriptor.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>

namespace {

bool isOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

} // namespace

// What each way of ending or handing on an owner does to its descriptor.
TEST(FileDescriptor, ClosesWhatItOwnsExactlyOnce) {
    const struct {
        const char* what;
        std::function<int(int fd)> act; // the descriptor open afterwards, or -1
        bool stillOpen;
    } cases[] = {
        {"owner goes",
         [](int fd) {
             FileDescriptor{fd};
             return -1;
         },
         false},
        {"reset",
         [](int fd) {
             FileDescriptor owner(fd);
             owner.reset();
             return owner.get();
         },
         false},
        {"close",
         [](int fd) {
             FileDescriptor owner(fd);
             EXPECT_TRUE(owner.close());
             EXPECT_FALSE(owner);
             return -1;
         },
         false},
        {"release",
         [](int fd) {
             FileDescriptor owner(fd);
             return owner.release();
         },
         true},
        {"moved out and the new owner goes",
         [](int fd) {
             FileDescriptor owner(fd);
             { FileDescriptor other(std::move(owner)); }
             EXPECT_EQ(owner.get(), -1);
             return -1;
         },
         false},
        {"moved to a kept owner",
         [](int fd) {
             FileDescriptor owner(fd);
             FileDescriptor kept;
             kept = std::move(owner);
             return kept.release();
         },
         true},
        {"moved over itself",
         [](int fd) {
             FileDescriptor owner(fd);
             FileDescriptor& same = owner;
             owner = std::move(same);
             return owner.release();
         },
         true},
        {"directory stream made and gone",
         [](int fd) {
             EXPECT_TRUE(openDirectory(FileDescriptor(fd)));
             return -1;
         },
         false},
    };
    for (const auto& c : cases) {
        const int fd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const int kept = c.act(fd);
        EXPECT_EQ(isOpen(fd), c.stillOpen) << c.what;
        if (kept >= 0)
            ::close(kept);
    }
}

// The descriptor a failed stream was to take is closed as well.
TEST(FileDescriptor, ADirectoryStreamThatCannotBeMadeClosesItsDescriptor) {
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(openDirectory(FileDescriptor(fd)));
    EXPECT_FALSE(isOpen(fd));
}
