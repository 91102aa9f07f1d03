// Loading the engine adapter the way the biometric service does: dlopen the shared library,
// look up its one export, take the interface table and refuse one of the wrong version, type
// or size, or with an empty slot among the 21 the service calls.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

#include "platform/winbio_types.h"

namespace ridgeline::tools {

// The adapter library could not be loaded or does not behave as an engine adapter.
class HostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The table this host was written against.
constexpr USHORT kEngineInterfaceMajor = 1;
constexpr SIZE_T kEngineInterfaceSize = sizeof(WINBIO_ENGINE_INTERFACE);

// Checks a table's header and its 21 version 1.0 slots; returns an empty string when it is
// usable, else what is wrong with it.
std::string DescribeTableProblem(const WINBIO_ENGINE_INTERFACE& table);

class EngineLibrary {
 public:
  // Loads the library at path. Throws HostError naming the path and the problem.
  explicit EngineLibrary(const std::filesystem::path& path);
  ~EngineLibrary();
  EngineLibrary(const EngineLibrary&) = delete;
  EngineLibrary& operator=(const EngineLibrary&) = delete;

  const WINBIO_ENGINE_INTERFACE& table() const { return *table_; }
  const std::filesystem::path& path() const { return path_; }

  // The adapter the tool uses when none is named: the one installed beside the executable,
  // else the one the build produced.
  static std::filesystem::path DefaultPath();

 private:
  std::filesystem::path path_;
  void* handle_ = nullptr;
  const WINBIO_ENGINE_INTERFACE* table_ = nullptr;
};

}  // namespace ridgeline::tools
