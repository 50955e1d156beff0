// vkhealth: is this workstation current, and if not, why?  Reads a client
// working directory (the client file, the server list and the health file
// VKHealth) and prints, per client record, its last item and how late it
// is against its increment, and per server its last fetch.
//
//   vkhealth [--json | --prometheus | --html FILE] [--late F] [--stalled F] [directory]
//
// A record is late when its last item's data time lies more than F (default
// 2) increments back, stalled past F (default 6) increments, or when it has
// never taken an item; failing when a command run for it failed after its
// last item was taken (exit 1), or that data time lies more than a day ahead
// (exit 2).  Exit status: 0 every record on time, 1 something late or
// failing, 2 something stalled, a future-dated record or a server failing, 3 a file cannot be read
// (the reason on the error stream, nothing on standard output), 4 bad usage.
// The tool only reads: every file is opened read-only; --html writes the
// one page it names (tools/vkhealth/html.h), with the same exit status (3
// also when the page cannot be written; a page whose files cannot be read
// says so).

#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "client/client.h"
#include "client/health.h"
#include "host/host.h"
#include "posix/posix.h"
#include "tools/vkhealth/html.h"

namespace {

constexpr int kExitOnTime = 0;
constexpr int kExitLate = 1;
constexpr int kExitStalled = 2;
constexpr int kExitUnreadable = 3;
constexpr int kExitUsage = 4;

// Seconds from 1970 to the time stamps' origin, 1 January 1997 00:00.
constexpr std::int64_t kStampOrigin = 852076800;

// kFailing: a command run for the record failed, or an item was not taken,
// after it last took one (a display or user command that fails every
// cycle; a copy that keeps failing); or its last item is dated more than a
// day after this clock (an item the client would no longer take), so its
// stamp is not to be trusted and no genuine item may be newer.
enum class State { kOnTime, kLate, kStalled, kFailing };
const char *StateWord(State s) {
  switch (s) {
    case State::kOnTime: return "on time";
    case State::kLate: return "late";
    case State::kStalled: return "stalled";
    case State::kFailing: return "failing";
  }
  return "?";
}
int StateCode(State s) { return static_cast<int>(s); }
constexpr std::int64_t kMostAheadSeconds = 86400;

struct Options {
  enum { kTable, kJson, kPrometheus, kHtml } format = kTable;
  std::string html_file;  // --html: the page to write
  double late = 2.0;
  double stalled = 6.0;
  std::string directory = ".";
};

struct RecordRow {
  int number = 0;
  const char *type = "?";
  std::string group, descriptor;
  bool has_item = false;
  int item = 0;
  std::int64_t data_time = 0;  // seconds since 1970
  std::int64_t age = 0;        // seconds
  int increment = 0;           // minutes
  State state = State::kOnTime;
  const health::RecordHealth *health = nullptr;
  bool displays = false;  // an image record shown in frames first_frame..last_frame
  int first_frame = 0, last_frame = 0;
};

struct Report {
  std::int64_t now = 0;
  health::HealthFile file;
  std::vector<RecordRow> records;
  std::vector<ServerListRec> list;  // entries by number, for names
  int exit_status = kExitOnTime;
};

constexpr const char *kUsage =
    "usage: vkhealth [--json | --prometheus | --html FILE] [--late FACTOR] [--stalled FACTOR] [directory]\n";
constexpr const char *kHelp =
    "Reads a client working directory (default .) and prints, per active record, its last item and\n"
    "its state (on time, late, stalled, failing), and per server its last fetch; --html FILE writes\n"
    "that as a page with each record's latest frame.\n"
    "Exit status: 0 on time, 1 late or failing, 2 stalled (or a server failing), 3 a file\n"
    "cannot be read, 4 usage.  See vkhealth(1).\n";

bool ReadFactor(const char *text, double &out) {
  std::string_view s(text);
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size() && out > 0 && out < 1e6;
}

bool ParseOptions(int argc, char **argv, Options &o) {
  bool directory_given = false, format_given = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    if (a == "--json" || a == "--prometheus") {
      if (format_given) return false;  // one format only
      format_given = true;
      o.format = a == "--json" ? Options::kJson : Options::kPrometheus;
    } else if (a == "--html" && i + 1 < argc && argv[i + 1][0] != '\0') {
      if (format_given) return false;
      format_given = true;
      o.format = Options::kHtml;
      o.html_file = argv[++i];
    }
    else if ((a == "--late" || a == "--stalled") && i + 1 < argc) {
      if (!ReadFactor(argv[++i], a == "--late" ? o.late : o.stalled)) return false;
    } else if (!a.empty() && a[0] != '-' && !directory_given) {
      o.directory = argv[i];
      directory_given = true;
    } else {
      return false;
    }
  }
  return o.stalled >= o.late;
}

