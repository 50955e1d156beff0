// The display side: RASVUE (an image into a frame: the frame's directory in
// the session, and the frame as a picture), the frame loop's commands, the
// loop's state file and viewer page both keep up to date, and the daylight
// program.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "host/data_files.h"
#include "host/host.h"
#include "kit/kit.h"
#include "posix/posix.h"
#include "tvkit/tvkit.h"
#include "vocab/field_reader.h"

namespace tvkit {
namespace {

std::string Arg(int position) {
  const char *value = "";
  (void)Tvcmdstr(" ", position, "", &value);
  return value;
}

// Prints `why` (the host names the program, the command word, at the head
// of the line) and returns `status`: kCouldNot unless said.
int Fail(const std::string &why, int status = kCouldNot) {
  Tveprintf("%s\n", why.c_str());
  return status;
}

// A line that is not the command's: its usage, and kUsage.
int Usage(const std::string &usage) { return Fail(usage, kUsage); }

// The status of a host fetcher's result: kDone for a value (typed or the
// default); for a typed value the fetcher refused (and described) kUsage
// when it is not of its type's form, kCouldNot when it is one past the
// limits.
int FetchStatus(int rc) {
  if (rc >= 0) return kDone;
  if (rc < -9999) return kCouldNot;  // the host itself failed
  const int kind = -rc % 10;
  return kind == kTvKindLimits || kind == kTvKindTooSmall || kind == kTvKindTooBig ? kCouldNot : kUsage;
}

// The directory where frames are drawn and the loop's page is kept.
std::string FramesDir() {
  const char *home = std::getenv("HOME");
  std::string dir = std::string(home ? home : ".") + "/tavrin/frames";
  (void)posix::MakeDirectory((std::string(home ? home : ".") + "/tavrin").c_str(), 0755);
  (void)posix::MakeDirectory(dir.c_str(), 0755);
  return dir;
}

bool WriteText(const std::string &path, const std::string &text) {
  return posix::ReplaceFile(path.c_str(), 0666, [&](int fd) { return posix::WriteAll(fd, text.data(), text.size()); }) == 0;
}

// The next blank-separated whole number of `text` from `at` (a sign
// allowed); false at the end or at a word that is not one.
bool NextNumber(const std::string &text, std::size_t &at, long long &value) {
  at = text.find_first_not_of(" \t\r\n", at);
  if (at == std::string::npos) return false;
  const char *first = text.data() + at, *last = text.data() + text.size();
  auto [end, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || (end != last && *end != ' ' && *end != '\t' && *end != '\r' && *end != '\n')) return false;
  at = static_cast<std::size_t>(end - text.data());
  return true;
}

// Holds the frames directory's lock (.loop.lock) while a command reads and
// rewrites the loop's files, so that two commands drawing at once do not
// lose each other's frames.  The lock goes with the descriptor.  Without
// one (a directory that cannot hold it) the command goes on: each file is
// still written whole.
class StateLock {
 public:
  StateLock() {
    const std::string path = FramesDir() + "/.loop.lock";
    if (posix::CreateNew(path.c_str(), 0644, file_) == EEXIST)
      (void)posix::OpenRegularNoFollow(path.c_str(), O_RDWR, file_);
    if (file_.is_open()) (void)posix::LockWholeFile(file_.fd(), posix::LockKind::kExclusive);
  }

