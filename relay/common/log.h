#pragma once

#include <string>
#include <string_view>

// The relay's log hook. Every diagnostic of the relay goes here, as a (tag, text) pair or as a
// text alone. It has no sink unless one is set: then nothing is written anywhere, and no
// behaviour may depend on it.
void WriteLog(std::string_view tag, std::string_view text);
void WriteLog(std::string_view text);

// Logs (tag, prefix and the hex text of the first count bytes). The hex text is made only when
// the hook has a sink: the relay logs every packet it passes on.
void WriteLogPacket(std::string_view tag, std::string_view prefix, const unsigned char* bytes,
                    int count);

// Packet bytes as log text: two upper-case hex digits and one space for each of the first count
// bytes ("1A 00 FF "). Empty when count is 0 or less.
std::string ToHexText(const unsigned char* bytes, int count);

// Where the hook's lines go: a tag (empty for a text alone) and a text. None by default.
using LogSink = void (*)(std::string_view tag, std::string_view text);

// Gives the hook a sink, or takes it away (nullptr). For one thread, as the relay is.
void SetLogSink(LogSink sink);
