#include "platform/guid.h"

#include <objbase.h>

#include <cstring>

namespace platform {

std::optional<Guid> NewGuid() {
    GUID made;
    if (CoCreateGuid(&made) != S_OK) {
        return std::nullopt;
    }
    Guid guid;
    guid.data1 = made.Data1;
    guid.data2 = made.Data2;
    guid.data3 = made.Data3;
    std::memcpy(guid.data4, made.Data4, sizeof guid.data4);
    return guid;
}

}  // namespace platform
