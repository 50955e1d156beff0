// Display frames and the remote image directory: getfrm_ and putfrm_ read
// and write a frame's 64-word directory in the session's shared area;
// tvadir_ and tvadrd_ read a remote dataset's image directory through the
// host program IMGDIR (imgdir.k on PATH), as docs/image_directory.md
// describes.

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "host/host.h"
#include "host/internal.h"
#include "posix/posix.h"

namespace tv {
namespace {

constexpr int kEntryWords = datafile::kEntryWords;
constexpr int kCardBytes = 80;
constexpr int kCardsWord = datafile::kEntryWordCards;
constexpr std::int32_t kMostCards = 100000;  // of one entry; more is a broken stream

// The request of the last tvadir_: the directory program and the entry
// header read ahead (the first entry's, read by tvadir_ to tell an empty
// dataset from an unknown one).
struct Request {
  posix::ChildOutput program;
  std::int32_t ahead[kEntryWords] = {};
  bool have_ahead = false;
  bool broken = false;  // the output broke off inside the first entry
};
std::unique_ptr<Request> g_request;

// Reads exactly `size` bytes of the program's output: 1 when all came, 0 at
// the end before any byte, -1 for an output that ends inside them or fails.
int ReadExactly(posix::ChildOutput &program, void *data, std::size_t size) {
  auto *bytes = static_cast<char *>(data);
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = program.Read(bytes + done, size - done);
    if (n < 0) return -1;
    if (n == 0) return done == 0 ? 0 : -1;
    done += static_cast<std::size_t>(n);
  }
  return 1;
}

// Drops `size` bytes of the output.
bool Skip(posix::ChildOutput &program, std::int64_t size) {
  char sink[4096];
  while (size > 0) {
    std::size_t part = static_cast<std::size_t>(std::min<std::int64_t>(size, sizeof sink));
    if (ReadExactly(program, sink, part) != 1) return false;
    size -= static_cast<std::int64_t>(part);
  }
  return true;
}

// A selection clause: KEY=value with a key of letters; TIME wants hh:mm,
// hh:mm:ss or a range of two of them.
int CheckClause(std::string_view clause) {
  std::size_t eq = clause.find('=');
  if (eq == 0 || eq == std::string_view::npos) return kTvDirBadClause;
  for (char c : clause.substr(0, eq))
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return kTvDirBadClause;
  std::string key(clause.substr(0, eq));
  for (char &c : key) c = static_cast<char>(c & ~0x20);
  if (key != "TIME") return 0;
  std::string_view value = clause.substr(eq + 1);
  int parts = 0;
  for (std::size_t at = 0; at < value.size();) {
    std::size_t end = value.find(' ', at);
    if (end == std::string_view::npos) end = value.size();
    std::string_view t = value.substr(at, end - at);
    if (!t.empty()) {
      ++parts;
      int fields = 0, digits = 0;
      for (char c : t) {
        if (c == ':') {
          if (digits == 0 || digits > 2) return kTvDirBadTime;
          ++fields, digits = 0;
        } else if (c >= '0' && c <= '9') {
          ++digits;
        } else {
          return kTvDirBadTime;
        }
      }
      if (digits == 0 || digits > 2 || fields < 1 || fields > 2) return kTvDirBadTime;
    }
    at = end + 1;
  }
  return parts >= 1 && parts <= 2 ? 0 : kTvDirBadTime;
}

std::string_view Trimmed(const char *text, int length) {
  if (!text || length <= 0) return {};
  std::string_view v(text, strnlen(text, static_cast<std::size_t>(length)));
  while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
  while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
  return v;
}

}  // namespace
}  // namespace tv

int getfrm_(int *frame, int *fdir) {
  if (!frame || !fdir) return kTvFrameBad;
  if (*frame < 0) {
    for (int w = 0; w < tv::kFrameDirectoryWords; ++w) fdir[w] = -1;
    return 0;
  }
  if (!tv::HasDisplay()) return kTvNoDisplay;
  const std::int32_t *stored = tv::FrameDirectory(*frame);
  if (!stored) return kTvFrameBad;
  std::memcpy(fdir, stored, sizeof(std::int32_t) * tv::kFrameDirectoryWords);
  return 0;
}

int putfrm_(int *frame, const int *fdir) {
  if (!frame || !fdir) return kTvFrameBad;
  if (!tv::HasDisplay()) return kTvNoDisplay;
  std::int32_t *stored = tv::FrameDirectory(*frame);
  if (!stored) return kTvFrameBad;
  std::memcpy(stored, fdir, sizeof(std::int32_t) * tv::kFrameDirectoryWords);
  return 0;
}

