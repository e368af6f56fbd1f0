// Argument checks and failure numbers of the tool classes, of the client's steps and of a
// response without handles. Nothing here reaches a server: handles are opened, never sent.
#include "relay/http/http_tool.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/program_path.h"
#include "platform/system_error.h"
#include "relay/http/http_client.h"
#include "relay/http/http_response.h"
#include "tests/relay/http/http_test_support.h"

using namespace Osmer;
using http_test::ExpectFailure;
namespace error = platform::error;

namespace {

class HttpToolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        internet_ = InternetHandle::Open(u"agent", platform::internet::Access::Direct, u"", u"", 0)
                        .value_or(nullptr);
        ASSERT_TRUE(internet_);
        connection_ = CHttpToolW::OpenConnection(internet_.get(), u"127.0.0.1", 9);
        request_ = CHttpToolW::OpenRequest(connection_.get(), u"/", 0, 0);
    }

    std::unique_ptr<InternetHandle> internet_;
    std::unique_ptr<ConnectionHandle> connection_;
    std::unique_ptr<RequestHandle> request_;
};

TEST_F(HttpToolTest, EveryArgumentCheckHasItsMessage) {
    const uint8_t byte = 0;
    const CHttpClientT client;
    auto file = platform::ReadOnlyFile::Open(platform::ProgramPath()).value_or(nullptr);
    ASSERT_TRUE(file);
    const std::u16string utf = u": CP_UTF8 and CP_UTF7 can not be used for the CodePage parameter.";
    const struct {
        std::function<void()> call;
        std::u16string message;
    } cases[] = {
        {[] { CHttpToolW::OpenConnection(nullptr, u"h", 80); },
         u"CHttpToolW::OpenConnection: hInternet can not be NULL."},
        {[&] { CHttpToolW::OpenConnection(internet_.get(), nullptr, 80); },
         u"CHttpToolW::OpenConnection: szServerAddr can not be NULL."},
        {[&] { CHttpToolW::OpenConnection(internet_.get(), u"", 80); },
         u"CHttpToolW::OpenConnection: szServerAddr can not be an empty string."},
        {[] { CHttpToolW::OpenRequest(nullptr, u"/", 0, 0); },
         u"CHttpToolW::OpenRequest: hConnection can not be NULL."},
        {[&] { CHttpToolW::OpenRequest(connection_.get(), nullptr, 0, 0); },
         u"CHttpToolW::OpenRequest: szObjectName can not be NULL."},
        {[&] { CHttpToolW::OpenRequest(connection_.get(), u"", 0, 0); },
         u"CHttpToolW::OpenRequest: szObjectName can not be an empty string."},
        {[&] { CHttpToolW::OpenRequest(connection_.get(), u"/", 0, 65001); },
         u"CHttpToolW::OpenRequest" + utf},
        {[] { CHttpToolA::OpenRequest(nullptr, "POST", "/", 0); },
         u"CHttpToolA::OpenRequest: hConnection can not be NULL."},
        {[&] { CHttpToolA::OpenRequest(connection_.get(), "POST", nullptr, 0); },
         u"CHttpToolA::OpenRequest: szObjectName can not be NULL."},
        {[&] { CHttpToolA::OpenRequest(connection_.get(), "POST", "", 0); },
         u"CHttpToolA::OpenRequest: szObjectName can not be an empty string."},
        {[] { CHttpToolW::AddHeader(nullptr, u"n", u"v", 0); },
         u"CHttpToolW::AddHeader: hRequest can not be NULL."},
        {[&] { CHttpToolW::AddHeader(request_.get(), nullptr, u"v", 0); },
         u"CHttpToolW::AddHeader: szName can not be NULL."},
        {[&] { CHttpToolW::AddHeader(request_.get(), u"n", u"v", 65000); },
         u"CHttpToolW::AddHeader" + utf},
        {[] { CHttpToolA::AddHeader(nullptr, "n", "v"); },
         u"CHttpToolA::AddHeader: hRequest can not be NULL."},
        {[&] { CHttpToolA::AddHeader(request_.get(), nullptr, "v"); },
         u"CHttpToolA::AddHeader: szName can not be NULL."},
        {[] { CHttpToolW::SendRequestEx(nullptr, 0); },
         u"CHttpToolW::SendRequestEx: hRequest can not be NULL."},
        {[&] { CHttpToolW::InternetWriteFile(nullptr, &byte, 1); },
         u"CHttpToolW::InternetWriteFile: hRequest can not be NULL."},
        {[&] { CHttpToolW::InternetWriteFile(request_.get(), nullptr, 1); },
         u"CHttpToolW::InternetWriteFile: pbyBuff can not be NULL."},
        {[&] { CHttpToolW::InternetWriteFile(request_.get(), &byte, 0); },
         u"CHttpToolW::InternetWriteFile: cbyBuff can not be zero."},
        {[] { CHttpToolW::EndRequest(nullptr); },
         u"CHttpToolW::EndRequest: hRequest can not be NULL."},
        {[] { CHttpToolW::GetHeader(nullptr, u"n", 0); },
         u"CHttpToolW::GetHeader: hRequest can not be NULL."},
        {[] { CHttpToolW::GetFileSize(nullptr, u"p"); },
         u"CHttpToolW::GetFileSize: hFile can not be NULL."},
        {[&] { CHttpToolW::GetFileSize(file.get(), nullptr); },
         u"CHttpToolW::GetFileSize: szFilePath can not be NULL."},
        {[] { CHttpToolW::Unicode2Ansi(u"x", 65001); }, u"CHttpToolW::Unicode2Ansi" + utf},
        {[&] { client.OpenConnection(nullptr, u"http://h/"); },
         u"CHttpClientT::OpenConnection: hInternet can not be NULL."},
        {[&] { client.ApplyProxyAccount(nullptr); },
         u"CHttpClientT::ApplyProxyAccount: hConnection can not be NULL."},
        {[&] { client.OpenRequest(nullptr, u"http://h/", 0); },
         u"CHttpClientT::OpenRequest: hConnection can not be NULL."},
        {[&] { client.AddRequestHeader(nullptr); },
         u"CHttpClientT::AddRequestHeader: hRequest can not be NULL."},
        {[] { CHttpResponseT(nullptr, nullptr, nullptr).ReadContent(nullptr, 0); },
         u"CHttpResponseT::ReadContent: m_hRequest can not be NULL."},
        {[] { CHttpResponseT(nullptr, nullptr, nullptr).GetHeaderCount(u"n"); },
         u"CHttpResponseT::_LoadHeader: m_hRequest can not be NULL."},
    };
    for (const auto& c : cases) {
        ExpectFailure(c.call, 0, c.message);
    }
}

