#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The encodings of settings and list files. Every reader and writer of set
// files decodes and encodes through here, so that Load, Save and the key
// layer agree on what a file holds.
namespace Text {

// How a file's text is stored: UTF-8 with or without a byte-order mark, or
// UTF-16 or UTF-32 with one. Writing a file again keeps its encoding and its
// mark.
enum class Encoding { Utf8, Utf8Bom, Utf16Le, Utf16Be, Utf32Le, Utf32Be };

// Decodes file bytes by their byte-order mark (none: UTF-8 or other 8-bit
// text, taken as it is) into text without the mark. False when the bytes
// are not text: broken UTF-16 or UTF-32, or a NUL byte (binary, or UTF-16 without a
// mark).
bool decode(const std::string& bytes, std::string& text, Encoding& encoding);

// Text in the encoding, with its byte-order mark.
std::string encode(const std::string& text, Encoding encoding);

// Whether the bytes are well-formed UTF-8.
bool validUtf8(const std::string& text);
// The length in bytes of the well-formed UTF-8 character at `at`; 0 when
// none begins there.
std::size_t utf8Character(const std::string& text, std::size_t at);

// The length of a UTF-8 text in UTF-16 units.
std::size_t utf16Length(const std::string& text);

} // namespace Text
