// Running the `ridgeline` command as a user runs it, through /bin/sh, for the end-to-end tests.
// RIDGELINE_TOOL_PATH is the built tool, given by the test build.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace ridgeline::testing {

struct ToolRun {
  int exit_code = -1;  // 128 + the signal when the command was killed
  std::string out;     // stdout (with stderr when the command joined them)
  std::string err;     // stderr, when it was kept apart
};

// `text` as one word for /bin/sh, whatever quotes or spaces it holds.
inline std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The shell command line running the tool with `args`, each one word.
inline std::string ToolCommand(const std::vector<std::string>& args) {
  std::string command = ShellQuote(RIDGELINE_TOOL_PATH);
  // Appended piece by piece: g++ 12 at -O3 sees a false overlap in `" " + std::string`.
  for (const std::string& arg : args) command.append(" ").append(ShellQuote(arg));
  return command;
}

// Runs a shell command line and collects its stdout; stderr goes where the line sends it.
inline ToolRun RunShell(const std::string& command) {
  ToolRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int status = pclose(pipe);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

// Runs a shell command line with its stderr kept apart in `err` (the whole line's, when it holds
// several commands).
inline ToolRun RunShellSplit(const std::string& command) {
  static std::atomic<int> counter{0};
  const std::filesystem::path err_file =
      std::filesystem::temp_directory_path() /
      ("ridgeline_tool_err_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
  ToolRun run = RunShell("{ " + command + "\n} 2>" + ShellQuote(err_file.string()));
  std::ifstream err(err_file);
  run.err.assign(std::istreambuf_iterator<char>(err), {});
  std::filesystem::remove(err_file);
  return run;
}

// The tool with `args`, stdout and stderr together in `out`.
inline ToolRun RunTool(const std::vector<std::string>& args) {
  return RunShell(ToolCommand(args) + " 2>&1");
}

// The tool with `args`, stderr apart, and environment assignments ("NAME=value", the value
// already quoted) in front.
inline ToolRun RunToolSplit(const std::vector<std::string>& args,
                            const std::vector<std::string>& env = {}) {
  std::string command;
  for (const std::string& assignment : env) command += assignment + " ";
  return RunShellSplit(command + ToolCommand(args));
}

}  // namespace ridgeline::testing
