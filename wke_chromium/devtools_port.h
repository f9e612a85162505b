// The DevToolsActivePort file a browser writes when it picks its debugging port itself.
#pragma once

#include <string>

namespace wkechr {

// "port\npath\n" as the browser writes it; false unless both are there.
bool ParseDevToolsActivePort(const std::string& text, int& port, std::string& path);

}  // namespace wkechr
