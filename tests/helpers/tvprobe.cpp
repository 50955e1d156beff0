// A program of the host environment for tests: it starts like vkc and vks
// (Tvinit), then does what its command word says.
//
//   IDS file        append the ids line "posuc neguc ppid pid frames
//                   poscreator negcreator" to file (the creators are the
//                   processes that made the two areas)
//   WAIT            print the ids line, wait until standard input ends, end
//                   with status 7
//   EXIT n          end with status n
//   DUMP            print the argument store, one entry a line
//   MUTATE          change the session's stream settings
//   KEYIN command   run command with Tvskeyin, print "result=N" and the
//                   debug stream's line mode afterwards
//   PUTFRM f d t    write frame f's directory with date d and time t
//                   (putfrm_), print "putfrm=N"
//   GETFRM f        print "getfrm=N date time" for frame f

#include <sys/shm.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/host.h"
#include "host/internal.h"

namespace {

// The process that made the area named by an identifier variable, -1 when
// there is none.
int Creator(const char *id) {
  struct shmid_ds info;
  if (!id || shmctl(std::atoi(id), IPC_STAT, &info) != 0) return -1;
  return static_cast<int>(info.shm_cpid);
}

std::string IdsLine() {
  const char *pos = std::getenv("TVENV_POSUC");
  const char *neg = std::getenv("TVENV_NEGUC");
  char line[200];
  std::snprintf(line, sizeof line, "%s %s %d %d %d %d %d\n", pos ? pos : "-", neg ? neg : "-",
                static_cast<int>(getppid()), static_cast<int>(getpid()), TvGetMaxImageFrameNumber(), Creator(pos),
                Creator(neg));
  return line;
}

void Append(const char *path, const std::string &text) {
  if (std::FILE *f = std::fopen(path, "a")) {
    std::fputs(text.c_str(), f);
    std::fclose(f);
  }
}

}  // namespace

int main(int argc, char **argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  int rc = Tvinit(argc, argv);
  if (rc < 0) {
    std::printf("TVinit error %d\n", rc);
    return 2;
  }
  const char *word = "NONE";
  const char *arg = "";
  (void)Tvcmdstr(" ", 1, "NONE", &word);
  (void)Tvcmdstr(" ", 2, "", &arg);
  std::string command = word;
  for (char &c : command) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

  if (command == "IDS") {
    Append(arg, IdsLine());
    return 0;
  }
  if (command == "WAIT") {
    std::fputs(IdsLine().c_str(), stdout);
    std::fflush(stdout);
    char buf[256];
    ssize_t n;
    while ((n = read(0, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)) {
    }
    return 7;
  }
  if (command == "EXIT") return std::atoi(arg);
  if (command == "DUMP") {
    const tv::ArgStore *store = tv::CurrentStore();
    std::printf("name=%s\n", tv::ProgramName());
    for (const tv::ArgEntry &e : store->entries) {
      for (std::size_t i = 0; i < e.values.size(); ++i) std::printf("%s[%s]", i ? " " : "", e.values[i].c_str());
      std::printf("\n");
    }
    return 0;
  }
  if (command == "MUTATE") {
    tv::Session().streams[tv::kDebugStream].line_mode = 5;
    tv::Session().streams[tv::kErrorStream].fd = 99;
    return 0;
  }
  if (command == "KEYIN") {
    const char *text = "";
    (void)Tvcmdstr("\"", 1, "", &text);
    int result = Tvskeyin(text);
    std::printf("result=%d debugmode=%d errorfd=%d\n", result,
                tv::Session().streams[tv::kDebugStream].line_mode, tv::Session().streams[tv::kErrorStream].fd);
    return 0;
  }
  if (command == "PUTFRM" || command == "GETFRM") {
    int frame = std::atoi(arg);
    int dir[tv::kFrameDirectoryWords] = {};
    if (command == "GETFRM") {
      int got = getfrm_(&frame, dir);
      std::printf("getfrm=%d %d %d\n", got, dir[1], dir[2]);
      return 0;
    }
    const char *date = "0", *time = "0";
    (void)Tvcmdstr(" ", 3, "0", &date);
    (void)Tvcmdstr(" ", 4, "0", &time);
    dir[1] = std::atoi(date);
    dir[2] = std::atoi(time);
    std::printf("putfrm=%d\n", putfrm_(&frame, dir));
    return 0;
  }
  std::printf("unknown probe command %s\n", word);
  return 3;
}
