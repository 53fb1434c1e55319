#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// A memory cgroup of its own for a child process, below the test's own
// (first or second version of the cgroup file system); not made when the
// system does not let the test make one.
class MemoryCgroup {
  public:
    explicit MemoryCgroup(std::uint64_t limit) {
        std::ifstream self("/proc/self/cgroup");
        std::string line;
        while (std::getline(self, line)) {
            const std::size_t a = line.find(':'), b = line.find(':', a + 1);
            const std::string controllers = line.substr(a + 1, b - a - 1);
            if (controllers == "memory" &&
                make("/sys/fs/cgroup/memory" + line.substr(b + 1), "memory.limit_in_bytes", limit))
                return;
            if (line.compare(0, 3, "0::") == 0 &&
                make("/sys/fs/cgroup" + line.substr(b + 1), "memory.max", limit))
                return;
        }
    }
    ~MemoryCgroup() {
        if (!folder.empty())
            rmdir(folder.c_str());
    }
    bool made() const { return !folder.empty(); }
    // Moves the calling process into it, with what it has already taken.
    bool enter() const {
        std::ofstream(folder + "/memory.move_charge_at_immigrate") << 3; // first version only
        std::ofstream procs(folder + "/cgroup.procs");
        procs << getpid() << std::endl;
        return procs.good();
    }

  private:
    bool make(const std::string& parent, const char* limitFile, std::uint64_t limit) {
        const std::string path = parent + "/orbivue-test-" + std::to_string(getpid());
        struct stat info{};
        if (mkdir(path.c_str(), 0755) != 0)
            return false;
        if (stat((path + "/cgroup.procs").c_str(), &info) != 0) { // a plain folder, no cgroup
            rmdir(path.c_str());
            return false;
        }
        std::ofstream(path + "/" + limitFile) << limit << std::endl;
        std::ifstream check(path + "/" + limitFile);
        std::uint64_t set = 0;
        if (!(check >> set) || set > limit) {
            rmdir(path.c_str());
            return false;
        }
        folder = path;
        return true;
    }
    std::string folder;
};
