#pragma once

#include <cstdint>

// Size computations of the HTTP client (body lengths and counters, 32 bits as the wire layer
// announces them), checked: a fault throws the matching error (111 to 113) instead of
// producing a wrong length.
namespace Osmer {

enum class ArithmeticFault {
    Unexpected,    // 111
    Overflow,      // 112
    DivideByZero,  // 113
};

[[noreturn]] void ThrowArithmeticFault(ArithmeticFault fault);

uint32_t SizeAdd(uint32_t a, uint32_t b);
uint32_t SizeSubtract(uint32_t a, uint32_t b);
// A 64-bit size (a file's, say) as a 32-bit one.
uint32_t SizeNarrow(uint64_t size);

}  // namespace Osmer