 private:
  posix::File file_;
};

// The state as LOOP.TXT holds it (running, dwell, the loop's frames), read
// whole (a loop of every frame of the largest session is some 50 KB), and
// the frames drawn as the state file holds them (a state file that cannot
// be read leaves none: the next write starts it afresh).  false when there
// is no LOOP.TXT to read.
bool ReadState(kit::LoopState &state) {
  std::string why;
  kit::LoopState drawn;
  if (kit::ReadLoopState(FramesDir() + "/" + kit::kLoopStateFile, drawn, why) == 0) {
    state.serial = drawn.serial;
    state.frames = std::move(drawn.frames);
  }
  std::string text;
  if (ReadSmallFile(FramesDir() + "/LOOP.TXT", kMostTableBytes, text) != 0) return false;
  std::size_t at = 0;
  long long on = 0, dwell = 500, frame = 0;
  if (!NextNumber(text, at, on) || !NextNumber(text, at, dwell)) return false;
  state.running = on != 0;
  state.dwell_ms = static_cast<int>(std::clamp<long long>(dwell, kit::kLeastDwellMs, kit::kMostDwellMs));
  while (NextNumber(text, at, frame))
    if (frame >= 1 && frame <= tv::kMaxFrames) state.loop.push_back(static_cast<int>(frame));
  return true;
}

// Writes what the loop viewer reads: the state file, and the page beside
// it when it is missing or not this kit's.  With `loop`, LOOP.TXT first
// (one line: running 1 or 0, the dwell in ms, the frames).  false with
// `why` when a file cannot be written.
bool WriteState(kit::LoopState &state, bool loop, std::string &why) {
  const std::string dir = FramesDir();
  if (loop) {
    std::string text = std::to_string(state.running ? 1 : 0) + " " + std::to_string(state.dwell_ms);
    for (int f : state.loop) text += " " + std::to_string(f);
    if (!WriteText(dir + "/LOOP.TXT", text + "\n")) {
      why = "cannot write the loop's page in " + dir;
      return false;
    }
  }
  if (!kit::WriteLoopState(dir + "/" + kit::kLoopStateFile, state, why)) return false;
  const std::string page_path = dir + "/" + kit::kLoopPageFile;
  std::string page;
  if (ReadSmallFile(page_path, kMostTableBytes, page) == 0 && page == kit::LoopPageText()) return true;
  if (posix::ReplaceFile(page_path.c_str(), 0666, [&](int fd) {
        return posix::WriteAll(fd, kit::LoopPageText().data(), kit::LoopPageText().size());
      }, nullptr, posix::Links::kReplace) != 0) {
    why = "cannot write the loop's page in " + dir;
    return false;
  }
  return true;
}

// Frames "a-b" or a single number, all frames of the session, added to
// `frames`: kDone; kUsage for text of another form, kCouldNot for frames
// outside the session or a range that runs backwards.
int AddRange(const std::string &text, std::vector<int> &frames) {
  const int most = TvGetMaxImageFrameNumber();
  const std::size_t dash = text.find('-');
  const std::string first = text.substr(0, dash), last = dash == std::string::npos ? first : text.substr(dash + 1);
  int a = 0, b = 0;
  if (int rc = ReadWhole(first, 1, most, a); rc != kDone) return ReadWhole(last, 0, 0, b) == kUsage ? kUsage : rc;
  if (int rc = ReadWhole(last, a, most, b); rc != kDone) return rc;
  for (int f = a; f <= b; ++f) frames.push_back(f);
  return kDone;
}

}  // namespace

int Loop(std::string_view word) {
  kit::LoopState state;
  StateLock lock;
  (void)ReadState(state);
  const std::string frames_text = "frames 1 to " + std::to_string(TvGetMaxImageFrameNumber());
  if (!KeywordsAllowed({})) return Usage("takes no keywords");
  if (word == "SEQB") {
    int g1 = 0, g2 = 0;
    if (Arg(1) == "G") {  // a graphics frame bound into the loop: nothing to draw here
      const std::string usage = "usage: SEQB G first last";
      if (!PositionalCount(3, 3)) return Usage(usage);
      if (int rc = ReadWhole(Arg(2), 1, 9999, g1); rc != kDone) return Fail(usage, rc);
      if (int rc = ReadWhole(Arg(3), g1, 9999, g2); rc != kDone) return Fail(usage, rc);
      return kDone;
    }
    const std::string usage = "usage: SEQB first last (" + frames_text + ")";
    std::vector<int> frames;
    if (!PositionalCount(2, 2)) return Usage(usage);
    if (int rc = AddRange(Arg(1) + "-" + Arg(2), frames); rc != kDone) return Fail(usage, rc);
    state.loop = frames;
  } else if (word == "SEQS") {
    std::vector<int> frames;
    for (int p = 1; p <= Tvcmdnum(" "); ++p)
      if (int rc = AddRange(Arg(p), frames); rc != kDone)
        return Fail("usage: SEQS a-b [c-d ...] (" + frames_text + ")", rc);
    if (frames.empty()) return Usage("usage: SEQS a-b [c-d ...]");
    state.loop = frames;
  } else if (word == "PALX") {
    const std::string usage = "usage: PALX REST enhancement first last (" + frames_text + ")";
    std::vector<int> frames;
    if (!PositionalCount(4, 4) || Arg(1) != "REST" || Arg(2).empty()) return Usage(usage);
    if (int rc = AddRange(Arg(3) + "-" + Arg(4), frames); rc != kDone) return Fail(usage, rc);
    return kDone;  // the pictures are gray: an enhancement changes nothing here
  } else if (word == "ZRNG") {
    const char *usage = "usage: ZRNG AUTO or ZRNG seconds";
    int seconds = 0;  // a dwell past a minute is a minute
    if (!PositionalCount(1, 1)) return Usage(usage);
    if (Arg(1) == "AUTO") {
      state.dwell_ms = 500;
    } else if (int rc = ReadWhole(Arg(1), 1, 86400, seconds); rc == kDone) {
      state.dwell_ms = std::min(seconds, 60) * 1000;
    } else {
      return Fail(usage, rc);
    }
  } else if (word == "SCRNSET") {
    if (!PositionalCount(2, 2) || Arg(1) != "L" || (Arg(2) != "ON" && Arg(2) != "OFF"))
      return Usage("usage: SCRNSET L ON|OFF");
    state.running = Arg(2) == "ON";
  } else if (word == "VWF") {
    const std::string usage = "usage: VWF frame (" + frames_text + ")";
    int frame = 0;
    if (!PositionalCount(1, 1)) return Usage(usage);
    if (int rc = ReadWhole(Arg(1), 1, TvGetMaxImageFrameNumber(), frame); rc != kDone) return Fail(usage, rc);
    state.running = false;
    state.loop = {frame};
  }
  std::string why;
  return WriteState(state, true, why) ? kDone : Fail(why);
}

}  // namespace tvkit