int tvadir_(const char *dataset, int *nselect, const char *selects, int *errflag, int datasetLength,
            int selectsLength) {
  tv::g_request.reset();
  std::string name(tv::Trimmed(dataset, datasetLength));
  bool messages = errflag && *errflag == 1;
  bool split = name.find('/') != std::string::npos && name.front() != '/' && name.back() != '/';
  std::string text = "IMGDIR " + name;
  int count = nselect ? *nselect : 0;
  for (int i = 0; i < count; ++i) {
    std::string_view clause = tv::Trimmed(selects ? selects + static_cast<std::ptrdiff_t>(i) * selectsLength : nullptr,
                                          selectsLength);
    if (int rc = tv::CheckClause(clause); rc != 0) return rc;
    text += " " + std::string(clause);
  }
  auto refused = [&](int rc) {
    if (!split || rc == kTvDirUnknown) Tveprintf("Dataset name should be of form group/descriptor\n");
    if (rc == kTvDirUnknown) Tveprintf("%s is an invalid group/descriptor or alias name \n", name.c_str());
    return rc;
  };
  if (name.empty() || name.find(' ') != std::string::npos) return refused(kTvDirUnknown);
  std::string path = tv::FindOnPath("imgdir.k");
  if (path.empty()) {
    if (messages) Tveprintf("IMGDIR: no remote image directory program imgdir.k on PATH\n");
    return kTvDirFailed;
  }
  auto request = std::make_unique<tv::Request>();
  char blank[] = " ";
  char *argv[] = {blank, text.data(), nullptr};
  if (request->program.Start(path.c_str(), argv, !messages) != 0) return kTvDirFailed;
  int got = tv::ReadExactly(request->program, request->ahead, sizeof request->ahead);
  if (got == 1) {
    request->have_ahead = true;
    tv::g_request = std::move(request);
    return 0;
  }
  // No entry: an empty dataset, or a dataset the program does not know; or
  // an entry broken off, which tvadrd_ reports.
  int status = request->program.Finish();
  if (status == 0 && got <= 0) {
    request->broken = got < 0;
    tv::g_request = std::move(request);  // tvadrd_ answers 1, or the broken stream
    return 0;
  }
  if (status == 2) return refused(kTvDirUnknown);
  return refused(status > 0 && status < 128 ? -status : kTvDirFailed);
}

int tvadrd_(int *dir, char *cards, int cardsLength) {
  if (!dir || !tv::g_request) return kTvDirReadFailed;
  tv::Request &request = *tv::g_request;
  if (request.broken) {
    tv::g_request.reset();
    return kTvDirReadFailed;
  }
  if (!request.have_ahead) {
    int got = tv::ReadExactly(request.program, request.ahead, sizeof request.ahead);
    if (got != 1) {
      int status = request.program.Finish();
      tv::g_request.reset();  // the request is finished
      return got == 0 && status == 0 ? 1 : kTvDirReadFailed;
    }
  }
  request.have_ahead = false;
  std::int32_t *entry = request.ahead;
  std::int32_t count = entry[tv::kCardsWord];
  if (count < 0 || count > tv::kMostCards) {
    tv::g_request.reset();
    return kTvDirReadFailed;
  }
  // The caller's buffer holds so many cards; more are read and dropped.
  std::int32_t room = cards && cardsLength > 0 ? cardsLength / tv::kCardBytes : 0;
  std::int32_t kept = count < room ? count : room;
  if ((kept > 0 && tv::ReadExactly(request.program, cards, static_cast<std::size_t>(kept) * tv::kCardBytes) != 1) ||
      !tv::Skip(request.program, static_cast<std::int64_t>(count - kept) * tv::kCardBytes)) {
    tv::g_request.reset();
    return kTvDirReadFailed;
  }
  std::memcpy(dir, entry, sizeof(std::int32_t) * tv::kEntryWords);
  dir[tv::kCardsWord] = kept;
  // Dates as CCYYDDD: the image date always, the creation and actual start
  // dates when given.
  using datafile::EntryWord;
  dir[EntryWord(datafile::kAreaWordDate)] = tv::ExpandDate(dir[EntryWord(datafile::kAreaWordDate)]);
  for (int w : {EntryWord(datafile::kAreaWordCreationDate), EntryWord(datafile::kAreaWordStartDate)})
    if (dir[w] > 0) dir[w] = tv::ExpandDate(dir[w]);
  return 0;
}
