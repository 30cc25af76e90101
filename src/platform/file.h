// Files named by UTF-8 paths, whatever the system's own encoding of file names.
#pragma once

#include <cstdio>
#include <string>

namespace platform {

// std::fopen for a UTF-8 path. A mode with "x" creates the file and fails with errno EEXIST when
// it exists already. On Windows an absolute path is opened with the long-path prefix "\\?\", so
// folders deeper than MAX_PATH work.
std::FILE* OpenFile(const std::string& path, const char* mode);

} // namespace platform