namespace tvkit {
namespace {

// Shows the image `local` (an AREA file) in `frame`: its directory into the
// session's frame, so that LOAD can compare times, and the frame drawn as a
// picture (frameNNNN.png: the image's pixels magnified as asked, with a
// caption of dataset, date and time).  A frame holds the session's frame
// size (480 lines of 640 elements): of a magnified picture past it only its
// centred part of that size is drawn, as a display shows it.  `label`
// gets what the loop viewer shows of the frame.
bool ShowImage(const std::string &local, const std::string &dataset, int frame, int line_mag, int elem_mag,
               kit::FrameLabel &label, std::string &why) {
  kit::AreaImage image;
  if (!kit::ReadAreaFile(local, image, why)) return false;
  std::int32_t words[datafile::kAreaDirectoryWords];
  if (!AreaDirectory(local, words)) {
    why = "not an image file";
    return false;
  }
  int directory[tv::kFrameDirectoryWords];
  std::memcpy(directory, words, sizeof directory);
  directory[datafile::kFrameWordDate] = image.date;
  directory[datafile::kFrameWordTime] = image.time;
  int number = frame;
  int rc = putfrm_(&number, directory);
  if (rc != 0) {
    why = "frame " + std::to_string(frame) + (rc == kTvNoDisplay ? ": no session" : " is not a frame of the session");
    return false;
  }
  std::vector<unsigned char> picture;
  int width = 0, height = 0;
  const tv::SessionArea &session = tv::Session();
  if (!kit::MagnifyCentred(image.pixels, image.elements, image.lines, line_mag, elem_mag, session.frame_elements,
                           session.frame_lines, picture, width, height)) {
    why = "the session's frames have no size";
    return false;
  }
  char caption[96];
  std::snprintf(caption, sizeof caption, "%s %07d %02d:%02d:%02d", dataset.c_str(), image.date, image.time / 10000,
                image.time / 100 % 100, image.time % 100);
  kit::DrawCaption(picture, width, height, 2, 2, caption, 255);
  char name[32];
  std::snprintf(name, sizeof name, "/frame%04d.png", frame);
  if (!kit::WriteGrayPng(FramesDir() + name, width, height, picture, why)) return false;
  label.frame = frame;
  label.dataset = dataset;
  label.date = image.date;
  label.time = image.time;
  label.width = width;
  label.height = height;
  return true;
}

// The position of a dataset whose image was taken in the minute `hhmm`
// (the newest such image when several are); 0 when none is.
int PositionAtTime(const Machine &machine, const Dataset &d, int hhmm) {
  int found = 0;
  std::int64_t found_key = -1;
  for (int p : ItemPositions(machine, d)) {
    std::int32_t words[datafile::kAreaDirectoryWords];
    if (!ItemDirectory(machine, ItemFile(d, p), words) || words[datafile::kAreaWordTime] / 100 != hhmm) continue;
    std::int64_t key = std::int64_t{words[datafile::kAreaWordDate]} * 1000000 + words[datafile::kAreaWordTime];
    if (key > found_key) found_key = key, found = p;
  }
  return found;
}

// TIME=hh:mm, or hh:mm:ss as LOAD passes what was typed to it: the minute
// as hhmm (LOAD places an image by its minute, and so is it chosen here).
// kDone; kUsage for text not of that form (each part one or two digits),
// kCouldNot for an hour past 23 or a minute or second past 59.
int ReadMinute(std::string_view text, int &hhmm) {
  constexpr std::size_t kNone = std::string_view::npos;
  const std::size_t first = text.find(':'), second = first == kNone ? kNone : text.find(':', first + 1);
  auto part = [&](std::size_t from, std::size_t to) { return text.substr(from, to == kNone ? kNone : to - from); };
  auto two_digits = [](std::string_view digits, int most, int &value) {
    return digits.size() > 2 ? kUsage : ReadWhole(digits, 0, most, value);
  };
  if (first == kNone) return kUsage;
  const std::string_view hours = part(0, first), minutes = part(first + 1, second),
                         seconds = second == kNone ? "0" : part(second + 1, kNone);
  int hh = 0, mm = 0, ss = 0;
  const int rc[3] = {two_digits(hours, 23, hh), two_digits(minutes, 59, mm), two_digits(seconds, 59, ss)};
  for (int r : rc)
    if (r == kUsage) return kUsage;
  for (int r : rc)
    if (r != kDone) return r;
  hhmm = hh * 100 + mm;
  return kDone;
}

}  // namespace

int Rasvue() {
  std::string name, why;
  int position = 0;
  const char *usage = "usage: RASVUE group/descriptor[.position] frame [MAG=l e] or ... ALL=first last";
  if (!KeywordsAllowed({"LATLON", "MAG", "BAND", "GRAY", "REF", "SU", "ALL", "TIME"})) return Usage(usage);
  if (int rc = ReadItem(Arg(1), false, name, position); rc != kDone) return Fail(usage, rc);
  Machine machine;
  Dataset d;
  if (!MachineOf(name.substr(0, name.find('/')), machine, why) || !FindDataset(machine, name, d, why))
    return Fail(why);
  if (d.type != "AREA") return Fail(name + " is not an image dataset");
  if (position > d.last - d.first + 1)
    return Fail("position " + std::to_string(position) + " lies outside " + name);
  // A magnification the host's fetcher refuses (and describes) ends the
  // command: drawing at another one would report a picture never asked for.
  int line_mag = 1, elem_mag = 1;
  if (int rc = FetchStatus(Tvcmdint("MAG", 1, "", 1, 1, 0, &line_mag)); rc != kDone) return Fail(usage, rc);
  if (int rc = FetchStatus(Tvcmdint("MAG", 2, "", line_mag, 1, 0, &elem_mag)); rc != kDone) return Fail(usage, rc);
  // The images to show and their frames: one (the position named, or the
  // dataset's newest), or with ALL=first last the newest ones, one a frame,
  // the newest in the loop's last frame.  A local dataset's items are the positions
  // that hold a file (a ring fills from any position); a remote dataset's
  // newest are taken to be its last positions.
  std::vector<int> held;
  if (machine.ftp_url.empty()) held = HeldPositions(d, machine.root + "/tavrin/data");
  else
    for (int p = 1; p <= d.last - d.first + 1; ++p) held.push_back(p);
  if (held.empty() && position == 0) return Fail(name + " holds no item");
  std::vector<std::pair<int, int>> shows;  // position, frame
  const int positions = static_cast<int>(held.size());
  int all_first = 0, all_last = 0;
  const int all_typed = Tvcmdint("ALL", 1, "", 0, 1, 0, &all_first);
  if (int rc = FetchStatus(all_typed); rc != kDone) return Fail(usage, rc);
  if (int rc = FetchStatus(Tvcmdint("ALL", 2, "", all_first, 1, 0, &all_last)); rc != kDone) return Fail(usage, rc);
  if (all_typed >= kTvFromCommandLine) {
    int frames = all_last - all_first + 1;
    if (all_first < 1 || frames < 1) return Fail("ALL= wants the loop's first and last frame");
    const int shown = std::min(frames, positions);
    for (int i = 0; i < shown; ++i)  // the newest in the loop's last frame
      shows.emplace_back(held[positions - shown + i], all_first + frames - shown + i);
  } else {
    int frame = 0;
    if (!PositionalCount(2, 2)) return Usage(usage);
    // (a frame typed as X takes the default 0, which the range refuses)
    if (int rc = FetchStatus(Tvcmdint(" ", 2, "", 0, 1, tv::kMaxFrames, &frame)); rc != kDone) return Fail(usage, rc);
    shows.emplace_back(position, frame);  // 0: chosen below
  }
  // A dataset named without a position shows its image of TIME=hh:mm (or
  // hh:mm:ss), or its newest image.
  if (shows.size() == 1 && shows[0].first == 0) {
    const char *time = "";
    (void)Tvcmdstr("TIME", 1, "", &time);
    int hhmm = 0;
    if (int rc = *time ? ReadMinute(time, hhmm) : kDone; rc != kDone)
      return Fail(std::string("TIME=") + time + " is not hh:mm or hh:mm:ss", rc);
    shows[0].first = *time ? PositionAtTime(machine, d, hhmm) : NewestPosition(machine, d);
    if (shows[0].first == 0)
      return Fail(name + (*time ? std::string(" holds no image of ") + time : " holds no image"));
  }
  Scratch scratch;
  int result = kDone;
  std::vector<kit::FrameLabel> drawn;
  for (const auto &[at, frame] : shows) {
    std::string local;
    kit::FrameLabel label;
    if (at < 1) continue;
    if (!FetchFile(machine, ItemFile(d, at), scratch, local, why) ||
        !ShowImage(local, name, frame, line_mag, elem_mag, label, why))
      result = Fail(why);
    else
      drawn.push_back(label);
    if (!machine.ftp_url.empty()) (void)posix::Unlink(local.c_str());
  }
  // The loop viewer learns of the pictures drawn (after them, so that a
  // picture the state names is there).
  if (!drawn.empty()) {
    StateLock lock;
    kit::LoopState state;
    (void)ReadState(state);
    for (kit::FrameLabel &label : drawn) kit::SetFrameLabel(state, std::move(label));
    if (!WriteState(state, false, why)) result = Fail(why);
  }
  return result;
}

int Solday(int argc, char **argv) {
  // solday.k <date CCYYDDD> <latitude> <longitude, west positive>
  if (argc != 4) {
    std::fprintf(stderr, "usage: solday.k date latitude longitude\n");
    return kUsage;
  }
  // Each argument is one finite number, nothing after it; a date past
  // eight digits is a number no day has.
  // (A decimal too small for a double reads as 0 or a subnormal number,
  // one too large as infinite: not finite.)
  constexpr field::NumberForm kWhole{true, field::Sign::kEither, 0, 0};  // as strtol reads it
  int date = 0;
  double lat = 0, lon = 0;
  const field::Read date_read = field::WholeNumber(argv[1], kWhole, 0, 99999999, date);
  const field::Read lat_read = field::WholeDecimal(argv[2], lat), lon_read = field::WholeDecimal(argv[3], lon);
  auto is_number = [](field::Read r) { return r == field::Read::kOk || r == field::Read::kRange; };
  const bool numbers = is_number(date_read) && is_number(lat_read) && is_number(lon_read) && std::isfinite(lat) &&
                       std::isfinite(lon);
  if (!numbers || date_read != field::Read::kOk) {
    std::fprintf(stderr, "usage: solday.k date latitude longitude (CCYYDDD and degrees, west positive)\n");
    return numbers ? kCouldNot : kUsage;
  }
  std::string text = kit::SolDayText(date, lat, lon);
  std::fputs(text.c_str(), stdout);
  return text.find('/') == std::string::npos ? kCouldNot : kDone;
}

}  // namespace tvkit
