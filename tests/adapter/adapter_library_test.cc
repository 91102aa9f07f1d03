// The built shared library as the service sees it: loaded with dlopen, reached only through its
// one export, and tracing where RIDGELINE_TRACE says when it is loaded.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/winbio_types.h"

namespace ridgeline {
namespace {

constexpr const char* kLibraryPath = RIDGELINE_ADAPTER_PATH;

// A line as the trace writes it: "[hh:mm:ss] " and the message.
constexpr const char* kStamp = "\\[[0-9]{2}:[0-9]{2}:[0-9]{2}\\] ";

// Loads the library, queries the table and attaches and detaches one unit through it. Returns
// 0 when all went as expected, else the number of the failing step.
int LoadAndUse() {
  void* library = dlopen(kLibraryPath, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return 1;
  auto query = reinterpret_cast<PWINBIO_QUERY_ENGINE_INTERFACE_FN>(
      dlsym(library, WINBIO_QUERY_ENGINE_INTERFACE_FN_NAME));
  if (query == nullptr) return 2;
  PWINBIO_ENGINE_INTERFACE table = nullptr;
  if (query(&table) != S_OK || table == nullptr) return 3;
  WINBIO_PIPELINE pipeline{};
  pipeline.EngineHandle = INVALID_HANDLE_VALUE;
  if (table->Attach(&pipeline) != S_OK || pipeline.EngineContext == nullptr) return 4;
  if (table->Detach(&pipeline) != S_OK || pipeline.EngineContext != nullptr) return 5;
  return dlclose(library) == 0 ? 0 : 6;
}

TEST(AdapterLibrary, ExportHandsOutTheTableAndNothingElseIsVisible) {
  void* library = dlopen(kLibraryPath, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto query = reinterpret_cast<PWINBIO_QUERY_ENGINE_INTERFACE_FN>(
      dlsym(library, "WbioQueryEngineInterface"));
  ASSERT_NE(query, nullptr);
  EXPECT_EQ(query(nullptr), E_POINTER);
  PWINBIO_ENGINE_INTERFACE table = nullptr;
  ASSERT_EQ(query(&table), S_OK);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->Version.MajorVersion, 1);
  EXPECT_EQ(table->Version.MinorVersion, 0);
  EXPECT_EQ(table->Type, 2u);
  EXPECT_EQ(table->Size, 360u);
  EXPECT_NE(table->ControlUnitPrivileged, nullptr);
  EXPECT_EQ(table->NotifyPowerChange, nullptr);
  EXPECT_EQ(table->IdentifyFeatureSetAuthenticated, nullptr);

  // The entry points are reachable through the table only.
  EXPECT_EQ(dlsym(library, "EngineAdapterDllMain"), nullptr);
  EXPECT_EQ(dlsym(library, "OutputDebugStringA"), nullptr);

  WINBIO_PIPELINE pipeline{};
  pipeline.EngineHandle = INVALID_HANDLE_VALUE;
  ASSERT_EQ(table->Attach(&pipeline), S_OK);
  SIZE_T hint = 0;
  EXPECT_EQ(table->QuerySampleHint(&pipeline, &hint), S_OK);
  EXPECT_EQ(hint, 1u);
  EXPECT_EQ(table->Attach(&pipeline), WINBIO_E_INVALID_DEVICE_STATE);
  EXPECT_EQ(table->Detach(&pipeline), S_OK);
  EXPECT_EQ(pipeline.EngineHandle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(dlclose(library), 0);
}

// The trace switch is read when the library loads, so each case runs in a fresh process.
class AdapterLibraryTrace : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(AdapterLibraryTrace, SilentByDefault) {
  EXPECT_EXIT(
      {
        unsetenv("RIDGELINE_TRACE");
        std::_Exit(LoadAndUse());
      },
      ::testing::ExitedWithCode(0), "^$");
}

TEST_F(AdapterLibraryTrace, StderrReceivesEveryLineAsWritten) {
  const std::string expected = std::string("^") + kStamp + "EngineAdapter DllMain\n" + kStamp +
                               "WbioQueryEngineInterface\n" + kStamp + "EngineAdapterAttach\n" +
                               kStamp + "EngineAdapterAttach new Context = 0x[0-9a-f]+\n";
  EXPECT_EXIT(
      {
        setenv("RIDGELINE_TRACE", "stderr", 1);
        std::_Exit(LoadAndUse());
      },
      ::testing::ExitedWithCode(0), expected);
}

TEST_F(AdapterLibraryTrace, FileIsAppendedTo) {
  // Beside the test binary: the same path in this process and in the re-executed child, and
  // apart from other builds running the same test.
  const std::filesystem::path path =
      std::filesystem::read_symlink("/proc/self/exe").parent_path() / "adapter_trace_test.log";
  std::ofstream(path) << "earlier run\n";
  EXPECT_EXIT(
      {
        setenv("RIDGELINE_TRACE", path.c_str(), 1);
        std::_Exit(LoadAndUse());
      },
      ::testing::ExitedWithCode(0), "^$");
  std::stringstream content;
  content << std::ifstream(path).rdbuf();
  std::filesystem::remove(path);
  const std::regex expected(std::string("earlier run\n") + kStamp + "EngineAdapter DllMain\n" +
                            kStamp + "WbioQueryEngineInterface\n" + kStamp +
                            "EngineAdapterAttach\n(.|\n)*" + kStamp +
                            "EngineAdapterDetach\n(.|\n)*");
  EXPECT_TRUE(std::regex_match(content.str(), expected)) << content.str();
}

}  // namespace
}  // namespace ridgeline
