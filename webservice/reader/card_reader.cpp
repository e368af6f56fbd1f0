#include "webservice/reader/card_reader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/program_path.h"

namespace {

using TextBuffer = std::array<char16_t, trovik::kTextBufferUnits>;

// The text an SDK wrote into a zeroed buffer: up to its first NUL, or the whole buffer when the
// SDK filled it without a terminator.
std::u16string TextOf(const TextBuffer& buffer) {
    const auto end = std::find(buffer.begin(), buffer.end(), u'\0');
    return std::u16string(buffer.begin(), end);
}

std::u16string FetchText(trovik::TextFn getter) {
    TextBuffer buffer{};
    int length = trovik::kTextBufferBytes;
    getter(buffer.data(), &length);
    return TextOf(buffer);
}

template <typename... Functions>
bool AllBound(Functions... functions) {
    return ((functions != nullptr) && ...);
}

std::u16string DecimalText(std::uint32_t number) {
    const std::string digits = std::to_string(number);
    return std::u16string(digits.begin(), digits.end());
}

// Ports the reader may answer on, in the order they are tried: the maker's USB ports first,
// then the serial ports.
constexpr int kUsbPortFirst = 1001;
constexpr int kSerialPortFirst = 1;
constexpr int kPortsPerKind = 16;

}  // namespace

CardReader::CardReader() = default;

int CardReader::LoadSdk() {
    if (module_.IsLoaded()) {
        return 1;
    }
    const std::u16string directory = GetModuleDirectory();
    // The SDK may look for its own files in the current directory.
    platform::ChangeCurrentDirectory(directory);
    return LoadSdkFrom(directory + platform::kPathSeparator +
                       platform::SharedLibraryFileName(trovik::kLibraryBaseName));
}

int CardReader::LoadSdkFrom(const std::u16string& path) {
    if (module_.IsLoaded()) {
        return 1;
    }
    platform::Result<platform::DynamicLibrary> module = platform::DynamicLibrary::Load(path);
    if (!module) {
        return 0;
    }
    module_ = std::move(*module);
#define SUITE_BIND_EXPORT(name) sdk_.name = module_.Bind<decltype(sdk_.name)>(#name)
    SUITE_BIND_EXPORT(QMX_InitComm);
    SUITE_BIND_EXPORT(QMX_CloseComm);
    SUITE_BIND_EXPORT(QMX_Authenticate);
    SUITE_BIND_EXPORT(QMX_FindCard);
    SUITE_BIND_EXPORT(QMX_SelectCard);
    SUITE_BIND_EXPORT(QMX_Read_FPContent);
    SUITE_BIND_EXPORT(QMX_GetSAMIDU);
    SUITE_BIND_EXPORT(GetPeopleNameU);
    SUITE_BIND_EXPORT(GetPeopleSexU);
    SUITE_BIND_EXPORT(GetPeopleNationU);
    SUITE_BIND_EXPORT(GetPeopleBirthdayU);
    SUITE_BIND_EXPORT(GetPeopleAddressU);
    SUITE_BIND_EXPORT(GetPeopleIDCodeU);
    SUITE_BIND_EXPORT(GetDepartmentU);
    SUITE_BIND_EXPORT(GetStartDateU);
    SUITE_BIND_EXPORT(GetEndDateU);
    SUITE_BIND_EXPORT(GetPeopleChineseNameU);
    SUITE_BIND_EXPORT(GetPeopleCertVersionU);
    SUITE_BIND_EXPORT(GetNationCodeU);
    SUITE_BIND_EXPORT(GetNewAppMsgU);
    SUITE_BIND_EXPORT(GetCertTypeU);
    SUITE_BIND_EXPORT(GetPassCheckIDU);
    SUITE_BIND_EXPORT(GetSexCode);
    SUITE_BIND_EXPORT(GetBMPData);
    SUITE_BIND_EXPORT(GetJpgData);
    SUITE_BIND_EXPORT(GetFPDate);
    SUITE_BIND_EXPORT(Getbase64JpgData);
    SUITE_BIND_EXPORT(GetIssuesNumU);
#undef SUITE_BIND_EXPORT
    return 1;
}

int CardReader::Open() {
    if (sdk_.QMX_InitComm == nullptr) {
        return ReaderResult::NotBound;
    }
    for (const int first : {kUsbPortFirst, kSerialPortFirst}) {
        for (int port = first; port < first + kPortsPerKind; ++port) {
            if (sdk_.QMX_InitComm(port) == 1) {
                port_ = port;
                return ReaderResult::Success;
            }
        }
    }
    return ReaderResult::NotOpen;
}

int CardReader::GetStatus() {
    return ReaderResult::StatusUnavailable;
}

int CardReader::Close() {
    if (sdk_.QMX_CloseComm == nullptr) {
        return ReaderResult::NotBound;
    }
    const int closed = sdk_.QMX_CloseComm();
    // A reader the SDK failed to close is still given up: the next Open starts afresh.
    port_ = -1;
    return closed == 1 ? ReaderResult::Success : ReaderResult::CloseFailed;
}

