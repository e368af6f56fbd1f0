#include "relay/engine/relay_cycle.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "relay/common/log.h"
#include "relay/common/waits.h"
#include "relay/engine/relay_output.h"

namespace {

using Clock = std::chrono::steady_clock;

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

// Logs (tag, prefix and the hex text of the buffer's first count bytes).
void LogPacket(std::string_view tag, std::string_view prefix, const PacketBuffer& buffer,
               int count) {
    WriteLogPacket(tag, prefix, buffer.data(), std::min(count, kBufferSize));
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
class CycleSteps {
  public:
    CycleSteps(RelayCycle& cycle, Box& box, ServerLink& server, RelayState& state,
               PacketBuffer& boxBuffer, PacketBuffer& serverBuffer,
               std::chrono::milliseconds idleBound)
        : cycle_(cycle),
          box_(box),
          server_(server),
          state_(state),
          fromBox_(boxBuffer),
          fromServer_(serverBuffer),
          idleBound_(idleBound) {}

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
        box_.ReadUsb(fromBox_, waits::kBoxDrain);
        box_.PauseUsb(waits::kBoxSettle);
        const int n = box_.ReadUsb(fromBox_, waits::kBoxFirstPacket);
        if (IsFirstPacket(fromBox_, n)) {
            return State::Connecting;
        }
        WriteLog("serlf_check", "发送数据到盒子中进行检测");
        cycle_.SelfCheck();
        box_.DisConnectUsb();
        return End(RelayResult::NoFirstPacket);
    }

    // The fifth and every later failure in a row makes the next call fetch the configuration
    // again, which may name another server.
    State Connect() {
        if (cycle_.ConnectServer() != ConnectResult::Connected) {
            if (state_.connectFailures > 3) {
                state_.configLoaded = false;
            }
            ++state_.connectFailures;
            box_.DisConnectUsb();
            server_.CloseSocket();
            WriteLog("[ConncetServer:]", "解码服务器连接失败");
            WriteLog("解码服务器连接失败");
            return End(RelayResult::ServerUnreachable);
        }
        state_.connectFailures = 0;
        WriteLog("[ConncetServer:]", "连接成功");
        server_.WriteSocket(fromBox_.data(), kFirstPacketLength);
        LogPacket("[USB->TCP 第一包数据]", "send:", fromBox_, kFirstPacketLength);
        return State::AwaitingFirstAnswer;
    }

    // Nothing within the read wait is not a failure: the box gets an empty transfer and the
    // exchange begins. Only the exchange recognises a final packet of 17 bytes.
    State TakeFirstAnswer() {
        const int o = server_.IsOpen() ? server_.ReadSocket(fromServer_, waits::kServerRead)
                                       : ReceiveResult::Failed;
        if (o < 0) {
            box_.DisConnectUsb();
            server_.CloseSocket();
            WriteLog("[ReadSocket:]", "第一包发送到服务器接收失败");
            WriteLog("发哦是那个第一包失败");
            return End(RelayResult::FirstAnswerFailed);
        }
        if (IsFinalPacket(fromServer_) && o > kReadLengthAbove) {
            WriteLog("最后一包=============", "读卡成功");
            LogPacket("[USB->TCP 第一包数据]", "send:", fromServer_, o);
            DeliverFinalPacket(o);
            return End(cycle_.CloseRelay(RelayResult::CardRead));
        }
        box_.WriteUsb(fromServer_.data(), o);
        LogPacket("[TCP-USB 第一包数据]", "WRITEUSB:", fromServer_, o);
        lastDelivery_ = Clock::now();
        return State::Exchanging;
    }

    // One pass: a box read of up to 20 ms, then (mostly) a server read of up to 3 ms.
    State ExchangeOnce() {
        if (Clock::now() - lastDelivery_ >= idleBound_) {
            return LeaveExchange();
        }
        const int n = box_.ReadUsb(fromBox_, waits::kBoxExchange);
        if (n > 0) {
            lastDelivery_ = Clock::now();
            if (IsFirstPacket(fromBox_, n)) {
                PrintRepeatedFirstPacket();
                return State::Exchanging;
            }
            // A send that fails shows later as a missing answer.
            server_.WriteSocket(fromBox_.data(), n);
            LogPacket("[USB->TCP]", "send:", fromBox_, n);
            WriteLog("[发送到服务器的数据长度:]---");
            if (BoxGoesOn(fromBox_)) {
                return State::Exchanging;
            }
        }
        WriteLog("[ReveUsbSize:]");
        if (!server_.IsOpen()) {
            return LeaveExchange();
        }
        const int s = server_.ReadSocket(fromServer_, waits::kServerRead);
        if (s < 0) {
            return LeaveExchange();
        }
        if (s == 0) {
            return State::Exchanging;
        }
        lastDelivery_ = Clock::now();
        WriteLog("[ReveServerSize:]");
        LogPacket("[TCP->USB]", "Rvc:", fromServer_, s);
        if (IsFinalPacket(fromServer_) && s == kNotReadLength) {
            WriteLog("最后一包", "读卡失败");
            return End(cycle_.CloseRelay(RelayResult::CardNotRead));
        }
        if (IsFinalPacket(fromServer_) && s > kReadLengthAbove) {
            WriteLog("最后一包", "读卡成功");
            DeliverFinalPacket(s);
            return End(cycle_.CloseRelay(RelayResult::CardRead));
        }
        box_.WriteUsb(fromServer_.data(), s);
        return State::Exchanging;
    }

    State LeaveExchange() {
        WriteLog("接受服务器数据", "读卡失败");
        WriteLog("接受服务器数据失败");
        return End(cycle_.CloseRelay(RelayResult::ExchangeFailed));
    }

    // A final packet that is not 1301 bytes long is completed by exactly one more receive, cut to
    // what the server buffer can still hold, and goes to the box in one transfer.
    void DeliverFinalPacket(int length) {
        if (length != kCompleteFinalLength) {
            WriteLog("数据包不是1301");
            continuation_.fill(0);
            const int b = server_.IsOpen() ? server_.ReadSocket(continuation_, waits::kServerRead)
                                           : ReceiveResult::Failed;
            LogPacket("[USB->TCP 第一包数据]", "send:", continuation_, b);
            if (b > 0) {
                const int appended = std::min(b, kBufferSize - length);
                std::memcpy(fromServer_.data() + length, continuation_.data(),
                            static_cast<std::size_t>(appended));
                length += appended;
            }
            LogPacket("[USB->TCP 第一包数据]", "send:", fromServer_, length);
        }
        box_.WriteUsb(fromServer_.data(), length);
    }

    RelayCycle& cycle_;
    Box& box_;
    ServerLink& server_;
    RelayState& state_;
    PacketBuffer& fromBox_;
    PacketBuffer& fromServer_;
    PacketBuffer continuation_{};
    const std::chrono::milliseconds idleBound_;
    Clock::time_point lastDelivery_;
    int result_ = RelayResult::NoFirstPacket;
};

}  // namespace

