// A fresh folder under the system's temporary directory for one test, removed with everything in
// it. The name carries the process id, the running test's name and a counter, so tests run in
// parallel processes, and several folders within one test, never share a folder.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <system_error>

namespace ridgeline::testing {

class ScratchDir {
 public:
  explicit ScratchDir(const std::string& prefix) {
    static std::atomic<int> counter{0};
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = prefix + "_" + std::to_string(::getpid());
    if (test != nullptr) name.append("_").append(test->name());
    // A parameterised test's name holds a '/', which would make the folder a nested one.
    for (char& c : name) c = c == '/' ? '_' : c;
    name.append("_").append(std::to_string(counter++));
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace ridgeline::testing
