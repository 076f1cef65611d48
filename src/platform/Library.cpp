#include "platform/Library.h"

#include "platform/FileSystem.h"

#include <climits>
#include <cstdlib>
#include <dlfcn.h>

namespace zul::platform {

void* loadSymbol(const std::string& libraryPath, const char* symbol)
{
    void* handle = ::dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return nullptr;
    return ::dlsym(handle, symbol);
}

std::string folderOfAddress(const void* address)
{
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || !info.dli_fname)
        return {};
    char resolved[PATH_MAX];
    const std::string file = ::realpath(info.dli_fname, resolved) ? std::string(resolved) : std::string(info.dli_fname);
    return folderOf(file);
}

} // namespace zul::platform
