#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// A request body on its way in. No route uses one, so its bytes are counted and dropped as they
// arrive, never held: whatever a client sends, a connection holds no more than one read of it.
// The body is framed by its length or by chunks; the chunk lines and the trailer section have
// bounds of their own, so that a line that never ends cannot grow either.
class RequestBody {
  public:
    // A body larger than this, in all its chunks, ends the connection.
    static constexpr std::uint64_t kLimit = 1024 * 1024;
    // A chunk's size line, with its extensions and its line end, holds at most this many bytes.
    static constexpr std::size_t kChunkLineLimit = 4096;
    // The trailer section after the last chunk, with the empty line that ends it.
    static constexpr std::size_t kTrailerLimit = 4096;

    enum class Progress {
        More,     // the body goes on beyond the bytes taken
        Done,     // the body has ended; what follows belongs to the next request
        Refused,  // malformed, or over one of the bounds: the connection ends unanswered
    };

    // A body of `length` bytes; no body at all when it is 0.
    static RequestBody OfLength(std::uint64_t length);
    // A body in chunks (Transfer-Encoding: chunked).
    static RequestBody InChunks();

    // Takes the bytes at the front of data that belong to the body; `used` tells how many.
    Progress Take(std::string_view data, std::size_t& used);

    // True once the whole body has gone by, at once for a request without one.
    bool Ended() const { return state_ == State::Done; }

  private:
    enum class State {
        SizeStart,   // the first hex digit of a chunk's size
        SizeDigits,  // further digits
        SizeBlank,   // blanks after the size
        Extension,   // a chunk extension, up to the line end
        SizeCr,      // a CR that must end the size line
        Data,        // chunk data, or the whole body when framed by its length
        DataEnd,     // the line end after a chunk's data
        DataCr,      // the LF of that line end
        Trailer,     // trailer lines, up to an empty one
        TrailerCr,   // a CR that must end a trailer line
        Done,
    };

    RequestBody(State state, std::uint64_t remaining, bool chunked)
        : state_(state), remaining_(remaining), chunked_(chunked) {}

    // One byte of a chunk line or a trailer line; false when it breaks the framing or a bound.
    bool Step(char byte);
    bool EndSizeLine();
    bool TrailerLineEnd();

    State state_;
    std::uint64_t remaining_;  // of the current chunk, or of a body framed by its length
    bool chunked_;
    std::uint64_t size_ = 0;   // of the chunk whose size line is being read
    std::uint64_t total_ = 0;  // of every chunk so far
    std::size_t lineLength_ = 0;
    std::size_t trailerLength_ = 0;
};
