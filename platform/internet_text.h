#pragma once

#include <string>
#include <string_view>
#include <vector>

// Texts of a request of the Internet layer as they go on the wire, made the same way on every
// system: the host, the request target and the header lines a caller adds.
namespace platform::internet {

// The host as it stands in a URL and in the Host header (UTF-8, an IPv6 address in brackets), or
// empty when it is not a host name or address: nothing in it may change the meaning of the URL
// or of the header it is put into.
std::string UrlHost(std::u16string_view host);

// The request target of an object name: a leading '/', the fragment left out (it is the
// client's, never the server's), and every byte that may not stand in a request line
// percent-encoded.
std::string RequestTarget(std::string_view objectName);

// Whether `line`, without its closing CR LF, is one header line "Name: value": a name without
// blanks, a colon, and no line break or zero byte anywhere.
bool IsOneHeaderLine(std::string_view line);

// The Accept header line of the types a request accepts, without its closing CR LF: "Accept:"
// and the types separated by ", ".
std::string AcceptHeaderLine(const std::vector<std::string>& acceptTypes);

}  // namespace platform::internet
