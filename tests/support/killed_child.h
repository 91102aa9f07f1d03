// Killing a process in the middle of its work, to show that what it leaves behind is whole.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ridgeline::testing {

// Runs `work(ready)` in a forked child; once the work writes a byte to the descriptor `ready`
// (it is under way), the child is killed with SIGKILL. Fails when the work ended, or could not
// start, before it was killed: then nothing was shown about an interrupted writer.
template <typename Work>
::testing::AssertionResult KillOnceUnderWay(Work work) {
  int ready[2];
  if (pipe(ready) != 0) return ::testing::AssertionFailure() << "no pipe";
  const pid_t child = fork();
  if (child < 0) return ::testing::AssertionFailure() << "no fork";
  if (child == 0) {
    close(ready[0]);
    try {
      work(ready[1]);
    } catch (...) {
    }
    _exit(0);
  }
  close(ready[1]);
  char byte;
  const bool under_way = read(ready[0], &byte, 1) == 1;
  close(ready[0]);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  if (!under_way)
    return ::testing::AssertionFailure() << "the work never signalled it was under way";
  if (!WIFSIGNALED(status))
    return ::testing::AssertionFailure() << "the work ended before it was killed";
  return ::testing::AssertionSuccess();
}

}  // namespace ridgeline::testing