int Increment(const ClientRec &r) {
  switch (r.DataType) {
    case AREA: return r.Data.Area.Increment;
    case GRID: return r.Data.Grid.Increment;
    case MD: return r.Data.Pnts.Increment;
    case TEXT: return r.Data.Text.Increment;
    default: return 0;
  }
}

// Reads the three files; kExitOnTime, or kExitUnreadable with `why`.
int Load(Report &report, const Options &o, std::string &why) {
  std::string at = o.directory + "/";
  DBase file;
  std::string name = at + kClientFile;
  if (DBOpenForRead(&file, name.c_str(), "") != 0) {
    why = name + " cannot be opened for reading";
    return kExitUnreadable;
  }
  std::vector<ClientRec> clients(kClientRecords + 1);
  const RA &ra = file.File;
  bool own = ra.BlockSize == 0 && ra.RecSize == static_cast<int>(sizeof(ClientRec)) && ra.NRecords == kClientRecords;
  if (!own) {
    why = name + " is not a client file (its header does not match)";
    return kExitUnreadable;
  }
  (void)DBReadRange(&file, 1, kClientRecords, &clients[1]);
  (void)DBClose(&file);

  name = at + kServerListFile;
  report.list.assign(kServerListRecords + 1, ServerListRec{});
  DBase list;
  if (DBOpenForRead(&list, name.c_str(), "") != 0) {
    why = name + " cannot be opened for reading";
    return kExitUnreadable;
  }
  const RA &lra = list.File;
  if (lra.BlockSize != 0 || lra.RecSize != static_cast<int>(sizeof(ServerListRec)) ||
      lra.NRecords != kServerListRecords) {
    why = name + " is not a server list (its header does not match)";
    return kExitUnreadable;
  }
  for (int n = 0; n <= kServerListRecords; ++n)
    if (DBRead(&list, n, &report.list[static_cast<std::size_t>(n)]) != 0)
      report.list[static_cast<std::size_t>(n)] = ServerListRec{};
  (void)DBClose(&list);

  name = at + health::kHealthFile;
  std::string reason;
  if (health::ReadHealth(name.c_str(), report.file, reason) != health::kHealthOk) {
    why = name + ": " + reason;
    return kExitUnreadable;
  }

  for (int n = 1; n <= kClientRecords; ++n) {
    ClientRec &r = clients[static_cast<std::size_t>(n)];
    CleanClientRecord(r);
    if (r.Status != Active || r.DataType < AREA || r.DataType > TEXT) continue;
    RecordRow row;
    row.number = n;
    row.type = TypeWord(r.DataType);
    row.group = r.Group;
    row.descriptor = r.Descriptor;
    row.increment = Increment(r);
    row.has_item = r.LastStamp > 0;
    row.item = r.LastItem;
    row.data_time = kStampOrigin + r.LastStamp * 60;
    if (r.DataType == AREA && r.Data.Area.Show) {
      row.displays = true;
      row.first_frame = r.Data.Area.BegFrame;
      row.last_frame = r.Data.Area.EndFrame;
    }
    row.age = report.now - row.data_time;
    // An increment below a minute counts as a minute.
    double unit = 60.0 * (row.increment < 1 ? 1 : row.increment);
    for (const health::RecordHealth &h : report.file.records)
      if (h.number == n && h.type == r.DataType && h.group == row.group && h.descriptor == row.descriptor)
        row.health = &h;
    const bool from_the_future = row.has_item && row.age < -kMostAheadSeconds;
    const bool commands_fail =
        row.health && !row.health->failed_command.empty() && row.health->failed_at >= row.health->taken;
    if (from_the_future) row.state = State::kFailing;
    else if (!row.has_item || static_cast<double>(row.age) > o.stalled * unit) row.state = State::kStalled;
    else if (commands_fail) row.state = State::kFailing;
    else if (static_cast<double>(row.age) > o.late * unit) row.state = State::kLate;
    report.records.push_back(row);
    int code = row.state == State::kStalled || from_the_future ? kExitStalled
               : row.state == State::kOnTime                   ? kExitOnTime
                                                               : kExitLate;
    if (code > report.exit_status) report.exit_status = code;
  }
  for (const health::ServerHealth &s : report.file.servers)
    if (s.outcome != health::kCompared) report.exit_status = kExitStalled;
  return kExitOnTime;
}

