// The security descriptor of the extraction folder: a DACL of its own, never the temporary folder's.
#pragma once

#include <memory>
#include <string>

#include "platform/security.h"

namespace kesmar {

// Full control, inherited by every file and subfolder, for SYSTEM, the
// Administrators and `userSid`; nothing inherited from the parent. SYSTEM
// gets one ACE even when it is the user.
std::string ExtractionFolderSddl(const std::string& userSid);

// The descriptor above for the user the process runs as; null when the user
// or the descriptor cannot be had. A folder must then not be created at all.
std::unique_ptr<SecurityDescriptor> ExtractionFolderDescriptor(SecurityApi& security);

}  // namespace kesmar
