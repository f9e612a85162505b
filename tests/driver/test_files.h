// Files of a test that runs programs: the folder it lies in (where the programs it starts lie
// too), scratch folders under it, and whole files read and written.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace driver {

std::wstring TestFolder();  // the folder of this test program
// An empty folder of this name under the test folder's scratch folder.
std::wstring FreshFolder(const std::wstring& name);
std::vector<std::wstring> FilesIn(const std::wstring& folder);  // names, sorted
std::optional<std::vector<std::uint8_t>> ReadBytes(const std::wstring& path);
bool WriteBytes(const std::wstring& path, const std::vector<std::uint8_t>& bytes);

}  // namespace driver
