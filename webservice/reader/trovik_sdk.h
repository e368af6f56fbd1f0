#pragma once

#include <cstdint>

// Call contract of the reader maker's SDK (Trovik), loaded at run time. The exports have C
// linkage and the platform's C calling convention (the one convention of 64-bit Windows) and are
// found by their plain names. Every export returns 1 for success. Texts come back as
// NUL-terminated UTF-16 in a caller-zeroed buffer; a length argument points at the buffer's size
// in bytes.
namespace trovik {

constexpr const char16_t* kLibraryBaseName = u"Trovik";
constexpr int kTextBufferBytes = 2048;
constexpr int kTextBufferUnits = kTextBufferBytes / 2;

using NoArgFn = int (*)();
using PortFn = int (*)(int port);
using SamIdFn = int (*)(char16_t* buffer);
using TextFn = int (*)(char16_t* buffer, int* length);
using IntFn = int (*)(std::int32_t* value, int* length);
using BytesFn = int (*)(std::uint8_t* buffer, int* length);
using CountFn = int (*)(std::uint32_t* count);

// One binding per export; null while the export is not bound.
struct Bindings {
    PortFn QMX_InitComm = nullptr;
    NoArgFn QMX_CloseComm = nullptr;
    NoArgFn QMX_Authenticate = nullptr;  // bound, never called, may be missing
    NoArgFn QMX_FindCard = nullptr;
    NoArgFn QMX_SelectCard = nullptr;
    NoArgFn QMX_Read_FPContent = nullptr;
    SamIdFn QMX_GetSAMIDU = nullptr;
    TextFn GetPeopleNameU = nullptr;
    TextFn GetPeopleSexU = nullptr;
    TextFn GetPeopleNationU = nullptr;
    TextFn GetPeopleBirthdayU = nullptr;
    TextFn GetPeopleAddressU = nullptr;
    TextFn GetPeopleIDCodeU = nullptr;
    TextFn GetDepartmentU = nullptr;
    TextFn GetStartDateU = nullptr;
    TextFn GetEndDateU = nullptr;
    TextFn GetPeopleChineseNameU = nullptr;
    TextFn GetPeopleCertVersionU = nullptr;
    TextFn GetNationCodeU = nullptr;
    TextFn GetNewAppMsgU = nullptr;
    TextFn GetCertTypeU = nullptr;
    TextFn GetPassCheckIDU = nullptr;
    IntFn GetSexCode = nullptr;
    BytesFn GetBMPData = nullptr;
    BytesFn GetJpgData = nullptr;        // bound, never called, required for a read
    BytesFn GetFPDate = nullptr;         // bound, never called, required for a read
    BytesFn Getbase64JpgData = nullptr;  // optional: without it the photo text stays empty
    CountFn GetIssuesNumU = nullptr;
};

}  // namespace trovik
