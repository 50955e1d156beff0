// A stand-in host command program for tests.  It records how it was
// started and then does what its command line asks:
//
//   FAKEHOST_LOG=<file>  append "argc=N", "argv0=[...]", "argv1=[...]" ...
//   EXIT=n               end with status n (default 0)
//   KILLSELF             die of SIGKILL
//   TERMPARENT           first send SIGTERM to the parent process every
//                        10 ms until this program is ended by a signal (at
//                        most 20 s, and only while the parent is the same)
//   SLEEP=ms             sleep first
//   SAY=word             print "fakehost: <word>" on standard output
//
// The words are looked for in the whole command text (argv[1] when started
// by the host runtime, the joined arguments otherwise).
//
// As host programs of the cycle it also does, from its environment:
//
//   FAKEHOST_TABLES=<dir>  a command holding "PEEKTX <group>/<name>" and
//                          "DEV=T <file>" copies <dir>/<group>_<name> to
//                          <file> (status 1 when there is no such table),
//                          as the text-read command fetches a server table
//   FAKEHOST_FAIL=<WORD>[,<WORD>...]  a command whose first word is one of
//                          them ends with 1
//   FAKEHOST_SUN=<line>    started as solday.k: prints a first line and
//                          then this line (default
//                          "Sunrise/Sunset 06:10:00 18:20:00")
//   FAKEHOST_NOTIFY=<fifo> writes one byte to the FIFO when it starts (a
//                          test that reads it knows a command has run)
//   FAKEHOST_HOLD=<fifo>   then waits until the FIFO's writer closes it
//
// and, as the remote image directory program (command word IMGDIR):
//
//   FAKEHOST_IMAGES=<pos>:<date>:<time>:<cards>;...  the entries written,
//                          newest first (cards of 80 "C" bytes each)
//   FAKEHOST_UNKNOWN=1     ends with status 2 (no such dataset)
//   FAKEHOST_BROKEN=1      writes half an entry

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool FindValue(const std::string &text, const char *key, std::string &value) {
  std::size_t at = text.find(key);
  if (at == std::string::npos) return false;
  at += std::strlen(key);
  std::size_t end = text.find(' ', at);
  value = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text += ' ';
    text += argv[i];
  }
  if (const char *log = std::getenv("FAKEHOST_LOG")) {
    if (std::FILE *f = std::fopen(log, "a")) {
      std::fprintf(f, "argc=%d\n", argc);
      for (int i = 0; i < argc; ++i) std::fprintf(f, "argv%d=[%s]\n", i, argv[i]);
      std::fclose(f);
    }
  }
  std::string value;
  std::string name = argv[0] ? argv[0] : "";
  name = name.substr(name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1);
  if (name == "solday.k") {
    const char *sun = std::getenv("FAKEHOST_SUN");
    std::printf("SOLDAY %s\n%s\n", text.c_str(), sun ? sun : "Sunrise/Sunset 06:10:00 18:20:00");
    return 0;
  }
  std::string first = text.substr(0, text.find(' '));
  if (const char *notify = std::getenv("FAKEHOST_NOTIFY")) {
    int fd = open(notify, O_WRONLY | O_NONBLOCK);
    if (fd >= 0) {
      ssize_t ignored = write(fd, "x", 1);
      (void)ignored;
      close(fd);
    }
  }
  if (const char *hold = std::getenv("FAKEHOST_HOLD")) {
    // Opened without waiting for a writer (a holder that has closed it
    // already lets the command go at once), then read in blocking mode.
    int fd = open(hold, O_RDONLY | O_NONBLOCK);
    if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    char byte;
    while (fd >= 0 && read(fd, &byte, 1) > 0) {
    }
    if (fd >= 0) close(fd);
  }
  if (first == "IMGDIR") {
    if (std::getenv("FAKEHOST_UNKNOWN")) return 2;
    if (std::getenv("FAKEHOST_BROKEN")) {
      int half[20] = {};
      fwrite(half, sizeof half, 1, stdout);
      return 0;
    }
    const char *images = std::getenv("FAKEHOST_IMAGES");
    std::string list = images ? images : "";
    for (std::size_t at = 0; at < list.size();) {
      std::size_t end = list.find(';', at);
      if (end == std::string::npos) end = list.size();
      int pos = 0, date = 0, time = 0, cards = 0;
      if (std::sscanf(list.substr(at, end - at).c_str(), "%d:%d:%d:%d", &pos, &date, &time, &cards) == 4) {
        int entry[65] = {};
        entry[0] = pos, entry[4] = date, entry[5] = time, entry[9] = 480, entry[10] = 640, entry[64] = cards;
        fwrite(entry, sizeof entry, 1, stdout);
        std::string card(80, 'C');
        for (int c = 0; c < cards; ++c) fwrite(card.data(), 1, card.size(), stdout);
      }
      at = end + 1;
    }
    return 0;
  }
  if (const char *fail = std::getenv("FAKEHOST_FAIL"); fail && ("," + std::string(fail) + ",").find("," + first + ",") != std::string::npos)
    return 1;
  if (const char *tables = std::getenv("FAKEHOST_TABLES"); tables && FindValue(text, "PEEKTX ", value)) {
    std::string target;
    if (!FindValue(text, "DEV=T ", target)) return 2;
    for (char &c : value)
      if (c == '/') c = '_';
    std::FILE *in = std::fopen((std::string(tables) + "/" + value).c_str(), "rb");
    if (!in) return 1;
    std::FILE *out = std::fopen(target.c_str(), "wb");
    if (!out) return 2;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) std::fwrite(buffer, 1, n, out);
    std::fclose(in);
    return std::fclose(out) == 0 ? 0 : 2;
  }
  if (text.find("TERMPARENT") != std::string::npos) {
    // Repeated, because a caller may not yet know this program's process
    // when the first signal reaches it.
    const pid_t parent = getppid();
    for (int i = 0; i < 2000 && getppid() == parent; ++i) {
      kill(parent, SIGTERM);
      usleep(10000);
    }
  }
  if (FindValue(text, "SLEEP=", value)) usleep(static_cast<useconds_t>(std::atoi(value.c_str())) * 1000);
  if (FindValue(text, "SAY=", value)) std::printf("fakehost: %s\n", value.c_str());
  std::fflush(stdout);
  if (text.find("KILLSELF") != std::string::npos) raise(SIGKILL);
  if (FindValue(text, "EXIT=", value)) return std::atoi(value.c_str());
  return 0;
}
