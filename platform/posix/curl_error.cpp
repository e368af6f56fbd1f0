#include "platform/posix/curl_error.h"

#include "platform/system_error.h"

namespace platform::internet {

uint32_t FromCurl(CURLcode code) {
    switch (code) {
        case CURLE_OK:
            return error::kNone;
        case CURLE_UNSUPPORTED_PROTOCOL:
            return error::kInternetUnrecognizedScheme;
        case CURLE_URL_MALFORMAT:
            return error::kInternetInvalidUrl;
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
            return error::kInternetNameNotResolved;
        case CURLE_COULDNT_CONNECT:
            return error::kInternetCannotConnect;
        case CURLE_OPERATION_TIMEDOUT:
            return error::kInternetTimeout;
        case CURLE_OUT_OF_MEMORY:
            return error::kNotEnoughMemory;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
            return error::kInternetInvalidCa;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_USE_SSL_FAILED:
            return error::kInternetSecurityChannelError;
        case CURLE_TOO_MANY_REDIRECTS:
        case CURLE_SEND_FAIL_REWIND:
            return error::kHttpRedirectFailed;
        case CURLE_GOT_NOTHING:
        case CURLE_WEIRD_SERVER_REPLY:
            return error::kHttpInvalidServerResponse;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
            return error::kInternetConnectionReset;
        case CURLE_PARTIAL_FILE:
            return error::kInternetConnectionAborted;
        default:
            return error::kInternetInternalError;
    }
}

}  // namespace platform::internet
