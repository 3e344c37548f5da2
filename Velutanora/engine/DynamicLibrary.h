#pragma once

#include <QFile>
#include <QString>

#include <dlfcn.h>
#include <link.h>

namespace vel::DynamicLibrary {

// Opens a library with dlopen; `loaded` names the file the dynamic linker actually found (a bare
// name goes through the run path or the system's cache). Null with the reason on failure.
inline void* open(const QString& path, QString* why, QString* loaded)
{
    void* handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        if (why)
            *why = QString::fromLocal8Bit(dlerror());
        return nullptr;
    }
    link_map* map = nullptr;
    *loaded = dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name && *map->l_name
                  ? QFile::decodeName(map->l_name)
                  : path;
    return handle;
}

template <class F>
bool bind(void* handle, const char* name, F& out)
{
    out = reinterpret_cast<F>(dlsym(handle, name));
    return out != nullptr;
}

} // namespace vel::DynamicLibrary
