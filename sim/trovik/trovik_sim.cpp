// The simulated reader SDK: every export of the maker's library, answering from the settings
// file (see trovik-sim.conf). Variants leave out one export each, chosen by compile definition.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>

#include "sim/trovik/call_log.h"
#include "sim/trovik/photo.h"
#include "sim/trovik/settings.h"
#include "trovik_sim_export.h"
#include "webservice/reader/trovik_sdk.h"

// An export by its plain name. Each one is checked against the type its callers bind it by,
// which carries the SDK's calling convention.
#define TROVIK_EXPORT extern "C" TROVIK_SIM_EXPORT
#define TROVIK_EXPORT_TYPE(name, type)                           \
    static_assert(std::is_same_v<decltype(&name), trovik::type>, \
                  #name " has the type its callers bind it by")

namespace {

using trovik_sim::CurrentSettings;
using trovik_sim::LogCall;

constexpr int kSamIdBufferUnits = 1024;  // the caller's SAM buffer is 2048 bytes

// The card as the last read found it, which the field getters give, as a reader's SDK gives the
// fields it read; before any read, the card the settings describe now. Taken at the read, not
// looked up again by each of the two dozen getters that follow it.
std::mutex cardMutex;
std::shared_ptr<const trovik_sim::Settings> cardAsRead;

std::shared_ptr<const trovik_sim::Settings> CardAsRead() {
    {
        const std::lock_guard<std::mutex> lock(cardMutex);
        if (cardAsRead) {
            return cardAsRead;
        }
    }
    return CurrentSettings();
}

std::string LengthText(const int* length) {
    return length == nullptr ? "null" : std::to_string(*length);
}

// Writes text into a buffer of `units` UTF-16 units: NUL-terminated, cut to fit; or, when the
// settings ask for it, repeated to fill every unit with no terminator.
void PutText(const std::u16string& text, char16_t* buffer, std::size_t units, bool fillWhole) {
    if (fillWhole) {
        const std::u16string pattern = text.empty() ? u"X" : text;
        for (std::size_t i = 0; i < units; ++i) {
            buffer[i] = pattern[i % pattern.size()];
        }
        return;
    }
    const std::size_t count = std::min(text.size(), units - 1);
    std::copy_n(text.begin(), count, buffer);
    buffer[count] = u'\0';
}

int TextGetter(const char* name, const char* key, char16_t* buffer, int* length) {
    LogCall(std::string(name) + "(" + LengthText(length) + ")");
    if (buffer == nullptr || length == nullptr || *length < 2) {
        return 0;
    }
    const auto settings = CardAsRead();
    PutText(settings->Text(key), buffer, static_cast<std::size_t>(*length) / 2,
            settings->fillWholeBuffers);
    return 1;
}

}  // namespace

#ifndef TROVIK_SIM_NO_INITCOMM
TROVIK_EXPORT int QMX_InitComm(int port) {
    LogCall("QMX_InitComm(" + std::to_string(port) + ")");
    const auto ports = CurrentSettings()->ports;
    return std::find(ports.begin(), ports.end(), port) != ports.end() ? 1 : 0;
}
TROVIK_EXPORT_TYPE(QMX_InitComm, PortFn);
#endif

TROVIK_EXPORT int QMX_CloseComm() {
    LogCall("QMX_CloseComm()");
    return CurrentSettings()->closeOk ? 1 : 0;
}
TROVIK_EXPORT_TYPE(QMX_CloseComm, NoArgFn);

#ifndef TROVIK_SIM_NO_AUTHENTICATE
TROVIK_EXPORT int QMX_Authenticate() {
    LogCall("QMX_Authenticate()");
    return CurrentSettings()->cardPresent ? 1 : 0;
}
TROVIK_EXPORT_TYPE(QMX_Authenticate, NoArgFn);
#endif

TROVIK_EXPORT int QMX_FindCard() {
    LogCall("QMX_FindCard()");
    const auto settings = CurrentSettings();
    return settings->cardPresent && settings->findOk ? 1 : 0;
}
TROVIK_EXPORT_TYPE(QMX_FindCard, NoArgFn);

TROVIK_EXPORT int QMX_SelectCard() {
    LogCall("QMX_SelectCard()");
    const auto settings = CurrentSettings();
    return settings->cardPresent && settings->selectOk ? 1 : 0;
}
TROVIK_EXPORT_TYPE(QMX_SelectCard, NoArgFn);

TROVIK_EXPORT int QMX_Read_FPContent() {
    LogCall("QMX_Read_FPContent()");
    const auto settings = CurrentSettings();
    std::this_thread::sleep_for(std::chrono::milliseconds(settings->readDelayMs));
    if (!settings->cardPresent) {
        return 0;
    }
    const std::lock_guard<std::mutex> lock(cardMutex);
    cardAsRead = settings;
    return 1;
}
TROVIK_EXPORT_TYPE(QMX_Read_FPContent, NoArgFn);

TROVIK_EXPORT int QMX_GetSAMIDU(char16_t* buffer) {
    LogCall("QMX_GetSAMIDU()");
    const auto settings = CurrentSettings();
    if (buffer == nullptr || !settings->samOk) {
        return 0;
    }
    PutText(settings->samId, buffer, kSamIdBufferUnits, settings->fillWholeBuffers);
    return 1;
}
TROVIK_EXPORT_TYPE(QMX_GetSAMIDU, SamIdFn);

#define TROVIK_TEXT_GETTER(name, key)                       \
    TROVIK_EXPORT int name(char16_t* buffer, int* length) { \
        return TextGetter(#name, key, buffer, length);      \
    }                                                       \
    TROVIK_EXPORT_TYPE(name, TextFn);

TROVIK_TEXT_GETTER(GetPeopleNameU, "card.name")
TROVIK_TEXT_GETTER(GetPeopleSexU, "card.sex")
TROVIK_TEXT_GETTER(GetPeopleNationU, "card.nation")
TROVIK_TEXT_GETTER(GetPeopleBirthdayU, "card.birthday")
TROVIK_TEXT_GETTER(GetPeopleAddressU, "card.address")
TROVIK_TEXT_GETTER(GetPeopleIDCodeU, "card.id_code")
TROVIK_TEXT_GETTER(GetDepartmentU, "card.department")
TROVIK_TEXT_GETTER(GetStartDateU, "card.start_date")
TROVIK_TEXT_GETTER(GetEndDateU, "card.end_date")
TROVIK_TEXT_GETTER(GetPeopleChineseNameU, "card.chinese_name")
TROVIK_TEXT_GETTER(GetPeopleCertVersionU, "card.cert_version")
TROVIK_TEXT_GETTER(GetNationCodeU, "card.nation_code")
TROVIK_TEXT_GETTER(GetNewAppMsgU, "card.new_app_msg")
TROVIK_TEXT_GETTER(GetCertTypeU, "card.cert_type")
#ifndef TROVIK_SIM_NO_PASSCHECK
TROVIK_TEXT_GETTER(GetPassCheckIDU, "card.pass_check_id")
#endif

TROVIK_EXPORT int GetSexCode(std::int32_t* value, int* length) {
    LogCall("GetSexCode(" + LengthText(length) + ")");
    if (value == nullptr || length == nullptr || *length < static_cast<int>(sizeof *value)) {
        return 0;
    }
    *value = CardAsRead()->sexCode;
    return 1;
}
TROVIK_EXPORT_TYPE(GetSexCode, IntFn);

TROVIK_EXPORT int GetBMPData(std::uint8_t* buffer, int* length) {
    LogCall("GetBMPData(" + LengthText(length) + ")");
    const auto& bmp = trovik_sim::PhotoBmp();
    if (buffer == nullptr || length == nullptr || *length < static_cast<int>(bmp.size()) ||
        !CardAsRead()->photo) {
        return 0;
    }
    std::memcpy(buffer, bmp.data(), bmp.size());
    return 1;
}
TROVIK_EXPORT_TYPE(GetBMPData, BytesFn);

// Raw JPEG bytes; the reader binds this export but never calls it.
TROVIK_EXPORT int GetJpgData(std::uint8_t* buffer, int* length) {
    LogCall("GetJpgData(" + LengthText(length) + ")");
    const auto& jpeg = trovik_sim::PhotoJpeg();
    if (buffer == nullptr || length == nullptr || jpeg.empty() ||
        *length < static_cast<int>(jpeg.size()) || !CardAsRead()->photo) {
        return 0;
    }
    std::memcpy(buffer, jpeg.data(), jpeg.size());
    *length = static_cast<int>(jpeg.size());
    return 1;
}
TROVIK_EXPORT_TYPE(GetJpgData, BytesFn);

// Fingerprint data; the sample card carries none.
TROVIK_EXPORT int GetFPDate(std::uint8_t* /*buffer*/, int* length) {
    LogCall("GetFPDate(" + LengthText(length) + ")");
    return 0;
}
TROVIK_EXPORT_TYPE(GetFPDate, BytesFn);

#ifndef TROVIK_SIM_NO_BASE64
TROVIK_EXPORT int Getbase64JpgData(std::uint8_t* buffer, int* length) {
    LogCall("Getbase64JpgData(" + LengthText(length) + ")");
    const auto settings = CardAsRead();
    const std::string& text = trovik_sim::PhotoJpegBase64();
    if (buffer == nullptr || length == nullptr || *length <= 0 || text.empty() ||
        !settings->photo) {
        return 0;
    }
    const auto size = static_cast<std::size_t>(*length);
    if (settings->fillWholeBuffers) {
        for (std::size_t i = 0; i < size; ++i) {
            buffer[i] = static_cast<std::uint8_t>(text[i % text.size()]);
        }
        return 1;
    }
    if (text.size() + 1 > size) {
        return 0;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return 1;
}
TROVIK_EXPORT_TYPE(Getbase64JpgData, BytesFn);
#endif

TROVIK_EXPORT int GetIssuesNumU(std::uint32_t* count) {
    LogCall("GetIssuesNumU(" + (count == nullptr ? std::string("null") : std::to_string(*count)) +
            ")");
    const auto settings = CardAsRead();
    if (count == nullptr || !settings->issuesNum) {
        return 0;
    }
    *count = *settings->issuesNum;
    return 1;
}
TROVIK_EXPORT_TYPE(GetIssuesNumU, CountFn);
