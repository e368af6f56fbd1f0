#include "webservice/reader/card_reader.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/webservice/reader/trovik_sim_fixture.h"

using Strings = std::vector<std::string>;

namespace {

Strings InitCommCalls(const std::vector<int>& ports) {
    Strings calls;
    for (int port : ports) {
        calls.push_back("QMX_InitComm(" + std::to_string(port) + ")");
    }
    return calls;
}

std::vector<int> PortRange(int first, int last) {
    std::vector<int> ports;
    for (int port = first; port <= last; ++port) {
        ports.push_back(port);
    }
    return ports;
}

std::vector<int> Concat(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Strings kReadStart = {"QMX_FindCard()", "QMX_SelectCard()", "QMX_Read_FPContent()"};

}  // namespace

class CardReaderTest : public TrovikSimTest {
  protected:
    void Load(const std::string& variant = "full") {
        ASSERT_EQ(reader_.LoadSdkFrom(Variant(variant)), 1);
        ForgetCalls();
    }
    void OpenOnDefaultPort() {
        ASSERT_EQ(reader_.Open(), ReaderResult::Success);
        ASSERT_EQ(reader_.Port(), 1001);
        ForgetCalls();
    }

    CardReader reader_;
};

TEST_F(CardReaderTest, WithoutTheSdkEveryOperationButStatusAnswersNotBound) {
    for (const bool tryLoading : {false, true}) {
        SCOPED_TRACE(tryLoading ? "library missing" : "never loaded");
        CardReader reader;
        if (tryLoading) {
            EXPECT_EQ(reader.LoadSdkFrom(u"/nonexistent/libTrovik.so"), 0);
        }
        Reader::PersonInfoEx record;
        std::u16string samId = u"kept";
        EXPECT_EQ(reader.Open(), ReaderResult::NotBound);
        EXPECT_EQ(reader.GetSamId(samId), ReaderResult::NotBound);
        EXPECT_EQ(reader.ReadCard(&record), ReaderResult::NotBound);
        EXPECT_EQ(reader.ReadCard(nullptr), ReaderResult::NullRecord);
        EXPECT_EQ(reader.Close(), ReaderResult::NotBound);
        EXPECT_EQ(reader.GetStatus(), ReaderResult::StatusUnavailable);
        EXPECT_EQ(samId, u"kept");
        EXPECT_EQ(reader.Port(), -1);
    }
}

TEST_F(CardReaderTest, LoadingTwiceKeepsTheFirstLibrary) {
    Load();
    EXPECT_EQ(reader_.LoadSdkFrom(u"/nonexistent/libTrovik.so"), 1);
    EXPECT_EQ(reader_.Open(), ReaderResult::Success);
}

TEST_F(CardReaderTest, OpenProbesUsbPortsThenSerialPortsOnce) {
    const struct {
        const char* ports;
        int result;
        int port;
        std::vector<int> probed;
    } cases[] = {
        {"1001", ReaderResult::Success, 1001, {1001}},
        {"1016, 1", ReaderResult::Success, 1016, PortRange(1001, 1016)},
        {"3", ReaderResult::Success, 3, Concat(PortRange(1001, 1016), PortRange(1, 3))},
        {"16", ReaderResult::Success, 16, Concat(PortRange(1001, 1016), PortRange(1, 16))},
        {"", ReaderResult::NotOpen, -1, Concat(PortRange(1001, 1016), PortRange(1, 16))},
        {"0, 17, 1000, 1017", ReaderResult::NotOpen, -1,
         Concat(PortRange(1001, 1016), PortRange(1, 16))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("reader.ports = ") + c.ports);
        CardReader reader;
        ASSERT_EQ(reader.LoadSdkFrom(Variant("full")), 1);
        WriteSettings(std::string("reader.ports = ") + c.ports + "\n");
        ForgetCalls();
        EXPECT_EQ(reader.Open(), c.result);
        EXPECT_EQ(reader.Port(), c.port);
        EXPECT_EQ(Calls(), InitCommCalls(c.probed));
    }
}

TEST_F(CardReaderTest, OpenWhileOpenProbesAfreshAndAFailedOpenKeepsThePort) {
    Load();
    WriteSettings("reader.ports = 1003\n");
    ASSERT_EQ(reader_.Open(), ReaderResult::Success);
    ForgetCalls();
    EXPECT_EQ(reader_.Open(), ReaderResult::Success);
    EXPECT_EQ(Calls(), InitCommCalls({1001, 1002, 1003}));

    WriteSettings("reader.ports =\n");
    ForgetCalls();
    EXPECT_EQ(reader_.Open(), ReaderResult::NotOpen);
    EXPECT_EQ(Calls().size(), 32u);
    EXPECT_EQ(reader_.Port(), 1003);
}

TEST_F(CardReaderTest, CloseAlwaysCallsTheSdkAndMarksTheReaderClosed) {
    Load();
    EXPECT_EQ(reader_.Close(), ReaderResult::Success);
    EXPECT_EQ(Calls(), Strings{"QMX_CloseComm()"});

    OpenOnDefaultPort();
    WriteSettings("reader.close_ok = no\n");
    EXPECT_EQ(reader_.Close(), ReaderResult::CloseFailed);
    EXPECT_EQ(reader_.Port(), -1);

    // Closed, so nothing further reaches the SDK.
    ForgetCalls();
    Reader::PersonInfoEx record;
    std::u16string samId;
    EXPECT_EQ(reader_.ReadCard(&record), ReaderResult::NotOpen);
    EXPECT_EQ(reader_.GetSamId(samId), ReaderResult::NotOpen);
    EXPECT_EQ(Calls(), Strings{});
}

TEST_F(CardReaderTest, StatusIsNeverAvailableAndAsksNothingOfTheSdk) {
    Load();
    EXPECT_EQ(reader_.GetStatus(), ReaderResult::StatusUnavailable);
    OpenOnDefaultPort();
    EXPECT_EQ(reader_.GetStatus(), ReaderResult::StatusUnavailable);
    EXPECT_EQ(Calls(), Strings{});
}

TEST_F(CardReaderTest, SamIdNeedsAnOpenReaderAndASuccessfulSdkCall) {
    Load();
    std::u16string samId = u"kept";
    EXPECT_EQ(reader_.GetSamId(samId), ReaderResult::NotOpen);
    EXPECT_EQ(Calls(), Strings{});

    OpenOnDefaultPort();
    WriteSettings("reader.sam_id = 05.01-SAM-42\n");
    EXPECT_EQ(reader_.GetSamId(samId), ReaderResult::Success);
    EXPECT_EQ(samId, u"05.01-SAM-42");
    EXPECT_EQ(Calls(), Strings{"QMX_GetSAMIDU()"});

    WriteSettings("reader.sam_ok = no\n");
    samId = u"kept";
    EXPECT_EQ(reader_.GetSamId(samId), ReaderResult::SamIdFailed);
    EXPECT_EQ(samId, u"kept");
}

TEST_F(CardReaderTest, ReadCardChecksTheRecordFirstThenThePort) {
    Load();
    Reader::PersonInfoEx record;
    EXPECT_EQ(reader_.ReadCard(&record), ReaderResult::NotOpen);
    OpenOnDefaultPort();
    EXPECT_EQ(reader_.ReadCard(nullptr), ReaderResult::NullRecord);
    EXPECT_EQ(Calls(), Strings{});
}

TEST_F(CardReaderTest, ReadFetchesTheNineteenFieldsInOrderAfterFindSelectRead) {
    Load();
    OpenOnDefaultPort();
    Reader::PersonInfoEx record;
    ASSERT_EQ(reader_.ReadCard(&record), ReaderResult::Success);
    Strings expected = kReadStart;
    const Strings fetches = {
        "GetPeopleChineseNameU(2048)",
        "GetPeopleCertVersionU(2048)",
        "GetPeopleNameU(2048)",
        "GetPeopleSexU(2048)",
        "GetSexCode(4)",
        "GetPeopleNationU(2048)",
        "GetPeopleBirthdayU(2048)",
        "GetPeopleAddressU(2048)",
        "GetPeopleIDCodeU(2048)",
        "GetDepartmentU(2048)",
        "GetStartDateU(2048)",
        "GetEndDateU(2048)",
        "GetNationCodeU(2048)",
        "GetCertTypeU(2048)",
        "GetBMPData(38862)",
        "Getbase64JpgData(38862)",
        "GetNewAppMsgU(2048)",
        "GetPassCheckIDU(2048)",
        "GetIssuesNumU(0)",
    };
    expected.insert(expected.end(), fetches.begin(), fetches.end());
    EXPECT_EQ(Calls(), expected);
}

TEST_F(CardReaderTest, OnlyTheReadItselfDecidesWhetherACardWasRead) {
    Load();
    OpenOnDefaultPort();
    const struct {
        const char* settings;
        int result;
    } cases[] = {
        {"card.find_ok = no\ncard.select_ok = no\n", ReaderResult::Success},
        {"card.present = no\n", ReaderResult::NoCard},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        WriteSettings(c.settings);
        ForgetCalls();
        auto record = std::make_unique<Reader::PersonInfoEx>();
        EXPECT_EQ(reader_.ReadCard(record.get()), c.result);
        const Strings calls = Calls();
        ASSERT_GE(calls.size(), kReadStart.size());
        EXPECT_EQ(Strings(calls.begin(), calls.begin() + kReadStart.size()), kReadStart);
    }
}

TEST_F(CardReaderTest, AFailedReadLeavesTheRecordUntouched) {
    const struct {
        const char* variant;
        const char* settings;
        int result;
    } cases[] = {
        {"full", "card.present = no\n", ReaderResult::NoCard},
        {"no-passcheck", "", ReaderResult::NotBound},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.variant);
        CardReader reader;
        ASSERT_EQ(reader.LoadSdkFrom(Variant(c.variant)), 1);
        ASSERT_EQ(reader.Open(), ReaderResult::Success);
        WriteSettings(c.settings);
        ForgetCalls();
        auto record = std::make_unique<Reader::PersonInfoEx>();
        record->peopleName = u"kept";
        record->passCheckId = u"kept too";
        record->sexCode = 7;
        record->bmpData[0] = 0x5A;
        EXPECT_EQ(reader.ReadCard(record.get()), c.result);
        // The card was read in both cases; nothing was fetched into the record.
        EXPECT_EQ(Calls(), kReadStart);
        EXPECT_EQ(record->peopleName, u"kept");
        EXPECT_EQ(record->passCheckId, u"kept too");
        EXPECT_EQ(record->sexCode, 7);
        EXPECT_EQ(record->bmpData[0], 0x5A);
    }
}

