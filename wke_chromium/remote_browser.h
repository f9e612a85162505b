// Reaching a browser that already runs (WKE_BROWSER_URL): from the address the user named to the
// WebSocket address of its browser endpoint, host resolved to a dotted IPv4 address.
#pragma once

#include <string>

#include "browser_endpoint.h"
#include "deadline.h"

namespace wkechr {

// The variable's value, trimmed; empty when it is not set.
std::wstring BrowserUrlFromEnvironment();

// For an HTTP address asks its /json/version; a WebSocket address is taken as it is. False with
// `error` saying why (bad address, unreachable, an answer without a WebSocket address).
bool ResolveBrowserEndpoint(const std::wstring& named, Deadline deadline, EndpointAddress& webSocket,
                            std::wstring& error);

}  // namespace wkechr
