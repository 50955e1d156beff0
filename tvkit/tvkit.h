// The stand-in host kit: one program whose links, named as a host command
// word in lower case with ".k" (rasdup.k, rasvue.k, peektx.k ...), stand in
// for the host environment's command programs, so that the system runs end
// to end on a plain Linux box.  It gives each command the least behaviour
// its callers need and refuses bad arguments with a message and status 1.
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
// The kit links the host runtime only.

#ifndef VARNEK_TVKIT_TVKIT_H
#define VARNEK_TVKIT_TVKIT_H

#include <initializer_list>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tvkit {

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

// A local copy of a machine's file `relative` (to its data directory): the
// file itself for a local machine, a file fetched into `scratch` through
// ftp otherwise.  false with `why`.
[[nodiscard]] bool FetchFile(const Machine &machine, const std::string &relative, const std::string &scratch,
                             std::string &local, std::string &why);

// The file name of position `position` of a dataset (AREA0007, MDXX0012,
// GRID0003; a TEXT dataset's file), relative to the machine's data
// directory; "" for a position outside the dataset.
std::string ItemFile(const Dataset &dataset, int position);

// The newest item of a dataset: the position whose file was written last
// (a local machine, or an ftp machine by its server's MLSD listing; the
// last position when the server gives none); 0 when no position holds a
// file.
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
// false when the file cannot be read that far or word 0 is not 0.
[[nodiscard]] bool AreaDirectory(const std::string &path, std::int32_t (&words)[64]);

// Makes the directories of `path` that are missing (the last part is the
// file's own name).
void MakeParentDirectories(const std::string &path);

// Copies a file whole (temporary name + rename); false with `why`.
[[nodiscard]] bool CopyFile(const std::string &from, const std::string &to, std::string &why);

// The command line's checks: the keywords typed are among `keywords` (and
// the host's global ones), else the problems are printed and false;
// between `least` and `most` positional words follow the command word.
[[nodiscard]] bool KeywordsAllowed(std::initializer_list<const char *> keywords);
[[nodiscard]] bool PositionalCount(int least, int most);

// A whole decimal number from `least` to `most` (no sign, no trailing
// text); false otherwise.
[[nodiscard]] bool WholeNumber(std::string_view text, int least, int most, int &value);

// The commands; each returns the program's exit status.
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
// forecast-hour date, TEXT path title date time.
int Sample(int argc, char **argv);

}  // namespace tvkit

#endif  // VARNEK_TVKIT_TVKIT_H
