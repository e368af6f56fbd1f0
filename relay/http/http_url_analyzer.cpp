#include "relay/http/http_url_analyzer.h"

#include "platform/code_page.h"
#include "relay/http/http_error.h"

namespace Osmer {

void CHttpUrlAnalyzerT::Analyze(std::u16string_view url, unsigned codePage) {
    if (codePage == platform::codepage::kUtf8 || codePage == platform::codepage::kUtf7) {
        ThrowArgumentError(
            "CHttpUrlAnalyzerT::Analyze: CP_UTF8 and CP_UTF7 can not be used for the CodePage "
            "parameter.");
    }
    const size_t schemeEnd = url.find(u"://");
    schemeLength_ = schemeEnd == std::u16string_view::npos ? 0 : schemeEnd;
    const size_t authority = schemeEnd == std::u16string_view::npos ? 0 : schemeEnd + 3;
    size_t authorityEnd = url.find_first_of(u"/?#", authority);
    authorityEnd = authorityEnd == std::u16string_view::npos ? url.size() : authorityEnd;

    // The host ends at the port's ":"; a bracketed IPv6 address holds colons of its own.
    size_t hostEnd = authority;
    if (authority < authorityEnd && url[authority] == u'[') {
        const size_t bracket = url.find(u']', authority);
        hostEnd = bracket == std::u16string_view::npos || bracket >= authorityEnd ? authorityEnd
                                                                                  : bracket + 1;
    }
    const size_t colon = url.find(u':', hostEnd);
    hostEnd = colon == std::u16string_view::npos || colon >= authorityEnd ? authorityEnd : colon;
    hostOffset_ = authority;
    hostLength_ = hostEnd - authority;
    portOffset_ = hostEnd < authorityEnd ? hostEnd + 1 : authorityEnd;
    portLength_ = authorityEnd - portOffset_;

    const size_t rest = url.size();
    size_t pathEnd = url.find_first_of(u"?#", authorityEnd);
    pathEnd = pathEnd == std::u16string_view::npos ? rest : pathEnd;
    pathOffset_ = authorityEnd;
    pathLength_ = pathEnd - authorityEnd;
    size_t queryEnd = pathEnd < rest && url[pathEnd] == u'?' ? url.find(u'#', pathEnd) : pathEnd;
    queryEnd = queryEnd == std::u16string_view::npos ? rest : queryEnd;
    queryOffset_ = pathEnd;
    queryLength_ = queryEnd - pathEnd;
    fragmentOffset_ = queryEnd;
    fragmentLength_ = rest - queryEnd;
}

}  // namespace Osmer
