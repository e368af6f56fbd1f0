#pragma once

#include <gtest/gtest.h>

#include <string>

#include "sim/decoder/decoder_script.h"

// A decoding-server script from its text; a fault in the text fails the test.
inline decoder::DecoderScript DecoderScriptFrom(const std::string& text) {
    std::string error;
    auto script = decoder::DecoderScript::Parse(text, error);
    EXPECT_TRUE(script) << error << "\n" << text;
    return script ? *script : decoder::DecoderScript{};
}
