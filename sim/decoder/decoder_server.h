#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "sim/decoder/decoder_script.h"

namespace decoder {

// One connection a client made, and what became of it.
struct Session {
    // The dialogue it played, as in dialogue 2 of 3 "name"; empty when the script has no
    // 'dialogue' lines.
    std::string dialogue;
    sim::Bytes received;  // every byte the client sent, in order
    sim::Bytes lastSent;  // the last packet the script sent on it
    bool ended = false;   // the connection is closed
    std::string outcome;  // once ended: "client closed", "script closed", "stopped",
                          // or "mismatch: ..."
};

// A decoding server on 127.0.0.1 that plays a script on each connection (the next of its dialogues
// when it has several), one at a time, on a thread of its own. Port 0 takes a free port. Stops when
// the object goes.
class DecoderServer {
  public:
    using SessionEnded = std::function<void(std::size_t index, const Session& session)>;

    explicit DecoderServer(DecoderScript script, std::uint16_t port = 0,
                           SessionEnded onSessionEnded = nullptr);
    ~DecoderServer();
    DecoderServer(const DecoderServer&) = delete;
    DecoderServer& operator=(const DecoderServer&) = delete;

    // Whether the port is held (and, unless the script refuses or drops, served); if not, why.
    bool Ready() const { return error_.empty(); }
    const std::string& Error() const { return error_; }
    std::uint16_t Port() const { return port_; }

    std::vector<Session> Sessions() const;
    // Waits until count sessions have ended, at most timeout; whether they have.
    bool WaitForEndedSessions(std::size_t count, std::chrono::milliseconds timeout) const;

  private:
    void FillQueue();
    void Serve();
    std::string Play(const platform::Socket& client, std::size_t index, const Dialogue& dialogue);
    bool Receive(const platform::Socket& client, std::size_t index, sim::Bytes& pending);
    bool Pause(std::chrono::milliseconds duration) const;
    void End(std::size_t index, std::string outcome);

    const DecoderScript script_;
    const SessionEnded onSessionEnded_;
    platform::SocketLibrary library_;
    platform::Socket listener_;
    platform::Socket queueFiller_;  // keeps the listener's queue full when the script drops
    std::uint16_t port_ = 0;
    std::string error_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Session> sessions_;
    std::thread thread_;
};

}  // namespace decoder
