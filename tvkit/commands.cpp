// The kit's data commands: the text read, the time limit, the local
// dataset registry, copies, listings, the remote image directory and the
// frame loop.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
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

std::string Key(const char *keyword, int position = 1) {
  const char *value = "";
  (void)Tvcmdstr(keyword, position, "", &value);
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

// The machine, dataset and a local copy of item `position` of `name`.
bool LocateItem(const char *word, const std::string &name, int position, Scratch &scratch, Dataset &dataset,
                std::string &local, std::string &why) {
  Machine machine;
  if (!MachineOf(name.substr(0, name.find('/')), machine, why) || !FindDataset(machine, name, dataset, why)) return false;
  std::string file = ItemFile(dataset, position);
  if (file.empty()) {
    why = std::string(word) + " position " + std::to_string(position) + " lies outside " + name;
    return false;
  }
  return FetchFile(machine, file, scratch, local, why);
}

// An AREA directory's date word as CCYYDDD, as the server reads it.
int AreaDate(std::int32_t word) { return static_cast<int>(datafile::AreaDate(word)); }

}  // namespace

std::vector<int> HeldPositions(const Dataset &d, const std::string &data) {
  std::vector<std::pair<std::int64_t, int>> held;  // modification time, position
  for (int p = 1; p <= d.last - d.first + 1; ++p) {
    struct stat st;
    std::string file = ItemFile(d, p);
    if (!file.empty() && stat((data + "/" + file).c_str(), &st) == 0 && S_ISREG(st.st_mode))
      held.emplace_back(static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, p);
  }
  std::sort(held.begin(), held.end());
  std::vector<int> positions;
  for (const auto &h : held) positions.push_back(h.second);
  return positions;
}

bool KeywordsAllowed(std::initializer_list<const char *> keywords) {
  std::vector<const char *> list(keywords);
  return Tvcmdkey(static_cast<int>(list.size()), list.data()) == 0;
}

bool PositionalCount(int least, int most) {
  int n = Tvcmdnum(" ");
  return n >= least && n <= most;
}

int ReadWhole(std::string_view text, int least, int most, int &value) {
  // Digits only; more than nine are past any range a command takes.
  constexpr field::NumberForm kForm{false, field::Sign::kNone, 0, 9};
  switch (field::WholeNumber(text, kForm, least, most, value)) {
    case field::Read::kOk: return kDone;
    case field::Read::kRange: return kCouldNot;
    default: return kUsage;
  }
}

bool WholeNumber(std::string_view text, int least, int most, int &value) {
  return ReadWhole(text, least, most, value) == kDone;
}

int Peektx() {
  const char *usage = "usage: PEEKTX group/name DEV=T file";
  if (!KeywordsAllowed({})) return Usage(usage);
  std::string dataset_name = Arg(1), target = Key("DEV.ICE", 2);
  if (!PositionalCount(1, 1) || Key("DEV.ICE") != "T" || Tvcmdnum("DEV.ICE") != 2 || target.empty() ||
      dataset_name.find('/') == std::string::npos)
    return Usage(usage);
  Scratch scratch;
  Dataset d;
  std::string local, why;
  Machine machine;
  if (!MachineOf(dataset_name.substr(0, dataset_name.find('/')), machine, why) ||
      !FindDataset(machine, dataset_name, d, why) || d.type != "TEXT" ||
      !FetchFile(machine, d.where, scratch, local, why, kMostTableBytes) ||
      !CopyFile(local, target, why, kMostTableBytes))
    return Fail(why.empty() ? dataset_name + " is not a text dataset" : why);
  return kDone;
}

