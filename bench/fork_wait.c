/* The floor for start-up: a minimal program that only forks and waits. */
#include <sys/wait.h>
#include <unistd.h>

int main(void) {
  pid_t pid = fork();
  if (pid == 0) _exit(0);
  int status;
  waitpid(pid, &status, 0);
  return 0;
}
