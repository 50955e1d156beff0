// The stand-in host kit: one program whose links, named as a host command
// word in lower case with ".k" (rasdup.k, rasvue.k, peektx.k ...), stand in
// for the host environment's command programs, so that the system runs end
// to end on a plain Linux box.  It gives each command the least behaviour
// its callers need and refuses a line it cannot take with one message and
// an exit status that says why (kDone, kCouldNot, kUsage below).
//
// Where data lives (docs/kit.md):
//   a machine is a directory tree (its data under <root>/tavrin/data/) or
//   an ftp URL; the local machine is $HOME;
//   <root>/tavrin/data/DATASETS.TXT registers its datasets:
//     GROUP/DESCRIPTOR TYPE FIRST LAST WHERE
//   $HOME/tavrin/data/TVTABLE.TXT routes a group to an address
//   (QOLA_ROUTE_<group>=<address>); a group without a route is local, and
//   so is LOC;
//   $HOME/tavrin/data/MACHINES.TXT maps an address to a machine
//   (<address>=<directory or ftp://host[:port]/path>).
//
// A directory machine serves only the files that resolve, links followed,
// inside its data directory.  An ftp machine's files are fetched by the kit
// itself (through ftplib, ftp.cpp), all of one run over one login; a
// transfer counts only when the server confirmed it and the bytes that
// arrived are as many as the size it stated.  Files fetched from an ftp machine go to a scratch
// directory that is removed, with what it holds, on every path.
//
// The kit links the host runtime only (and zlib for its pictures, ftplib
// for ftp machines).

#ifndef VARNEK_TVKIT_TVKIT_H
#define VARNEK_TVKIT_TVKIT_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/data_files.h"

namespace tvkit {

// The exit statuses of every kit command: the links, `tvkit` run by hand,
// and tvsession's own (docs/kit.md, "Exit status").  A refused line ends
// with the status of the one problem its message reports.
inline constexpr int kDone = 0;      // the command did what was asked
inline constexpr int kCouldNot = 1;  // a line of the command's form it could not carry out: a number outside its
                                     // range, a dataset, position or frame not there or of another kind, a file
                                     // missing, unreadable or refused, nothing stored
inline constexpr int kUsage = 2;     // not a line of the command: no command word or an unknown one, positional
                                     // words missing or extra, a keyword the command does not take (or twice), a
                                     // word or keyword value that is not of its form (no number where a number
                                     // goes, not one of the command's words, no GROUP/DESCRIPTOR where a dataset
                                     // goes)

// The most bytes of a table the kit reads whole (a registry, the route
// table, the address map, the loop's state) or of a text dataset PEEKTX
// fetches.
inline constexpr std::size_t kMostTableBytes = std::size_t{1} << 20;

// No limit on the bytes of a fetch.
inline constexpr std::uint64_t kNoByteLimit = ~std::uint64_t{0};

// A dataset of a machine's registry.
struct Dataset {
  std::string name;   // GROUP/DESCRIPTOR
  std::string type;   // AREA, MD, GRID or TEXT
  int first = 0;      // file numbers of its positions 1 .. last - first + 1
  int last = 0;
  std::string where;  // the directory of its files (TEXT: the file), from the machine's data directory
};

// A machine: a local directory tree, or a tree reached through ftp.
struct Machine {
  std::string root;     // local: the directory holding tavrin/data
  std::string ftp_url;  // ftp://host[:port]/path (path from the login directory), or empty for a local machine
};

// The machine that serves `group`.  false with `why` when the group's
// route names an address no machine is known by.
[[nodiscard]] bool MachineOf(std::string_view group, Machine &machine, std::string &why);

// The dataset `name` (GROUP/DESCRIPTOR) of a machine.  false with `why`.
[[nodiscard]] bool FindDataset(const Machine &machine, std::string_view name, Dataset &dataset, std::string &why);

// As above; on false `missing` tells a registry read whole without a line
// for `name` apart from a registry that cannot be read or whose line for it
// is broken.
[[nodiscard]] bool FindDataset(const Machine &machine, std::string_view name, Dataset &dataset, std::string &why,
                               bool &missing);

// A scratch directory ($TMPDIR, else /tmp: tvkit-XXXXXX) made when first
// asked for, and removed with the files in it when the object goes away.
class Scratch {
 public:
  Scratch() = default;
  ~Scratch();
  Scratch(const Scratch &) = delete;
  Scratch &operator=(const Scratch &) = delete;

