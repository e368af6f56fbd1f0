#include "webservice/web/request_body.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Progress = RequestBody::Progress;

struct Outcome {
    Progress progress;
    std::size_t used;  // bytes taken in all
};

// Feeds data in pieces of `piece` bytes, each after the last, as reads from a socket would come.
Outcome Feed(RequestBody body, const std::string& data, std::size_t piece) {
    std::size_t at = 0;
    for (;;) {
        std::size_t used = 0;
        const std::size_t size = std::min(piece, data.size() - at);
        const Progress progress = body.Take(std::string_view(data).substr(at, size), used);
        at += used;
        if (progress != Progress::More || at == data.size()) {
            return {progress, at};
        }
        EXPECT_EQ(used, size) << "a body that goes on takes every byte it is given";
    }
}

std::string Repeat(char c, std::size_t count) {
    return std::string(count, c);
}

// A chunk size line of exactly `length` bytes with its CR LF: size 1, then an extension.
std::string SizeLineOf(std::size_t length) {
    return "1;" + Repeat('e', length - 4) + "\r\n";
}

constexpr std::size_t kLimit = RequestBody::kLimit;

TEST(RequestBodyTest, ChunksEndAtTheLastChunkAndItsTrailerLeavingTheNextRequest) {
    struct Case {
        const char* name;
        std::string body;
    };
    const std::string mib = Repeat('x', kLimit);
    const Case cases[] = {
        {"one chunk", "5\r\nhello\r\n0\r\n\r\n"},
        {"hex digits of either case, leading zeros",
         "0A\r\n0123456789\r\nb\r\nhello world\r\n"
         "000\r\n\r\n"},
        {"extensions and blanks", "5 ;a=1;b=\"x y\"\r\nhello\r\n0\t;last\r\n\r\n"},
        {"line feeds alone", "5\nhello\n0\n\n"},
        {"trailer fields", "5\r\nhello\r\n0\r\nX-Check: 1\r\nX-Other: 2\n\r\n"},
        {"a size line at its bound", SizeLineOf(RequestBody::kChunkLineLimit) + "a\r\n0\r\n\r\n"},
        {"a trailer at its bound",
         "0\r\nX: " + Repeat('t', RequestBody::kTrailerLimit - 7) + "\r\n\r\n"},
        {"chunks of the body's limit in all", "80000\r\n" + mib.substr(0, kLimit / 2) + "\r\n" +
                                                  "80000\r\n" + mib.substr(0, kLimit / 2) +
                                                  "\r\n0\r\n\r\n"},
    };
    for (const Case& c : cases) {
        for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, c.body.size() + 4}) {
            const Outcome outcome = Feed(RequestBody::InChunks(), c.body + "GET ", piece);
            EXPECT_EQ(outcome.progress, Progress::Done) << c.name << ", pieces of " << piece;
            EXPECT_EQ(outcome.used, c.body.size()) << c.name << ", pieces of " << piece;
        }
    }
}

TEST(RequestBodyTest, MalformedChunksAndLinesOverTheirBoundsAreRefused) {
    struct Case {
        const char* name;
        std::string body;
    };
    const Case cases[] = {
        {"no size", "\r\nhello\r\n"},
        {"a size that is no number", "x5\r\nhello\r\n"},
        {"a sign", "+5\r\nhello\r\n"},
        {"a blank inside the size", "5 5\r\n"},
        {"a CR alone after the size", "5\rhello\r\n"},
        {"data longer than its size", "5\r\nhello!\r\n0\r\n\r\n"},
        {"a CR alone after the data", "5\r\nhello\r0\r\n\r\n"},
        {"a CR alone in the trailer", "0\r\nX: 1\r\r\n\r\n"},
        {"a chunk over the body's limit", "100001\r\n"},
        {"a size no number can hold", "10000000000000000000000\r\n"},
        {"chunks over the body's limit in all",
         "80000\r\n" + Repeat('x', kLimit / 2) + "\r\n80001\r\n"},
        {"a size line over its bound", SizeLineOf(RequestBody::kChunkLineLimit + 1)},
        {"an extension that never ends", "1;" + Repeat('e', 100000)},
        {"a trailer over its bound",
         "0\r\nX: " + Repeat('t', RequestBody::kTrailerLimit - 6) + "\r\n\r\n"},
        {"trailer lines that never end", "0\r\n" + Repeat('t', 100000)},
        {"trailer fields without end",
         [] {
             std::string many = "0\r\n";
             while (many.size() < 100000) {
                 many += "X: 1\r\n";
             }
             return many;
         }()},
    };
    for (const Case& c : cases) {
        for (const std::size_t piece : {std::size_t{1}, c.body.size()}) {
            EXPECT_EQ(Feed(RequestBody::InChunks(), c.body, piece).progress, Progress::Refused)
                << c.name << ", pieces of " << piece;
        }
    }
}

TEST(RequestBodyTest, ABodyOfKnownLengthTakesThatManyBytes) {
    for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{100}}) {
        const Outcome outcome = Feed(RequestBody::OfLength(5), "hello0\r\n\r\nGET ", piece);
        EXPECT_EQ(outcome.progress, Progress::Done) << piece;
        EXPECT_EQ(outcome.used, 5u) << piece;
    }
    RequestBody none = RequestBody::OfLength(0);
    EXPECT_TRUE(none.Ended());
    std::size_t used = 1;
    EXPECT_EQ(none.Take("GET ", used), Progress::Done);
    EXPECT_EQ(used, 0u);

    RequestBody waiting = RequestBody::OfLength(10);
    EXPECT_FALSE(waiting.Ended());
    EXPECT_EQ(waiting.Take("hello", used), Progress::More);
    EXPECT_EQ(used, 5u);
    EXPECT_FALSE(RequestBody::InChunks().Ended());
}

}  // namespace
