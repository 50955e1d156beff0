// Time stamps and the image check: whether a server's current image is new
// for an AREA client record and, when it is, copying it into the record's
// work ring, displaying it into the record's frame ring and running the
// record's user command.

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "client/client.h"
#include "client/health.h"
#include "client/internal.h"
#include "host/data_files.h"
#include "host/host.h"
#include "posix/posix.h"
#include "vocab/field_reader.h"

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

std::string Format(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char *format, ...) {
  va_list args;
  va_start(args, format);
  char small[256];
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  std::string out;
  if (n >= 0 && static_cast<std::size_t>(n) < sizeof small) {
    out.assign(small, static_cast<std::size_t>(n));
  } else if (n >= 0) {
    out.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<std::size_t>(n));
  }
  va_end(args);
  return out;
}

// What the darkness program said of the image's day and place.
enum class Daylight { kLight, kDark, kCannotTell, kNotStarted };

struct SunTimes {
  int rise_h = 0, rise_m = 0, rise_s = 0, set_h = 0, set_m = 0, set_s = 0;
};

// Reads "H:M:S" at `at` (after blanks); false when it is not there.  Each
// part is "%d" with a sign allowed, read to at most six digits.
bool ReadClock(std::string_view line, std::size_t &at, int &h, int &m, int &s) {
  int *parts[] = {&h, &m, &s};
  for (int i = 0; i < 3; ++i) {
    if (i > 0) {
      if (at >= line.size() || line[at] != ':') return false;
      ++at;
    }
    // Blanks only before the hours; the line holds no blank but ' ' (its
    // control characters are blanked before it is read).
    const field::NumberForm form{i == 0, field::Sign::kEither, 0, 6};
    if (field::ReadNumber(line, at, form, INT_MIN, INT_MAX, *parts[i]) != field::Read::kOk) return false;
  }
  return true;
}

// The second line of the darkness program's output, cut at its first "/",
// read as "%*s %d:%d:%d %d:%d:%d".
bool ParseSunLine(std::string_view output, SunTimes &sun) {
  std::size_t first_end = output.find('\n');
  if (first_end == std::string_view::npos) return false;
  std::string_view second = output.substr(first_end + 1);
  second = second.substr(0, second.find('\n'));
  if (second.size() > 255) return false;  // more than the line buffer holds
  std::string line(second);
  for (char &c : line)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  std::size_t slash = line.find('/');
  if (slash == std::string::npos) return false;
  std::string_view rest(line);
  rest.remove_prefix(slash);
  std::size_t at = 0;
  while (at < rest.size() && rest[at] != ' ') ++at;  // %*s: the word holding the "/"
  return ReadClock(rest, at, sun.rise_h, sun.rise_m, sun.rise_s) &&
         ReadClock(rest, at, sun.set_h, sun.set_m, sun.set_s);
}

// Runs the darkness program for the image's date and the display centre
// and decides whether the image is light enough; `sun` gets the times read.
Daylight ImageDaylight(const CompareRec &c, const AreaClientStruct &a, SunTimes &sun) {
  std::string command = Format("solday.k %d %f %f", c.ImageDate, a.Lat, a.Lon);
  std::string output;
  int status = 0;
  if (posix::RunAndRead(command.c_str(), 4096, 2, output, &status) != 0 || status == 127 || status == 126)
    return Daylight::kNotStarted;
  if (!ParseSunLine(output, sun)) return Daylight::kCannotTell;
  int riset = sun.rise_h == 0 ? 230000 + sun.rise_m * 100 + sun.rise_s
                              : (sun.rise_h - 1) * 10000 + sun.rise_m * 100 + sun.rise_s;
  int sett = sun.set_h <= 22 ? (sun.set_h + 1) * 10000 + sun.set_m * 100 + sun.set_s : sun.set_m * 100 + sun.set_s;
  int t = c.ImageTime;
  bool light = riset == sett || (riset < sett && riset <= t && t <= sett) || (riset > sett && (t <= sett || t >= riset));
  return light ? Daylight::kLight : Daylight::kDark;
}

