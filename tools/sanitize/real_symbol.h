// The Qt library's own definition of a symbol that a sanitizer build
// defines in front of it (the program's own symbols come first).
#pragma once

#include <dlfcn.h>

template <typename F>
F real_symbol(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