int CardReader::GetSamId(std::u16string& text) {
    if (!module_.IsLoaded() || sdk_.QMX_GetSAMIDU == nullptr) {
        return ReaderResult::NotBound;
    }
    if (port_ == -1) {
        return ReaderResult::NotOpen;
    }
    TextBuffer buffer{};
    if (sdk_.QMX_GetSAMIDU(buffer.data()) != 1) {
        return ReaderResult::SamIdFailed;
    }
    text = TextOf(buffer);
    return ReaderResult::Success;
}

int CardReader::ReadCard(Reader::PersonInfoEx* record) {
    if (record == nullptr) {
        return ReaderResult::NullRecord;
    }
    if (!module_.IsLoaded() || !ReadBindingsPresent()) {
        return ReaderResult::NotBound;
    }
    if (port_ == -1) {
        return ReaderResult::NotOpen;
    }
    // The SDK wants a card found and selected before each read; only the read itself tells
    // whether a card was there.
    sdk_.QMX_FindCard();
    sdk_.QMX_SelectCard();
    if (sdk_.QMX_Read_FPContent() != 1) {
        return ReaderResult::NoCard;
    }
    return FillPerson(record);
}

bool CardReader::ReadBindingsPresent() const {
    return AllBound(sdk_.QMX_InitComm, sdk_.QMX_CloseComm, sdk_.QMX_FindCard, sdk_.QMX_SelectCard,
                    sdk_.QMX_Read_FPContent, sdk_.GetSexCode, sdk_.GetPeopleChineseNameU,
                    sdk_.GetPeopleCertVersionU, sdk_.GetPeopleNameU, sdk_.GetPeopleSexU,
                    sdk_.GetPeopleNationU, sdk_.GetPeopleBirthdayU, sdk_.GetPeopleAddressU,
                    sdk_.GetPeopleIDCodeU, sdk_.GetDepartmentU, sdk_.GetStartDateU,
                    sdk_.GetEndDateU, sdk_.GetNationCodeU, sdk_.GetNewAppMsgU, sdk_.GetCertTypeU,
                    sdk_.GetBMPData, sdk_.GetJpgData, sdk_.GetFPDate);
}

int CardReader::FillPerson(Reader::PersonInfoEx* record) {
    if (record == nullptr) {
        return ReaderResult::NullRecord;
    }
    if (!ReadBindingsPresent() || !AllBound(sdk_.GetPassCheckIDU, sdk_.GetIssuesNumU)) {
        return ReaderResult::NotBound;
    }
    // Through the virtual slot, so a record handed over as its base is cleared whole.
    static_cast<Reader::PersonInfo*>(record)->Clear();

    // The order of the fetches is the order the SDK expects them in.
    record->peopleChineseName = FetchText(sdk_.GetPeopleChineseNameU);
    record->peopleCertVersion = FetchText(sdk_.GetPeopleCertVersionU);
    record->peopleName = FetchText(sdk_.GetPeopleNameU);
    record->peopleSex = FetchText(sdk_.GetPeopleSexU);
    int sexCodeLength = sizeof record->sexCode;
    sdk_.GetSexCode(&record->sexCode, &sexCodeLength);
    record->peopleNation = FetchText(sdk_.GetPeopleNationU);
    record->peopleBirthday = FetchText(sdk_.GetPeopleBirthdayU);
    record->peopleAddress = FetchText(sdk_.GetPeopleAddressU);
    record->peopleIdCode = FetchText(sdk_.GetPeopleIDCodeU);
    record->department = FetchText(sdk_.GetDepartmentU);
    record->startDate = FetchText(sdk_.GetStartDateU);
    record->endDate = FetchText(sdk_.GetEndDateU);
    record->nationCode = FetchText(sdk_.GetNationCodeU);
    record->certType = FetchText(sdk_.GetCertTypeU);
    int bmpLength = static_cast<int>(record->bmpData.size());
    sdk_.GetBMPData(record->bmpData.data(), &bmpLength);
    if (sdk_.Getbase64JpgData != nullptr) {
        record->base64JpgLength = static_cast<std::int32_t>(record->base64JpgData.size());
        sdk_.Getbase64JpgData(record->base64JpgData.data(), &record->base64JpgLength);
    }
    record->newAppMsg = FetchText(sdk_.GetNewAppMsgU);
    record->passCheckId = FetchText(sdk_.GetPassCheckIDU);
    std::uint32_t issues = 0;
    sdk_.GetIssuesNumU(&issues);
    record->issuesNum = DecimalText(issues);
    return ReaderResult::Success;
}

CardReader& TheCardReader() {
    // Never destroyed: at process end the SDK stays loaded and the reader is left as it is, so a
    // thread still serving a request never meets a torn-down reader.
    static CardReader* const reader = new CardReader();
    return *reader;
}

std::u16string GetModuleDirectory() {
    return platform::ProgramDirectory();
}
