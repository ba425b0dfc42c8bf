// Everything the launcher asks of Windows, grouped by concern; the entry owns one of each.
#pragma once

namespace kesmar {

class FileSystem;    // platform/file_system.h: files, folders, listings, temp path
class ResourceApi;   // platform/resources.h: the payload resource of the executable
class FontApi;       // platform/fonts.h: Fonts folder, font table, profile, broadcast
class ProcessApi;    // platform/processes.h: starting and waiting for the setup program
class WindowApi;     // platform/window.h: strings, class, the hidden window
class SecurityApi;   // platform/security.h: the token's user, descriptors from SDDL

struct Platform {
  FileSystem* files = nullptr;
  ResourceApi* resources = nullptr;
  FontApi* fonts = nullptr;
  ProcessApi* processes = nullptr;
  WindowApi* window = nullptr;
  SecurityApi* security = nullptr;
};

}  // namespace kesmar
