#pragma once

#include <string>

#include "platform/dynamic_library.h"
#include "webservice/reader/person_info.h"
#include "webservice/reader/trovik_sdk.h"

// Result codes of the reader operations; they go unchanged into an answer's resultFlag.
namespace ReaderResult {
constexpr int Success = 0;
constexpr int NotOpen = -3;             // no port answered, or the reader is not open
constexpr int CloseFailed = -4;         // QMX_CloseComm did not return 1
constexpr int NoCard = -11;             // QMX_Read_FPContent did not return 1
constexpr int NotBound = -12;           // the SDK or an export it needs is missing
constexpr int SamIdFailed = -16;        // QMX_GetSAMIDU did not return 1
constexpr int NullRecord = -24;         // no record to read into
constexpr int StatusUnavailable = -99;  // the status of the reader is not known
}  // namespace ReaderResult

// The reader, reached through the maker's SDK loaded at run time. Every operation makes its SDK
// calls back to back and answers with a ReaderResult code. Not thread-safe: one thread uses it.
class CardReader {
  public:
    CardReader();

    // Loads the SDK from the program's own directory, after making that the current directory.
    // 1 when loaded (now or before), 0 when loading failed.
    int LoadSdk();
    // Loads the SDK from the given file and binds its exports; the same answers as LoadSdk.
    int LoadSdkFrom(const std::u16string& path);

    int Open();
    int GetStatus();
    int Close();
    int GetSamId(std::u16string& text);
    int ReadCard(Reader::PersonInfoEx* record);

    // Port on which the reader was opened; -1 when it is not open.
    int Port() const { return port_; }

  private:
    int FillPerson(Reader::PersonInfoEx* record);
    bool ReadBindingsPresent() const;

    platform::DynamicLibrary module_;
    int port_ = -1;
    trovik::Bindings sdk_;
};

// The one reader of the process. Never destroyed: the SDK stays loaded until the process ends.
CardReader& TheCardReader();

// Directory of the running program, without a trailing separator; empty when it cannot be
// determined.
std::u16string GetModuleDirectory();
