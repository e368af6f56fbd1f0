#include "relay/ostrel.h"

#include "relay/common/log.h"
#include "relay/engine/relay_config.h"
#include "relay/engine/relay_cycle.h"
#include "relay/engine/relay_output.h"
#include "relay/engine/relay_process.h"

namespace {

// The library's box, server connection, configuration client and relay state.
RelayProcess process;

int RelayOneDialogue(RelayCycle& cycle) {
    RelayState& state = process.state;
    if (!state.configLoaded) {
        const int result = LoadRelayConfig(process.config, state);
        PrintConfigResult(result);
        if (result != ConfigResult::Loaded) {
            WriteLog("使用了默认服务器的IP");
            state.UseDefaultServer();
        }
        state.configLoaded = true;
    }
    PacketBuffer serverBuffer{};
    PacketBuffer boxBuffer{};
    if (process.box.ConnectUsb() == UsbResult::NoBox) {
        WriteLog("[ConnectUsb():]", "读卡器连接失败");
        WriteLog("读卡器连接失败");
        return RelayResult::NoFirstPacket;
    }
    return cycle.Run(boxBuffer, serverBuffer);
}

}  // namespace

int ReadOstrel(void) {
    RelayCycle cycle(process.box, process.socket, process.state);
    // Nothing may leave a C entry as an exception. Only running out of memory can throw here;
    // the call then ends like one whose box gave nothing, with both sides closed.
    try {
        return RelayOneDialogue(cycle);
    } catch (...) {
        return cycle.CloseRelay(RelayResult::NoFirstPacket);
    }
}
