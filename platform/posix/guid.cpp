#include "platform/guid.h"

#include <errno.h>
#include <sys/random.h>

#include <cstring>
#include "platform/system_error.h"

namespace platform {

Result<Guid> NewGuid() {
    uint8_t bytes[16];
    size_t filled = 0;
    while (filled < sizeof bytes) {
        const ssize_t got = getrandom(bytes + filled, sizeof bytes - filled, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Result<Guid>::Failure(error::kGeneralFailure);
        }
        filled += static_cast<size_t>(got);
    }
    Guid guid;
    std::memcpy(&guid.data1, bytes, 4);
    std::memcpy(&guid.data2, bytes + 4, 2);
    std::memcpy(&guid.data3, bytes + 6, 2);
    std::memcpy(guid.data4, bytes + 8, 8);
    guid.data3 = static_cast<uint16_t>((guid.data3 & 0x0FFF) | 0x4000);
    guid.data4[0] = static_cast<uint8_t>((guid.data4[0] & 0x3F) | 0x80);
    return guid;
}

}  // namespace platform
