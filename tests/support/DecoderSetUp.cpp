// The start-up a program that decodes pictures does once (PictureDecoder::
// setUpProcess), for the test programs that decode: linked into them as a
// source, it runs before the first test.
#include "decode/PictureDecoder.h"

#include <gtest/gtest.h>

namespace {

class DecoderSetUp : public ::testing::Environment {
  public:
    void SetUp() override { PictureDecoder::setUpProcess(); }
};

[[maybe_unused]] ::testing::Environment* const setUp =
    ::testing::AddGlobalTestEnvironment(new DecoderSetUp);

} // namespace
