// Paths of the platform's status files ("/ipc/net/...", "/data/local/tmp/...")
// under a root folder that tests replace, so they never touch the real ones.
#pragma once

#include <string>

namespace PlatformFiles {

// Prefix for every platform path; "" (the real file system) by default.
void setRootFolder(const std::string& folder);
std::string rootFolder();

// The platform path as written ("/ipc/net/selected_interface") under the root.
std::string path(const std::string& platformPath);

} // namespace PlatformFiles
