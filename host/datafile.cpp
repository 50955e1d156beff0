// Data files: the host's file lookup (Tvpathname), the byte and word
// readers under it, and the header readers of AREA and MD files.

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "host/host.h"
#include "host/internal.h"
#include "posix/posix.h"

namespace tv {
namespace {

constexpr int kDirectoryWords = 64;
constexpr int kMdWordsRead = 57;
constexpr int kMaxNameLength = 1023;
constexpr std::int32_t kMdFiller = -99997;
constexpr std::uint32_t kFillWord = 0x80808080u;

bool IsWritableDirectory(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && access(path.c_str(), W_OK) == 0;
}

std::string Join(const std::string &dir, std::string_view name) {
  std::string out = dir;
  if (!out.empty() && out.back() != '/') out += '/';
  out += name;
  return out;
}

// The directory of the first TVREDIRECT entry whose pattern matches `name`.
bool Redirected(std::string_view name, std::string &dir) {
  const char *list = std::getenv("TVREDIRECT");
  if (!list) return false;
  std::string entries(list), bare(name);
  std::size_t start = 0;
  while (start <= entries.size()) {
    std::size_t end = entries.find(';', start);
    if (end == std::string::npos) end = entries.size();
    std::string entry = entries.substr(start, end - start);
    std::size_t eq = entry.find('=');
    if (eq != std::string::npos && eq > 0 && eq + 1 < entry.size() &&
        fnmatch(entry.substr(0, eq).c_str(), bare.c_str(), 0) == 0) {
      dir = entry.substr(eq + 1);
      return true;
    }
    start = end + 1;
  }
  return false;
}

// Calls `visit` with each TVPATH directory until it returns true (an unset
// or empty TVPATH is the current directory).
template <typename Visit>
bool EachTvpathDirectory(Visit visit) {
  const char *tvpath = std::getenv("TVPATH");
  return EachDirectory(tvpath ? tvpath : "", visit);
}

std::string LookUp(std::string_view name) {
  if (name.empty()) return "";
  if (name.find('/') != std::string_view::npos) return std::string(name);
  std::string dir;
  if (Redirected(name, dir)) return Join(dir, name);
  std::string found;
  if (EachTvpathDirectory([&](const std::string &d) {
        if (!IsExistingFile(Join(d, name))) return false;
        found = Join(d, name);
        return true;
      }))
    return found;
  if (EachTvpathDirectory([&](const std::string &d) {
        if (!IsWritableDirectory(d)) return false;
        found = Join(d, name);
        return true;
      }))
    return found;
  return "";
}

// A blank-filled name of `length` characters as a string: up to a NUL,
// trailing blanks removed, leading blanks skipped.
std::string_view FixedName(const char *name, int length) {
  if (!name || length <= 0) return {};
  std::string_view v(name, strnlen(name, static_cast<std::size_t>(length)));
  while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
  while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
  return v;
}

std::uint32_t ByteSwapped(std::uint32_t w) {
  return (w >> 24) | ((w >> 8) & 0xff00u) | ((w << 8) & 0xff0000u) | (w << 24);
}

void SwapWords(int *words, int first, int last) {
  for (int i = first; i <= last; ++i) {
    std::uint32_t w;
    std::memcpy(&w, &words[i], 4);
    w = ByteSwapped(w);
    std::memcpy(&words[i], &w, 4);
  }
}

bool AllPrintable(int word) {
  unsigned char bytes[4];
  std::memcpy(bytes, &word, 4);
  for (unsigned char b : bytes)
    if (b < 0x20 || b > 0x7e) return false;
  return true;
}

// Reads `count` words from word `first` of the file the lookup gives for
// `name`: the lwi_ contract on a string.
int ReadWords(const std::string &name, int first, int count, void *buffer) {
  return lwi_(name.c_str(), &first, &count, buffer, static_cast<int>(name.size()));
}

}  // namespace

bool IsExistingFile(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string AreaFileName(int number) {
  if (number < 1 || number > 9999) return "";
  char name[16];
  std::snprintf(name, sizeof name, "AREA%04d", number);
  return name;
}

std::string MdFileName(int number) {
  char name[16];
  if (number >= 1 && number <= 9999) std::snprintf(name, sizeof name, "MDXX%04d", number);
  else if (number >= 10000 && number <= 99999) std::snprintf(name, sizeof name, "MDX%05d", number);
  else if (number >= 100000 && number <= 999999) std::snprintf(name, sizeof name, "MD%06d", number);
  else return "";
  return name;
}

}  // namespace tv

char *Tvpathname(const char *name) {
  static std::string result;
  if (!name) return nullptr;
  result = tv::LookUp(name);
  return result.empty() ? nullptr : result.data();
}

int lwfile_(const char *name, int nameLength) {
  std::string bare(tv::FixedName(name, nameLength));
  return !bare.empty() && !tv::FindHostFile(bare).empty() ? 1 : 0;
}

int Tvread(const char *name, long byteOffset, long byteCount, void *buffer) {
  if (!name || !*name || !buffer || byteOffset < 0 || byteCount <= 0) return kTvReadBadCall;
  const char *path = Tvpathname(name);
  if (!path) return kTvReadNotFound;
  posix::File file;
  if (posix::OpenRegular(path, O_RDONLY, file) != 0) return kTvReadNotFound;
  auto *bytes = static_cast<unsigned char *>(buffer);
  auto wanted = static_cast<std::size_t>(byteCount);
  ssize_t got = posix::ReadAt(file.fd(), byteOffset, bytes, wanted);
  if (got < 0) return kTvReadFailed;
  if (static_cast<std::size_t>(got) < wanted) {
    // The file ends first: the bytes that are not in it read as 0x80.
    std::memset(bytes + got, kTvReadFill, wanted - static_cast<std::size_t>(got));
    return kTvReadShort;
  }
  return 0;
}

int lwi_(const char *name, int *firstWord, int *wordCount, void *buffer, int nameLength) {
  if (!firstWord || !wordCount || *firstWord < 0 || *wordCount <= 0) return -1;
  std::string_view bare = tv::FixedName(name, nameLength);
  if (bare.empty() || bare.size() > static_cast<std::size_t>(tv::kMaxNameLength)) return -1;
  std::string path(bare);
  return Tvread(path.c_str(), 4L * *firstWord, 4L * *wordCount, buffer) == 0 ? 0 : -1;
}

int readd_(int *areaNumber, int *directory) {
  if (!areaNumber || !directory) return kTvBadAreaNumber;
  if (*areaNumber < 0 || *areaNumber > 9999) {
    Tveprintf(" Invalid AREA number=%d\n", *areaNumber);
    return kTvBadAreaNumber;
  }
  std::string name = tv::AreaFileName(*areaNumber);
  if (name.empty()) return kTvBadAreaNumber;
  // One read of the directory.  A file that ends first still gives its
  // words (the rest read as fill); one that cannot be read gives nothing.
  int rc = Tvread(name.c_str(), 0, 4L * tv::kDirectoryWords, directory);

  // Word 1, the format word, is 4 or 5 in a file of this machine's byte order.
  std::uint32_t format = tv::kFillWord;
  if (rc == 0 || rc == kTvReadShort) std::memcpy(&format, &directory[1], sizeof format);
  if (format != 4 && format != 5 && format != tv::kFillWord) {
    bool word20_is_text = tv::AllPrintable(directory[20]);
    tv::SwapWords(directory, 0, 19);
    if (!word20_is_text) tv::SwapWords(directory, 20, 20);
    tv::SwapWords(directory, 21, 23);
    tv::SwapWords(directory, 32, 50);
    tv::SwapWords(directory, 53, 55);
    tv::SwapWords(directory, 57, 63);
  }
  return rc == 0 ? 0 : -1;
}

int mdinfo_(int *mdNumber, int *info) {
  if (!mdNumber || !info) return -1;
  std::string name = tv::MdFileName(*mdNumber);
  if (name.empty() || !lwfile_(name.c_str(), static_cast<int>(name.size()))) return -1;

  // Word 1, the format word, is at most 1000 in this machine's byte order.
  std::uint32_t format = tv::kFillWord;
  (void)tv::ReadWords(name, 1, 1, &format);
  bool swap = format > 1000;
  if (tv::ReadWords(name, 0, tv::kMdWordsRead, info) != 0) return -1;
  if (swap) {
    tv::SwapWords(info, 1, 15);
    tv::SwapWords(info, 24, 25);
    tv::SwapWords(info, 27, 34);
    tv::SwapWords(info, 39, 42);
  }
  for (int w = 57; w <= 60; ++w) info[w] = tv::kMdFiller;
  std::memcpy(&info[61], name.data(), 8);
  info[63] = *mdNumber;
  return 0;
}