  // The directory, made on the first call; "" when it cannot be made.
  const std::string &Path();

 private:
  std::string path_;
  bool tried_ = false;
};

// A local copy of a machine's item `relative` (to its data directory).
// A directory machine's file itself, resolved: refused when it resolves,
// through symbolic links, outside the machine's data directory.  An ftp
// machine's file is fetched into `scratch`, whole: a transfer the server
// did not confirm, one cut short of the size it stated, or one past
// `most_bytes` fails and leaves nothing there.  A directory machine's file
// past `most_bytes` fails too.  false with `why`.
[[nodiscard]] bool FetchFile(const Machine &machine, const std::string &relative, Scratch &scratch,
                             std::string &local, std::string &why, std::uint64_t most_bytes = kNoByteLimit);

// Words 0..63 of a machine's AREA item `relative`: false when it cannot be
// fetched whole (see FetchFile) or its directory is not an AREA file's
// (see AreaDirectory).  An ftp machine's item comes over the run's one
// login and only its directory is kept.
[[nodiscard]] bool ItemDirectory(const Machine &machine, const std::string &relative, std::int32_t (&words)[datafile::kAreaDirectoryWords]);

// The positions of an ftp machine's dataset whose file its server's name
// listing (NLST) shows, each with its modification time (MDTM:
// YYYYMMDDHHMMSS, UTC; "" when the server gives none), in position order;
// a name the server gives no time for as it has no such file (550: a
// directory, say) is left out.  false when the server gives no listing.
[[nodiscard]] bool ListedPositions(const Machine &machine, const Dataset &dataset,
                                   std::vector<std::pair<int, std::string>> &held);

// The positions of a dataset whose items are worth reading: those an ftp
// machine's listing shows (every position when the server gives none), or
// every position of a directory machine's dataset.
std::vector<int> ItemPositions(const Machine &machine, const Dataset &dataset);

// The file name of position `position` of a dataset (AREA0007, MDXX0012,
// GRID0003; a TEXT dataset's file), relative to the machine's data
// directory; "" for a position outside the dataset.
std::string ItemFile(const Dataset &dataset, int position);

// The newest item of a dataset: the position whose file was written last
// (a local machine, or an ftp machine by the times its server gives the
// files its listing names; the last position when it gives no listing); 0
// when no position holds a file.
int NewestPosition(const Machine &machine, const Dataset &dataset);

// A dataset name GROUP/DESCRIPTOR of letters, digits and _-. (the
// descriptor not "." or ".."), which can name a directory of its own.
bool SafeName(std::string_view name);

// The positions of a local dataset that hold a file, oldest first (by
// modification time; a ring's newest item is its last).  `data` is the
// machine's data directory.
std::vector<int> HeldPositions(const Dataset &dataset, const std::string &data);

// Adds (replacing one of the same name) or removes a dataset of the local
// machine's registry.  false with `why`.
[[nodiscard]] bool RegisterLocal(const Dataset &dataset, std::string &why);
[[nodiscard]] bool UnregisterLocal(std::string_view name, std::string &why);

// The local machine's data directory, $HOME/tavrin/data.
std::string LocalData();

// "GROUP/DESCRIPTOR.POS" split; false when there is no "/" (the position
// is 0 when none is given, -1 for ".ALL").
[[nodiscard]] bool SplitItem(std::string_view text, std::string &name, int &position);

// Words 0..63 of an AREA file's directory in this machine's byte order;
// false when the file cannot be read that far, word 0 is not 0 or the
// format word (1) is not 4 (a file of the other byte order included).
[[nodiscard]] bool AreaDirectory(const std::string &path, std::int32_t (&words)[datafile::kAreaDirectoryWords]);

// Makes the directories of `path` that are missing (the last part is the
// file's own name).
void MakeParentDirectories(const std::string &path);

// Copies a file whole (temporary name + rename), a buffer at a time; a
// file past `most_bytes` is not copied.  false with `why`, and `to` then
// holds what it held before.
[[nodiscard]] bool CopyFile(const std::string &from, const std::string &to, std::string &why,
                            std::uint64_t most_bytes = kNoByteLimit);

// The whole of a small file: 0, or an errno-style value (ENOENT for no
// such file, EFBIG past `most_bytes`).
[[nodiscard]] int ReadSmallFile(const std::string &path, std::size_t most_bytes, std::string &text);

// ---------------------------------------------------------------------------
// An ftp machine (ftp.cpp).  Every transfer of a run goes over one control
// connection, kept from the first transfer to the end of the run: a
// command logs in once, however many files it fetches (the registry and
// the item alike).  Each connection is opened within 30 seconds and may
// stay silent for at most 60, or the transfer fails.  ftplib speaks the
// protocol (passive mode, IPv4).
// Names are from the account's login directory: `remote` is
// <URL path>/tavrin/data/<relative>, an absolute `relative` stays absolute.
// The login is the account of $HOME/.netrc for the URL's host.

// Hands the bytes of an ftp machine's file `relative` to `sink` as they
// arrive; `sink` returns false to stop (a failure).  true only when the
// server confirmed the transfer and exactly the size it stated arrived
// (SIZE before the transfer, or its 150 reply).  A file the server states
// or sends past `most_bytes` fails.  false with `why`, which names the
// file and the URL.
[[nodiscard]] bool FtpFetch(const Machine &machine, const std::string &relative, std::uint64_t most_bytes,
                            const std::function<bool(const char *, std::size_t)> &sink, std::string &why);

// A file of a directory's listing.
struct ListedFile {
  std::string name;      // the file's name in its directory
  std::string modified;  // YYYYMMDDHHMMSS (UTC), or "" when not given
};

// The names in directory `relative` of an ftp machine, by its server's
// name listing (NLST; no times).  false with `why` when the server gives
// none.
[[nodiscard]] bool FtpListing(const Machine &machine, const std::string &relative, std::vector<ListedFile> &files,
                              std::string &why);

// The files of a name listing's text: one name a line (CR LF or LF
// ended), what follows its last '/' (a server may give the directory
// asked for before each); an empty name, "." and "..", and a name holding
// a carriage return are skipped; no times.  Appends to `files`.
void ParseListing(std::string_view text, std::vector<ListedFile> &files);

// The command line's checks: the keywords typed are among `keywords` (and
// the host's global ones), else the problems are printed and false;
// between `least` and `most` positional words follow the command word.
// Either failing is a usage error (kUsage).
[[nodiscard]] bool KeywordsAllowed(std::initializer_list<const char *> keywords);
[[nodiscard]] bool PositionalCount(int least, int most);

// A whole decimal number from `least` to `most` (no sign, no trailing
// text); false otherwise.
[[nodiscard]] bool WholeNumber(std::string_view text, int least, int most, int &value);

// As WholeNumber, telling why a word is refused: kDone with `value`;
// kUsage when the word is no whole number (empty, a sign, anything but
// digits); kCouldNot when it is one outside `least` .. `most` (`most` at
// most 999999999).
[[nodiscard]] int ReadWhole(std::string_view text, int least, int most, int &value);

// A word GROUP/DESCRIPTOR[.position], or with `all` also GROUP/DESCRIPTOR.ALL,
// split (see SplitItem): kDone; kUsage for a word not of that form (no
// group, no descriptor, a position that is no whole number, .ALL where it
// is not taken); kCouldNot for a position of 0 or one past 999999999.
[[nodiscard]] int ReadItem(std::string_view text, bool all, std::string &name, int &position);

// The commands; each returns the program's exit status (kDone, kCouldNot or
// kUsage; WAITCAP the status of the command it ran, IMGDIR kUsage also for
// a dataset its machine does not have, as the host's image-directory
// reader expects).
int Peektx();
int Waitcap(const std::string &line);  // the whole command line
int Setreg();
int Dup(std::string_view word);      // RASDUP, OBSDUP, MESHDUP
int Catalog(std::string_view word);  // RASCAT, OBSCAT, MESHCAT
int Imgdir();
int Loop(std::string_view word);     // SEQB, SEQS, PALX, ZRNG, SCRNSET, VWF
int Rasvue();
int Solday(int argc, char **argv);

// `tvkit <what> ...` run by hand: sample data files for a server machine
// (docs/kit.md): AREA path date time sub-longitude lines elements
// resolution, MD path date rows columns, GRID path source run-hour
// forecast-hour date, TEXT path title date time.  `argv[0]` is the kind;
// the exit status.
int Sample(int argc, char **argv);

}  // namespace tvkit

#endif  // VARNEK_TVKIT_TVKIT_H
