#pragma once

#include <cstddef>
#include <string_view>

namespace Osmer {

// Where the parts of a URL lie, in characters from its start. A part that is absent has length
// 0 and the offset where it would begin. The query includes its "?", the fragment its "#".
class CHttpUrlAnalyzerT {
  public:
    // Analyzes `url`. The code page must not be UTF-8 or UTF-7, as everywhere in the client.
    void Analyze(std::u16string_view url, unsigned codePage);

    size_t SchemeLength() const { return schemeLength_; }  // before "://"; 0 without "://"
    size_t HostOffset() const { return hostOffset_; }
    size_t HostLength() const { return hostLength_; }
    size_t PortOffset() const { return portOffset_; }  // after the ":" in the authority
    size_t PortLength() const { return portLength_; }
    size_t PathOffset() const { return pathOffset_; }
    size_t PathLength() const { return pathLength_; }
    size_t QueryOffset() const { return queryOffset_; }
    size_t QueryLength() const { return queryLength_; }
    size_t FragmentOffset() const { return fragmentOffset_; }
    size_t FragmentLength() const { return fragmentLength_; }

  private:
    size_t schemeLength_ = 0;
    size_t hostOffset_ = 0;
    size_t hostLength_ = 0;
    size_t portOffset_ = 0;
    size_t portLength_ = 0;
    size_t pathOffset_ = 0;
    size_t pathLength_ = 0;
    size_t queryOffset_ = 0;
    size_t queryLength_ = 0;
    size_t fragmentOffset_ = 0;
    size_t fragmentLength_ = 0;
};

}  // namespace Osmer
