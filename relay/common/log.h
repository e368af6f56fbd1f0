#pragma once

#include <string_view>

// The relay's log hook. Every diagnostic of the relay goes here, as a (tag, text) pair or as a
// text alone. It has no sink: nothing is written anywhere, and no behaviour may depend on it.
void WriteLog(std::string_view tag, std::string_view text);
void WriteLog(std::string_view text);
