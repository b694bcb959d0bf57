#include "graphics/opened_library.h"

#include <dlfcn.h>

OpenedLibrary::OpenedLibrary(const std::string& file) : file_(file) {
    handle_ = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* why = ::dlerror();
        failure_ = why ? why : file;
    }
}

void* OpenedLibrary::Function(const char* name) {
    if (!handle_) return nullptr;
    void* function = ::dlsym(handle_, name);
    if (!function && failure_.empty()) failure_ = file_ + " has no " + name;
    return function;
}
