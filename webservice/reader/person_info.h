#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Reader {

// Sizes of the byte areas the SDK writes into directly.
constexpr std::size_t kRawBlock1Size = 256;
constexpr std::size_t kRawBlock2Size = 1024;
constexpr std::size_t kRawBlock3Size = 1024;
constexpr std::size_t kPhotoAreaSize = 38862;

// One card's data as the SDK delivers it: UTF-16 texts exactly as written (untrimmed,
// unparsed), a gender code and two photo areas. Large (over 80 KB): allocate it on the heap.
class PersonInfo {
  public:
    PersonInfo();
    virtual ~PersonInfo() = default;
    PersonInfo(const PersonInfo&) = default;
    PersonInfo& operator=(const PersonInfo&) = default;

    // Resets every field to its cleared value.
    virtual void Clear();

    std::u16string peopleName;
    std::int32_t sexCode;
    std::u16string peopleSex;
    std::u16string peopleNation;
    std::int32_t spareNumber;
    std::u16string peopleBirthday;
    std::u16string peopleAddress;
    std::u16string peopleIdCode;
    std::u16string department;
    std::u16string startDate;
    std::u16string endDate;
    std::u16string spareText1;
    std::u16string spareText2;
    std::u16string certType;
    std::u16string newAppMsg;
    std::array<std::uint8_t, kRawBlock1Size> rawBlock1;
    std::array<std::uint8_t, kRawBlock2Size> rawBlock2;
    std::array<std::uint8_t, kRawBlock3Size> rawBlock3;
    std::array<std::uint8_t, kPhotoAreaSize> bmpData;
    std::array<std::uint8_t, kPhotoAreaSize> base64JpgData;
    std::int32_t base64JpgLength;
};

// The record every read fills: the base record and five further texts.
class PersonInfoEx : public PersonInfo {
  public:
    PersonInfoEx();
    ~PersonInfoEx() override = default;
    PersonInfoEx(const PersonInfoEx&) = default;
    PersonInfoEx& operator=(const PersonInfoEx&) = default;

    // Clears the base fields, then this class's own.
    void Clear() override;

    std::u16string nationCode;
    std::u16string peopleChineseName;
    std::u16string peopleCertVersion;
    std::u16string passCheckId;
    std::u16string issuesNum;
};

// The narrow text an SDK wrote into a byte area: up to its first NUL, or the whole area when the
// SDK left no terminator, so a reader never runs past the area.
template <std::size_t N>
std::string_view NarrowTextOf(const std::array<std::uint8_t, N>& area) {
    const auto end = std::find(area.begin(), area.end(), std::uint8_t{0});
    return std::string_view(reinterpret_cast<const char*>(area.data()),
                            static_cast<std::size_t>(end - area.begin()));
}

}  // namespace Reader