// The frame the dominant record filled last, as an offset in its loop.
int DominantFrameOffset(const AreaClientStruct &d) {
  return d.NxtFrame == d.BegFrame ? d.EndFrame - d.BegFrame : d.NxtFrame - d.BegFrame - 1;
}

// The record's user command after an image was taken, in its special forms
// (VKS INVOKE, CONV, LINKCOPY with the position just filled) when the image
// was stored; "" when no command is to run.
std::string UserCommand(const ClientRec &r, const CompareRec &c, int filled) {
  const AreaClientStruct &a = r.Data.Area;
  std::string_view cmd = r.UserCmd;
  if (cmd == "NONE") return "";
  std::string built;
  if (a.Store && cmd.substr(0, 10) == "VKS INVOKE") {
    built = Format("%.10s %d %s", r.UserCmd, filled, r.UserCmd + 10);
  } else if (a.Store && cmd.substr(0, 4) == "CONV") {
    int day = 0, month = 0, year = 0;
    if (Tvcydtodmy(datafile::CycleDate(c.ImageDate), &day, &month, &year) != 0) {
      if (verbose > 0) std::printf("CONV not run: image date %d is not a valid date.\n", c.ImageDate);
      return "";
    }
    built = Format("CONV %d _%02d%02d%02d_%02d%02d", filled, year % 100, month, day, c.ImageTime / 10000,
                   (c.ImageTime / 100) % 100);
  } else if (a.Store && cmd.substr(0, 8) == "LINKCOPY") {
    built = Format("LINKCOPY %d %s %s", filled, r.Group, r.Descriptor);
  } else {
    return std::string(cmd);
  }
  Tvdprintf("Cmd: %s\n", built.c_str());
  return built;
}

}  // namespace

bool client_internal::IsFutureStamp(std::int64_t stamp) {
  constexpr std::int64_t kStampOrigin = 852076800;  // 1 January 1997 00:00 UTC, in seconds since 1970
  constexpr std::int64_t kMostAheadMinutes = 24 * 60;
  return stamp > (tv::Now() - kStampOrigin) / 60 + kMostAheadMinutes;
}

void getTimeStamp(int date, int time, std::int64_t *timeStamp) {
  int full = datafile::CycleDate(date);
  std::int64_t year = full / 1000;
  int remaining = full % 1000;
  bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  const int lengths[12] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int month = 0;  // index from January
  while (month < 12 && remaining > lengths[month]) remaining -= lengths[month++];
  if (month == 12) {  // past the year's last day: carried into January of the next
    ++year;
    month = 0;
  }
  std::int64_t days = tv::DaysFromCivil(year, static_cast<unsigned>(month + 1), remaining) -
                      tv::DaysFromCivil(1997, 1, 1);
  std::int64_t seconds =
      days * kSecondsPerDay + std::int64_t{time / 10000} * 3600 + (time % 10000) / 100 * 60 + time % 100;
  *timeStamp = seconds / 60;  // truncated toward zero
}

