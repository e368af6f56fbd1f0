#include "relay/engine/relay_cycle.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "relay/engine/hex_text.h"
#include "relay/engine/log.h"
#include "relay/engine/relay_output.h"
#include "relay/engine/relay_process.h"
#include "relay/usb/usb_box.h"

namespace {

using Clock = std::chrono::steady_clock;

// Waits of the box reads, in milliseconds.
constexpr int kDrainWait = 10;
constexpr int kFirstPacketWait = 10000;
constexpr int kExchangeBoxWait = 20;
constexpr int kSelfCheckAnswerWait = 1000;
// The box's moment before the wait for a first packet and before the self-check, in milliseconds.
constexpr int kSettlePause = 1;

// The relay looks at packet lengths and at bytes 3 and 4; everything else passes through.
constexpr int kFirstPacketLength = 26;
constexpr unsigned char kFirstPacketMark = 0x01;  // byte 3 of the box's first packet
constexpr unsigned char kFinalPacketMark = 0xA0;  // byte 3 of the server's final packet
constexpr int kNotReadLength = 17;                // a final packet this long: card not read
constexpr int kReadLengthAbove = 1000;            // a final packet longer: card read
constexpr int kCompleteFinalLength = 1301;
constexpr int kBufferSize = static_cast<int>(kPacketBufferSize);

constexpr std::array<unsigned char, 6> kCheckCommand{0xAA, 0x00, 0x03, 0x00, 0x00, 0x03};
constexpr std::array<unsigned char, 6> kRestartCommand{0xAA, 0x00, 0x03, 0xF0, 0x00, 0xF3};

std::string Hex(const PacketBuffer& buffer, int count) {
    return ToHexText(buffer.data(), std::min(count, kBufferSize));
}

bool IsFirstPacket(const PacketBuffer& box, int length) {
    return length == kFirstPacketLength && box[3] == kFirstPacketMark;
}

bool IsFinalPacket(const PacketBuffer& server) {
    return server[3] == kFinalPacketMark;
}

// A box packet after which the box has more to say before the server answers: the server is not
// read in that pass.
bool BoxGoesOn(const PacketBuffer& box) {
    return box[3] >= 0x10 && box[4] >= 0x05 && box[4] != 0x10;
}

// One cycle, step by step. Each step does its reads and writes and names the state that follows;
// the states are those of the cycle's table: box open, connecting, waiting for the first answer,
// exchanging, ended.
class RelayCycle {
  public:
    RelayCycle(PacketBuffer& box, PacketBuffer& server, std::chrono::milliseconds idleBound)
        : box_(box), server_(server), socket_(TheServerSocket()), idleBound_(idleBound) {}

    int Run() {
        State state = State::BoxOpen;
        while (state != State::Ended) {
            switch (state) {
                case State::BoxOpen:
                    state = AwaitFirstPacket();
                    break;
                case State::Connecting:
                    state = Connect();
                    break;
                case State::AwaitingFirstAnswer:
                    state = TakeFirstAnswer();
                    break;
                case State::Exchanging:
                    state = ExchangeOnce();
                    break;
                case State::Ended:
                    break;
            }
        }
        return result_;
    }

  private:
    enum class State { BoxOpen, Connecting, AwaitingFirstAnswer, Exchanging, Ended };

    State End(int result) {
        result_ = result;
        return State::Ended;
    }

    // A packet left over from an earlier dialogue is dropped; then the box has 10 s to start one.
    State AwaitFirstPacket() {
        ReadUsb(box_, kDrainWait);
        PauseUsb(kSettlePause);
        const int n = ReadUsb(box_, kFirstPacketWait);
        if (IsFirstPacket(box_, n)) {
            return State::Connecting;
        }
        WriteLog("serlf_check", "发送数据到盒子中进行检测");
        SelfCheck();
        DisConnectUsb();
        return End(RelayResult::NoFirstPacket);
    }

    // The fifth and every later failure in a row makes the next call fetch the configuration
    // again, which may name another server.
    State Connect() {
        RelayState& state = TheRelayState();
        if (ConnectServer() != ConnectResult::Connected) {
            if (state.connectFailures > 3) {
                state.configLoaded = false;
            }
            ++state.connectFailures;
            DisConnectUsb();
            socket_.CloseSocket();
            WriteLog("[ConncetServer:]", "解码服务器连接失败");
            WriteLog("解码服务器连接失败");
            return End(RelayResult::ServerUnreachable);
        }
        state.connectFailures = 0;
        WriteLog("[ConncetServer:]", "连接成功");
        socket_.WriteSocket(box_.data(), kFirstPacketLength);
        WriteLog("[USB->TCP 第一包数据]", "send:" + Hex(box_, kFirstPacketLength));
        return State::AwaitingFirstAnswer;
    }

    // Nothing within the read wait is not a failure: the box gets an empty transfer and the
    // exchange begins. Only the exchange recognises a final packet of 17 bytes.
    State TakeFirstAnswer() {
        const int o = socket_.IsOpen() ? socket_.ReadSocket(server_) : ReceiveResult::Failed;
        if (o < 0) {
            DisConnectUsb();
            socket_.CloseSocket();
            WriteLog("[ReadSocket:]", "第一包发送到服务器接收失败");
            WriteLog("发哦是那个第一包失败");
            return End(RelayResult::FirstAnswerFailed);
        }
        if (IsFinalPacket(server_) && o > kReadLengthAbove) {
            WriteLog("最后一包=============", "读卡成功");
            WriteLog("[USB->TCP 第一包数据]", "send:" + Hex(server_, o));
            DeliverFinalPacket(o);
            return End(CloseRelay(RelayResult::CardRead));
        }
        WriteUsb(server_.data(), o);
        WriteLog("[TCP-USB 第一包数据]", "WRITEUSB:" + Hex(server_, o));
        lastDelivery_ = Clock::now();
        return State::Exchanging;
    }

