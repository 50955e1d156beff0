// VKC LOAD, LOOP and STOP: an image displayed by hand into the right frame
// of a record's loop, and the host's frame loop over the record's frames.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "client/client.h"
#include "client/command_lines.h"
#include "host/data_files.h"
#include "host/host.h"
#include "vocab/field_reader.h"

namespace {

using command_lines::Format;

constexpr int kFirstUsableFrame = 1;
constexpr int kLastUsableFrame = 1078;  // the working tables' last index is 1079
constexpr int kCardsRoom = 1024;        // 12 comment cards of 80 bytes
constexpr std::size_t kMostTimeText = 19;

// A date and time; later() is the time order of the loop.
struct Moment {
  int date = 0, time = 0;
  bool LaterThan(const Moment &o) const { return date > o.date || (date == o.date && time > o.time); }
  bool operator==(const Moment &o) const { return date == o.date && time == o.time; }
};

// The record named on the command line, opened: kClientOk, or (nothing
// more to do) kClientUsage or kClientFailed after the validator's or the
// open message.
int OpenRecord(DBase &file, int &number, ClientRec &r) {
  number = 1;
  if (!ValidateArgs1(&number, kClientRecords)) return kClientUsage;
  if (!OpenVarnekDB(&file, kClientFile, kClientFileText)) return kClientFailed;
  (void)ReadClientRec(&file, number, &r);
  return kClientOk;
}

// Writes back the one field a command changed (a merge under the record's
// lock, so that nothing else changed meanwhile is undone).
int WriteField(DBase &file, int number, const ClientRec &changed, void (*apply)(ClientRec &to, const ClientRec &from)) {
  ClientRec current;
  int rc = DBRewrite(&file, number, &current, [&](void *data) {
    auto &in_file = *static_cast<ClientRec *>(data);
    if (in_file.DataType != AREA) return false;
    apply(in_file, changed);
    return true;
  });
  if (rc == 0) return kClientOk;
  Tveprintf("Client Record %d not written: %s\n", number, "the record cannot be read or written");
  return kClientFailed;
}

bool IsLoopRecord(const ClientRec &r) { return r.Status == Active && r.DataType == AREA && r.Data.Area.Show; }

// hh:mm (seconds after a second ":" are ignored) as HHMM00; false when the
// text is no time.  The hours and the minutes are one or two digits each.
bool ReadClock(std::string_view text, int &hhmmss) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  std::string_view minutes = text.substr(colon + 1);
  minutes = minutes.substr(0, minutes.find(':'));
  constexpr field::NumberForm kTwoDigits{false, field::Sign::kNone, 0, 2};
  int hh = 0, mm = 0;
  if (field::WholeNumber(text.substr(0, colon), kTwoDigits, 0, 23, hh) != field::Read::kOk ||
      field::WholeNumber(minutes, kTwoDigits, 0, 59, mm) != field::Read::kOk)
    return false;
  hhmmss = hh * 10000 + mm * 100;
  return true;
}

// The frame for an image of `image` among the loop's frames: after the
// latest when it is later than all, the earliest's when earlier than all,
// else the frame it falls in by time (the walk back from the latest).
int PlaceImage(const AreaClientStruct &a, const Moment &image) {
  std::vector<Moment> frames(static_cast<std::size_t>(a.EndFrame + 1));
  Moment latest, earliest{3099000, 0};
  int fidx = 0, feidx = a.BegFrame;
  for (int f = a.BegFrame; f <= a.EndFrame; ++f) {
    int frame = f;
    int dir[tv::kFrameDirectoryWords] = {};
    Moment m;
    if (getfrm_(&frame, dir) == 0)  // a frame that cannot be read is empty
      m = {dir[datafile::kFrameWordDate], dir[datafile::kFrameWordTime]};
    frames[static_cast<std::size_t>(f)] = m;
    if (m.LaterThan(latest)) latest = m, fidx = f;
    if (earliest.LaterThan(m)) earliest = m, feidx = f;
  }
  Tvdprintf("Latest image in frame %d with timestamp %d %d\n", fidx, latest.date, latest.time);
  Tvdprintf("Earliest image in frame %d with timestamp %d %d\n", feidx, earliest.date, earliest.time);
  if (fidx == 0) return a.BegFrame;  // no frame of the loop holds an image
  auto before = [&](int f) { return f - 1 < a.BegFrame ? a.EndFrame : f - 1; };
  if (image.LaterThan(latest)) {
    Tvdprintf("Image never loaded before, load to next frame\n");
    return fidx + 1 > a.EndFrame ? a.BegFrame : fidx + 1;
  }
  if (earliest.LaterThan(image)) {
    Tvdprintf("Image loaded to the frame %d with earliest image\n", feidx);
    return feidx;
  }
  int choice = before(fidx);
  int f = fidx;
  for (int visited = 0; visited < a.EndFrame - a.BegFrame + 1; ++visited) {
    int p = before(f);
    const Moment &at = frames[static_cast<std::size_t>(f)], &prev = frames[static_cast<std::size_t>(p)];
    if (at == image) {
      Tvdprintf("Image loaded before to frame %d, load to it again\n", f);
      return f;
    }
    if (at.LaterThan(image) && image.LaterThan(prev)) {
      choice = p == fidx ? f : p;
      Tvdprintf("Image not loaded before, but its time is between\n  that of frame %d and %d, so load to frame %d\n"
                "  unless it is the latest frame\n",
                p, f, p);
    }
    f = p;
  }
  return choice;
}

