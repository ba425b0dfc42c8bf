// The order in which Windows lists the entries of an NTFS folder.
#pragma once

#include <string>

namespace kesmar {

// Ordinal comparison of the names with every byte from "a" to "z" upper-cased,
// which is how NTFS orders a folder's index for ASCII names.
bool NtfsNameLess(const std::string& a, const std::string& b);

}  // namespace kesmar
