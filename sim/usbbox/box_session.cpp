#include "sim/usbbox/box_session.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace usbbox {

BoxSession::BoxSession(std::vector<Rule> rules, std::vector<Step> dialogue)
    : rules_(std::move(rules)), dialogue_(std::move(dialogue)) {
    Settle();
}

int BoxSession::Read(unsigned char* buffer, int size, std::chrono::milliseconds timeout) {
    if (unplugged_) {
        return kNoDevice;
    }
    if (!replies_.empty()) {
        const sim::Bytes reply = std::move(replies_.front());
        replies_.pop_front();
        return Deliver(reply, buffer, size);
    }
    timeout = std::max(timeout, std::chrono::milliseconds(0));
    while (!DialogueDone()) {
        const Step& step = dialogue_[next_];
        switch (step.kind) {
            case Step::Kind::Deliver: {
                const int result = Deliver(step.packet, buffer, size);
                Advance();
                return result;
            }
            case Step::Kind::ReadError: {
                const int code = static_cast<int>(step.number);
                Advance();
                return code;
            }
            case Step::Kind::Idle:
                std::this_thread::sleep_for(timeout);
                if (--idleReadsLeft_ == 0) {
                    Advance();
                }
                return kTimedOut;
            case Step::Kind::Wait: {
                const auto now = std::chrono::steady_clock::now();
                if (waitEnd_ - now > timeout) {
                    std::this_thread::sleep_for(timeout);
                    return kTimedOut;
                }
                // The wait ends within this read: the read goes on with the next step.
                std::this_thread::sleep_until(waitEnd_);
                timeout -= std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::max(waitEnd_ - now, std::chrono::steady_clock::duration::zero()));
                Advance();
                if (unplugged_) {
                    return kNoDevice;
                }
                break;
            }
            default:  // waiting for the host to write
                std::this_thread::sleep_for(timeout);
                return kTimedOut;
        }
    }
    std::this_thread::sleep_for(timeout);
    return kTimedOut;
}

int BoxSession::Write(const unsigned char* bytes, int size) {
    if (unplugged_) {
        return kNoDevice;
    }
    if (!DialogueDone() && dialogue_[next_].kind == Step::Kind::WriteError) {
        const int code = static_cast<int>(dialogue_[next_].number);
        Advance();
        return code;
    }
    const auto count = static_cast<std::size_t>(size);
    for (const Rule& rule : rules_) {
        if (rule.command.Matches(bytes, count)) {
            replies_.push_back(rule.reply);
        }
    }
    if (!DialogueDone() && dialogue_[next_].kind == Step::Kind::Expect &&
        dialogue_[next_].pattern->Matches(bytes, count)) {
        Advance();
    }
    transfers_.push_back(Transfer{true, sim::Bytes(bytes, bytes + count)});
    return size;
}

int BoxSession::Deliver(const sim::Bytes& packet, unsigned char* buffer, int size) {
    if (packet.size() > static_cast<std::size_t>(std::max(size, 0))) {
        return kOverflow;
    }
    if (!packet.empty()) {
        std::memcpy(buffer, packet.data(), packet.size());
    }
    transfers_.push_back(Transfer{false, packet});
    return static_cast<int>(packet.size());
}

void BoxSession::Advance() {
    ++next_;
    Settle();
}

// Starts the step the box has come to: an unplug happens at once, an idle count or a wait
// starts now.
void BoxSession::Settle() {
    while (!DialogueDone()) {
        const Step& step = dialogue_[next_];
        if (step.kind == Step::Kind::Unplug) {
            unplugged_ = true;
            ++next_;
            continue;
        }
        if (step.kind == Step::Kind::Idle) {
            idleReadsLeft_ = step.number;
        } else if (step.kind == Step::Kind::Wait) {
            waitEnd_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(step.number);
        }
        return;
    }
}

}  // namespace usbbox
