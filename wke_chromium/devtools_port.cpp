#include "devtools_port.h"

namespace wkechr {

bool ParseDevToolsActivePort(const std::string& text, int& port, std::string& path) {
    size_t lineEnd = text.find('\n');
    if (lineEnd == std::string::npos) return false;
    std::string first = text.substr(0, lineEnd);
    if (!first.empty() && first.back() == '\r') first.pop_back();
    if (first.empty() || first.size() > 5) return false;
    int value = 0;
    for (char c : first) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value <= 0 || value > 65535) return false;
    std::string second = text.substr(lineEnd + 1);
    size_t end = second.find_first_of("\r\n");
    if (end != std::string::npos) second.resize(end);
    if (second.empty() || second[0] != '/') return false;
    port = value;
    path = second;
    return true;
}

}  // namespace wkechr
