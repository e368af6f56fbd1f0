#include "relay/http/http_encoder.h"

#include "platform/ascii.h"
#include "platform/code_page.h"
#include "platform/percent_encoding.h"
#include "relay/http/http_error.h"
#include "relay/http/http_tool.h"
#include "relay/http/size_arithmetic.h"

namespace Osmer {
namespace {

namespace codepage = platform::codepage;

bool IsRefusedCodePage(unsigned codePage) {
    return codePage == codepage::kUtf8 || codePage == codepage::kUtf7;
}

bool KeptAsIs(unsigned char byte) {
    return platform::ascii::IsAlphanumeric(byte);
}

std::string Bytes(const char16_t* text, unsigned codePage, bool useUtf8) {
    return useUtf8 ? CHttpEncoderW::Utf8Encode(text) : CHttpEncoderW::AnsiEncode(text, codePage);
}

}  // namespace

std::string CHttpEncoderW::AnsiEncode(const char16_t* szBuff, unsigned codePage) {
    if (szBuff == nullptr) {
        ThrowArgumentError("CHttpEncoderW::AnsiEncode: szBuff can not be NULL.");
    }
    if (IsRefusedCodePage(codePage)) {
        ThrowArgumentError(
            "CHttpEncoderW::AnsiEncode: CP_UTF8 and CP_UTF7 can not be used for the CodePage "
            "parameter.");
    }
    return *CHttpToolW::Unicode2Ansi(szBuff, codePage);
}

uint32_t CHttpEncoderW::AnsiEncodeLen(const char16_t* szBuff, unsigned codePage) {
    if (IsRefusedCodePage(codePage)) {
        ThrowArgumentError(
            "CHttpEncoderW::AnsiEncodeLen: CP_UTF8 and CP_UTF7 can not be used for the CodePage "
            "parameter.");
    }
    return szBuff == nullptr ? 0 : SizeNarrow(AnsiEncode(szBuff, codePage).size());
}

std::string CHttpEncoderW::Utf8Encode(const char16_t* szBuff) {
    if (szBuff == nullptr) {
        ThrowArgumentError("CHttpEncoderW::Utf8Encode: szBuff can not be NULL.");
    }
    return Guarded([&] { return codepage::Utf16ToUtf8(szBuff); });
}

uint32_t CHttpEncoderW::Utf8EncodeLen(const char16_t* szBuff) {
    return szBuff == nullptr ? 0 : SizeNarrow(Utf8Encode(szBuff).size());
}

std::string CHttpEncoderW::UrlEncodeA(const char16_t* szBuff, unsigned codePage, bool useUtf8) {
    if (szBuff == nullptr) {
        ThrowArgumentError("CHttpEncoderW::UrlEncodeA: szBuff can not be NULL.");
    }
    const std::string bytes = Bytes(szBuff, codePage, useUtf8);
    return Guarded([&] {
        std::string encoded;
        encoded.reserve(bytes.size());
        for (const char c : bytes) {
            const auto byte = static_cast<unsigned char>(c);
            if (KeptAsIs(byte)) {
                encoded.push_back(c);
            } else if (byte == ' ') {
                encoded.push_back('+');
            } else {
                platform::AppendPercentEncoded(encoded, byte);
            }
        }
        return encoded;
    });
}

uint32_t CHttpEncoderW::UrlEncodeLenA(const char16_t* szBuff, unsigned codePage, bool useUtf8) {
    if (szBuff == nullptr) {
        ThrowArgumentError("_UrlEncodeLen: szStr can not be NULL.");
    }
    uint32_t length = 0;
    for (const char c : Bytes(szBuff, codePage, useUtf8)) {
        const auto byte = static_cast<unsigned char>(c);
        length =
            SizeAdd(length, KeptAsIs(byte) || byte == ' ' ? 1 : platform::kPercentEncodedLength);
    }
    return length;
}

}  // namespace Osmer
