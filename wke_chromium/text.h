// UTF-8 / UTF-16 conversion that never fails: malformed input becomes U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace wkechr {

std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);

// Trims the white space an address bar ignores (spaces, tabs, line breaks, no-break and ideographic spaces).
std::wstring TrimSpace(std::wstring_view text);

// What an address bar makes of typed text: a scheme is kept, "host/path" gets "http://",
// a drive or UNC path becomes a file address.
std::string AddressFromTyped(std::wstring_view typed);

// file:// address of an absolute path (forward or back slashes), bytes outside the
// unreserved set percent-encoded as UTF-8.
std::string FileUrlFromPath(std::wstring_view path);

std::string Base64Encode(std::string_view bytes);
// Decodes standard base64, skipping white space; false on any other stray character.
bool Base64Decode(std::string_view text, std::string& out);

// Sec-WebSocket-Accept for a Sec-WebSocket-Key.
std::string WebSocketAccept(std::string_view key);
std::string Sha1(std::string_view bytes);

}  // namespace wkechr
