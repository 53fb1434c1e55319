// libFuzzer harness: the series list file reader on arbitrary bytes, and the
// writer on what it read.
#include "SetFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> entries;
    if (SetFile::decodeList(bytes, entries) != SetFile::ListResult::Ok)
        return 0;
    // What was read writes back to a file that reads as the same entries.
    std::string written;
    if (!SetFile::listContent(entries, written))
        std::abort(); // entries never hold line breaks
    std::vector<std::string> again;
    if (SetFile::decodeList(written, again) != SetFile::ListResult::Ok || again != entries)
        std::abort();
    SetFile::textToInteger(bytes);
    SetFile::listFilePath(bytes, 1);
    return 0;
}
