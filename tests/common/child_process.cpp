#include "tests/common/child_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qev::test {

int Reap(pid_t child) {
  int status = 0;
  for (int i = 0; i < 2000; ++i) {
    if (waitpid(child, &status, WNOHANG) == child) return status;
    usleep(10000);
  }
  kill(child, SIGKILL);
  waitpid(child, &status, 0);
  return status;
}

pid_t StartTool(const std::string& folder, const std::vector<std::string>& args) {
  // the argument vector is made before the fork: the child only execs
  std::vector<char*> argv;
  static char name[] = "qevtool";
  argv.push_back(name);
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
    if (chdir(folder.c_str()) != 0) _exit(126);
    execv(QEV_BINARY_DIR "/qevtool", argv.data());
    _exit(127);
  }
  return child;
}

Interrupted InterruptAtWork(pid_t child, int sig, const std::function<bool()>& atWork) {
  Interrupted result;
  bool ended = false;
  for (int i = 0; i < 4000 && !result.caughtAtWork && !ended; ++i) {
    result.caughtAtWork = atWork();
    if (!result.caughtAtWork) {
      ended = waitpid(child, &result.status, WNOHANG) == child;
      usleep(5000);
    }
  }
  if (!ended) {
    kill(child, sig);
    result.status = Reap(child);
  }
  return result;
}

}  // namespace qev::test
