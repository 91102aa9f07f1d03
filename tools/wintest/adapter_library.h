// Loading the engine adapter library the way the biometric service does: by path, then looking
// up its one export by name. LoadLibrary/GetProcAddress on Windows, dlopen/dlsym elsewhere.
#pragma once

#include <string>

#include "platform/winbio_types.h"

namespace ridgeline::wintest {

class AdapterLibrary {
 public:
  AdapterLibrary() = default;
  ~AdapterLibrary() { Close(); }
  AdapterLibrary(const AdapterLibrary&) = delete;
  AdapterLibrary& operator=(const AdapterLibrary&) = delete;

  // Loads the library; false with a message in *error when it cannot be loaded.
  bool Open(const std::string& path, std::string* error);

  // The export WbioQueryEngineInterface, or null when the library lacks it.
  // REQUIRES: Open succeeded and Close has not run since.
  PWINBIO_QUERY_ENGINE_INTERFACE_FN QueryFunction() const;

  // The address of `name` in the library, or null. REQUIRES: as QueryFunction.
  void* Symbol(const char* name) const;

  // Unloads the library (its unload routine runs); harmless when nothing is loaded.
  void Close();

  bool is_open() const { return handle_ != nullptr; }

 private:
  void* handle_ = nullptr;
};

}  // namespace ridgeline::wintest
