// The host command lines that copy and display an AREA record's images:
// the image check's copy into the work ring (RASDUP) and display into the
// frame ring (RASVUE), and LOAD's display into a chosen frame.  One place
// builds them, so both commands show an image the same way.
//
// Calling sequence: the caller works out the magnifications (and, for the
// copy, the SIZE clause), calls one builder, and runs the line it gets with
// Exec only when the builder returned 0.
//
// A line is built whole, never cut.  One longer than kMostLineCharacters is
// refused: the builder prints "Command not run: ..." on the error stream
// and returns kTvKeyinFailed, the status of a command that could not run,
// so the caller treats it as a failed copy or display.

#ifndef VARNEK_CLIENT_COMMAND_LINES_H
#define VARNEK_CLIENT_COMMAND_LINES_H

#include <cstddef>
#include <string>
#include <string_view>

#include "client/client.h"

namespace command_lines {

// The longest command line handed to the host: a longer one would not fit
// the host's command buffer of 512 bytes.
inline constexpr std::size_t kMostLineCharacters = 511;

// Line and element magnification of a copy or display.
struct Magnification {
  int line = 1;
  int element = 1;
};

// The band text of a copy or display: "ALL" for a band "A" or "ALL", else
// the record's band.
const char *BandText(const AreaClientStruct &a);

// The image check's copy of server image `position` into work position
// `work` (LOC/<Descriptor>.<work>), by the record's sizes: a SIZE clause
// `size` (WriteSize's text) with the style and magnification, SIZE=ALL, or
// the band, size, style and magnification.  0, or kTvKeyinFailed (printed)
// when the line would be too long.  Nothing else is printed.
[[nodiscard]] int CopyLine(const ClientRec &r, int position, int work, const char *size, Magnification mag,
                           std::string &line);

// The image check's display into `frame`: of the local copy at `work` when
// the record stores its images, else of server image `position`; with the
// record's centre, band, gray table and stretch table.  0 or kTvKeyinFailed
// as CopyLine.
[[nodiscard]] int CheckDisplayLine(const ClientRec &r, int position, int work, int frame, Magnification mag,
                                   std::string &line);

// What LOAD displays: one image per frame over the loop (all), the image
// of `time` into `frame`, or the newest image into `frame` (time empty).
struct LoadTarget {
  bool all = false;
  int frame = 0;
  std::string_view time;
};

// LOAD's display of the record's dataset (the local copies when the record
// stores its images) as `target` says.  0 or kTvKeyinFailed as CopyLine.
[[nodiscard]] int LoadDisplayLine(const ClientRec &r, const LoadTarget &target, Magnification mag,
                                  std::string &line);

// printf into a string, never cut; for the client's other host command
// lines and texts.
std::string Format(const char *format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace command_lines

#endif  // VARNEK_CLIENT_COMMAND_LINES_H
