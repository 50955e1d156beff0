// The host's three output streams.  Each stream collects text until a
// newline ends a line, then hands every complete line to its line writer;
// the session decides per stream the descriptor, the line mode and the
// display attributes.

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "host/host.h"
#include "host/internal.h"

namespace tv {
namespace {

std::string g_pending[3];  // unfinished line of each stream

void WriteAll(int fd, const std::string &bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a stream that cannot be written is dropped silently
    done += static_cast<std::size_t>(n);
  }
}

bool MentionsDone(const std::string &line) {
  return line.find("DONE") != std::string::npos || line.find("Done") != std::string::npos ||
         line.find("done") != std::string::npos;
}

void WriteLine(int stream, const std::string &text) {
  const SessionArea &session = Session();
  const StreamSetting &setting = session.streams[stream];
  std::string line;
  int attr2 = setting.attr2;
  if (stream == kErrorStream) {
    line = std::string(ProgramName()) + ": " + text;
    attr2 = MentionsDone(text) ? 7 : 14;
  } else if (stream == kDebugStream) {
    line = std::string(ProgramName()) + "* " + text;
    attr2 = 14;
  } else {
    line = text;
  }
  int mode = setting.line_mode;
  if (mode == 1 && session.text_window != 1) mode = 2;
  std::string bytes;
  switch (mode) {
    case 1:
      bytes += '\x02';
      bytes += static_cast<char>(setting.attr1);
      bytes += '\x03';
      bytes += static_cast<char>(attr2);
      bytes += line;
      bytes += '\n';
      break;
    case 2:
    case 3: {
      std::size_t end = line.find_last_not_of(' ');
      bytes = end == std::string::npos ? std::string() : line.substr(0, end + 1);
      bytes += '\n';
      break;
    }
    case 4:
      bytes = line.substr(0, 80);
      bytes.resize(80, ' ');
      break;
    case 5:
      bytes = line + "\r\n";
      break;
    default:
      return;
  }
  // The programs print their own messages through stdio; keep the order.
  std::fflush(stdout);
  WriteAll(setting.fd, bytes);
}

// Whether the session writes the stream's lines at all (line modes 1 to 5).
bool Written(int stream) {
  int mode = Session().streams[stream].line_mode;
  return mode >= 1 && mode <= 5;
}

void Emit(int stream, const char *format, va_list args) {
  // A discarded stream (the debug stream unless debugging is on) is not
  // even formatted: the server and the cycle write debug lines per record.
  if (!Written(stream)) return;
  va_list copy;
  va_copy(copy, args);
  char small[512];
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return;
  std::string text;
  if (static_cast<std::size_t>(n) < sizeof small) {
    text.assign(small, static_cast<std::size_t>(n));
  } else {
    text.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(n));
  }
  std::string &pending = g_pending[stream];
  pending += text;
  std::size_t start = 0;
  for (std::size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1)
    WriteLine(stream, pending.substr(start, nl - start));
  pending.erase(0, start);
}

}  // namespace

void FlushStreams() {
  for (int stream = 0; stream < 3; ++stream) {
    if (g_pending[stream].empty()) continue;
    std::string rest;
    rest.swap(g_pending[stream]);
    WriteLine(stream, rest);
  }
}

}  // namespace tv

void Tveprintf(const char *format, ...) {
  va_list args;
  va_start(args, format);
  tv::Emit(tv::kErrorStream, format, args);
  va_end(args);
}

void Tvdprintf(const char *format, ...) {
  va_list args;
  va_start(args, format);
  tv::Emit(tv::kDebugStream, format, args);
  va_end(args);
}

void Tvprintf(const char *format, ...) {
  va_list args;
  va_start(args, format);
  tv::Emit(tv::kStandardStream, format, args);
  va_end(args);
}