// What LOAD was asked for: FRAME= (or the frame displayed last) and TIME=.
struct LoadRequest {
  int frame = 0;
  bool frame_given = false;  // FRAME= typed: the frame is not placed by time
  const char *time_text = "";
  std::string_view time;
  bool all = false;  // TIME=ALL
  int hhmmss = 0;    // a TIME=hh:mm, as HHMM00
};

// Fetches FRAME= and TIME=.  kClientOk, or kClientRefused after the
// message for values that cannot be used.
int ReadLoadRequest(const AreaClientStruct &a, LoadRequest &request) {
  const int default_frame = a.NxtFrame - 1 < a.BegFrame ? a.EndFrame : a.NxtFrame - 1;
  request.frame = default_frame;
  const int frame_code = Tvcmdint("FRAME", 1, "Integer Value", default_frame, 1, 0, &request.frame);
  (void)Tvcmdstr("TIME", 1, "", &request.time_text);
  request.time = request.time_text;
  request.all = request.time == "ALL";
  request.frame_given = frame_code != 100;
  if (frame_code < 0 || request.time.size() > kMostTimeText ||
      (!request.time.empty() && !request.all && !ReadClock(request.time, request.hhmmss))) {
    Tveprintf("ClientLoad: ERROR in specifying keyword values\n");
    return kClientRefused;
  }
  return kClientOk;
}

// The date and time of the image LOAD shows: TIME= today (yesterday when
// the time is still to come), else the newest image of the record's dataset
// as the host's image directory reports it.  kClientOk, or kClientFailed
// after the message.
int ImageMoment(const ClientRec &r, const LoadRequest &request, Moment &image) {
  if (!request.time.empty()) {
    int today = 0, now = 0;
    if (Tvgetdaytime(&today, &now) != 0) {
      Tveprintf("ClientLoad: ERROR in specifying keyword values\n");
      return kClientFailed;
    }
    image = {today, request.hhmmss};
    if (request.hhmmss > now && Tvincday(today, -1, &image.date) != 0) image.date = today;
    Tvdprintf("Specified TIME=%s, guessed timestamp %d %d\n", request.time_text, image.date, image.time);
    return kClientOk;
  }
  std::string dataset = std::string(r.Group) + "/" + r.Descriptor;
  char name[80] = {};
  std::memcpy(name, dataset.data(), std::min(dataset.size(), sizeof name));
  int none = 0, errflag = 1;
  int rc = tvadir_(name, &none, "", &errflag, static_cast<int>(sizeof name), 1);
  if (rc < 0) {
    Tveprintf("ClientLoad: ERROR in tvadir_: %d\n", rc);
    return kClientFailed;
  }
  int dir[datafile::kEntryWords] = {};
  char cards[kCardsRoom];
  rc = tvadrd_(dir, cards, kCardsRoom);
  if (rc == 1) {
    Tveprintf("ClientLoad: dataset %s holds no image\n", dataset.c_str());
    return kClientFailed;
  }
  if (rc != 0) {
    Tveprintf("ClientLoad: Error in tvadrd_: %d\n", rc);
    return kClientFailed;
  }
  using datafile::EntryWord;
  image = {dir[EntryWord(datafile::kAreaWordDate)], dir[EntryWord(datafile::kAreaWordTime)]};
  Tvdprintf("Latest image on server has timestamp %d %d\n", image.date, image.time);
  Tvdprintf("Num of line %d, num of ele in each line %d\n", dir[EntryWord(datafile::kAreaWordLines)],
            dir[EntryWord(datafile::kAreaWordElements)]);
  return kClientOk;
}

// Without FRAME= (and not for ALL): the frame of the loop where the image's
// time belongs, over a loop whose frames can index the tables (else the
// default frame stays, with a message).  kClientOk or kClientFailed.
int PlaceByTime(const ClientRec &r, LoadRequest &request) {
  const AreaClientStruct &a = r.Data.Area;
  if (a.BegFrame < kFirstUsableFrame || a.EndFrame > kLastUsableFrame || a.BegFrame > a.EndFrame) {
    Tveprintf("ClientLoad: frames %d..%d of the loop lie outside 1..%d; frame %d is used\n", a.BegFrame, a.EndFrame,
              kLastUsableFrame, request.frame);
    return kClientOk;
  }
  Moment image;
  if (int rc = ImageMoment(r, request, image); rc != kClientOk) return rc;
  request.frame = PlaceImage(a, image);
  return kClientOk;
}

