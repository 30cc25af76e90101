// Where the built products and the sources are. ctest passes KX_BIN_DIR and KX_SOURCE_DIR; a test
// program started by hand falls back to the folders of the build that made it.
#pragma once

#include <string>

namespace kxtest {

std::string BinDir();
std::string SourceDir();

} // namespace kxtest
