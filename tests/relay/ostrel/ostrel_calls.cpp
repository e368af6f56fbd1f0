// ostrel-calls N: calls ReadOstrel N times, as a program that links the relay library does, and
// after each call prints its result on a line of its own, "ReadOstrel: <result>", so that the
// lines the relay printed during a call stand before the call's result.
#include <cstdio>
#include <cstdlib>

#include "relay/ostrel.h"

int main(int argc, char** argv) {
    const int calls = argc > 1 ? std::atoi(argv[1]) : 1;
    for (int call = 0; call < calls; ++call) {
        const int result = ReadOstrel();
        std::printf("ReadOstrel: %d\n", result);
        std::fflush(stdout);
    }
    return 0;
}
