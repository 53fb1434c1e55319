// libFuzzer harness: the INI profile layer reading and writing keys of
// arbitrary file contents. The input is "section\0key\0value\0file".
#include "IniProfile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// Names and values that every INI reader sees the same way: letters, digits
// and a few marks, no spaces at either end.
bool plain(const std::string& s, bool mayBeEmpty) {
    if (s.empty())
        return mayBeEmpty;
    if (s.front() == ' ' || s.back() == ' ')
        return false;
    for (const char c : s) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == ' ' || c == '_' || c == '.' || c == '/' ||
                        c == '-';
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string parts[4];
    std::size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        const std::size_t end = input.find('\0', at);
        if (end == std::string::npos)
            return 0;
        parts[i] = input.substr(at, end - at);
        at = end + 1;
    }
    parts[3] = input.substr(at);
    const std::string& section = parts[0];
    const std::string& key = parts[1];
    const std::string& value = parts[2];
    const std::string& text = parts[3];

    IniProfile::readText(text, section, key, "fallback");
    // A written key must read back as written (when it can be written: no
    // line breaks, and names that the reader would see the same way).
    const std::string written = IniProfile::writeText(text, section, key, value);
    const std::string back = IniProfile::readText(written, section, key, "fallback");
    if (plain(section, false) && plain(key, false) && plain(value, true) &&
        back != IniProfile::cutToUtf16Units(value, 259))
        std::abort();
    IniProfile::cutToUtf16Units(value, 259);
    return 0;
}
