#pragma once

#include <cstdint>

// The reader SDK of the answer fuzzer (fuzz_trovik.cpp): a libTrovik.so whose every export asks
// the fuzzer that loaded it what to write. The fuzzer defines these and exports them.
namespace fuzz_trovik {

// What a getter fills, in the order CardReader fetches them.
enum Field : int {
    ChineseName,
    CertVersion,
    Name,
    Sex,
    Nation,
    Birthday,
    Address,
    IdCode,
    Department,
    StartDate,
    EndDate,
    NationCode,
    CertType,
    NewAppMsg,
    PassCheckId,
    TextFieldCount,  // the text getters come before this one
    SamId = TextFieldCount,
    SexCode,
    BmpPhoto,
    Base64Photo,
    IssuesNumber,
};

}  // namespace fuzz_trovik

// Writes at most *length bytes of the field into buffer (the caller zeroed it); 1 for success.
// A SAM id getter gives no length: its buffer holds 2048 bytes.
extern "C" int FuzzTrovikFill(int field, void* buffer, int* length);

// What a call without data answers: 1 for success, anything else a failure.
extern "C" int FuzzTrovikAnswer(const char* name);
