// Where the built products and the sources are: the folders of the build that made the test
// program, unless KX_BIN_DIR / KX_SOURCE_DIR say otherwise.
#pragma once

#include <string>

namespace kxtest {

std::string BinDir();
std::string SourceDir();

} // namespace kxtest
