// The kit's program: started as a host command program (argv[0] a blank,
// argv[1] the whole command line) it runs the command its first word names;
// started by a link whose name is the word in lower case with ".k" (as the
// shell starts solday.k), the link's name is the word.  The exit status is
// the command's (tvkit::kDone, kCouldNot, kUsage); a word the kit does not
// know, and a line the host cannot split into words, are usage errors.

#include <cstdio>
#include <cstring>
#include <string>

#include "host/host.h"
#include "tvkit/tvkit.h"

int main(int argc, char **argv) {
  std::string name = argc > 0 && argv[0] ? argv[0] : "";
  name = name.substr(name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1);
  if (name == "solday.k") return tvkit::Solday(argc, argv);
  if (name == "tvkit") return tvkit::Sample(argc - 1, argv + 1);
  if (int rc = Tvinit(argc, argv); rc < 0) {
    std::fprintf(stderr, "TVinit error\n");
    return rc == kTvInitParseFailed ? tvkit::kUsage : tvkit::kCouldNot;
  }
  std::string word = tv::ProgramName();
  if (word.size() > 2 && word.substr(word.size() - 2) == ".k") word.resize(word.size() - 2);
  for (char &c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (word == "PEEKTX") return tvkit::Peektx();
  if (word == "WAITCAP") {
    // Started by the host: the whole line in argv[1]; from a shell: its words.
    if (argc == 2 && std::strchr(argv[0], ' ')) return tvkit::Waitcap(argv[1]);
    std::string line = "WAITCAP";
    for (int i = 1; i < argc; ++i) line += std::string(" ") + argv[i];
    return tvkit::Waitcap(line);
  }
  if (word == "SETREG") return tvkit::Setreg();
  if (word == "RASDUP" || word == "OBSDUP" || word == "MESHDUP") return tvkit::Dup(word);
  if (word == "RASCAT" || word == "OBSCAT" || word == "MESHCAT") return tvkit::Catalog(word);
  if (word == "IMGDIR") return tvkit::Imgdir();
  if (word == "RASVUE") return tvkit::Rasvue();
  if (word == "SEQB" || word == "SEQS" || word == "PALX" || word == "ZRNG" || word == "SCRNSET" || word == "VWF")
    return tvkit::Loop(word);
  Tveprintf("not a command of this kit\n");
  return tvkit::kUsage;
}
