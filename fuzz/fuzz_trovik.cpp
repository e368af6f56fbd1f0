// libTrovik.so for the answer fuzzer: every export of the maker's SDK, each handing its buffer
// to the fuzzer that loaded the library (fuzz_trovik.h).
#include <cstdint>

#include "fuzz/fuzz_trovik.h"

#define TROVIK_EXPORT extern "C" __attribute__((visibility("default")))

using namespace fuzz_trovik;

TROVIK_EXPORT int QMX_InitComm(int /*port*/) {
    return FuzzTrovikAnswer("QMX_InitComm");
}
TROVIK_EXPORT int QMX_CloseComm() {
    return FuzzTrovikAnswer("QMX_CloseComm");
}
TROVIK_EXPORT int QMX_Authenticate() {
    return FuzzTrovikAnswer("QMX_Authenticate");
}
TROVIK_EXPORT int QMX_FindCard() {
    return FuzzTrovikAnswer("QMX_FindCard");
}
TROVIK_EXPORT int QMX_SelectCard() {
    return FuzzTrovikAnswer("QMX_SelectCard");
}
TROVIK_EXPORT int QMX_Read_FPContent() {
    return FuzzTrovikAnswer("QMX_Read_FPContent");
}
TROVIK_EXPORT int QMX_GetSAMIDU(char16_t* buffer) {
    return FuzzTrovikFill(SamId, buffer, nullptr);
}

#define FUZZ_TROVIK_TEXT(name, field)                       \
    TROVIK_EXPORT int name(char16_t* buffer, int* length) { \
        return FuzzTrovikFill(field, buffer, length);       \
    }
FUZZ_TROVIK_TEXT(GetPeopleChineseNameU, ChineseName)
FUZZ_TROVIK_TEXT(GetPeopleCertVersionU, CertVersion)
FUZZ_TROVIK_TEXT(GetPeopleNameU, Name)
FUZZ_TROVIK_TEXT(GetPeopleSexU, Sex)
FUZZ_TROVIK_TEXT(GetPeopleNationU, Nation)
FUZZ_TROVIK_TEXT(GetPeopleBirthdayU, Birthday)
FUZZ_TROVIK_TEXT(GetPeopleAddressU, Address)
FUZZ_TROVIK_TEXT(GetPeopleIDCodeU, IdCode)
FUZZ_TROVIK_TEXT(GetDepartmentU, Department)
FUZZ_TROVIK_TEXT(GetStartDateU, StartDate)
FUZZ_TROVIK_TEXT(GetEndDateU, EndDate)
FUZZ_TROVIK_TEXT(GetNationCodeU, NationCode)
FUZZ_TROVIK_TEXT(GetCertTypeU, CertType)
FUZZ_TROVIK_TEXT(GetNewAppMsgU, NewAppMsg)
FUZZ_TROVIK_TEXT(GetPassCheckIDU, PassCheckId)
#undef FUZZ_TROVIK_TEXT

TROVIK_EXPORT int GetSexCode(std::int32_t* value, int* length) {
    return FuzzTrovikFill(SexCode, value, length);
}
TROVIK_EXPORT int GetBMPData(std::uint8_t* buffer, int* length) {
    return FuzzTrovikFill(BmpPhoto, buffer, length);
}
TROVIK_EXPORT int GetJpgData(std::uint8_t* /*buffer*/, int* /*length*/) {
    return FuzzTrovikAnswer("GetJpgData");
}
TROVIK_EXPORT int GetFPDate(std::uint8_t* /*buffer*/, int* /*length*/) {
    return FuzzTrovikAnswer("GetFPDate");
}
TROVIK_EXPORT int Getbase64JpgData(std::uint8_t* buffer, int* length) {
    return FuzzTrovikFill(Base64Photo, buffer, length);
}
TROVIK_EXPORT int GetIssuesNumU(std::uint32_t* count) {
    int length = sizeof *count;
    return FuzzTrovikFill(IssuesNumber, count, &length);
}