unsigned CheckArea(const CompareRec &Compare, std::int64_t ImageStamp, int Pointer, ClientRec *Client,
                   ClientTable &records) {
  (void)Pointer;
  const CompareRec &c = Compare;
  ClientRec &r = *Client;
  AreaClientStruct &a = r.Data.Area;
  unsigned changed = 0;
  // The completeness flag may be reset and set again by one check; it
  // counts as changed only when it ends other than it began.
  const std::int32_t complete_before = a.Complete;
  auto set_complete = [&](std::int32_t value) { a.Complete = value; };
  auto finish = [&] { return a.Complete != complete_before ? changed | kChangedComplete : changed; };

  // Due, completeness and the minute window; the completeness flag follows
  // every image examined, matching or not.
  bool due = ImageStamp >= r.LastStamp + a.Increment;
  if (c.CrntArea != r.LastItem || due) set_complete(False);
  bool scan_check = false;
  if (c.ScanLine >= a.Percent && a.Complete == False) {
    set_complete(True);
    scan_check = true;
  }
  if (!due || !scan_check) {  // the usual case in a pass: decided here
    // Say why a due image of the record's own is not taken for its scan
    // lines: a PER= above what the server reports keeps it out for good.
    if (due && verbose > 1 && c.ScanLine < a.Percent && std::strcmp(r.Group, c.Group) == 0 &&
        std::strcmp(r.Descriptor, c.Descriptor) == 0)
      std::printf("Image %d of %s/%s not taken: its scan-line count %d is below PER=%d.\n", c.CrntArea, r.Group,
                  r.Descriptor, c.ScanLine, a.Percent);
    return finish();
  }
  int minute = (c.ImageTime % 10000) / 100;
  bool in_window = a.RtimeB <= a.RtimeE ? a.RtimeB <= minute && minute <= a.RtimeE
                                        : (a.RtimeB <= minute && minute <= 59) || (0 <= minute && minute <= a.RtimeE);
  if (!in_window) return finish();
  if (std::strcmp(r.Group, c.Group) != 0 || std::strcmp(r.Descriptor, c.Descriptor) != 0) return finish();
  // An image dated more than a day after this clock is not believed: taking
  // it would move the record's stamp past every genuine image to come.
  if (client_internal::IsFutureStamp(ImageStamp)) return finish() | kFutureDated;

  // A visible image displayed straight from the server must be light enough.
  if (std::strcmp(a.Band, "1") == 0 && a.Show && !a.Store) {
    SunTimes sun;
    switch (ImageDaylight(c, a, sun)) {
      case Daylight::kLight:
        break;
      case Daylight::kNotStarted:
        if (verbose > 0) std::printf("Error open SOLDAY program.\n");
        return finish();
      case Daylight::kCannotTell:
        if (verbose > 1)
          std::printf("Sun rise/set for image center cannot be told; Vis image %d with image time %d not loaded\n",
                      c.CrntArea, c.ImageTime);
        return finish();
      case Daylight::kDark:
        if (verbose > 1)
          std::printf("Sun rise/set for image center: %02d:%02d:%02d/%02d:%02d:%02d\n Vis image %d with image time %d "
                      "is too dark and not loaded\n",
                      sun.rise_h, sun.rise_m, sun.rise_s, sun.set_h, sun.set_m, sun.set_s, c.CrntArea, c.ImageTime);
        return finish();
    }
  }

  // A follower of a dominant record waits, decided before anything is
  // announced or changed, until the dominant record holds the same image
  // time (a dominant record that cannot be read has not got there).
  int follower_frame = 0;
  if (a.Show && a.Dominant != 0) {
    const ClientRec *dominant = records.Record(a.Dominant);
    if (!dominant || dominant->DataType != AREA || dominant->LastDate != c.ImageDate ||
        dominant->LastTime != c.ImageTime)
      return finish();
    follower_frame = a.BegFrame + DominantFrameOffset(dominant->Data.Area);
  }

  // The record as it was, for a copy that fails: the image is then not
  // taken, and the next cycle tries it again.
  const ClientRec before = r;

  std::string loading = Format("Loading new image: %d", c.CrntArea);
  if (verbose > 1) std::printf("%s\n", loading.c_str());
  LogEntry("CheckArea", loading.c_str());

  r.LastStamp = ImageStamp;
  r.LastItem = c.CrntArea;
  r.LastDate = c.ImageDate;
  r.LastTime = c.ImageTime;
  changed |= kChangedLastItem;
  (void)CopyField(a.imgSat, c.Satellite);
  a.serverRes = c.Resolution;
  changed |= kChangedServerImage;

  // Magnifications: as set, or from the resolutions (never from an unknown
  // server resolution).
  int display_l = a.LMag, display_e = a.EMag, copy_l = a.LMag, copy_e = a.EMag;
  if (a.LMag == 0 || a.EMag == 0) {
    if (a.serverRes == 0) {
      display_l = display_e = 1;
      if (verbose > 1) std::printf("Image resolution on server is unknown; magnification 1 1 is used.\n");
    } else {
      Zoom(a.imgSat, a.serverRes, a.Resolution, &display_l, &display_e);
    }
    copy_l = copy_e = display_l;
  }
  const char *style = std::strcmp(a.Band, "ALL") == 0 ? "" : "STY=VISR";
  if (follower_frame != 0) {
    a.NxtFrame = follower_frame;
    changed |= kChangedNextFrame;
  }
  char size[30];
  (void)WriteSize(size, a.BegSize, a.EndSize);
  const char *band = std::strcmp(a.Band, "A") == 0 || std::strcmp(a.Band, "ALL") == 0 ? "ALL" : a.Band;

  const int work = a.NxtWS - a.BegWS + 1;
  int display_status = -1;
  std::string display;
  if (a.Store) {
    std::string copy;
    if (a.BegSize == 0 || a.EndSize == 0)
      copy = Format(a.Show ? "RASDUP %s/%s.%d LOC/%s.%d %s %s MAG=%d %d" : "RASDUP %s/%s.%d LOC/%s.%d %s %s MAG=%d %d ",
                    r.Group, r.Descriptor, c.CrntArea, r.Descriptor, work, size, style, copy_l, copy_e);
    else if (a.BegSize == -99 || a.EndSize == -99)
      copy = Format("RASDUP %s/%s.%d LOC/%s.%d SIZE=ALL", r.Group, r.Descriptor, c.CrntArea, r.Descriptor, work);
    else
      copy = Format("RASDUP %s/%s.%d LOC/%s.%d BAND=%s %s %s TWIN=0 MAG=%d %d ", r.Group, r.Descriptor, c.CrntArea,
                    r.Descriptor, work, band, size, style, copy_l, copy_e);
    const int copied = Exec(copy.c_str());
    health::CommandRan(health::Command::kCopy, copied);
    if (copied != 0) {
      // Nothing arrived in the work position: the record stays as it was
      // (nothing is displayed from that position, no command runs).
      if (verbose > 1) std::printf("Copy of image %d failed (status %d); it is tried again next cycle.\n", c.CrntArea, copied);
      r = before;
      a.Complete = complete_before;
      return 0;
    }
    if (a.Show)
      display = Format("RASVUE LOC/%s.%d %d LATLON=%6.1f %6.1f MAG=%d %d BAND=%s GRAY=%s TWIN=0 REF='ZRNG AUTO'",
                       r.Descriptor, work, a.NxtFrame, a.Lat, a.Lon, display_l, display_e, band, a.Gray);
  } else if (a.Show) {
    display = Format("RASVUE %s/%s.%d %d LATLON=%6.1f %6.1f MAG=%d %d BAND=%s GRAY=%s TWIN=0 REF='ZRNG AUTO'", r.Group,
                     r.Descriptor, c.CrntArea, a.NxtFrame, a.Lat, a.Lon, display_l, display_e, band, a.Gray);
  }
  if (!display.empty()) {
    if (a.SUname[0] != '\0' && std::strcmp(a.SUname, "NONE") != 0) display += Format(" SU=%s", a.SUname);
    display_status = Exec(display.c_str());
    health::CommandRan(health::Command::kDisplay, display_status);
  }

  std::string user = UserCommand(r, c, a.NxtWS);
  if (!user.empty()) health::CommandRan(health::Command::kUser, Exec(user.c_str()));

  if (a.Store) {
    a.NxtWS = client_internal::NextInRing(a.NxtWS, a.BegWS, a.EndWS);
    changed |= kChangedNextWork;
  }
  if (a.Show && display_status == 0) {
    if (a.NxtFrame == a.badFrame) {
      a.badFrame = 0;
      changed |= kChangedBadFrame;
    }
    a.NxtFrame = client_internal::NextInRing(a.NxtFrame, a.BegFrame, a.EndFrame);
    changed |= kChangedNextFrame;
  }
  return finish();
}
