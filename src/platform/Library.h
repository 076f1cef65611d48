#pragma once

#include <string>

namespace zul::platform {

// A shared library loaded by path, kept loaded for the life of the process.
// Returns nullptr when the library or the symbol is missing.
void* loadSymbol(const std::string& libraryPath, const char* symbol);

// The folder of the shared object (or program) that holds address.
std::string folderOfAddress(const void* address);

} // namespace zul::platform
