// Names of the sibling libraries that sit in the driver's own folder.
#pragma once

#include <string>

namespace platform {

// The path of the library baseName ("AuxSyncModule") in the folder of the file modulePath, with
// the system's library suffix; just the file name when modulePath has no folder.
std::string SiblingModulePath(const std::string& modulePath, const char* baseName);

} // namespace platform