int RelayCycle::Run(PacketBuffer& boxBuffer, PacketBuffer& serverBuffer,
                    std::chrono::milliseconds idleBound) {
    return CycleSteps(*this, box_, server_, state_, boxBuffer, serverBuffer, idleBound).Run();
}

int RelayCycle::ConnectServer() {
    server_.SetServer(static_cast<std::uint16_t>(state_.serverPort), state_.serverHost);
    return server_.Connect();
}

int RelayCycle::CloseRelay(int result) {
    box_.DisConnectUsb();
    server_.CloseSocket();
    return result;
}

void RelayCycle::SelfCheck() {
    box_.PauseUsb(waits::kBoxSettle);
    if (box_.WriteUsb(kCheckCommand.data(), static_cast<int>(kCheckCommand.size())) < 0) {
        WriteLog("self_check 写入数据失败 ");
        box_.ResetUsb();
    }
    PacketBuffer check{};
    const int r = box_.ReadUsb(check, waits::kBoxCheckAnswer);
    if (r > 0) {
        LogPacket("返回检测数据成功", "Rvc:", check, r);
        return;
    }
    // Only an answer counts after the check command; after the restart only a failure does.
    WriteLog("返回检测数据失败 硬件重启 ");
    WriteLog("返回检测数据失败", "硬件重启");
    box_.WriteUsb(kRestartCommand.data(), static_cast<int>(kRestartCommand.size()));
    check.fill(0);
    const int r2 = box_.ReadUsb(check, waits::kBoxCheckAnswer);
    if (r2 < 0) {
        WriteLog("返回检测数据失败", "硬件重启失败");
        WriteLog("返回检测数据失败硬件重启失败");
    }
}
