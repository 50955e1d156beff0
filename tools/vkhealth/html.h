// The station page of `vkhealth --html FILE`: one self-contained HTML page
// (style inline, no script, no network) with what the table prints, the
// records' states coloured (on time, late, stalled, failing) and the
// servers' last fetches, and for each record its latest frame picture as a
// thumbnail that links to the kit's loop viewer, with the time the page was
// written.  The page asks the browser to load it again every minute.
//
// The caller fills a StationReport with the texts the table prints (the
// page shows the same words) and calls WriteStationPage, which finds the
// frames in the kit's loop state file and writes the page whole (temporary
// name + rename).  Thumbnails and the viewer are linked by paths relative
// to the page, so a page kept beside the frames works opened from disk or
// over http.

#ifndef VARNEK_TOOLS_VKHEALTH_HTML_H
#define VARNEK_TOOLS_VKHEALTH_HTML_H

#include <cstdint>
#include <string>
#include <vector>

namespace vkhealth {

struct StationRecord {
  int number = 0;                   // the client record
  std::string type;                 // AREA, MD, GRID or TEXT
  std::string group, descriptor;    // as the record holds them (any bytes)
  std::string item, data_time, age, increment, failure;  // as the table prints them
  std::string state;                // "on time", "late", "stalled" or "failing"
  bool displays = false;            // the record shows its images in frames first_frame..last_frame
  int first_frame = 0, last_frame = 0;
};

struct StationServer {
  int entry = 0;
  std::string group, address;       // as the health file holds them (any bytes)
  std::string fetched, duration, applied, status;  // as the table prints them
  bool compared = false;            // the last fetch was compared (the status is good)
};

struct StationReport {
  std::int64_t now = 0;             // when the page is written, seconds since 1970
  std::string directory;            // the working directory read
  std::string last_pass;            // the table's first line
  int exit_status = 0;              // the status vkhealth ends with
  std::string unreadable;           // why the working directory's files cannot be read, or ""
  std::vector<StationRecord> records;
  std::vector<StationServer> servers;
};

// The kit's frames directory of a working directory's account: under
// $HOME when HOME is set and not empty, else under the home directory of
// the account that owns `directory`; "" when neither is known.
std::string FramesDirectoryOf(const std::string &directory);

// Writes the page to `path` whole, the frames taken from `frames_dir` ("" for
// none).  0, or the errno value of the write that failed, with `why`.
[[nodiscard]] int WriteStationPage(const std::string &path, const StationReport &report,
                                   const std::string &frames_dir, std::string &why);

}  // namespace vkhealth

#endif  // VARNEK_TOOLS_VKHEALTH_HTML_H
