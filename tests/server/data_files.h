// Test data files of the kinds VKS INVOKE reads: AREA files (a 64-word
// directory), MD files (57 or more words of file information) and GRID files
// (a text label), written in this machine's byte order or the other one,
// and modification times set to known UTC instants.

#ifndef VARNEK_TESTS_SERVER_DATA_FILES_H
#define VARNEK_TESTS_SERVER_DATA_FILES_H

#include <sys/time.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/support.h"

namespace test_data {

inline std::uint32_t Swapped(std::uint32_t w) {
  return (w >> 24) | ((w >> 8) & 0xff00u) | ((w << 8) & 0xff0000u) | (w << 24);
}

inline std::int32_t Chars(const char (&four)[5]) {
  std::int32_t w;
  std::memcpy(&w, four, 4);
  return w;
}

// Words as file bytes; `integer` says which words are integers, which a
// file of the other byte order holds reversed.
inline std::string Bytes(std::vector<std::int32_t> words, bool other_order, bool (*integer)(int)) {
  std::string out;
  for (std::size_t i = 0; i < words.size(); ++i) {
    std::uint32_t w;
    std::memcpy(&w, &words[i], 4);
    if (other_order && integer(static_cast<int>(i))) w = Swapped(w);
    char bytes[4];
    std::memcpy(bytes, &w, 4);
    out.append(bytes, 4);
  }
  return out;
}

inline bool AreaIntegerWord(int i) {
  return !(i >= 24 && i <= 31) && i != 51 && i != 52 && i != 56 && i != 20;
}

// A 64-word AREA directory: word 0 = 0, the format word 1 = 4, the date and
// time in words 3 and 4, characters "ABCD" in words 20 and 24.
inline std::vector<std::int32_t> AreaDirectory(std::int32_t date, std::int32_t time) {
  std::vector<std::int32_t> w(64);
  for (int i = 0; i < 64; ++i) w[static_cast<std::size_t>(i)] = 1000 + i;
  w[0] = 0;
  w[1] = 4;
  w[3] = date;
  w[4] = time;
  w[20] = Chars("ABCD");
  w[24] = Chars("ABCD");
  return w;
}

inline void WriteAreaFile(const std::string &path, std::int32_t date, std::int32_t time, bool other_order = false) {
  testing_support::WriteFile(path, Bytes(AreaDirectory(date, time), other_order, AreaIntegerWord));
}

inline bool MdIntegerWord(int i) {
  return (i >= 1 && i <= 15) || i == 24 || i == 25 || (i >= 27 && i <= 34) || (i >= 39 && i <= 42);
}

// MD file information: the schema in word 0, the format word 1 = 1, rows
// and columns in words 3 and 4, the date in word 39; `words` in all.
inline void WriteMdFile(const std::string &path, const char (&schema)[5], std::int32_t rows, std::int32_t columns,
                        std::int32_t date, bool other_order = false, int words = 64) {
  std::vector<std::int32_t> w(static_cast<std::size_t>(words));
  for (int i = 0; i < words; ++i) w[static_cast<std::size_t>(i)] = 2000 + i;
  w[0] = Chars(schema);
  w[1] = 1;
  if (words > 4) {
    w[3] = rows;
    w[4] = columns;
  }
  if (words > 39) w[39] = date;
  testing_support::WriteFile(path, Bytes(w, other_order, MdIntegerWord));
}

// Sets a file's access and modification times to `seconds` since 1970 UTC.
inline bool SetModificationTime(const std::string &path, long seconds) {
  struct timeval times[2] = {{seconds, 0}, {seconds, 0}};
  return utimes(path.c_str(), times) == 0;
}

}  // namespace test_data

#endif  // VARNEK_TESTS_SERVER_DATA_FILES_H
