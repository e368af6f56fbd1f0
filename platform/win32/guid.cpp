#include "platform/guid.h"

#include <objbase.h>

#include <cstring>

namespace platform {

Result<Guid> NewGuid() {
    GUID made;
    if (const HRESULT failure = CoCreateGuid(&made); failure != S_OK) {
        return Result<Guid>::Failure(static_cast<uint32_t>(failure));
    }
    Guid guid;
    guid.data1 = made.Data1;
    guid.data2 = made.Data2;
    guid.data3 = made.Data3;
    std::memcpy(guid.data4, made.Data4, sizeof guid.data4);
    return guid;
}

}  // namespace platform
