// The copy and display lines of AREA records (client/command_lines.h).

#include "client/command_lines.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "host/host.h"

namespace command_lines {
namespace {

// Appends printf output to `out`, whole.
void AppendV(std::string &out, const char *format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n <= 0) return;
  const std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(n) + 1);
  std::vsnprintf(out.data() + at, static_cast<std::size_t>(n) + 1, format, args);
  out.resize(at + static_cast<std::size_t>(n));
}

void Append(std::string &out, const char *format, ...) __attribute__((format(printf, 2, 3)));
void Append(std::string &out, const char *format, ...) {
  va_list args;
  va_start(args, format);
  AppendV(out, format, args);
  va_end(args);
}

// The stretch table clause " SU=<name>", when the record names one.
void AppendStretch(std::string &line, const AreaClientStruct &a) {
  if (a.SUname[0] != '\0' && std::strcmp(a.SUname, "NONE") != 0) Append(line, " SU=%s", a.SUname);
}

// The centre, magnification, band and gray table of a display.
void AppendLook(std::string &line, const AreaClientStruct &a, Magnification mag) {
  Append(line, " LATLON=%6.1f %6.1f MAG=%d %d BAND=%s GRAY=%s TWIN=0", a.Lat, a.Lon, mag.line, mag.element,
         BandText(a), a.Gray);
}

// 0 for a line the host takes; kTvKeyinFailed, with the message, for one
// too long (its start is shown, so the operator sees which command).
int Checked(const std::string &line) {
  if (line.size() <= kMostLineCharacters) return 0;
  Tveprintf("Command not run: its line would be %zu characters, more than the host takes (%zu): %.60s...\n",
            line.size(), kMostLineCharacters, Visible(line).c_str());
  return kTvKeyinFailed;
}

}  // namespace

const char *BandText(const AreaClientStruct &a) {
  return std::strcmp(a.Band, "A") == 0 || std::strcmp(a.Band, "ALL") == 0 ? "ALL" : a.Band;
}

int CopyLine(const ClientRec &r, int position, int work, const char *size, Magnification mag, std::string &line) {
  const AreaClientStruct &a = r.Data.Area;
  const char *style = std::strcmp(a.Band, "ALL") == 0 ? "" : "STY=VISR";
  line.clear();
  Append(line, "RASDUP %s/%s.%d LOC/%s.%d", r.Group, r.Descriptor, position, r.Descriptor, work);
  if (a.BegSize == 0 || a.EndSize == 0)
    // A record that is not displayed has always had a blank after its copy.
    Append(line, a.Show ? " %s %s MAG=%d %d" : " %s %s MAG=%d %d ", size, style, mag.line, mag.element);
  else if (a.BegSize == -99 || a.EndSize == -99)
    line += " SIZE=ALL";
  else
    Append(line, " BAND=%s %s %s TWIN=0 MAG=%d %d ", BandText(a), size, style, mag.line, mag.element);
  return Checked(line);
}

int CheckDisplayLine(const ClientRec &r, int position, int work, int frame, Magnification mag, std::string &line) {
  const AreaClientStruct &a = r.Data.Area;
  line.clear();
  if (a.Store) Append(line, "RASVUE LOC/%s.%d %d", r.Descriptor, work, frame);
  else Append(line, "RASVUE %s/%s.%d %d", r.Group, r.Descriptor, position, frame);
  AppendLook(line, a, mag);
  line += " REF='ZRNG AUTO'";
  AppendStretch(line, a);
  return Checked(line);
}

int LoadDisplayLine(const ClientRec &r, const LoadTarget &target, Magnification mag, std::string &line) {
  const AreaClientStruct &a = r.Data.Area;
  line.clear();
  if (a.Store) Append(line, "RASVUE LOC/%s ", r.Descriptor);
  else Append(line, "RASVUE %s/%s ", r.Group, r.Descriptor);
  if (target.all) Append(line, " ALL=%d %d", a.BegFrame, a.EndFrame);
  else if (!target.time.empty())
    Append(line, " %d TIME=%.*s", target.frame, static_cast<int>(target.time.size()), target.time.data());
  else Append(line, " %d", target.frame);
  AppendLook(line, a, mag);
  AppendStretch(line, a);
  return Checked(line);
}

std::string Format(const char *format, ...) {
  std::string out;
  va_list args;
  va_start(args, format);
  AppendV(out, format, args);
  va_end(args);
  return out;
}

}  // namespace command_lines
