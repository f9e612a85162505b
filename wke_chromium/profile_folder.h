// The browser's private profile folder under the temporary folder, made fresh for each start.
#pragma once

#include <string>

namespace wkechr {

// A new, empty folder; empty with `error` set when none could be made.
std::wstring MakeProfileFolder(std::wstring& error);

}  // namespace wkechr
