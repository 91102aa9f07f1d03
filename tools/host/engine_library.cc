#include "tools/host/engine_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

namespace ridgeline::tools {
namespace {

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

}  // namespace

std::string DescribeTableProblem(const WINBIO_ENGINE_INTERFACE& table) {
  if (table.Version.MajorVersion != kEngineInterfaceMajor) {
    return "interface version " + std::to_string(table.Version.MajorVersion) + "." +
           std::to_string(table.Version.MinorVersion) + ", this host speaks version 1";
  }
  if (table.Type != WINBIO_ADAPTER_TYPE_ENGINE) {
    return "adapter type " + std::to_string(table.Type) + ", not an engine adapter (2)";
  }
  if (table.Size != kEngineInterfaceSize) {
    return "table size " + std::to_string(table.Size) + " bytes, expected " +
           std::to_string(kEngineInterfaceSize);
  }
  const void* const slots[] = {reinterpret_cast<const void*>(table.Attach),
                               reinterpret_cast<const void*>(table.Detach),
                               reinterpret_cast<const void*>(table.ClearContext),
                               reinterpret_cast<const void*>(table.QueryPreferredFormat),
                               reinterpret_cast<const void*>(table.QueryIndexVectorSize),
                               reinterpret_cast<const void*>(table.QueryHashAlgorithms),
                               reinterpret_cast<const void*>(table.SetHashAlgorithm),
                               reinterpret_cast<const void*>(table.QuerySampleHint),
                               reinterpret_cast<const void*>(table.AcceptSampleData),
                               reinterpret_cast<const void*>(table.ExportEngineData),
                               reinterpret_cast<const void*>(table.VerifyFeatureSet),
                               reinterpret_cast<const void*>(table.IdentifyFeatureSet),
                               reinterpret_cast<const void*>(table.CreateEnrollment),
                               reinterpret_cast<const void*>(table.UpdateEnrollment),
                               reinterpret_cast<const void*>(table.GetEnrollmentStatus),
                               reinterpret_cast<const void*>(table.GetEnrollmentHash),
                               reinterpret_cast<const void*>(table.CheckForDuplicate),
                               reinterpret_cast<const void*>(table.CommitEnrollment),
                               reinterpret_cast<const void*>(table.DiscardEnrollment),
                               reinterpret_cast<const void*>(table.ControlUnit),
                               reinterpret_cast<const void*>(table.ControlUnitPrivileged)};
  for (size_t i = 0; i < std::size(slots); ++i) {
    if (slots[i] == nullptr) return "slot " + std::to_string(i + 1) + " of the table is empty";
  }
  return {};
}

EngineLibrary::EngineLibrary(const std::filesystem::path& path) : path_(path) {
  const std::string name = path.string();
  std::error_code error;
  if (!std::filesystem::exists(path, error)) {
    throw HostError(name +
                    ": no engine adapter library here (build it, or name one with "
                    "--adapter)");
  }
  handle_ = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) throw HostError(name + ": cannot load the adapter (" + dlerror() + ")");
  auto query = reinterpret_cast<PWINBIO_QUERY_ENGINE_INTERFACE_FN>(
      dlsym(handle_, WINBIO_QUERY_ENGINE_INTERFACE_FN_NAME));
  if (query == nullptr) {
    dlclose(handle_);
    throw HostError(name + ": not an engine adapter (no " WINBIO_QUERY_ENGINE_INTERFACE_FN_NAME
                           " export)");
  }
  PWINBIO_ENGINE_INTERFACE table = nullptr;
  const HRESULT hr = query(&table);
  std::string problem;
  if (hr != S_OK || table == nullptr) {
    problem = "the interface query failed (" + Hex(static_cast<uint32_t>(hr)) + ")";
  } else {
    problem = DescribeTableProblem(*table);
  }
  if (!problem.empty()) {
    dlclose(handle_);
    throw HostError(name + ": unusable engine adapter: " + problem);
  }
  table_ = table;
}

EngineLibrary::~EngineLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

std::filesystem::path EngineLibrary::DefaultPath() {
  const std::filesystem::path file_name = RIDGELINE_ADAPTER_FILE;
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length > 0) {
    self[length] = '\0';
    const std::filesystem::path folder = std::filesystem::path(self).parent_path();
    // Beside the tool, then where an install puts it, then where the build tree has it.
    for (const char* relative :
         {".", RIDGELINE_ADAPTER_FROM_INSTALL, RIDGELINE_ADAPTER_FROM_BUILD}) {
      const std::filesystem::path candidate = (folder / relative / file_name).lexically_normal();
      std::error_code error;
      if (std::filesystem::is_regular_file(candidate, error)) return candidate;
    }
  }
  // Left to the dynamic loader's own search.
  return file_name;
}

}  // namespace ridgeline::tools
