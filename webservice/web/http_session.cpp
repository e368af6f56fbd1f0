#include "webservice/web/http_session.h"

#include "webservice/web/basic_http_session.h"

std::shared_ptr<HttpSession> StartHttpSession(boost::asio::ip::tcp::socket socket,
                                              std::shared_ptr<const SessionRules> rules) {
    auto session = std::make_shared<web_session::BasicHttpSession<boost::asio::ip::tcp::socket>>(
        std::move(socket), std::move(rules));
    session->Start();
    return session;
}
