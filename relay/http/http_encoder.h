#pragma once

#include <cstdint>
#include <string>

namespace Osmer {

// Text encoders of the client: conversion of UTF-16 text to the bytes of a code page or of
// UTF-8, and URL encoding of those bytes, each with the length function that sizes a body.
// Code pages UTF-8 and UTF-7 are refused where a code page is asked for.
class CHttpEncoderW {
  public:
    static std::string AnsiEncode(const char16_t* szBuff, unsigned codePage);
    static uint32_t AnsiEncodeLen(const char16_t* szBuff, unsigned codePage);
    static std::string Utf8Encode(const char16_t* szBuff);
    static uint32_t Utf8EncodeLen(const char16_t* szBuff);

    // The text's bytes in the code page (in UTF-8 when `useUtf8`), with ASCII letters and
    // digits kept, a blank as "+", and every other byte as "%" and two upper-case hex digits.
    static std::string UrlEncodeA(const char16_t* szBuff, unsigned codePage, bool useUtf8);
    static uint32_t UrlEncodeLenA(const char16_t* szBuff, unsigned codePage, bool useUtf8);
};

}  // namespace Osmer
