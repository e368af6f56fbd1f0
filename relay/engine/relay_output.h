#pragma once

// The relay library's only output: two kinds of line on the process's standard output, in the
// console's encoding, flushed at once.

// "==================<<" and the configuration load's result, after each load.
void PrintConfigResult(int result);

// The box started a dialogue again in the middle of an exchange; the packet was dropped.
void PrintRepeatedFirstPacket();
