#include "relay/ostrel.h"

#include "relay/engine/log.h"
#include "relay/engine/relay_config.h"
#include "relay/engine/relay_cycle.h"
#include "relay/engine/relay_output.h"
#include "relay/engine/relay_process.h"
#include "relay/usb/usb_box.h"

namespace {

int RelayOneDialogue() {
    RelayState& state = TheRelayState();
    if (!state.configLoaded) {
        const int result = LoadRelayConfig();
        PrintConfigResult(result);
        if (result != ConfigResult::Loaded) {
            WriteLog("使用了默认服务器的IP");
            state.UseDefaultServer();
        }
        state.configLoaded = true;
    }
    PacketBuffer serverBuffer{};
    PacketBuffer boxBuffer{};
    if (ConnectUsb() == UsbResult::NoBox) {
        WriteLog("[ConnectUsb():]", "读卡器连接失败");
        WriteLog("读卡器连接失败");
        return RelayResult::NoFirstPacket;
    }
    return RunRelayCycle(boxBuffer, serverBuffer);
}

}  // namespace

int ReadOstrel(void) {
    // Nothing may leave a C entry as an exception. Only running out of memory can throw here;
    // the call then ends like one whose box gave nothing, with both sides closed.
    try {
        return RelayOneDialogue();
    } catch (...) {
        return CloseRelay(RelayResult::NoFirstPacket);
    }
}
