#pragma once

#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/socket_base.hpp>
#include <boost/beast/core/bind_handler.hpp>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_check.h"

// One connection's bytes in memory, in the place of a TCP socket: reads hand out the client's
// bytes in the pieces given and then the end of the stream; writes take at most a set number of
// bytes at a time and collect the server's output. Both complete through the io_context, as a
// socket's operations do.
class MemoryStream {
  public:
    using executor_type = boost::asio::io_context::executor_type;

    // What the fuzzer looks at once the connection has ended.
    struct State {
        std::vector<std::string> pieces;
        std::size_t next = 0;
        std::size_t nextOffset = 0;
        std::size_t writeLimit = 1;
        std::string output;
        bool sendShut = false;
        bool closed = false;
    };

    MemoryStream(executor_type executor, std::shared_ptr<State> state)
        : executor_(executor), state_(std::move(state)) {}

    executor_type get_executor() { return executor_; }

    template <class MutableBuffers, class Handler>
    void async_read_some(const MutableBuffers& buffers, Handler&& handler) {
        boost::system::error_code error;
        std::size_t read = 0;
        State& s = *state_;
        if (s.closed) {
            error = boost::asio::error::bad_descriptor;
        } else if (s.next == s.pieces.size()) {
            error = boost::asio::error::eof;
        } else {
            const std::string& piece = s.pieces[s.next];
            read = boost::asio::buffer_copy(buffers, boost::asio::buffer(piece) + s.nextOffset);
            s.nextOffset += read;
            if (s.nextOffset == piece.size()) {
                ++s.next;
                s.nextOffset = 0;
            }
        }
        Complete(std::forward<Handler>(handler), error, read);
    }

    template <class ConstBuffers, class Handler>
    void async_write_some(const ConstBuffers& buffers, Handler&& handler) {
        State& s = *state_;
        FuzzCheck(!s.sendShut, "nothing is written after the end of sending");
        boost::system::error_code error;
        std::size_t wrote = 0;
        if (s.closed) {
            error = boost::asio::error::bad_descriptor;
        } else {
            const std::size_t size = boost::asio::buffer_size(buffers);
            std::string bytes(std::min(size, s.writeLimit), '\0');
            wrote = boost::asio::buffer_copy(boost::asio::buffer(bytes), buffers);
            s.output += bytes;
        }
        Complete(std::forward<Handler>(handler), error, wrote);
    }

    void shutdown(boost::asio::socket_base::shutdown_type what, boost::system::error_code& error) {
        error = {};
        if (what != boost::asio::socket_base::shutdown_receive) {
            state_->sendShut = true;
        }
    }

    void close(boost::system::error_code& error) {
        error = {};
        state_->closed = true;
    }

  private:
    template <class Handler>
    void Complete(Handler&& handler, boost::system::error_code error, std::size_t bytes) {
        boost::asio::post(executor_, boost::beast::bind_front_handler(
                                         std::forward<Handler>(handler), error, bytes));
    }

    executor_type executor_;
    std::shared_ptr<State> state_;
};