std::string Time(std::int64_t t) {
  if (t <= 0) return "-";
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm{};
  if (!gmtime_r(&tt, &tm)) return "?";
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min);
  return text;
}

// An age as "2d03h", "3h05m" or "12m".
std::string Age(std::int64_t seconds) {
  bool negative = seconds < 0;
  std::int64_t m = (negative ? -seconds : seconds) / 60;
  char text[40];
  if (m >= 1440) std::snprintf(text, sizeof text, "%lldd%02lldh", static_cast<long long>(m / 1440), static_cast<long long>(m % 1440 / 60));
  else if (m >= 60) std::snprintf(text, sizeof text, "%lldh%02lldm", static_cast<long long>(m / 60), static_cast<long long>(m % 60));
  else std::snprintf(text, sizeof text, "%lldm", static_cast<long long>(m));
  return (negative ? "-" : "") + std::string(text);
}

std::string Failure(const health::RecordHealth *h) {
  if (!h || h->failed_command.empty()) return "-";
  return h->failed_command + " status " + std::to_string(h->failed_status) + " at " + Time(h->failed_at);
}

std::string ServerStatus(const health::ServerHealth &s) {
  std::string out = s.outcome;
  if (s.exit_status != health::kNoStatus && s.outcome == health::kFetchFailed) out += " (status " + std::to_string(s.exit_status) + ")";
  if (!s.reason.empty()) out += ": " + Visible(s.reason);
  return out;
}

void PrintTable(const Report &r) {
  std::printf("Last pass %s to %s, status %d; now %s\n\n", Time(r.file.pass_started).c_str(),
              Time(r.file.pass_ended).c_str(), r.file.pass_result, Time(r.now).c_str());
  std::printf("%-4s %-5s %-30s %8s %-16s %8s %6s %-8s %s\n", "REC", "TYPE", "DATASET", "ITEM", "DATA TIME", "AGE",
              "INCR", "STATE", "LAST FAILURE");
  for (const RecordRow &row : r.records) {
    std::string dataset = Visible(row.group) + "/" + Visible(row.descriptor);
    std::printf("%-4d %-5s %-30s %8s %-16s %8s %5dm %-8s %s\n", row.number, row.type, dataset.c_str(),
                row.has_item ? std::to_string(row.item).c_str() : "-", row.has_item ? Time(row.data_time).c_str() : "-",
                row.has_item ? Age(row.age).c_str() : "-", row.increment, StateWord(row.state), Failure(row.health).c_str());
  }
  std::printf("\n%-5s %-5s %-24s %-16s %9s %7s %s\n", "ENTRY", "GROUP", "ADDRESS", "LAST FETCH", "DURATION", "APPLIED",
              "STATUS");
  for (const health::ServerHealth &s : r.file.servers)
    std::printf("%-5d %-5s %-24s %-16s %7lldms %7d %s\n", s.entry, Visible(s.group).c_str(), Visible(s.address).c_str(),
                Time(s.fetched).c_str(), static_cast<long long>(s.duration_ms), s.applied, ServerStatus(s).c_str());
  if (r.file.brokers.empty()) return;
  std::printf("\n%-6s %-30s %-12s %-16s %9s %7s\n", "BROKER", "URL", "STATE", "LAST NOTICE", "RECEIVED", "WOKEN");
  for (const health::BrokerHealth &b : r.file.brokers)
    std::printf("%-6d %-30s %-12s %-16s %9lld %7lld\n", b.number, Visible(b.url).c_str(),
                b.connected ? "connected" : "unreachable", Time(b.last).c_str(), static_cast<long long>(b.received),
                static_cast<long long>(b.woken));
}

using Json = nlohmann::ordered_json;

Json JsonStatus(int status) { return status == health::kNoStatus ? Json(nullptr) : Json(status); }
Json JsonTime(std::int64_t t) { return t <= 0 ? Json(nullptr) : Json(t); }

