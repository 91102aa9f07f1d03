// Library loading for the test host: the system loader of each platform.
#include "tools/wintest/adapter_library.h"

#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace ridgeline::wintest {

#ifdef _WIN32

bool AdapterLibrary::Open(const std::string& path, std::string* error) {
  Close();
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    *error = "LoadLibrary failed with error " + std::to_string(GetLastError());
    return false;
  }
  handle_ = module;
  return true;
}

void* AdapterLibrary::Symbol(const char* name) const {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void AdapterLibrary::Close() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

#else

bool AdapterLibrary::Open(const std::string& path, std::string* error) {
  Close();
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* reason = dlerror();
    *error = reason != nullptr ? reason : "dlopen failed";
    return false;
  }
  return true;
}

void* AdapterLibrary::Symbol(const char* name) const { return dlsym(handle_, name); }

void AdapterLibrary::Close() {
  if (handle_ != nullptr) dlclose(handle_);
  handle_ = nullptr;
}

#endif

PWINBIO_QUERY_ENGINE_INTERFACE_FN AdapterLibrary::QueryFunction() const {
  return reinterpret_cast<PWINBIO_QUERY_ENGINE_INTERFACE_FN>(
      Symbol(WINBIO_QUERY_ENGINE_INTERFACE_FN_NAME));
}

}  // namespace ridgeline::wintest
