#pragma once

#include <string>

// The lines the relay prints, as they reach a file or a pipe here: UTF-8, each ended by LF.
namespace printed_lines {

inline const std::string kRepeatedFirstPacket =
    "白盒子在交互的过程中接受到了第一包数据==继续读取数据包\n";

}  // namespace printed_lines