TEST_F(CardReaderTest, MissingExportsGiveNotBoundWithoutReachingTheSdk) {
    const struct {
        const char* variant;
        int open;
        int read;
        int samId;
    } cases[] = {
        {"no-initcomm", ReaderResult::NotBound, ReaderResult::NotBound, ReaderResult::NotOpen},
        {"no-authenticate", ReaderResult::Success, ReaderResult::Success, ReaderResult::Success},
        {"no-base64", ReaderResult::Success, ReaderResult::Success, ReaderResult::Success},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.variant);
        CardReader reader;
        ASSERT_EQ(reader.LoadSdkFrom(Variant(c.variant)), 1);
        ForgetCalls();
        EXPECT_EQ(reader.Open(), c.open);
        if (c.open != ReaderResult::Success) {
            EXPECT_EQ(Calls(), Strings{});
        }
        auto record = std::make_unique<Reader::PersonInfoEx>();
        std::u16string samId;
        ForgetCalls();
        EXPECT_EQ(reader.ReadCard(record.get()), c.read);
        if (c.read != ReaderResult::Success) {
            EXPECT_EQ(Calls(), Strings{});
        }
        EXPECT_EQ(reader.GetSamId(samId), c.samId);
        EXPECT_EQ(reader.Close(), ReaderResult::Success);
    }
}

