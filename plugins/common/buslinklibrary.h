// Run-time binding of an adapter maker's library from inside a plug-in:
// loads it by file name, privately (its symbols stay out of the process's
// global scope, so two makers' libraries exporting the same names never
// clash), and looks its entry points up by name. Plain C++, no Qt.
//
// File names: a maker's library is named after its Windows file without the
// ".dll" ("cpcwin"); fileName() adds the platform's module suffix
// ("cpcwin.dll" on Windows, "cpcwin.so" elsewhere). Loading by a bare file
// name searches where the system loader searches for the plug-in's own
// dependencies: on ELF systems the plug-in's run path before the system's
// folders, which is how a plug-in in Drivers/buslink finds the stand-in
// libraries in platform/.
#pragma once

#include <string>

namespace buslink {

class VendorLibrary
{
public:
    VendorLibrary() = default;
    ~VendorLibrary(); // unloads: a plug-in that is unloaded drops its maker's library
    VendorLibrary(const VendorLibrary &) = delete;
    VendorLibrary &operator=(const VendorLibrary &) = delete;

    // "<baseName>" plus the platform's module suffix.
    static std::string fileName(const char *baseName);

    // Loads the library (a bare file name or a path). False when it cannot
    // be loaded; a library already loaded through this object is kept.
    bool load(const std::string &fileName);
    bool isLoaded() const { return handle_ != nullptr; }
    // Address of an exported function, or null.
    void *resolve(const char *name) const;
    // Typed form: resolve(name, pointer) sets pointer and says whether it is non-null.
    template <typename Fn>
    bool resolve(const char *name, Fn &target) const
    {
        target = reinterpret_cast<Fn>(resolve(name));
        return target != nullptr;
    }
    // Drops this object's reference to the library.
    void unload();

private:
    void *handle_ = nullptr;
};

} // namespace buslink