void PrintJson(const Report &r, const Options &o) {
  Json doc = {{"format", "vkhealth"},
              {"version", 1},
              {"now", r.now},
              {"exit_status", r.exit_status},
              {"late_factor", o.late},
              {"stalled_factor", o.stalled},
              {"last_pass",
               {{"started", r.file.pass_started}, {"ended", r.file.pass_ended}, {"status", r.file.pass_result}}}};
  Json records = Json::array();
  for (const RecordRow &row : r.records) {
    const health::RecordHealth *h = row.health;
    Json failure = nullptr;
    if (h && !h->failed_command.empty())
      failure = {{"command", h->failed_command}, {"status", JsonStatus(h->failed_status)}, {"at", JsonTime(h->failed_at)}};
    records.push_back({{"record", row.number},
                       {"type", row.type},
                       {"group", row.group},
                       {"dataset", row.descriptor},
                       {"last_item", row.has_item ? Json(row.item) : Json(nullptr)},
                       {"data_time", row.has_item ? Json(row.data_time) : Json(nullptr)},
                       {"age_seconds", row.has_item ? Json(row.age) : Json(nullptr)},
                       {"increment_minutes", row.increment},
                       {"state", StateWord(row.state)},
                       {"examined", JsonTime(h ? h->examined : 0)},
                       {"taken", JsonTime(h ? h->taken : 0)},
                       {"copy_status", JsonStatus(h ? h->copy : health::kNoStatus)},
                       {"display_status", JsonStatus(h ? h->display : health::kNoStatus)},
                       {"user_status", JsonStatus(h ? h->user : health::kNoStatus)},
                       {"last_failure", failure}});
  }
  doc["records"] = records;
  Json servers = Json::array();
  for (const health::ServerHealth &s : r.file.servers)
    servers.push_back({{"entry", s.entry},
                       {"group", s.group},
                       {"address", s.address},
                       {"version", s.version},
                       {"fetched", JsonTime(s.fetched)},
                       {"status", s.outcome},
                       {"fetch_exit_status", JsonStatus(s.exit_status)},
                       {"duration_ms", s.duration_ms},
                       {"records_applied", s.applied},
                       {"reason", s.reason.empty() ? Json(nullptr) : Json(s.reason)}});
  doc["servers"] = servers;
  Json brokers = Json::array();
  for (const health::BrokerHealth &b : r.file.brokers)
    brokers.push_back({{"broker", b.number},
                       {"url", b.url},
                       {"connected", b.connected == 1},
                       {"last_notification", JsonTime(b.last)},
                       {"notifications_received", b.received},
                       {"passes_woken", b.woken}});
  doc["brokers"] = brokers;
  // Text of the files is any bytes: what is not UTF-8 becomes U+FFFD, and
  // UTF-8 text stays text.
  std::fputs((doc.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n").c_str(), stdout);
}

// A label value of the exposition format: valid UTF-8 (bytes that are not
// become U+FFFD), backslash, quote and line feed escaped.
std::string Label(std::string_view text) {
  std::string out;
  for (char c : ValidUtf8(text)) {
    if (c == '\\') out += "\\\\";
    else if (c == '"') out += "\\\"";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

void PrintPrometheus(const Report &r) {
  std::string out;
  auto metric = [&](const char *name, const char *help, const std::vector<std::pair<std::string, std::string>> &rows) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n";
    for (const auto &[labels, value] : rows) out += std::string(name) + labels + " " + value + "\n";
  };
  std::vector<std::pair<std::string, std::string>> lag, state, fetch_ok, fetch_status, duration, applied;
  for (const RecordRow &row : r.records) {
    std::string labels = "{record=\"" + std::to_string(row.number) + "\",type=\"" + row.type + "\",group=\"" +
                         Label(row.group) + "\",dataset=\"" + Label(row.descriptor) + "\"}";
    if (row.has_item) lag.emplace_back(labels, std::to_string(row.age));
    state.emplace_back(labels, std::to_string(StateCode(row.state)));
  }
  for (const health::ServerHealth &s : r.file.servers) {
    std::string labels = "{entry=\"" + std::to_string(s.entry) + "\",group=\"" + Label(s.group) + "\",address=\"" +
                         Label(s.address) + "\"}";
    fetch_ok.emplace_back(labels, s.outcome == health::kCompared ? "1" : "0");
    if (s.exit_status != health::kNoStatus) fetch_status.emplace_back(labels, std::to_string(s.exit_status));
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", static_cast<double>(s.duration_ms) / 1000.0);
    duration.emplace_back(labels, seconds);
    applied.emplace_back(labels, std::to_string(s.applied));
  }
  metric("varnek_record_lag_seconds", "Age of the data time of the last item a client record took.", lag);
  metric("varnek_record_state", "State of a client record: 0 on time, 1 late, 2 stalled, 3 failing.", state);
  metric("varnek_server_fetch_ok", "1 when the last fetch of a server succeeded and was compared, 0 otherwise.",
         fetch_ok);
  metric("varnek_server_fetch_status", "Exit status of the last fetch command of a server.", fetch_status);
  metric("varnek_server_fetch_duration_seconds", "Duration of the last fetch of a server.", duration);
  metric("varnek_server_records_applied", "Server records applied in the last pass.", applied);
  std::vector<std::pair<std::string, std::string>> connected, last, received, woken;
  for (const health::BrokerHealth &b : r.file.brokers) {
    std::string labels = "{broker=\"" + std::to_string(b.number) + "\",url=\"" + Label(b.url) + "\"}";
    connected.emplace_back(labels, std::to_string(b.connected));
    if (b.last > 0) last.emplace_back(labels, std::to_string(b.last));
    received.emplace_back(labels, std::to_string(b.received));
    woken.emplace_back(labels, std::to_string(b.woken));
  }
  if (!r.file.brokers.empty()) {
    metric("varnek_broker_connected", "1 when the background loop was connected to the broker at its last pass.",
           connected);
    metric("varnek_broker_last_notification_timestamp_seconds",
           "When the last announcement of a watched dataset came, seconds since 1970.", last);
    metric("varnek_broker_notifications_received", "Messages received from the broker since the loop started.",
           received);
    metric("varnek_broker_passes_woken", "Passes that announcements started early since the loop started.", woken);
  }
  metric("varnek_last_pass_timestamp_seconds", "End of the client's last pass, seconds since 1970.",
         {{"", std::to_string(r.file.pass_ended)}});
  metric("varnek_last_pass_status", "Status of the client's last pass: 0 good, 1 failed.",
         {{"", std::to_string(r.file.pass_result)}});
  metric("varnek_health_status", "The health check's exit status: 0 on time, 1 late, 2 stalled, failing or a server failing.",
         {{"", std::to_string(r.exit_status)}});
  std::fputs(out.c_str(), stdout);
}

// The page of --html: what the table prints (an unreadable directory's
// `why` instead), written to the file named.  The exit status the run ends
// with: the table's, or kExitUnreadable when the page cannot be written.
int WriteHtml(const Report &r, const Options &o, int status, const std::string &why) {
  vkhealth::StationReport page;
  page.now = r.now;
  page.directory = o.directory;
  if (char *full = realpath(o.directory.c_str(), nullptr)) {
    page.directory = full;
    std::free(full);
  }
  page.exit_status = status;
  page.unreadable = why;
  page.last_pass = "Last pass " + Time(r.file.pass_started) + " to " + Time(r.file.pass_ended) + ", status " +
                   std::to_string(r.file.pass_result);
  for (const RecordRow &row : r.records)
    page.records.push_back({row.number, row.type, row.group, row.descriptor,
                            row.has_item ? std::to_string(row.item) : "-", row.has_item ? Time(row.data_time) : "-",
                            row.has_item ? Age(row.age) : "-", std::to_string(row.increment) + "m",
                            Failure(row.health), StateWord(row.state), row.displays, row.first_frame, row.last_frame});
  for (const health::ServerHealth &s : r.file.servers)
    page.servers.push_back({s.entry, s.group, s.address, Time(s.fetched), std::to_string(s.duration_ms) + "ms",
                            std::to_string(s.applied), ServerStatus(s), s.outcome == health::kCompared});
  std::string failed;
  if (vkhealth::WriteStationPage(o.html_file, page, vkhealth::FramesDirectoryOf(o.directory), failed) != 0) {
    std::fprintf(stderr, "vkhealth: %s\n", Visible(failed).c_str());
    return kExitUnreadable;
  }
  return status;
}

}  // namespace

int main(int argc, char **argv) {
  if (posix::EnsureStandardDescriptors() != 0) return kExitUnreadable;
  if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
    std::fputs(kUsage, stdout);
    std::fputs(kHelp, stdout);
    return kExitOnTime;
  }
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  Report report;
  report.now = tv::Now();
  std::string why;
  if (Load(report, options, why) != kExitOnTime) {
    std::fprintf(stderr, "vkhealth: %s\n", Visible(why).c_str());
    // A page kept up to date says it cannot read, rather than go on
    // showing the last good state.
    if (options.format == Options::kHtml) {
      Report none;
      none.now = report.now;
      (void)WriteHtml(none, options, kExitUnreadable, why);
    }
    return kExitUnreadable;
  }
  switch (options.format) {
    case Options::kTable: PrintTable(report); break;
    case Options::kJson: PrintJson(report, options); break;
    case Options::kPrometheus: PrintPrometheus(report); break;
    case Options::kHtml: return WriteHtml(report, options, report.exit_status, "");
  }
  return report.exit_status;
}
