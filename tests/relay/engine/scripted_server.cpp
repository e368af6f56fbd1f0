#include "tests/relay/engine/scripted_server.h"

#include <algorithm>
#include <cstring>

void ScriptedServer::Script(int connectResult, std::vector<Receive> receives) {
    connectResult_ = connectResult;
    receives_ = std::move(receives);
    next_ = 0;
    open_ = false;
    sent_.clear();
    sendsBefore_.clear();
}

void ScriptedServer::SetServer(std::uint16_t /*port*/, const std::string& /*host*/) {}

int ScriptedServer::Connect() {
    open_ = connectResult_ == ConnectResult::Connected;
    return connectResult_;
}

int ScriptedServer::ReadSocket(PacketBuffer& destination, std::chrono::milliseconds /*wait*/) {
    if (!open_) {
        return ReceiveResult::Nothing;
    }
    sendsBefore_.push_back(sent_.size());
    const Receive receive = next_ < receives_.size() ? receives_[next_++] : Failure();
    if (receive.result > 0) {
        const std::size_t count = std::min(receive.bytes.size(), destination.size());
        std::memcpy(destination.data(), receive.bytes.data(), count);
        return static_cast<int>(count);
    }
    return receive.result;
}

int ScriptedServer::WriteSocket(const unsigned char* data, int length) {
    if (!open_ || length < 0) {
        return -1;
    }
    sent_.emplace_back(data, data + length);
    return length;
}

void ScriptedServer::CloseSocket() {
    open_ = false;
}