// LOAD's magnification: as set, or from the resolutions; false after the
// message when the server's resolution is not known yet.
bool LoadMagnification(const AreaClientStruct &a, command_lines::Magnification &mag) {
  mag = {a.LMag, a.EMag};
  if (a.LMag != 0 && a.EMag != 0) return true;
  if (a.serverRes == 0) {
    std::printf("Image resolution on server is unknown.\n");
    std::printf("Without MAG specified, LOAD will only work\nafter image resolution on server is known,\n e.g, "
                "after at least one CYCLE\n");
    return false;
  }
  Zoom(a.imgSat, a.serverRes, a.Resolution, &mag.line, &mag.element);
  return true;
}

}  // namespace

int ClientLoad() {
  DBase file;
  int number = 1;
  ClientRec r;
  if (int rc = OpenRecord(file, number, r); rc != kClientOk) return rc;
  if (!IsLoopRecord(r)) return kClientRefused;
  LoadRequest request;
  if (int rc = ReadLoadRequest(r.Data.Area, request); rc != kClientOk) return rc;
  if (!request.frame_given && !request.all)
    if (int rc = PlaceByTime(r, request); rc != kClientOk) return rc;
  Tvdprintf("Frame to be used if needed: %d\n", request.frame);

  command_lines::Magnification mag;
  if (!LoadMagnification(r.Data.Area, mag)) return kClientFailed;
  std::string line;
  if (command_lines::LoadDisplayLine(r, {request.all, request.frame, request.time}, mag, line) != 0)
    return kClientFailed;
  const int shown = Exec(line.c_str());
  if (request.all) {
    // One image per frame from the loop's first: the next display starts there.
    r.Data.Area.NxtFrame = r.Data.Area.BegFrame;
    if (WriteField(file, number, r, [](ClientRec &to, const ClientRec &from) {
          to.Data.Area.NxtFrame = from.Data.Area.NxtFrame;
        }) != kClientOk)
      return kClientFailed;
  }
  return shown == 0 ? kClientOk : kClientFailed;
}

int ClientLoop() {
  DBase file;
  int number = 1;
  ClientRec r;
  if (int rc = OpenRecord(file, number, r); rc != kClientOk) return rc;
  int result = kClientRefused;  // not a record with a loop of frames
  if (IsLoopRecord(r)) {
    AreaClientStruct &a = r.Data.Area;
    const int beg = a.BegFrame, end = a.EndFrame;
    // A bad frame outside the loop leaves nothing out.
    const int b = a.badFrame >= beg && a.badFrame <= end ? a.badFrame : 0;
    a.Looping = True;
    std::vector<std::string> commands;
    if (b == 0) commands.push_back(Format("SEQB %d %d", beg, end));
    else if (b == beg) commands.push_back(Format("SEQB %d %d", b + 1, end));
    else if (b == end) commands.push_back(Format("SEQB %d %d", beg, b - 1));
    else commands.push_back(Format("SEQS %d-%d %d-%d", beg, b - 1, b + 1, end));
    if (a.enhance[0] != '\0') {
      if (b == 0) commands.push_back(Format("PALX REST %s %d %d", a.enhance, beg, end));
      else if (b == beg) commands.push_back(Format("PALX REST %s %d %d", a.enhance, b + 1, end));
      else if (b == end) commands.push_back(Format("PALX REST %s %d %d", a.enhance, beg, b - 1));
      else {
        commands.push_back(Format("PALX REST %s %d %d", a.enhance, beg, b - 1));
        commands.push_back(Format("PALX REST %s %d %d", a.enhance, b + 1, end));
      }
    }
    if (a.independentG != 0) commands.push_back(Format("SEQB G %d %d", a.independentG, a.independentG));
    if (std::strcmp(a.Dwell, "AUTO") != 0) commands.push_back(Format("ZRNG %s", a.Dwell));
    commands.push_back("ZRNG AUTO");
    commands.push_back("SCRNSET L ON");
    bool ran = true;
    for (const std::string &command : commands) ran = Exec(command.c_str()) == 0 && ran;
    result = WriteField(file, number, r, [](ClientRec &to, const ClientRec &from) {
      to.Data.Area.Looping = from.Data.Area.Looping;
    });
    if (result == kClientOk && !ran) result = kClientFailed;
  }
  return result;
}

int ClientStopLoop() {
  DBase file;
  int number = 1;
  ClientRec r;
  if (int rc = OpenRecord(file, number, r); rc != kClientOk) return rc;
  // A loop record that is not looping: nothing to stop, and nothing wrong.
  int result = IsLoopRecord(r) ? kClientOk : kClientRefused;
  if (IsLoopRecord(r) && r.Data.Area.Looping) {
    r.Data.Area.Looping = False;
    const int shown = Exec(Format("VWF %d", r.Data.Area.BegFrame).c_str());
    result = WriteField(file, number, r, [](ClientRec &to, const ClientRec &from) {
      to.Data.Area.Looping = from.Data.Area.Looping;
    });
    if (result == kClientOk && shown != 0) result = kClientFailed;
  }
  return result;
}
