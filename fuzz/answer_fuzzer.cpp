// Zembra's answers to /readcard and /getsamid, rendered from whatever the reader SDK writes into
// its buffers: any UTF-16 units, unterminated, filling the whole buffer, odd byte counts, a photo
// area full to its end. The answer always parses as JSON and holds exactly the texts the SDK
// gave, up to their first NUL or the end of their buffer (an unpaired surrogate becoming U+FFFD).
// The SDK is fuzz_trovik.cpp, loaded by the real CardReader; its buffers are filled from here.
#include <fuzzer/FuzzedDataProvider.h>
#include <json/reader.h>
#include <json/value.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_trovik.h"
#include "platform/code_page.h"
#include "webservice/reader/card_reader.h"
#include "webservice/reader/person_info.h"
#include "webservice/web/routes.h"

namespace {

using namespace fuzz_trovik;

constexpr std::size_t kTextBytes = 2048;
constexpr std::size_t kFieldCount = IssuesNumber + 1;

// What each getter writes in the running case, and what the calls without data answer.
struct Card {
    std::array<std::vector<std::uint8_t>, kFieldCount> bytes;
    int readAnswer = 1;
    int samAnswer = 1;
} card;

std::size_t Capacity(int field) {
    return field == Base64Photo || field == BmpPhoto ? Reader::kPhotoAreaSize : kTextBytes;
}

// The bytes a getter writes: a piece of the input repeated to a length that is often one of the
// edges (nothing, one byte, an odd count, the whole buffer) and otherwise mostly short, so that a
// case costs little unless its lengths matter.
std::vector<std::uint8_t> GivenBytes(FuzzedDataProvider& input, std::size_t capacity) {
    const std::size_t length =
        input.ConsumeBool()
            ? input.PickValueInArray(
                  {std::size_t{0}, std::size_t{1}, std::size_t{3}, capacity - 1, capacity})
            : input.ConsumeIntegralInRange<std::size_t>(0, input.ConsumeBool() ? 64 : capacity);
    std::vector<std::uint8_t> piece =
        input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(1, 64));
    std::vector<std::uint8_t> bytes(length);
    if (piece.empty()) {
        return bytes;
    }
    // Doubling copies: a photo area is filled in a few steps.
    std::size_t filled = std::min(piece.size(), length);
    std::copy_n(piece.begin(), filled, bytes.begin());
    while (filled < length) {
        const std::size_t step = std::min(filled, length - filled);
        std::copy_n(bytes.begin(), step, bytes.begin() + static_cast<std::ptrdiff_t>(filled));
        filled += step;
    }
    return bytes;
}

// The text a getter gave: its buffer's UTF-16 units up to the first NUL, or all of them.
std::u16string GivenText(int field) {
    std::vector<char16_t> units(kTextBytes / 2, u'\0');
    const std::vector<std::uint8_t>& bytes = card.bytes[field];
    std::copy_n(bytes.begin(), std::min(bytes.size(), kTextBytes),
                reinterpret_cast<std::uint8_t*>(units.data()));
    return std::u16string(units.data(),
                          std::find(units.begin(), units.end(), u'\0') - units.begin());
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
        return;
    }
    static constexpr unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
    const int continuations = cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
    out += static_cast<char>(kLead[continuations] | (cp >> (6 * continuations)));
    for (int k = continuations - 1; k >= 0; --k) {
        out += static_cast<char>(0x80 | ((cp >> (6 * k)) & 0x3F));
    }
}

// The UTF-8 an answer must carry for a UTF-16 text; worked out here, not by the code under test.
std::string ExpectedUtf8(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[++i] - 0xDC00));
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

bool IsValidUtf8(const std::string& text) {
    return platform::codepage::Utf16ToUtf8(platform::codepage::Utf8ToUtf16(text)) == text;
}

Json::Value Parsed(const std::string& answer) {
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    FuzzCheck(reader->parse(answer.data(), answer.data() + answer.size(), &root, &errors),
              "the answer parses as JSON");
    FuzzCheck(root.isObject(), "the answer is a JSON object");
    return root;
}

