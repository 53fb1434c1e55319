#include "Text.h"

namespace Text {

namespace {

// Appends code point `c` as UTF-8.
void appendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace

std::size_t utf8Character(const std::string& s, std::size_t i) {
    if (i >= s.size())
        return 0;
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t length;
    std::uint32_t code;
    if (c < 0x80) {
        return 1;
    } else if ((c >> 5) == 6) {
        length = 2;
        code = c & 0x1F;
    } else if ((c >> 4) == 14) {
        length = 3;
        code = c & 0x0F;
    } else if ((c >> 3) == 30) {
        length = 4;
        code = c & 0x07;
    } else {
        return 0;
    }
    if (i + length > s.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char d = static_cast<unsigned char>(s[i + k]);
        if ((d >> 6) != 2)
            return 0;
        code = (code << 6) | (d & 0x3F);
    }
    // No overlong forms, no surrogates, nothing beyond U+10FFFF.
    const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return 0;
    return length;
}

bool validUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t length = utf8Character(s, i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

namespace {

// UTF-16 in the given byte order to UTF-8; false on a broken surrogate pair.
bool utf16ToUtf8(const std::string& bytes, std::size_t start, bool bigEndian, std::string& out) {
    if ((bytes.size() - start) % 2 != 0)
        return false;
    auto unit = [&](std::size_t i) -> std::uint32_t {
        const unsigned char a = static_cast<unsigned char>(bytes[i]);
        const unsigned char b = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (a << 8 | b) : (b << 8 | a);
    };
    for (std::size_t i = start; i < bytes.size(); i += 2) {
        std::uint32_t c = unit(i);
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 3 >= bytes.size())
                return false;
            const std::uint32_t low = unit(i + 2);
            if (low < 0xDC00 || low > 0xDFFF)
                return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
        appendUtf8(out, c);
    }
    return true;
}

// UTF-32 in the given byte order to UTF-8; false on a code that is no
// character (a surrogate, or beyond U+10FFFF).
bool utf32ToUtf8(const std::string& bytes, bool bigEndian, std::string& out) {
    if (bytes.size() % 4 != 0)
        return false;
    for (std::size_t i = 4; i < bytes.size(); i += 4) {
        std::uint32_t c = 0;
        for (int k = 0; k < 4; ++k)
            c |= std::uint32_t(static_cast<unsigned char>(bytes[i + k]))
                 << (bigEndian ? 24 - 8 * k : 8 * k);
        if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
            return false;
        appendUtf8(out, c);
    }
    return true;
}

// Calls `put` with every code point of a UTF-8 text (valid or not: bytes that
// are no character pass as U+FFFD).
template <typename Put> void forEachCodePoint(const std::string& text, Put put) {
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 4;
        std::uint32_t code = 0xFFFD;
        if (i + length <= text.size() && validUtf8(text.substr(i, length))) {
            code = length == 1 ? c : length == 2 ? c & 0x1F : length == 3 ? c & 0x0F : c & 0x07;
            for (std::size_t k = 1; k < length; ++k)
                code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
            i += length;
        } else {
            ++i;
        }
        put(code);
    }
}

// UTF-8 to UTF-16 in the given byte order.
std::string utf8ToUtf16(const std::string& text, bool bigEndian) {
    std::string out;
    auto unit = [&](std::uint32_t u) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    };
    forEachCodePoint(text, [&](std::uint32_t code) {
        if (code >= 0x10000) {
            unit(0xD800 + ((code - 0x10000) >> 10));
            unit(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            unit(code);
        }
    });
    return out;
}

// UTF-8 to UTF-32 in the given byte order.
std::string utf8ToUtf32(const std::string& text, bool bigEndian) {
    std::string out;
    forEachCodePoint(text, [&](std::uint32_t code) {
        for (int k = 0; k < 4; ++k)
            out += static_cast<char>(code >> (bigEndian ? 24 - 8 * k : 8 * k));
    });
    return out;
}

} // namespace

bool decode(const std::string& bytes, std::string& text, Encoding& encoding) {
    text.clear();
    encoding = Encoding::Utf8;
    // The UTF-32 LE mark begins like the UTF-16 LE one: it is looked for first
    // (as UTF-16 those bytes would be a NUL, no text anyway).
    if (bytes.compare(0, 4, std::string("\xFF\xFE\0\0", 4)) == 0) {
        encoding = Encoding::Utf32Le;
        if (!utf32ToUtf8(bytes, false, text))
            return false;
    } else if (bytes.compare(0, 4, std::string("\0\0\xFE\xFF", 4)) == 0) {
        encoding = Encoding::Utf32Be;
        if (!utf32ToUtf8(bytes, true, text))
            return false;
    } else if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
        encoding = Encoding::Utf16Le;
        if (!utf16ToUtf8(bytes, 2, false, text))
            return false;
    } else if (bytes.compare(0, 2, "\xFE\xFF") == 0) {
        encoding = Encoding::Utf16Be;
        if (!utf16ToUtf8(bytes, 2, true, text))
            return false;
    } else if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        encoding = Encoding::Utf8Bom;
        text = bytes.substr(3);
    } else {
        text = bytes;
    }
    return text.find('\0') == std::string::npos;
}

std::string encode(const std::string& text, Encoding encoding) {
    switch (encoding) {
    case Encoding::Utf16Le:
        return "\xFF\xFE" + utf8ToUtf16(text, false);
    case Encoding::Utf16Be:
        return "\xFE\xFF" + utf8ToUtf16(text, true);
    case Encoding::Utf32Le:
        return std::string("\xFF\xFE\0\0", 4) + utf8ToUtf32(text, false);
    case Encoding::Utf32Be:
        return std::string("\0\0\xFE\xFF", 4) + utf8ToUtf32(text, true);
    case Encoding::Utf8Bom:
        return "\xEF\xBB\xBF" + text;
    case Encoding::Utf8:
        break;
    }
    return text;
}

std::size_t utf16Length(const std::string& text) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) != 0x80)
            units += (c >> 3) == 30 ? 2 : 1;
    }
    return units;
}

} // namespace Text
