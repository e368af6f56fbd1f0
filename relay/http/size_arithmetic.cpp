#include "relay/http/size_arithmetic.h"

#include <limits>

#include "relay/http/http_error.h"

namespace Osmer {

void ThrowArithmeticFault(ArithmeticFault fault) {
    switch (fault) {
        case ArithmeticFault::Overflow:
            ThrowError(HttpError::ArithmeticOverflow);
        case ArithmeticFault::DivideByZero:
            ThrowError(HttpError::ArithmeticDivideByZero);
        case ArithmeticFault::Unexpected:
            break;
    }
    ThrowError(HttpError::ArithmeticUnexpected);
}

uint32_t SizeAdd(uint32_t a, uint32_t b) {
    if (b > std::numeric_limits<uint32_t>::max() - a) {
        ThrowArithmeticFault(ArithmeticFault::Overflow);
    }
    return a + b;
}

uint32_t SizeSubtract(uint32_t a, uint32_t b) {
    if (b > a) {
        ThrowArithmeticFault(ArithmeticFault::Overflow);
    }
    return a - b;
}

uint32_t SizeNarrow(uint64_t size) {
    if (size > std::numeric_limits<uint32_t>::max()) {
        ThrowArithmeticFault(ArithmeticFault::Overflow);
    }
    return static_cast<uint32_t>(size);
}

}  // namespace Osmer
