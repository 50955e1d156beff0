// The station page: the health table as one HTML page, each record with
// its latest frame picture from the kit's loop state.

#include "tools/vkhealth/html.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "kit/kit.h"
#include "posix/posix.h"
#include "vocab/vocab.h"

namespace vkhealth {
namespace {

constexpr int kThumbnailWidth = 160, kThumbnailHeight = 120;  // the box a thumbnail fits in

// Text for the page: valid UTF-8 (bytes that are not become U+FFFD) with
// the characters HTML gives a meaning escaped.
std::string Html(std::string_view raw) {
  std::string out;
  for (char c : ValidUtf8(raw)) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

// A relative path as a URL path: every byte but letters, digits, "-._~/"
// percent-encoded.
std::string UrlPath(std::string_view path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~' || c == '/') {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// The directory a path resolves to, links followed; "" when it does not.
std::string Resolved(const std::string &path) {
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

std::vector<std::string> Parts(const std::string &absolute) {
  std::vector<std::string> parts;
  for (std::size_t at = 0; at < absolute.size();) {
    std::size_t end = absolute.find('/', at);
    if (end == std::string::npos) end = absolute.size();
    if (end > at) parts.push_back(absolute.substr(at, end - at));
    at = end + 1;
  }
  return parts;
}

// The way from the directory of the page `page_path` to the directory
// `frames_dir`, ending in "/" ("" for the same directory), as a URL path;
// an absolute file URL when either does not resolve.
std::string WayToFrames(const std::string &page_path, const std::string &frames_dir) {
  const std::size_t slash = page_path.rfind('/');
  const std::string page_dir = Resolved(slash == std::string::npos ? "." : slash == 0 ? "/" : page_path.substr(0, slash));
  const std::string frames = Resolved(frames_dir);
  if (frames.empty()) return "file://" + UrlPath(frames_dir) + "/";
  if (page_dir.empty()) return "file://" + UrlPath(frames) + "/";
  const std::vector<std::string> from = Parts(page_dir), to = Parts(frames);
  std::size_t common = 0;
  while (common < from.size() && common < to.size() && from[common] == to[common]) ++common;
  std::string way;
  for (std::size_t i = common; i < from.size(); ++i) way += "../";
  for (std::size_t i = common; i < to.size(); ++i) way += to[i] + "/";
  return UrlPath(way);
}

std::string Clock(std::int64_t t) {
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm{};
  if (t <= 0 || !gmtime_r(&tt, &tm)) return "-";
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d UTC", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

std::string StateClass(const std::string &state) {
  std::string out = "s-";
  for (char c : state) out += c == ' ' ? '-' : c;
  return out;
}

std::string PictureName(int frame) {
  char name[32];
  std::snprintf(name, sizeof name, "frame%04d.png", frame);
  return name;
}

bool IsFile(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// What the kit's frames directory holds for the page.
struct Frames {
  std::string dir;       // "" when no frames directory is known
  std::string way;       // from the page to it, a URL path ending in "/" (or "")
  bool have = false;     // its state file was read
  std::string trouble;   // why it was not, for the page
  kit::LoopState state;
};

// The newest image shown in the record's frames, of its own dataset (the
// group's, or the local copy's); ties go to the picture drawn last.  Null
// when there is none.
const kit::FrameLabel *LatestFrame(const Frames &frames, const StationRecord &r) {
  const kit::FrameLabel *best = nullptr;
  const std::string remote = r.group + "/" + r.descriptor, local = "LOC/" + r.descriptor;
  const auto moment = [](const kit::FrameLabel &x) { return static_cast<long long>(x.date) * 1000000 + x.time; };
  for (const kit::FrameLabel &l : frames.state.frames) {
    if (l.frame < r.first_frame || l.frame > r.last_frame || (l.dataset != remote && l.dataset != local)) continue;
    if (!best || moment(l) > moment(*best) || (moment(l) == moment(*best) && l.drawn > best->drawn)) best = &l;
  }
  return best;
}

std::string FrameCell(const Frames &frames, const StationRecord &r) {
  if (r.type != "AREA" || !r.displays) return "<td class=\"frame none\">not displayed</td>";
  const std::string range = "frames " + std::to_string(r.first_frame) + "&ndash;" + std::to_string(r.last_frame);
  if (!frames.have) return "<td class=\"frame none\">no frame: " + Html(frames.trouble) + "</td>";
  const kit::FrameLabel *l = LatestFrame(frames, r);
  if (!l) return "<td class=\"frame none\">no frame drawn yet (" + range + ")</td>";
  const std::string picture = PictureName(l->frame);
  char when[48];
  std::snprintf(when, sizeof when, "%07d %02d:%02d:%02d", l->date, l->time / 10000, l->time / 100 % 100,
                l->time % 100);
  const std::string caption = "frame " + std::to_string(l->frame) + ": " + l->dataset + " " + when;
  if (!IsFile(frames.dir + "/" + picture))
    return "<td class=\"frame none\">" + Html(caption) + " (its picture is gone)</td>";
  int width = kThumbnailWidth, height = l->height * kThumbnailWidth / l->width;
  if (height > kThumbnailHeight) height = kThumbnailHeight, width = l->width * kThumbnailHeight / l->height;
  if (width < 1) width = 1;
  if (height < 1) height = 1;
  return "<td class=\"frame\"><a href=\"" + frames.way + kit::kLoopPageFile + "\"><img src=\"" + frames.way + picture +
         "?v=" + std::to_string(l->drawn) + "\" width=\"" + std::to_string(width) + "\" height=\"" +
         std::to_string(height) + "\" alt=\"" + Html(caption) + "\"></a><div class=\"caption\">" + Html(caption) +
         "</div></td>";
}

const char *kStyle = R"STYLE(
  body { font: 14px/1.45 sans-serif; margin: 16px 20px; color: #1d2329; background: #f6f7f8; }
  h1 { font-size: 150%; margin: 0 0 4px; }
  h2 { font-size: 115%; margin: 22px 0 6px; }
  .meta, .pass { color: #4a5560; margin: 2px 0; }
  code { font-size: 95%; }
  table { border-collapse: collapse; background: #fff; }
  th, td { border: 1px solid #cfd5da; padding: 4px 8px; text-align: left; vertical-align: middle;
           white-space: nowrap; }
  th { background: #e8ecef; font-size: 90%; }
  td.num { text-align: right; font-variant-numeric: tabular-nums; }
  .state { font-weight: bold; white-space: nowrap; }
  .s-on-time { background: #1e7b34; color: #fff; }
  .s-late { background: #f2c200; color: #222; }
  .s-stalled { background: #e8710a; color: #fff; }
  .s-failing { background: #c5221f; color: #fff; }
  .s-compared { background: #1e7b34; color: #fff; }
  .s-fetch-bad { background: #c5221f; color: #fff; }
  .legend span { display: inline-block; padding: 1px 8px; margin-right: 6px; border-radius: 3px; }
  td.frame img { display: block; background: #000; }
  td.frame .caption { font-size: 85%; color: #4a5560; font-family: monospace; }
  td.none { color: #6b7781; font-style: italic; }
  .exit { font-weight: bold; }
  .error { background: #c5221f; color: #fff; padding: 8px 12px; font-weight: bold; }
)STYLE";

std::string ExitText(int status) {
  switch (status) {
    case 0: return "0: every record on time, every server compared";
    case 1: return "1: a record late or failing";
    case 2: return "2: a record stalled or dated ahead, or a server failing";
    default: return std::to_string(status) + ": the working directory's files cannot be read";
  }
}

std::string Page(const StationReport &report, const Frames &frames) {
  std::string page = "<!doctype html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                     "<meta http-equiv=\"refresh\" content=\"60\">\n"
                     "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                     "<title>Station health: " + Html(report.directory) + "</title>\n<style>" + kStyle +
                     "</style>\n</head>\n<body data-exit-status=\"" + std::to_string(report.exit_status) + "\">\n";
  page += "<h1>Station health</h1>\n<p class=\"meta\">Working directory <code>" + Html(report.directory) +
          "</code> &middot; page written <span id=\"written\">" + Clock(report.now) +
          "</span> &middot; it reloads every minute &middot; times UTC</p>\n";
  if (!report.unreadable.empty()) {
    page += "<p class=\"error\" id=\"unreadable\">The working directory cannot be read: " + Html(report.unreadable) +
            "</p>\n<p class=\"exit\">Exit status " + ExitText(report.exit_status) + "</p>\n</body>\n</html>\n";
    return page;
  }
  page += "<p class=\"pass\">" + Html(report.last_pass) + "</p>\n<p class=\"exit\">Exit status " +
          ExitText(report.exit_status) + "</p>\n";
  page += "<p class=\"legend\"><span class=\"s-on-time\">on time</span><span class=\"s-late\">late</span>"
          "<span class=\"s-stalled\">stalled</span><span class=\"s-failing\">failing</span>";
  if (frames.have) page += " &middot; <a href=\"" + frames.way + kit::kLoopPageFile + "\">the loop viewer</a>";
  page += "</p>\n<h2>Records</h2>\n<table id=\"records\">\n<thead><tr><th>REC</th><th>TYPE</th><th>DATASET</th>"
          "<th>ITEM</th><th>DATA TIME</th><th>AGE</th><th>INCR</th><th>STATE</th><th>LAST FAILURE</th>"
          "<th>LATEST FRAME</th></tr></thead>\n<tbody>\n";
  if (report.records.empty()) page += "<tr><td colspan=\"10\" class=\"none\">no active record</td></tr>\n";
  for (const StationRecord &r : report.records) {
    page += "<tr data-record=\"" + std::to_string(r.number) + "\" data-state=\"" + Html(r.state) + "\"><td class=\"num\">" +
            std::to_string(r.number) + "</td><td>" + Html(r.type) + "</td><td>" + Html(r.group) + "/" +
            Html(r.descriptor) + "</td><td class=\"num\">" + Html(r.item) + "</td><td>" + Html(r.data_time) +
            "</td><td class=\"num\">" + Html(r.age) + "</td><td class=\"num\">" + Html(r.increment) +
            "</td><td class=\"state " + StateClass(r.state) + "\">" + Html(r.state) + "</td><td>" + Html(r.failure) +
            "</td>" + FrameCell(frames, r) + "</tr>\n";
  }
  page += "</tbody>\n</table>\n<h2>Servers</h2>\n<table id=\"servers\">\n<thead><tr><th>ENTRY</th><th>GROUP</th>"
          "<th>ADDRESS</th><th>LAST FETCH</th><th>DURATION</th><th>APPLIED</th><th>STATUS</th></tr></thead>\n"
          "<tbody>\n";
  if (report.servers.empty()) page += "<tr><td colspan=\"7\" class=\"none\">no server fetched in the last pass</td></tr>\n";
  for (const StationServer &s : report.servers)
    page += "<tr data-entry=\"" + std::to_string(s.entry) + "\"><td class=\"num\">" + std::to_string(s.entry) +
            "</td><td>" + Html(s.group) + "</td><td>" + Html(s.address) + "</td><td>" + Html(s.fetched) +
            "</td><td class=\"num\">" + Html(s.duration) + "</td><td class=\"num\">" + Html(s.applied) +
            "</td><td class=\"state " + (s.compared ? "s-compared" : "s-fetch-bad") + "\">" + Html(s.status) +
            "</td></tr>\n";
  page += "</tbody>\n</table>\n</body>\n</html>\n";
  return page;
}

}  // namespace

std::string FramesDirectoryOf(const std::string &directory) {
  const char *home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/tavrin/frames";
  struct stat st;
  if (stat(directory.c_str(), &st) != 0) return "";
  std::vector<char> buffer(16384);
  struct passwd entry, *found = nullptr;
  if (getpwuid_r(st.st_uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir ||
      !*found->pw_dir)
    return "";
  return std::string(found->pw_dir) + "/tavrin/frames";
}

int WriteStationPage(const std::string &path, const StationReport &report, const std::string &frames_dir,
                     std::string &why) {
  Frames frames;
  frames.dir = frames_dir;
  if (frames_dir.empty()) {
    frames.trouble = "no frames directory is known (HOME is not set)";
  } else {
    frames.way = WayToFrames(path, frames_dir);
    std::string reason;
    const int rc = kit::ReadLoopState(frames_dir + "/" + kit::kLoopStateFile, frames.state, reason);
    frames.have = rc == 0;
    if (rc == ENOENT) frames.trouble = frames_dir + " holds no loop state (" + kit::kLoopStateFile + ")";
    else if (rc != 0) frames.trouble = reason;
  }
  const std::string page = Page(report, frames);
  const int rc = posix::ReplaceFile(path.c_str(), 0666,
                                    [&](int fd) { return posix::WriteAll(fd, page.data(), page.size()); });
  if (rc != 0) why = path + ": the page cannot be written: " + posix::ErrorText(rc);
  return rc;
}

}  // namespace vkhealth
