#pragma once

#include <string>

// The lines the relay prints on a Chinese Windows, in the ANSI code page, GBK, as GoogleTest's
// capture of standard output gives them back: it reads the file in text mode, so each line's
// CR LF comes back as LF. That they reach a file or a pipe with CR LF, the demo's dialogues
// through ReadOstrel show (tests/relay/ostrel).
namespace printed_lines {

// 白盒子在交互的过程中接受到了第一包数据==继续读取数据包
inline const std::string kRepeatedFirstPacket =
    "\xB0\xD7\xBA\xD0\xD7\xD3\xD4\xDA\xBD\xBB\xBB\xA5\xB5\xC4\xB9\xFD\xB3\xCC\xD6\xD0\xBD\xD3"
    "\xCA\xDC\xB5\xBD\xC1\xCB\xB5\xDA\xD2\xBB\xB0\xFC\xCA\xFD\xBE\xDD==\xBC\xCC\xD0\xF8\xB6\xC1"
    "\xC8\xA1\xCA\xFD\xBE\xDD\xB0\xFC\n";

}  // namespace printed_lines
