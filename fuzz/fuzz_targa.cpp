// libFuzzer harness: the targa decoder on arbitrary bytes.
#include "decode/TargaDecoder.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static PixelBuffer pixels;
    Targa::Header header;
    Targa::decode(data, size, header, pixels, std::size_t(1) << 22);
    return 0;
}
