#include "decode/JpegRows.h"

#include <csetjmp>
#include <cstdio>
#include <memory>

#include <jerror.h>
#include <jpeglib.h>

namespace {

// The error manager: hard errors end the decode through the jump, and tell
// whether memory ran out; warnings (damaged data the decoder reads past) and
// trace messages are dropped.
struct Errors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    bool outOfMemory;
};

[[noreturn]] void failDecode(j_common_ptr info) {
    Errors* errors = reinterpret_cast<Errors*>(info->err);
    errors->outOfMemory = info->err->msg_code == JERR_OUT_OF_MEMORY;
    std::longjmp(errors->jump, 1);
}

void dropMessage(j_common_ptr, int) {}
void dropOutput(j_common_ptr) {}

// The decode proper, in a function of its own with nothing to destroy, so
// that the jump back from an error skips no destructor.
JpegRows::Result decodeRows(jpeg_decompress_struct& info, Errors& errors, const std::uint8_t* data,
                            std::size_t size, int numerator, int denominator,
                            JpegRows::Pixels pixels, int width, int height,
                            JpegRows::Target& target) {
    if (setjmp(errors.jump) != 0)
        return errors.outOfMemory ? JpegRows::Result::OutOfMemory : JpegRows::Result::Failed;
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = pixels == JpegRows::Pixels::Rgb ? JCS_EXT_RGB : JCS_EXT_RGBX;
    info.scale_num = static_cast<unsigned int>(numerator);
    info.scale_denom = static_cast<unsigned int>(denominator);
    jpeg_start_decompress(&info);
    if (static_cast<int>(info.output_width) != width ||
        static_cast<int>(info.output_height) != height ||
        info.output_components != (pixels == JpegRows::Pixels::Rgb ? 3 : 4))
        return JpegRows::Result::Failed;
    constexpr int kMostRows = 8;
    JSAMPROW rows[kMostRows];
    while (info.output_scanline < info.output_height) {
        const int next = static_cast<int>(info.output_scanline);
        int count = target.room(next);
        if (count > kMostRows)
            count = kMostRows;
        if (count > height - next)
            count = height - next;
        if (count < 1)
            return JpegRows::Result::Failed; // a target without room would never end

        for (int i = 0; i < count; ++i)
            rows[i] = target.row(next + i);
        jpeg_read_scanlines(&info, rows, static_cast<JDIMENSION>(count));
        target.decoded(static_cast<int>(info.output_scanline));
    }
    jpeg_finish_decompress(&info);
    return JpegRows::Result::Ok;
}

} // namespace

// The decompressor, kept from one picture to the next as TurboJPEG keeps its
// handle: only what each picture needs is allocated for it.
struct JpegRows::State {
    jpeg_decompress_struct info{};
    Errors errors{};
    bool created = false;
    ~State() {
        if (created)
            jpeg_destroy_decompress(&info);
    }
};

JpegRows::JpegRows() = default;
JpegRows::~JpegRows() = default;

JpegRows::Result JpegRows::decode(const std::uint8_t* data, std::size_t size, int numerator,
                                  int denominator, Pixels pixels, int width, int height,
                                  Target& target) {
    if (size > 0x7fffffffu || width <= 0 || height <= 0)
        return Result::Failed;
    if (!state)
        state = std::make_unique<State>();
    State& s = *state;
    if (!s.created) {
        s.info.err = jpeg_std_error(&s.errors.manager);
        s.errors.manager.error_exit = failDecode;
        s.errors.manager.emit_message = dropMessage;
        s.errors.manager.output_message = dropOutput;
        s.errors.outOfMemory = false;
        // Creating the decompressor allocates, and may fail for want of
        // memory.
        if (setjmp(s.errors.jump) != 0) {
            jpeg_destroy_decompress(&s.info);
            s.info = jpeg_decompress_struct{};
            return s.errors.outOfMemory ? Result::OutOfMemory : Result::Failed;
        }
        jpeg_create_decompress(&s.info);
        s.created = true;
    }
    s.errors.outOfMemory = false;
    const Result result = decodeRows(s.info, s.errors, data, size, numerator, denominator, pixels,
                                     width, height, target);
    // What the picture took goes back; the decompressor stays for the next.
    jpeg_abort_decompress(&s.info);
    return result;
}
