#include "buslinklibrary.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <vector>
#if defined(__GLIBC__)
#include <link.h>
#endif
#endif

namespace buslink {

#if !defined(_WIN32)
namespace {

// The folders the loader searches for this plug-in's own dependencies, in
// its order: LD_LIBRARY_PATH, the plug-in's run path with $ORIGIN filled
// in, the system's folders. dlopen with a bare file name takes that list
// from the object that calls it, which is not this plug-in when a tool
// (a sanitizer) wraps dlopen; asked for explicitly, the list is the same
// either way.
std::vector<std::string> ownSearchPath()
{
    std::vector<std::string> dirs;
#if defined(__GLIBC__)
    Dl_info info;
    if (!dladdr(reinterpret_cast<void *>(&ownSearchPath), &info) || !info.dli_fname)
        return dirs;
    void *self = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    if (!self)
        return dirs;
    Dl_serinfo size;
    if (dlinfo(self, RTLD_DI_SERINFOSIZE, &size) == 0 && size.dls_size > 0) {
        std::vector<char> buffer(size.dls_size);
        Dl_serinfo *list = reinterpret_cast<Dl_serinfo *>(buffer.data());
        if (dlinfo(self, RTLD_DI_SERINFOSIZE, list) == 0
            && dlinfo(self, RTLD_DI_SERINFO, list) == 0) {
            for (unsigned i = 0; i < list->dls_cnt; ++i)
                dirs.emplace_back(list->dls_serpath[i].dls_name);
        }
    }
    dlclose(self);
#endif
    return dirs;
}

} // namespace
#endif

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
    if (fileName.find('/') == std::string::npos) {
        for (const std::string &dir : ownSearchPath()) {
            handle_ = dlopen((dir + "/" + fileName).c_str(), RTLD_NOW | RTLD_LOCAL);
            if (handle_)
                return true;
        }
    }
    // A path, or a library the system knows by name (its cache).
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
