// Children a test starts and ends: the built qevtool run in a folder as a
// shell would start it, caught at work by a signal, and reaped.
#pragma once
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace qev::test {

// Waits for a child; one still running after twenty seconds is killed, so a
// child that ignores the signal fails the test instead of hanging it. The
// raw status.
int Reap(pid_t child);

// Starts qevtool with the arguments in the folder, with the three ending
// signals at their defaults whatever ran the tests. -1 when no child could
// be made.
pid_t StartTool(const std::string& folder, const std::vector<std::string>& args);

// What became of a child sent a signal once at work.
struct Interrupted {
  bool caughtAtWork = false;  // false: it ended, or twenty seconds passed, first
  int status = 0;             // the raw status it ended with
};

// Polls until atWork() holds or the child ends by itself; a child at work
// (or still running at the time limit) gets the signal and is reaped.
Interrupted InterruptAtWork(pid_t child, int sig, const std::function<bool()>& atWork);

}  // namespace qev::test
