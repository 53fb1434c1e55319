#pragma once

#include "FileDescriptor.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>

// Replacing files without ever leaving a half-written one: the new content
// goes to a temporary file in the same folder, which is then renamed over the
// target in one step. A failure at any point leaves the target as it was.
namespace AtomicFile {

// One file a save checks and then writes. Its folder is held open from the
// check on, and every later step works relative to it without following a
// link at the name: a link or another file put at the name, or at a folder
// on the way, after the check cannot send the write anywhere else. A step
// that finds at the name something other than what was checked refuses.
class Slot {
  public:
    Slot() = default;
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
    Slot(Slot&& other) noexcept { *this = std::move(other); }
    Slot& operator=(Slot&& other) noexcept;
    ~Slot();

    // Opens the folder of `path` and looks at the name in it (a link there is
    // looked at, not followed). False when the folder cannot be opened;
    // openError() then holds the reason the system gave (an errno value).
    bool open(const std::string& path);
    int openError() const { return folderError; }

    const std::string& path() const { return whole; }
    bool exists() const { return found; }
    bool regular() const;
    mode_t mode() const { return fileMode; }
    uid_t owner() const { return fileOwner; }
    mode_t folderMode() const { return dirMode; }
    uid_t folderOwner() const { return dirOwner; }
    // Whether the user may make files in the folder, and write the file.
    bool folderTakesFiles() const { return folderRefusal() == 0; }
    bool writable() const { return writeRefusal() == 0; }
    // The same as the reason the system gives for a refusal (an errno value:
    // EACCES, EROFS, ...), 0 when there is none; ENOENT when there is no file.
    int folderRefusal() const;
    int writeRefusal() const;

    // Whether the name still holds what was checked (or still nothing).
    bool unchanged() const;

    // The checked regular file opened for writing, not yet cut short; empty
    // when the name holds anything else by now.
    FileDescriptor openChecked() const;

    // The whole content of the checked file; false as for read() below, and
    // when the name holds anything else by now.
    bool read(std::string& bytes, std::size_t limit) const;

    // A new temporary file in the folder holding `bytes`, flushed, with the
    // permissions of the checked file (or those a new file gets); its name,
    // or an empty string when it could not be written (errno then says why).
    std::string writeTemporary(const std::string& bytes) const;
    // Moves the temporary over the name, only while the name still holds what
    // was checked; the temporary is removed when it is not moved (errno then
    // says why, when the system refused).
    bool commit(const std::string& temporary) const;
    void discard(const std::string& temporary) const;

  private:
    FileDescriptor folder;
    int folderError = 0;
    std::string whole, name;
    bool found = false;
    dev_t device = 0;
    ino_t inode = 0;
    mode_t fileMode = 0, dirMode = 0;
    uid_t fileOwner = 0, dirOwner = 0;
};

// Writes `bytes` over a file opened by Slot::openChecked: cut short, written,
// flushed and closed (it takes the descriptor); errno says why it failed. Not a one-step
// replacement: a failure midway leaves the file cut short.
bool writeOver(FileDescriptor fd, const std::string& bytes);

// Replaces the file at `target` by one holding `bytes`, in one step.
bool replace(const std::string& target, const std::string& bytes);

// Called with the path just before each open for writing and each rename of
// a Slot: tests change the folder there, as another user could at that moment.
extern std::function<void(const std::string& path)> beforeWrite;

// The folder part of a path ("." when it has none).
std::string folderOf(const std::string& path);

// The whole content of a regular file; false when it cannot be opened or
// read, or is larger than `limit` bytes (refused before reading). A FIFO or
// device at the path is refused without waiting on it.
bool read(const std::string& path, std::string& bytes, std::size_t limit = SIZE_MAX);

} // namespace AtomicFile
