#include "driver/dynamic_library.h"

#include <dlfcn.h>
#include <link.h>

namespace adcard::dynlib {

Handle open(const std::string &name, std::string &why)
{
    Handle h = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char *e = ::dlerror();
        why = e ? e : "unknown reason";
    }
    return h;
}

void *symbol(Handle library, const std::string &name, std::string &why)
{
    ::dlerror();
    void *p = ::dlsym(library, name.c_str());
    if (!p) {
        const char *e = ::dlerror();
        why = e ? e : "symbol is null";
    }
    return p;
}

std::string path(Handle library)
{
    // The dynamic loader's own record says which file the search picked.
    link_map *map = nullptr;
    if (!library || ::dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name)
        return {};
    return map->l_name;
}

} // namespace adcard::dynlib
