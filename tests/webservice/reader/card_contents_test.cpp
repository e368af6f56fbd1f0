// What a card read delivers into the record, read through the simulated SDK.
#include <gtest/gtest.h>
#include <jpeglib.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/webservice/reader/trovik_sim_fixture.h"
#include "webservice/reader/card_reader.h"

namespace {

std::vector<std::uint8_t> DecodeBase64(std::string_view text) {
    static const std::string kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<std::uint8_t> bytes;
    std::uint32_t group = 0;
    int bits = 0;
    for (char c : text) {
        const auto value = kAlphabet.find(c);
        if (value == std::string::npos) {
            break;  // padding
        }
        group = (group << 6) | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<std::uint8_t>(group >> bits));
        }
    }
    return bytes;
}

struct ImageSize {
    unsigned width;
    unsigned height;
    bool operator==(const ImageSize& o) const { return width == o.width && height == o.height; }
};

ImageSize JpegSize(const std::vector<std::uint8_t>& jpeg) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, jpeg.data(), jpeg.size());
    jpeg_read_header(&info, TRUE);
    const ImageSize size{info.image_width, info.image_height};
    jpeg_destroy_decompress(&info);
    return size;
}

std::uint32_t Le32(const std::array<std::uint8_t, Reader::kPhotoAreaSize>& area, std::size_t at) {
    return area[at] | area[at + 1] << 8 | area[at + 2] << 16 |
           static_cast<std::uint32_t>(area[at + 3]) << 24;
}