TEST_F(CardReaderTest, EachVariantLacksExactlyItsOneExport) {
    const char* const exports[] = {
        "QMX_InitComm",
        "QMX_CloseComm",
        "QMX_Authenticate",
        "QMX_FindCard",
        "QMX_SelectCard",
        "QMX_Read_FPContent",
        "QMX_GetSAMIDU",
        "GetPeopleNameU",
        "GetPeopleSexU",
        "GetPeopleNationU",
        "GetPeopleBirthdayU",
        "GetPeopleAddressU",
        "GetPeopleIDCodeU",
        "GetDepartmentU",
        "GetStartDateU",
        "GetEndDateU",
        "GetPeopleChineseNameU",
        "GetPeopleCertVersionU",
        "GetNationCodeU",
        "GetNewAppMsgU",
        "GetCertTypeU",
        "GetPassCheckIDU",
        "GetSexCode",
        "GetBMPData",
        "GetJpgData",
        "GetFPDate",
        "Getbase64JpgData",
        "GetIssuesNumU",
    };
    const struct {
        const char* variant;
        Strings missing;
    } cases[] = {
        {"full", {}},
        {"no-base64", {"Getbase64JpgData"}},
        {"no-passcheck", {"GetPassCheckIDU"}},
        {"no-initcomm", {"QMX_InitComm"}},
        {"no-authenticate", {"QMX_Authenticate"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.variant);
        const auto library =
            platform::DynamicLibrary::Load(Variant(c.variant)).value_or(platform::DynamicLibrary());
        ASSERT_TRUE(library.IsLoaded());
        Strings missing;
        for (const char* name : exports) {
            if (library.Symbol(name) == nullptr) {
                missing.push_back(name);
            }
        }
        EXPECT_EQ(missing, c.missing);
    }
}

TEST(ModuleDirectoryTest, IsTheDirectoryOfTheRunningProgram) {
    EXPECT_EQ(std::filesystem::path(GetModuleDirectory()),
              std::filesystem::canonical(SUITE_TEST_PROGRAM_DIR));
}

TEST(ModuleDirectoryTest, LoadSdkLooksBesideTheProgramAndWorksFromThere) {
    // Tests run from a directory without the SDK beside them.
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    CardReader reader;
    EXPECT_EQ(reader.LoadSdk(), 0);
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::canonical(SUITE_TEST_PROGRAM_DIR));
    EXPECT_EQ(reader.Open(), ReaderResult::NotBound);
}