int Waitcap(const std::string &line) {
  // WAITCAP <seconds> <command ...>: the command is the rest of the line.
  const char *usage = "usage: WAITCAP seconds command (seconds 1 to 86400)";
  std::size_t at = line.find_first_not_of(' ');                            // the word WAITCAP
  at = at == std::string::npos ? at : line.find_first_not_of(' ', line.find(' ', at));  // the seconds
  std::size_t end = at == std::string::npos ? at : line.find(' ', at);
  std::size_t rest = end == std::string::npos ? end : line.find_first_not_of(' ', end);
  int seconds = 0;
  if (rest == std::string::npos) return Usage(usage);
  if (int rc = ReadWhole(std::string_view(line).substr(at, end - at), 1, 86400, seconds); rc != kDone)
    return Fail(usage, rc);
  std::string command = line.substr(rest);
  std::string word = command.substr(0, command.find(' '));
  for (char &c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string path = tv::FindOnPath(word + ".k");
  if (path.empty()) return Fail("no host program " + word + ".k");
  char blank[] = " ";
  char *argv[] = {blank, command.data(), nullptr};
  int status = 0;
  switch (posix::RunWithLimit(path.c_str(), argv, seconds, &status)) {
    case 0:
      return WIFEXITED(status) && WEXITSTATUS(status) != 127 ? WEXITSTATUS(status) : kCouldNot;
    case 1:
      return Fail(command + " did not end within " + std::to_string(seconds) + " seconds");
    default:
      return Fail("cannot start " + word);
  }
}

namespace {

// LOC/descriptor: one word without "/" or "." after the group, as the
// registry and the item names need it.
bool LocalName(const std::string &name) {
  return name.size() > 4 && name.rfind("LOC/", 0) == 0 && name.find_first_of("/. \t", 4) == std::string::npos;
}

}  // namespace

int Setreg() {
  const char *usage = "usage: SETREG ADD LOC/descriptor AREA|MD|GRID first last, or SETREG DEL LOC/descriptor";
  if (!KeywordsAllowed({})) return Usage(usage);
  std::string action = Arg(1), name = Arg(2), why;
  // A name without a group is no dataset name; another group's, or a
  // descriptor that cannot name a directory, is a name SETREG refuses.
  const bool named = name.find('/') != std::string::npos;
  if (action == "DEL") {
    if (!PositionalCount(2, 2) || !named) return Usage(usage);
    if (!LocalName(name)) return Fail(usage);
    return UnregisterLocal(name, why) ? kDone : Fail(why);
  }
  Dataset d;
  d.name = name;
  d.type = Arg(3);
  d.where = name;
  if (action != "ADD" || !PositionalCount(5, 5) || !named ||
      (d.type != "AREA" && d.type != "MD" && d.type != "GRID"))
    return Usage(usage);
  if (int rc = ReadWhole(Arg(4), 1, 9999, d.first); rc != kDone) return Fail(usage, rc);
  if (int rc = ReadWhole(Arg(5), d.first, 9999, d.last); rc != kDone) return Fail(usage, rc);
  if (!LocalName(name) || !SafeName(name)) return Fail(usage);
  return RegisterLocal(d, why) ? kDone : Fail(why);
}

namespace {

// The keywords of a copy, as the client passes them.
struct CopyKeys {
  bool replace = true;      // DEL / DELETE: an item already at the destination is replaced
  int lines = 0, elements = 0;  // SIZE: the centred part of an image to copy; 0 the whole
  int grids = 0;            // NUM: the most grids copied (the kit's grid files hold one)
};

bool YesNo(const std::string &text, bool &value) {
  if (text == "YES" || text == "Y" || text == "TRUE" || text == "T") return value = true, true;
  if (text == "NO" || text == "N" || text == "FALSE" || text == "F") return value = false, true;
  return false;
}

// A signed whole number from -99999 to 99999: kDone with `value`; kUsage
// for a word that is no number, kCouldNot for one past that range.
int SignedNumber(const std::string &text, int &value) {
  // strtol's form: blanks first, a sign, digits, nothing after them.
  constexpr field::NumberForm kForm{true, field::Sign::kEither, 0, 0};
  switch (field::WholeNumber(text, kForm, -99999, 99999, value)) {
    case field::Read::kOk: return kDone;
    case field::Read::kRange: return kCouldNot;
    default: return kUsage;
  }
}

// Reads and checks SIZE, BAND, MAG, DEL/DELETE and NUM.  BAND and MAG
// are checked only: the kit's images stand for any band, and a copy keeps
// the server's pixels (the display magnifies).  kDone, or with `why` kUsage
// for a value not of its form and kCouldNot for one out of its range.
int ReadCopyKeys(std::string_view word, CopyKeys &keys, std::string &why) {
  // DEL=NO (DELETE=NO): an item the target position already holds stays.
  if (Tvcmdnum("DEL.ETE") > 0 && (Tvcmdnum("DEL.ETE") != 1 || !YesNo(Key("DEL.ETE"), keys.replace)))
    return why = "DEL= wants YES or NO", kUsage;
  std::string band = Key("BAND");
  int n = 0;
  if (!band.empty() && band != "ALL") {
    int rc = SignedNumber(band, n);
    if (rc != kDone || n < 1 || n > 36)
      return why = "BAND=" + band + " is not ALL or a band 1 to 36", rc == kDone ? kCouldNot : rc;
  }
  for (int i = 1; i <= 2; ++i) {
    std::string mag = Key("MAG", i);
    if (mag.empty()) continue;
    int rc = SignedNumber(mag, n);
    if (rc != kDone || n == 0 || n < -16 || n > 16)
      return why = "MAG=" + mag + " is not a magnification -16 to 16 (not 0)", rc == kDone ? kCouldNot : rc;
  }
  std::string size = Key("SIZE"), size2 = Key("SIZE", 2);
  if (!size.empty() && size != "ALL" && size != "SAME") {
    int rc = SignedNumber(size, keys.lines);
    if (rc == kDone) rc = SignedNumber(size2.empty() ? size : size2, keys.elements);
    if (rc != kDone)
      return why = "SIZE=" + size + (size2.empty() ? "" : " " + size2) + " is not ALL, SAME or lines elements", rc;
    // 0, -1 (the server's size) and -99 (all) copy the whole image.
    if (keys.lines <= 0 || keys.elements <= 0) {
      if ((keys.lines != 0 && keys.lines != -1 && keys.lines != -99) ||
          (keys.elements != 0 && keys.elements != -1 && keys.elements != -99))
        return why = "SIZE=" + size + " " + size2 + " is not a size", kCouldNot;
      keys.lines = keys.elements = 0;
    }
  }
  if (word == "MESHDUP" && Tvcmdnum("NUM") > 0) {
    int rc = Tvcmdnum("NUM") != 1 ? kUsage : ReadWhole(Key("NUM"), 1, 999999, keys.grids);
    if (rc != kDone) return why = "NUM= wants a count of grids from 1", rc;
  }
  return kDone;
}

// Whether `path` is an AREA file of this machine's byte order (see
// AreaDirectory) that holds at least the pixels its directory states (a
// file still being written, or cut, holds fewer).
bool WholeAreaFile(const std::string &path) {
  std::int32_t words[datafile::kAreaDirectoryWords];
  struct stat st;
  if (!AreaDirectory(path, words) || stat(path.c_str(), &st) != 0) return false;
  // Bounds that keep the product within 64 bits; the kit's own files are
  // far smaller.
  const std::int64_t lines = words[datafile::kAreaWordLines], elements = words[datafile::kAreaWordElements],
                     bytes = words[datafile::kAreaWordBytes], offset = words[datafile::kAreaWordDataOffset];
  if (lines < 1 || lines > (1 << 20) || elements < 1 || elements > (1 << 20) || bytes < 1 || bytes > 8 ||
      offset < static_cast<std::int64_t>(sizeof words))
    return false;
  return static_cast<std::int64_t>(st.st_size) >= offset + lines * elements * bytes;
}

// An image's centred part of `lines` x `elements` (no larger than the
// image) written as an AREA file of its own.  false with `why`.
bool CopyImagePart(const std::string &from, const std::string &to, int lines, int elements, std::string &why) {
  kit::AreaImage image;
  if (!kit::ReadAreaFile(from, image, why)) return false;
  if (lines >= image.lines && elements >= image.elements) return CopyFile(from, to, why);
  lines = std::min(lines, image.lines);
  elements = std::min(elements, image.elements);
  std::int32_t words[datafile::kAreaDirectoryWords];
  if (!AreaDirectory(from, words)) return why = "cannot read " + from, false;
  words[datafile::kAreaWordLines] = lines;
  words[datafile::kAreaWordElements] = elements;
  words[datafile::kAreaWordDataOffset] = static_cast<std::int32_t>(sizeof words);
  std::string bytes(reinterpret_cast<const char *>(words), sizeof words);
  const int top = (image.lines - lines) / 2, left = (image.elements - elements) / 2;
  for (int l = 0; l < lines; ++l)
    bytes.append(reinterpret_cast<const char *>(image.pixels.data()) +
                     static_cast<std::size_t>(top + l) * static_cast<std::size_t>(image.elements) +
                     static_cast<std::size_t>(left),
                 static_cast<std::size_t>(elements));
  MakeParentDirectories(to);
  return kit::WriteWholeFile(to, bytes.data(), bytes.size(), why);
}

}  // namespace

int Dup(std::string_view word) {
  const char *w = word == "RASDUP" ? "RASDUP" : word == "OBSDUP" ? "OBSDUP" : "MESHDUP";
  const char *type = word == "RASDUP" ? "AREA" : word == "OBSDUP" ? "MD" : "GRID";
  const std::string usage = "usage: " + std::string(w) + " group/descriptor[.position] LOC/descriptor.position" +
                            (word == "RASDUP"   ? " [SIZE= BAND= MAG= STY=]"
                             : word == "OBSDUP" ? " [DELETE=YES|NO]"
                                                : " [DEL=YES|NO] [NUM=count]");
  bool keywords = word == "RASDUP"   ? KeywordsAllowed({"SIZE", "BAND", "MAG", "STY"})
                  : word == "OBSDUP" ? KeywordsAllowed({"DEL.ETE"})
                                     : KeywordsAllowed({"DEL.ETE", "NUM"});
  if (!keywords || !PositionalCount(2, 2)) return Usage(usage);
  std::string from_name, to_name, why;
  int from_pos = 0, to_pos = 0;
  // The target names its position.
  const int from_rc = ReadItem(Arg(1), false, from_name, from_pos), to_rc = ReadItem(Arg(2), false, to_name, to_pos);
  if (from_rc == kUsage || to_rc == kUsage || (to_rc == kDone && to_pos == 0)) return Usage(usage);
  if (from_rc != kDone || to_rc != kDone || to_name.rfind("LOC/", 0) != 0)  // copies go to local datasets only
    return Fail(usage);
  CopyKeys keys;
  if (int rc = ReadCopyKeys(word, keys, why); rc != kDone) return Fail(why, rc);
  Scratch scratch;
  Dataset from, to;
  std::string local;
  if (from_pos == 0) {  // the dataset as a whole: its newest item
    Machine machine;
    if (!MachineOf(from_name.substr(0, from_name.find('/')), machine, why) ||
        !FindDataset(machine, from_name, from, why))
      return Fail(why);
    from_pos = NewestPosition(machine, from);
    if (from_pos == 0) return Fail(from_name + " holds no item");
  }
  if (!LocateItem(w, from_name, from_pos, scratch, from, local, why)) return Fail(why);
  Machine here;
  if (!MachineOf(to_name.substr(0, to_name.find('/')), here, why) || !here.ftp_url.empty() ||
      !FindDataset(here, to_name, to, why))
    return Fail(why.empty() ? to_name + " is not a local dataset" : why);
  if (from.type != type || to.type != type)
    return Fail(std::string(w) + " copies " + type + " items: " + from_name + " is " + from.type + ", " + to_name +
                       " is " + to.type);
  if (from.type == "AREA" && !WholeAreaFile(local))
    return Fail(from_name + "." + std::to_string(from_pos) + " (" + ItemFile(from, from_pos) +
                       ") is not a whole AREA image file");
  std::string target = ItemFile(to, to_pos);
  if (target.empty()) return Fail("position " + std::to_string(to_pos) + " lies outside " + to_name);
  target = here.root + "/tavrin/data/" + target;
  struct stat st;
  if (!keys.replace && stat(target.c_str(), &st) == 0)
    return Fail(to_name + "." + std::to_string(to_pos) + " already holds an item (DEL=NO)");
  bool copied = keys.lines > 0 ? CopyImagePart(local, target, keys.lines, keys.elements, why)
                               : CopyFile(local, target, why);
  return copied ? kDone : Fail(why);
}

int Catalog(std::string_view word) {
  const std::string w(word);
  const std::string usage = "usage: " + w + " group/descriptor[.ALL|.position] [FORM=FILE]";
  std::string name, why;
  int position = 0;
  if (!KeywordsAllowed({"FORM"}) || !PositionalCount(1, 1)) return Usage(usage);
  if (int rc = ReadItem(Arg(1), true, name, position); rc != kDone) return Fail(usage, rc);
  Machine machine;
  Dataset d;
  if (!MachineOf(name.substr(0, name.find('/')), machine, why) || !FindDataset(machine, name, d, why))
    return Fail(why);
  if (position > d.last - d.first + 1)
    return Fail("position " + std::to_string(position) + " lies outside " + name);
  std::printf("%s  %s  positions 1-%d (files %d-%d)\n", name.c_str(), d.type.c_str(), d.last - d.first + 1, d.first,
              d.last);
  if (!machine.ftp_url.empty()) return kDone;
  for (int p = position > 0 ? position : 1; p <= (position > 0 ? position : d.last - d.first + 1); ++p) {
    if (ItemFile(d, p).empty()) continue;
    std::string file = machine.root + "/tavrin/data/" + ItemFile(d, p);
    struct stat st;
    if (stat(file.c_str(), &st) != 0) continue;
    std::int32_t words[datafile::kAreaDirectoryWords];
    if (d.type == "AREA" && AreaDirectory(file, words))
      std::printf("%5d  %s  %07d %06d  %d x %d\n", p, ItemFile(d, p).c_str(),
                  AreaDate(words[datafile::kAreaWordDate]), words[datafile::kAreaWordTime],
                  words[datafile::kAreaWordLines], words[datafile::kAreaWordElements]);
    else
      std::printf("%5d  %s  %lld bytes\n", p, ItemFile(d, p).c_str(), static_cast<long long>(st.st_size));
  }
  return kDone;
}

int Imgdir() {
  std::string name, why;
  int position = 0;
  if (!KeywordsAllowed({}) || !PositionalCount(1, 1) || !SplitItem(Arg(1), name, position))
    return Usage("usage: IMGDIR group/descriptor (" + Arg(1) + " is none)");
  // The host's reader takes kUsage for "no such dataset": a dataset the
  // machine's registry does not hold, or not of images.  A registry or
  // route that cannot serve is a failure of the request.
  Machine machine;
  Dataset d;
  bool missing = false;
  if (!MachineOf(name.substr(0, name.find('/')), machine, why) || !FindDataset(machine, name, d, why, missing))
    return Fail(why, missing ? kUsage : kCouldNot);
  if (d.type != "AREA") return Fail(name + " is not an image dataset", kUsage);
  struct Entry {
    int position;
    std::int32_t words[datafile::kAreaDirectoryWords];
  };
  std::vector<Entry> entries;
  for (int p : ItemPositions(machine, d)) {
    Entry e{};
    e.position = p;
    if (ItemDirectory(machine, ItemFile(d, p), e.words)) entries.push_back(e);
  }
  // Newest first.
  std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
    using datafile::kAreaWordDate, datafile::kAreaWordTime;
    std::int64_t ka = std::int64_t{AreaDate(a.words[kAreaWordDate])} * 1000000 + a.words[kAreaWordTime];
    std::int64_t kb = std::int64_t{AreaDate(b.words[kAreaWordDate])} * 1000000 + b.words[kAreaWordTime];
    return ka > kb;
  });
  for (const Entry &e : entries) {
    std::int32_t out[datafile::kEntryWords];
    out[datafile::kEntryWordPosition] = e.position;
    std::memcpy(out + datafile::EntryWord(0), e.words, sizeof e.words);
    // the entry's date word, CCYYDDD
    out[datafile::EntryWord(datafile::kAreaWordDate)] = AreaDate(e.words[datafile::kAreaWordDate]);
    out[datafile::kEntryWordCards] = 0;  // no comment cards
    if (!posix::WriteAll(1, out, sizeof out)) return kCouldNot;
  }
  return kDone;
}

}  // namespace tvkit