bool AllZero(const std::array<std::uint8_t, Reader::kPhotoAreaSize>& area) {
    return std::all_of(area.begin(), area.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace

class CardContentsTest : public TrovikSimTest {
  protected:
    // Reads the card described by the settings into a new record.
    std::unique_ptr<Reader::PersonInfoEx> Read(const std::string& settings,
                                               const std::string& variant = "full") {
        WriteSettings(settings);
        CardReader reader;
        EXPECT_EQ(reader.LoadSdkFrom(Variant(variant)), 1);
        EXPECT_EQ(reader.Open(), ReaderResult::Success);
        auto record = std::make_unique<Reader::PersonInfoEx>();
        EXPECT_EQ(reader.ReadCard(record.get()), ReaderResult::Success);
        return record;
    }
};

TEST_F(CardContentsTest, TheShippedSampleCardIsTheBuiltInOne) {
    std::ifstream sample(TROVIK_SIM_SAMPLE_CONFIG, std::ios::binary);
    const std::string sampleText((std::istreambuf_iterator<char>(sample)), {});
    ASSERT_FALSE(sampleText.empty());
    for (const std::string& settings : {sampleText, std::string()}) {
        SCOPED_TRACE(settings.empty() ? "built-in" : "shipped file");
        const auto record = Read(settings);
        EXPECT_EQ(record->peopleName, u"样例人");
        EXPECT_EQ(record->peopleSex, u"男");
        EXPECT_EQ(record->sexCode, 1);
        EXPECT_EQ(record->peopleNation, u"汉");
        EXPECT_EQ(record->nationCode, u"01");
        EXPECT_EQ(record->peopleBirthday, u"19900101");
        EXPECT_EQ(record->peopleAddress, u"示例省示例市样例区测试路1号");
        EXPECT_EQ(record->peopleIdCode, u"990000199001010011");
        EXPECT_EQ(record->department, u"示例市公安局样例分局");
        EXPECT_EQ(record->startDate, u"20200101");
        EXPECT_EQ(record->endDate, u"20400101");
        EXPECT_EQ(record->certType, u"身份证");
        EXPECT_EQ(record->peopleCertVersion, u"01");
        EXPECT_EQ(record->peopleChineseName, u"");
        EXPECT_EQ(record->newAppMsg, u"");
        EXPECT_EQ(record->passCheckId, u"");
        EXPECT_EQ(record->issuesNum, u"1");
    }
}

TEST_F(CardContentsTest, WithoutANamedFileTheSettingsBesideTheLibraryHold) {
    const std::filesystem::path folder = Directory() / "sdk";
    std::filesystem::create_directory(folder);
    const std::filesystem::path library =
        folder / platform::SharedLibraryFileName(trovik::kLibraryBaseName);
    std::filesystem::copy_file(std::filesystem::path(Variant("full")), library);
    std::ofstream(folder / "trovik-sim.conf", std::ios::binary) << "card.name = 旁边的卡\n";
    ASSERT_EQ(platform::error::kNone,
              platform::SetEnvironmentValue(u"TROVIK_SIM_CONFIG", std::nullopt));

    CardReader reader;
    ASSERT_EQ(reader.LoadSdkFrom(library.u16string()), 1);
    ASSERT_EQ(reader.Open(), ReaderResult::Success);
    auto record = std::make_unique<Reader::PersonInfoEx>();
    ASSERT_EQ(reader.ReadCard(record.get()), ReaderResult::Success);
    EXPECT_EQ(record->peopleName, u"旁边的卡");
    EXPECT_EQ(record->peopleSex, u"男");
}

TEST_F(CardContentsTest, ThePhotoIsA102By126BitmapAndTheSamePictureAsBase64Jpeg) {
    const auto record = Read("");
    const auto& bmp = record->bmpData;
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(Le32(bmp, 2), 38862u);  // file size: the whole area
    EXPECT_EQ(Le32(bmp, 10), 54u);    // pixels follow the header
    EXPECT_EQ(Le32(bmp, 18), 102u);
    EXPECT_EQ(Le32(bmp, 22), 126u);
    EXPECT_EQ(bmp[28], 24);  // bits per pixel

    const std::string_view base64 = Reader::NarrowTextOf(record->base64JpgData);
    ASSERT_FALSE(base64.empty());
    EXPECT_LT(base64.size(), Reader::kPhotoAreaSize);
    const auto jpeg = DecodeBase64(base64);
    ASSERT_GE(jpeg.size(), 4u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    EXPECT_TRUE((JpegSize(jpeg) == ImageSize{102, 126}));
    EXPECT_EQ(record->base64JpgLength, 38862);
}

TEST_F(CardContentsTest, TextsArriveExactlyAsTheSdkWritesThem) {
    // 𠮷 lies outside GBK; the blanks and the odd date format are the SDK's own.
    const auto record = Read(
        "card.name = \"  吉𠮷 Ab  \"\n"
        "card.birthday = 1990-1-1\n"
        "card.cert_type = \" \"\n"
        "card.sex_code = -5\n");
    EXPECT_EQ(record->peopleName, u"  吉𠮷 Ab  ");
    EXPECT_EQ(record->peopleBirthday, u"1990-1-1");
    EXPECT_EQ(record->certType, u" ");
    EXPECT_EQ(record->sexCode, -5);
}

TEST_F(CardContentsTest, IssueCountIsDecimalTextAndZeroWhenTheSdkLeavesItAlone) {
    const struct {
        const char* setting;
        const char16_t* text;
    } cases[] = {
        {"card.issues_num =\n", u"0"},
        {"card.issues_num = 3\n", u"3"},
        {"card.issues_num = 4294967295\n", u"4294967295"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        EXPECT_EQ(Read(c.setting)->issuesNum, c.text);
    }
}

TEST_F(CardContentsTest, PhotoAreasStayZeroWhenTheSdkDeliversNoPhoto) {
    const auto withoutExport = Read("", "no-base64");
    EXPECT_FALSE(AllZero(withoutExport->bmpData));
    EXPECT_TRUE(AllZero(withoutExport->base64JpgData));
    EXPECT_EQ(withoutExport->base64JpgLength, 0);
    EXPECT_EQ(Reader::NarrowTextOf(withoutExport->base64JpgData), "");

    const auto withoutPhoto = Read("card.photo = no\n");
    EXPECT_TRUE(AllZero(withoutPhoto->bmpData));
    EXPECT_TRUE(AllZero(withoutPhoto->base64JpgData));
}

TEST_F(CardContentsTest, BuffersFilledWithoutTerminatorAreReadOnlyUpToTheirSize) {
    WriteSettings("sim.fill_whole_buffers = yes\ncard.name = 名\n");
    CardReader reader;
    ASSERT_EQ(reader.LoadSdkFrom(Variant("full")), 1);
    ASSERT_EQ(reader.Open(), ReaderResult::Success);
    auto record = std::make_unique<Reader::PersonInfoEx>();
    ASSERT_EQ(reader.ReadCard(record.get()), ReaderResult::Success);
    EXPECT_EQ(record->peopleName, std::u16string(1024, u'名'));
    for (const std::u16string* text :
         {&record->peopleSex, &record->peopleAddress, &record->certType, &record->newAppMsg,
          &record->passCheckId, &record->nationCode, &record->peopleChineseName}) {
        EXPECT_EQ(text->size(), 1024u);
    }
    EXPECT_EQ(Reader::NarrowTextOf(record->base64JpgData).size(), Reader::kPhotoAreaSize);

    std::u16string samId;
    ASSERT_EQ(reader.GetSamId(samId), ReaderResult::Success);
    EXPECT_EQ(samId.size(), 1024u);
}

TEST_F(CardContentsTest, EachReadStartsFromAClearedRecord) {
    WriteSettings("");
    CardReader reader;
    ASSERT_EQ(reader.LoadSdkFrom(Variant("full")), 1);
    ASSERT_EQ(reader.Open(), ReaderResult::Success);
    auto record = std::make_unique<Reader::PersonInfoEx>();
    ASSERT_EQ(reader.ReadCard(record.get()), ReaderResult::Success);
    record->spareText1 = u"left over";
    record->rawBlock1[3] = 9;

    WriteSettings("card.address =\ncard.photo = no\n");
    ASSERT_EQ(reader.ReadCard(record.get()), ReaderResult::Success);
    EXPECT_EQ(record->peopleAddress, u"");
    EXPECT_EQ(record->spareText1, u"");
    EXPECT_EQ(record->rawBlock1[3], 0);
    EXPECT_TRUE(AllZero(record->bmpData));
    EXPECT_EQ(record->peopleName, u"样例人");
}

TEST_F(CardContentsTest, SettingsLinesNotUnderstoodAreIgnored) {
    const auto record = Read(
        "reader.ports = one\n"
        "card.sex_code = male\n"
        "card.issues_num = -1\n"
        "no equals sign here\n"
        "card.unknown = 1\n"
        "card.name = 好\n");
    EXPECT_EQ(record->peopleName, u"好");
    EXPECT_EQ(record->sexCode, 1);
    EXPECT_EQ(record->issuesNum, u"1");
}