    // One pass: a box read of up to 20 ms, then (mostly) a server read of up to 3 ms.
    State ExchangeOnce() {
        if (Clock::now() - lastDelivery_ >= idleBound_) {
            return LeaveExchange();
        }
        const int n = ReadUsb(box_, kExchangeBoxWait);
        if (n > 0) {
            lastDelivery_ = Clock::now();
            if (IsFirstPacket(box_, n)) {
                PrintRepeatedFirstPacket();
                return State::Exchanging;
            }
            // A send that fails shows later as a missing answer.
            socket_.WriteSocket(box_.data(), n);
            WriteLog("[USB->TCP]", "send:" + Hex(box_, n));
            WriteLog("[发送到服务器的数据长度:]---");
            if (BoxGoesOn(box_)) {
                return State::Exchanging;
            }
        }
        WriteLog("[ReveUsbSize:]");
        if (!socket_.IsOpen()) {
            return LeaveExchange();
        }
        const int s = socket_.ReadSocket(server_);
        if (s < 0) {
            return LeaveExchange();
        }
        if (s == 0) {
            return State::Exchanging;
        }
        lastDelivery_ = Clock::now();
        WriteLog("[ReveServerSize:]");
        WriteLog("[TCP->USB]", "Rvc:" + Hex(server_, s));
        if (IsFinalPacket(server_) && s == kNotReadLength) {
            WriteLog("最后一包", "读卡失败");
            return End(CloseRelay(RelayResult::CardNotRead));
        }
        if (IsFinalPacket(server_) && s > kReadLengthAbove) {
            WriteLog("最后一包", "读卡成功");
            DeliverFinalPacket(s);
            return End(CloseRelay(RelayResult::CardRead));
        }
        WriteUsb(server_.data(), s);
        return State::Exchanging;
    }

    State LeaveExchange() {
        WriteLog("接受服务器数据", "读卡失败");
        WriteLog("接受服务器数据失败");
        return End(CloseRelay(RelayResult::ExchangeFailed));
    }

    // A final packet that is not 1301 bytes long is completed by exactly one more receive, cut to
    // what the server buffer can still hold, and goes to the box in one transfer.
    void DeliverFinalPacket(int length) {
        if (length != kCompleteFinalLength) {
            WriteLog("数据包不是1301");
            continuation_.fill(0);
            const int b =
                socket_.IsOpen() ? socket_.ReadSocket(continuation_) : ReceiveResult::Failed;
            WriteLog("[USB->TCP 第一包数据]", "send:" + Hex(continuation_, b));
            if (b > 0) {
                const int appended = std::min(b, kBufferSize - length);
                std::memcpy(server_.data() + length, continuation_.data(),
                            static_cast<std::size_t>(appended));
                length += appended;
            }
            WriteLog("[USB->TCP 第一包数据]", "send:" + Hex(server_, length));
        }
        WriteUsb(server_.data(), length);
    }

    PacketBuffer& box_;
    PacketBuffer& server_;
    PacketBuffer continuation_{};
    ServerSocket& socket_;
    const std::chrono::milliseconds idleBound_;
    Clock::time_point lastDelivery_;
    int result_ = RelayResult::NoFirstPacket;
};

}  // namespace

int RunRelayCycle(PacketBuffer& boxBuffer, PacketBuffer& serverBuffer,
                  std::chrono::milliseconds idleBound) {
    return RelayCycle(boxBuffer, serverBuffer, idleBound).Run();
}

int ConnectServer() {
    const RelayState& state = TheRelayState();
    ServerSocket& socket = TheServerSocket();
    socket.SetServer(static_cast<std::uint16_t>(state.serverPort), state.serverHost);
    return socket.Connect();
}

int CloseRelay(int result) {
    DisConnectUsb();
    TheServerSocket().CloseSocket();
    return result;
}

void SelfCheck() {
    PauseUsb(kSettlePause);
    if (WriteUsb(kCheckCommand.data(), static_cast<int>(kCheckCommand.size())) < 0) {
        WriteLog("self_check 写入数据失败 ");
        ResetUsb();
    }
    PacketBuffer check{};
    const int r = ReadUsb(check, kSelfCheckAnswerWait);
    if (r > 0) {
        WriteLog("返回检测数据成功", "Rvc:" + Hex(check, r));
        return;
    }
    // Only an answer counts after the check command; after the restart only a failure does.
    WriteLog("返回检测数据失败 硬件重启 ");
    WriteLog("返回检测数据失败", "硬件重启");
    WriteUsb(kRestartCommand.data(), static_cast<int>(kRestartCommand.size()));
    check.fill(0);
    const int r2 = ReadUsb(check, kSelfCheckAnswerWait);
    if (r2 < 0) {
        WriteLog("返回检测数据失败", "硬件重启失败");
        WriteLog("返回检测数据失败硬件重启失败");
    }
}