TEST_F(HttpToolTest, PlatformFailuresCarryTheirNumberAndTheLastError) {
    const uint8_t byte = 0;
    ExpectFailure([&] { CHttpToolW::OpenConnection(internet_.get(), u"a b", 80); }, 403,
                  u"::InternetConnect failed.", error::kInternetInvalidUrl);
    ExpectFailure([&] { CHttpToolA::AddHeader(request_.get(), "Bad Name", "v"); }, 405,
                  u"::HttpAddRequestHeaders failed.", error::kInvalidParameter);
    ExpectFailure([&] { CHttpToolW::AddHeader(request_.get(), u"X-A", u"1\r\nX-B: 2", 0); }, 405,
                  u"::HttpAddRequestHeaders failed.", error::kInvalidParameter);
    // The request was never sent: every later step is out of order.
    ExpectFailure([&] { CHttpToolW::InternetWriteFile(request_.get(), &byte, 1); }, 408,
                  u"::InternetWriteFile failed.", error::kInternetIncorrectHandleState);
    ExpectFailure([&] { CHttpToolW::EndRequest(request_.get()); }, 409, u"::HttpEndRequest failed.",
                  error::kInternetIncorrectHandleState);
    ExpectFailure([&] { CHttpToolW::GetHeader(request_.get(), u"Content-Type", 0); }, 400,
                  u"::HttpQueryInfo failed.", error::kInternetIncorrectHandleState);
    ExpectFailure([&] { CHttpToolA::OpenRequest(connection_.get(), "bad verb", "/", 0); }, 404,
                  u"::HttpOpenRequest failed.", error::kInvalidParameter);
}

}  // namespace
