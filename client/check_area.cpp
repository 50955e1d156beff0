// Time stamps and the image check: whether a server's current image is new
// for an AREA client record and, when it is, copying it into the record's
// work ring, displaying it into the record's frame ring and running the
// record's user command.

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "client/client.h"
#include "client/command_lines.h"
#include "client/health.h"
#include "client/internal.h"
#include "host/data_files.h"
#include "host/host.h"
#include "posix/posix.h"
#include "vocab/field_reader.h"

namespace {

using command_lines::Format;

constexpr std::int64_t kSecondsPerDay = 86400;

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

namespace {

using command_lines::Magnification;

// What the examination of an image decided.
enum class Verdict {
  kTake,    // new, wanted, complete, in the window, light enough, and a
            // follower's dominant record holds it
  kPass,    // not this time
  kFuture,  // the record's own, due, but dated too far ahead to believe
};

// Whether a visible image displayed straight from the server is light
// enough (true for every other image); says why not at the verbose level.
bool LightEnough(const CompareRec &c, const AreaClientStruct &a) {
  if (std::strcmp(a.Band, "1") != 0 || !a.Show || a.Store) return true;
  SunTimes sun;
  switch (ImageDaylight(c, a, sun)) {
    case Daylight::kLight:
      return true;
    case Daylight::kNotStarted:
      if (verbose > 0) std::printf("Error open SOLDAY program.\n");
      return false;
    case Daylight::kCannotTell:
      if (verbose > 1)
        std::printf("Sun rise/set for image center cannot be told; Vis image %d with image time %d not loaded\n",
                    c.CrntArea, c.ImageTime);
      return false;
    case Daylight::kDark:
      if (verbose > 1)
        std::printf("Sun rise/set for image center: %02d:%02d:%02d/%02d:%02d:%02d\n Vis image %d with image time %d "
                    "is too dark and not loaded\n",
                    sun.rise_h, sun.rise_m, sun.rise_s, sun.set_h, sun.set_m, sun.set_s, c.CrntArea, c.ImageTime);
      return false;
  }
  return false;
}

// Decides on the image, in the order the checks have always run: due,
// completeness (the flag follows every image examined, matching or not),
// the minute window, the record's own dataset, the date, the daylight of a
// visible image, and a follower's dominant record (decided before anything
// is announced or changed).  `follower_frame` gets the frame a follower
// fills (0 for a record that follows none).
Verdict Examine(const CompareRec &c, std::int64_t stamp, ClientRec &r, ClientTable &records, int &follower_frame) {
  AreaClientStruct &a = r.Data.Area;
  const bool due = stamp >= r.LastStamp + a.Increment;
  if (c.CrntArea != r.LastItem || due) a.Complete = False;
  bool scan_check = false;
  if (c.ScanLine >= a.Percent && a.Complete == False) {
    a.Complete = True;
    scan_check = true;
  }
  const bool own = std::strcmp(r.Group, c.Group) == 0 && std::strcmp(r.Descriptor, c.Descriptor) == 0;
  if (!due || !scan_check) {  // the usual case in a pass: decided here
    // Say why a due image of the record's own is not taken for its scan
    // lines: a PER= above what the server reports keeps it out for good.
    if (due && verbose > 1 && c.ScanLine < a.Percent && own)
      std::printf("Image %d of %s/%s not taken: its scan-line count %d is below PER=%d.\n", c.CrntArea, r.Group,
                  r.Descriptor, c.ScanLine, a.Percent);
    return Verdict::kPass;
  }
  const int minute = (c.ImageTime % 10000) / 100;
  const bool in_window = a.RtimeB <= a.RtimeE
                             ? a.RtimeB <= minute && minute <= a.RtimeE
                             : (a.RtimeB <= minute && minute <= 59) || (0 <= minute && minute <= a.RtimeE);
  if (!in_window || !own) return Verdict::kPass;
  // An image dated more than a day after this clock is not believed: taking
  // it would move the record's stamp past every genuine image to come.
  if (client_internal::IsFutureStamp(stamp)) return Verdict::kFuture;
  if (!LightEnough(c, a)) return Verdict::kPass;
  // A follower waits until the dominant record holds the same image time (a
  // dominant record that cannot be read has not got there).
  follower_frame = 0;
  if (a.Show && a.Dominant != 0) {
    const ClientRec *dominant = records.Record(a.Dominant);
    if (!dominant || dominant->DataType != AREA || dominant->LastDate != c.ImageDate ||
        dominant->LastTime != c.ImageTime)
      return Verdict::kPass;
    follower_frame = a.BegFrame + DominantFrameOffset(dominant->Data.Area);
  }
  return Verdict::kTake;
}

// Announces the image and records it as the record's last one.
unsigned NoteImage(const CompareRec &c, std::int64_t stamp, ClientRec &r) {
  const std::string loading = Format("Loading new image: %d", c.CrntArea);
  if (verbose > 1) std::printf("%s\n", loading.c_str());
  LogEntry("CheckArea", loading.c_str());
  r.LastStamp = stamp;
  r.LastItem = c.CrntArea;
  r.LastDate = c.ImageDate;
  r.LastTime = c.ImageTime;
  (void)CopyField(r.Data.Area.imgSat, c.Satellite);
  r.Data.Area.serverRes = c.Resolution;
  return kChangedLastItem | kChangedServerImage;
}

// Magnifications of the display and the copy: as set, or from the
// resolutions (never from an unknown server resolution; the copy then
// takes the display's line magnification for both).
void Magnifications(const AreaClientStruct &a, Magnification &display, Magnification &copy) {
  display = copy = {a.LMag, a.EMag};
  if (a.LMag != 0 && a.EMag != 0) return;
  if (a.serverRes == 0) {
    display = {1, 1};
    if (verbose > 1) std::printf("Image resolution on server is unknown; magnification 1 1 is used.\n");
  } else {
    Zoom(a.imgSat, a.serverRes, a.Resolution, &display.line, &display.element);
  }
  copy = {display.line, display.line};
}

// Runs a built line: the builder's status when it refused the line, else
// the command's.
int Run(int built, const std::string &line) { return built != 0 ? built : Exec(line.c_str()); }

// Takes the examined image: copies it into the work ring (a failed copy
// puts the record back as it was and ends here with 0), displays it,
// runs the user command and moves the rings.
unsigned TakeImage(const CompareRec &c, std::int64_t stamp, ClientRec &r, int follower_frame,
                   std::int32_t complete_before) {
  AreaClientStruct &a = r.Data.Area;
  // The record as it was, for a copy that fails: the image is then not
  // taken, and the next cycle tries it again.
  const ClientRec before = r;
  unsigned changed = NoteImage(c, stamp, r);
  Magnification display_mag, copy_mag;
  Magnifications(a, display_mag, copy_mag);
  if (follower_frame != 0) {
    a.NxtFrame = follower_frame;
    changed |= kChangedNextFrame;
  }
  char size[30];
  (void)WriteSize(size, a.BegSize, a.EndSize);

  const int work = a.NxtWS - a.BegWS + 1;
  std::string line;
  if (a.Store) {
    const int copied = Run(command_lines::CopyLine(r, c.CrntArea, work, size, copy_mag, line), line);
    health::CommandRan(health::Command::kCopy, copied);
    if (copied != 0) {
      // Nothing arrived in the work position: the record stays as it was
      // (nothing is displayed from that position, no command runs).
      if (verbose > 1) std::printf("Copy of image %d failed (status %d); it is tried again next cycle.\n", c.CrntArea, copied);
      r = before;
      a.Complete = complete_before;
      return 0;
    }
  }
  int display_status = -1;
  if (a.Show) {
    display_status = Run(command_lines::CheckDisplayLine(r, c.CrntArea, work, a.NxtFrame, display_mag, line), line);
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
  return changed;
}

}  // namespace

unsigned CheckArea(const CompareRec &Compare, std::int64_t ImageStamp, int Pointer, ClientRec *Client,
                   ClientTable &records) {
  (void)Pointer;
  ClientRec &r = *Client;
  // The completeness flag may be reset and set again by one check; it
  // counts as changed only when it ends other than it began.
  const std::int32_t complete_before = r.Data.Area.Complete;
  unsigned changed = 0;
  int follower_frame = 0;
  switch (Examine(Compare, ImageStamp, r, records, follower_frame)) {
    case Verdict::kPass: break;
    case Verdict::kFuture: changed = kFutureDated; break;
    case Verdict::kTake: changed = TakeImage(Compare, ImageStamp, r, follower_frame, complete_before); break;
  }
  return r.Data.Area.Complete != complete_before ? changed | kChangedComplete : changed;
}
