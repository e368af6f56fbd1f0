#include "relay/engine/relay_output.h"

#include <string>

#include "platform/code_page.h"
#include "platform/console.h"

void PrintConfigResult(int result) {
    platform::WriteOutputLine(
        platform::codepage::Utf8ToUtf16("==================<<" + std::to_string(result)));
}

void PrintRepeatedFirstPacket() {
    platform::WriteOutputLine(u"白盒子在交互的过程中接受到了第一包数据==继续读取数据包");
}
