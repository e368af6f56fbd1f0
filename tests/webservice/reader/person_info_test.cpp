#include "webservice/reader/person_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

template <std::size_t N>
bool AllZero(const std::array<std::uint8_t, N>& area) {
    return std::all_of(area.begin(), area.end(), [](std::uint8_t b) { return b == 0; });
}

void ExpectCleared(const Reader::PersonInfoEx& r) {
    for (const std::u16string* text :
         {&r.peopleName, &r.peopleSex, &r.peopleNation, &r.peopleBirthday, &r.peopleAddress,
          &r.peopleIdCode, &r.department, &r.startDate, &r.endDate, &r.spareText1, &r.spareText2,
          &r.certType, &r.newAppMsg, &r.nationCode, &r.peopleChineseName, &r.peopleCertVersion,
          &r.passCheckId, &r.issuesNum}) {
        EXPECT_TRUE(text->empty());
    }
    EXPECT_EQ(r.sexCode, -1);
    EXPECT_EQ(r.spareNumber, 0);
    EXPECT_EQ(r.base64JpgLength, 0);
    EXPECT_TRUE(AllZero(r.rawBlock1));
    EXPECT_TRUE(AllZero(r.rawBlock2));
    EXPECT_TRUE(AllZero(r.rawBlock3));
    EXPECT_TRUE(AllZero(r.bmpData));
    EXPECT_TRUE(AllZero(r.base64JpgData));
}

}  // namespace

TEST(PersonInfoTest, AFreshRecordAndAClearedOneAreTheSame) {
    auto fresh = std::make_unique<Reader::PersonInfoEx>();
    ExpectCleared(*fresh);

    auto used = std::make_unique<Reader::PersonInfoEx>();
    for (std::u16string* text :
         {&used->peopleName, &used->peopleSex, &used->peopleNation, &used->peopleBirthday,
          &used->peopleAddress, &used->peopleIdCode, &used->department, &used->startDate,
          &used->endDate, &used->spareText1, &used->spareText2, &used->certType, &used->newAppMsg,
          &used->nationCode, &used->peopleChineseName, &used->peopleCertVersion, &used->passCheckId,
          &used->issuesNum}) {
        text->assign(3, u'x');
    }
    used->sexCode = 2;
    used->spareNumber = 3;
    used->base64JpgLength = 4;
    for (auto* area : {&used->bmpData, &used->base64JpgData}) {
        area->fill(0xAB);
    }
    used->rawBlock1.fill(1);
    used->rawBlock2.fill(2);
    used->rawBlock3.fill(3);

    // Cleared through the base: the derived fields go too.
    static_cast<Reader::PersonInfo&>(*used).Clear();
    ExpectCleared(*used);
}

TEST(PersonInfoTest, NarrowTextEndsAtTheFirstNulOrTheEndOfTheArea) {
    const struct {
        std::array<std::uint8_t, 4> area;
        std::string_view text;
    } cases[] = {
        {{0, 0, 0, 0}, ""},
        {{'a', 'b', 0, 'c'}, "ab"},
        {{'a', 'b', 'c', 'd'}, "abcd"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Reader::NarrowTextOf(c.area), c.text);
    }
}
