#include "buslinklibrary.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace buslink {

VendorLibrary::~VendorLibrary()
{
    unload();
}

std::string VendorLibrary::fileName(const char *baseName)
{
#if defined(_WIN32)
    return std::string(baseName) + ".dll";
#else
    return std::string(baseName) + ".so";
#endif
}

bool VendorLibrary::load(const std::string &fileName)
{
    if (handle_)
        return true;
#if defined(_WIN32)
    handle_ = reinterpret_cast<void *>(LoadLibraryA(fileName.c_str()));
#else
    // The loader takes the caller's run path from the object that calls
    // dlopen: this code is linked into the plug-in, so it is the plug-in's.
    handle_ = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    return handle_ != nullptr;
}

void *VendorLibrary::resolve(const char *name) const
{
    if (!handle_)
        return nullptr;
#if defined(_WIN32)
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
    return dlsym(handle_, name);
#endif
}

void VendorLibrary::unload()
{
    if (!handle_)
        return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
    handle_ = nullptr;
}

} // namespace buslink
