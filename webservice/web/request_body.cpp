#include "webservice/web/request_body.h"

#include <algorithm>

#include "platform/ascii.h"

RequestBody RequestBody::OfLength(std::uint64_t length) {
    return RequestBody(length == 0 ? State::Done : State::Data, length, false);
}

RequestBody RequestBody::InChunks() {
    return RequestBody(State::SizeStart, 0, true);
}

RequestBody::Progress RequestBody::Take(std::string_view data, std::size_t& used) {
    used = 0;
    while (used < data.size() && state_ != State::Done) {
        if (state_ == State::Data) {
            const std::uint64_t taken = std::min<std::uint64_t>(remaining_, data.size() - used);
            used += static_cast<std::size_t>(taken);
            remaining_ -= taken;
            if (remaining_ == 0) {
                state_ = chunked_ ? State::DataEnd : State::Done;
            }
            continue;
        }
        if (!Step(data[used++])) {
            return Progress::Refused;
        }
    }
    return state_ == State::Done ? Progress::Done : Progress::More;
}

bool RequestBody::Step(char byte) {
    const bool sizeLine = state_ == State::SizeStart || state_ == State::SizeDigits ||
                          state_ == State::SizeBlank || state_ == State::Extension ||
                          state_ == State::SizeCr;
    if (sizeLine && ++lineLength_ > kChunkLineLimit) {
        return false;
    }
    if ((state_ == State::Trailer || state_ == State::TrailerCr) &&
        ++trailerLength_ > kTrailerLimit) {
        return false;
    }
    const int digit = platform::ascii::HexDigitValue(byte);
    switch (state_) {
        case State::SizeStart:
            if (digit < 0) {
                return false;
            }
            size_ = static_cast<std::uint64_t>(digit);
            state_ = State::SizeDigits;
            return true;
        case State::SizeDigits:
            if (digit >= 0) {
                // Leading zeros aside, a size past the body's limit has no use going on.
                size_ = size_ * 16 + static_cast<std::uint64_t>(digit);
                return size_ <= kLimit;
            }
            [[fallthrough]];
        case State::SizeBlank:
            if (byte == ' ' || byte == '\t') {
                state_ = State::SizeBlank;
                return true;
            }
            if (byte == ';') {
                state_ = State::Extension;
                return true;
            }
            [[fallthrough]];
        case State::Extension:
            if (byte == '\r') {
                state_ = State::SizeCr;
                return true;
            }
            if (byte == '\n') {
                return EndSizeLine();
            }
            return state_ == State::Extension;
        case State::SizeCr:
            return byte == '\n' && EndSizeLine();
        case State::DataEnd:
            if (byte == '\r') {
                state_ = State::DataCr;
                return true;
            }
            [[fallthrough]];
        case State::DataCr:
            if (byte != '\n') {
                return false;
            }
            state_ = State::SizeStart;
            lineLength_ = 0;
            return true;
        case State::Trailer:
            if (byte == '\r') {
                state_ = State::TrailerCr;
                return true;
            }
            if (byte == '\n') {
                return TrailerLineEnd();
            }
            ++lineLength_;
            return true;
        case State::TrailerCr:
            return byte == '\n' && TrailerLineEnd();
        case State::Data:
        case State::Done:
            break;
    }
    return false;
}

bool RequestBody::EndSizeLine() {
    total_ += size_;
    if (total_ > kLimit) {
        return false;
    }
    lineLength_ = 0;
    if (size_ == 0) {
        state_ = State::Trailer;
        return true;
    }
    remaining_ = size_;
    state_ = State::Data;
    return true;
}

bool RequestBody::TrailerLineEnd() {
    state_ = lineLength_ == 0 ? State::Done : State::Trailer;
    lineLength_ = 0;
    return true;
}