void CheckReadCard(const std::string& answer) {
    struct Key {
        const char* name;
        int field;
    };
    static const Key kKeys[] = {
        {"partyName", Name},        {"gender", Sex},         {"nation", Nation},
        {"nationCode", NationCode}, {"bornDay", Birthday},   {"certAddress", Address},
        {"certNumber", IdCode},     {"certOrg", Department}, {"effDate", StartDate},
        {"expDate", EndDate},       {"certType", CertType},
    };
    const Json::Value root = Parsed(answer);
    FuzzCheck(root.getMemberNames().size() == 14, "a card answer has its fourteen keys");
    const bool read = card.readAnswer == 1;
    FuzzCheck(root["resultFlag"].isInt() && root["resultFlag"].asInt() == (read ? 0 : -11),
              "a card answer carries the read's code");
    for (const Key& key : kKeys) {
        FuzzCheck(root[key.name].isString(), "every person key is a text");
        const std::string expected = read ? ExpectedUtf8(GivenText(key.field)) : std::string();
        FuzzCheck(root[key.name].asString() == expected, "a card text is exactly the SDK's");
    }
    // The photo is narrow text of the ANSI code page; base64 is ASCII and stays as it is.
    const std::string picture = root["identityPic"].asString();
    if (!read) {
        FuzzCheck(picture.empty(), "a failed read sends no photo");
        return;
    }
    const std::vector<std::uint8_t>& photo = card.bytes[Base64Photo];
    const std::string photoText(photo.begin(), std::find(photo.begin(), photo.end(), 0));
    if (std::all_of(photoText.begin(), photoText.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        FuzzCheck(picture == photoText, "an ASCII photo text is sent as it is");
    } else {
        FuzzCheck(IsValidUtf8(picture), "the photo text is UTF-8");
    }
}

void CheckSamId(const std::string& answer) {
    const Json::Value root = Parsed(answer);
    FuzzCheck(root.getMemberNames().size() == 3, "a SAM answer has its three keys");
    const bool read = card.samAnswer == 1;
    FuzzCheck(root["resultFlag"].asInt() == (read ? 0 : -16), "a SAM answer carries its code");
    FuzzCheck(root["samid"].asString() == (read ? ExpectedUtf8(GivenText(SamId)) : std::string()),
              "the SAM number is exactly the SDK's");
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int FuzzTrovikFill(int field, void* buffer,
                                                                     int* length) {
    const std::size_t room = length == nullptr ? kTextBytes : static_cast<std::size_t>(*length);
    FuzzCheck(room <= Capacity(field), "CardReader offers no more room than its buffer holds");
    const std::vector<std::uint8_t>& bytes = card.bytes[static_cast<std::size_t>(field)];
    std::copy_n(bytes.begin(), std::min(bytes.size(), room), static_cast<std::uint8_t*>(buffer));
    return field == SamId ? card.samAnswer : 1;
}

extern "C" __attribute__((visibility("default"))) int FuzzTrovikAnswer(const char* name) {
    return std::string_view(name) == "QMX_Read_FPContent" ? card.readAnswer : 1;
}

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    FuzzCheck(
        TheCardReader().LoadSdkFrom(platform::codepage::Utf8ToUtf16(FUZZ_TROVIK_LIBRARY)) == 1,
        "the fuzzer's SDK loads");
    FuzzCheck(TheCardReader().Open() == ReaderResult::Success, "the fuzzer's reader opens");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    card.readAnswer = input.ConsumeIntegralInRange(0, 7) == 0 ? 0 : 1;
    card.samAnswer = input.ConsumeIntegralInRange(0, 7) == 0 ? 0 : 1;
    for (std::size_t field = 0; field < kFieldCount; ++field) {
        card.bytes[field] = GivenBytes(input, Capacity(static_cast<int>(field)));
    }
    CheckReadCard(HandleRequest("/readcard"));
    CheckSamId(HandleRequest("/getsamid"));
    return 0;
}
