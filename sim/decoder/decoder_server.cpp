#include "sim/decoder/decoder_server.h"

#include <cstring>

#include "platform/hex_text.h"

namespace decoder {
namespace {

// How often the server thread looks at its stop flag while it waits.
constexpr std::chrono::milliseconds kPollSlice{20};

std::string Describe(const std::string& what, uint32_t error) {
    return what + ": " + std::strerror(static_cast<int>(error));
}

}  // namespace

DecoderServer::DecoderServer(DecoderScript script, std::uint16_t port, SessionEnded onSessionEnded)
    : script_(std::move(script)), onSessionEnded_(std::move(onSessionEnded)) {
    platform::Result<platform::Socket> listener = platform::OpenTcpSocket();
    if (!listener) {
        error_ = Describe("socket", listener.Error());
        return;
    }
    listener_ = std::move(*listener);
    const platform::Result<std::uint16_t> bound =
        platform::BindToLoopback(listener_.Native(), port);
    if (!bound) {
        error_ = Describe("port " + std::to_string(port), bound.Error());
        listener_.Close();
        return;
    }
    port_ = *bound;
    // A bound socket that does not listen answers every connection attempt with a refusal.
    if (script_.refuse) {
        return;
    }
    if (const uint32_t failure = platform::Listen(listener_.Native(), script_.drop ? 0 : 8)) {
        error_ = Describe("listen", failure);
        listener_.Close();
        return;
    }
    if (script_.drop) {
        FillQueue();
        return;
    }
    thread_ = std::thread([this] { Serve(); });
}

// A listener with a queue of no length takes one connection that nobody accepts; from then on
// the system drops every further connection request unanswered, and a client's connect waits
// until it gives up.
void DecoderServer::FillQueue() {
    platform::Result<platform::Socket> filler = platform::OpenTcpSocket();
    const uint32_t failure =
        filler ? platform::SetBlocking(filler->Native(), false) : filler.Error();
    if (failure != platform::error::kNone) {
        error_ = Describe("queue filler", failure);
        listener_.Close();
        return;
    }
    platform::StartConnect(filler->Native(), {127, 0, 0, 1}, port_);
    if (!platform::WaitForSocket(filler->Native(), platform::SocketReadiness::Writable,
                                 std::chrono::seconds(10))
             .value_or(false)) {
        error_ = "the queue filler's connection did not complete";
        listener_.Close();
        return;
    }
    queueFiller_ = std::move(*filler);
}

DecoderServer::~DecoderServer() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::vector<Session> DecoderServer::Sessions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sessions_;
}

bool DecoderServer::WaitForEndedSessions(std::size_t count,
                                         std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        std::size_t ended = 0;
        for (const Session& session : sessions_) {
            ended += session.ended ? 1 : 0;
        }
        return ended >= count;
    });
}

void DecoderServer::Serve() {
    while (!stop_) {
        if (!platform::WaitForSocket(listener_.Native(), platform::SocketReadiness::Readable,
                                     kPollSlice)
                 .value_or(false)) {
            continue;
        }
        platform::Result<platform::Socket> accepted =
            platform::AcceptConnection(listener_.Native());
        if (!accepted) {
            continue;
        }
        platform::Socket client = std::move(*accepted);
        std::size_t index = 0;
        Dialogue dialogue;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            index = sessions_.size();
            dialogue = script_.DialogueOf(index);
            sessions_.emplace_back();
            sessions_.back().dialogue = script_.LabelOf(index);
        }
        changed_.notify_all();
        std::string outcome = Play(client, index, dialogue);
        client.Close();
        End(index, std::move(outcome));
    }
}

std::string DecoderServer::Play(const platform::Socket& client, std::size_t index,
                                const Dialogue& dialogue) {
    sim::Bytes pending;  // arrived, not yet matched by an expect
    for (std::size_t at = dialogue.begin; at < dialogue.end; ++at) {
        const Step& step = script_.steps[at];
        switch (step.kind) {
            case Step::Kind::Expect:
                while (pending.size() < step.pattern->size()) {
                    if (!Receive(client, index, pending)) {
                        return stop_ ? "stopped" : "client closed";
                    }
                }
                if (!step.pattern->Matches(pending.data(), step.pattern->size())) {
                    return "mismatch: got " +
                           platform::HexBytes(pending.data(), step.pattern->size());
                }
                pending.erase(pending.begin(), pending.begin() + step.pattern->size());
                break;
            case Step::Kind::Send:
                for (std::size_t sent = 0; sent < step.packet.size();) {
                    const int result =
                        platform::SendBytes(client.Native(), step.packet.data() + sent,
                                            static_cast<int>(step.packet.size() - sent))
                            .value_or(0);
                    if (result <= 0) {
                        return "client closed";
                    }
                    sent += static_cast<std::size_t>(result);
                }
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    sessions_[index].lastSent = step.packet;
                }
                break;
            case Step::Kind::Delay:
                if (!Pause(std::chrono::milliseconds(step.milliseconds))) {
                    return "stopped";
                }
                break;
            case Step::Kind::Close:
                return "script closed";
        }
    }
    while (Receive(client, index, pending)) {
        pending.clear();
    }
    return stop_ ? "stopped" : "client closed";
}

// Takes what the client sent next; false when it closed the connection or the server stops.
bool DecoderServer::Receive(const platform::Socket& client, std::size_t index,
                            sim::Bytes& pending) {
    while (!stop_) {
        const platform::Result<bool> ready = platform::WaitForSocket(
            client.Native(), platform::SocketReadiness::Readable, kPollSlice);
        if (!ready) {
            return false;
        }
        if (!*ready) {
            continue;
        }
        unsigned char chunk[4096];
        const int count = platform::ReceiveBytes(client.Native(), chunk, sizeof chunk).value_or(0);
        if (count <= 0) {
            return false;
        }
        pending.insert(pending.end(), chunk, chunk + count);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            sessions_[index].received.insert(sessions_[index].received.end(), chunk, chunk + count);
        }
        changed_.notify_all();
        return true;
    }
    return false;
}

bool DecoderServer::Pause(std::chrono::milliseconds duration) const {
    const auto end = std::chrono::steady_clock::now() + duration;
    while (!stop_) {
        const auto left = end - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) {
            return true;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(left, kPollSlice));
    }
    return false;
}

void DecoderServer::End(std::size_t index, std::string outcome) {
    Session copy;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sessions_[index].ended = true;
        sessions_[index].outcome = std::move(outcome);
        copy = sessions_[index];
    }
    changed_.notify_all();
    if (onSessionEnded_) {
        onSessionEnded_(index, copy);
    }
}

}  // namespace decoder
