#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "relay/common/server_link.h"
#include "sim/script/script_text.h"

// A decoding server played in-process as the relay cycle's server link, for tests that need the
// server's data cut exactly: each receive hands out the next scripted result.
class ScriptedServer final : public ServerLink {
  public:
    // One receive: bytes, nothing within the read wait, or a failure (closed connection).
    struct Receive {
        int result = 0;
        sim::Bytes bytes;
    };
    static Receive Data(const sim::Bytes& bytes) { return {static_cast<int>(bytes.size()), bytes}; }
    static Receive Nothing() { return {ReceiveResult::Nothing, {}}; }
    static Receive Failure() { return {ReceiveResult::Failed, {}}; }

    // The next connection's outcome and receives; once they run out, the server has closed.
    void Script(int connectResult, std::vector<Receive> receives);

    void SetServer(std::uint16_t port, const std::string& host) override;
    int Connect() override;
    int ReadSocket(PacketBuffer& destination, std::chrono::milliseconds wait) override;
    int WriteSocket(const unsigned char* data, int length) override;
    void CloseSocket() override;
    bool IsOpen() const override { return open_; }

    // What the relay sent, one entry per send.
    const std::vector<sim::Bytes>& Sent() const { return sent_; }
    // For each receive the relay made, how many sends had gone before it.
    const std::vector<std::size_t>& SendsBeforeEachReceive() const { return sendsBefore_; }

  private:
    int connectResult_ = ConnectResult::NotConnected;
    std::vector<Receive> receives_;
    std::size_t next_ = 0;
    bool open_ = false;
    std::vector<sim::Bytes> sent_;
    std::vector<std::size_t> sendsBefore_;
};
