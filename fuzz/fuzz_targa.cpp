// libFuzzer harness: the targa decoder on arbitrary bytes.
#include "TargaDecoder.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static PixelBuffer pixels;
    Targa::Header header;
    Targa::decode(data, size, header, pixels);
    return 0;
}
