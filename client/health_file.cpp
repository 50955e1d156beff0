// The health file's text: writing it, and reading it back with every field
// validated.

#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "client/health.h"
#include "posix/posix.h"
#include "vocab/field_reader.h"

namespace health {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Status(int status) { return status == kNoStatus ? "-" : std::to_string(status); }

// The fields of one line, split at single blanks.
std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t at = 0;
  while (true) {
    std::size_t end = line.find(' ', at);
    out.push_back(line.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
  return out;
}

// Reads the fields of a line in order, remembering the first that is wrong.
class LineReader {
 public:
  LineReader(std::vector<std::string_view> fields, int line) : fields_(std::move(fields)), line_(line) {}

  bool Int(const char *name, std::int64_t &out, std::int64_t low, std::int64_t high) {
    std::string_view f = Next(name);
    if (!ok_) return false;
    constexpr field::NumberForm kForm{false, field::Sign::kMinus, 0, 0};
    if (field::WholeNumber(f, kForm, low, high, out) != field::Read::kOk)
      return Fail(name, "is not a number in " + std::to_string(low) + ".." + std::to_string(high));
    return true;
  }
  bool Int(const char *name, int &out, int low, int high) {
    std::int64_t v = 0;
    if (!Int(name, v, low, high)) return false;
    out = static_cast<int>(v);
    return true;
  }
  // A status: "-" (none) or an integer.
  bool Status(const char *name, int &out) {
    if (ok_ && at_ < fields_.size() && fields_[at_] == "-") {
      ++at_;
      out = kNoStatus;
      return true;
    }
    return Int(name, out, -999, 999);
  }
  bool Text(const char *name, std::string &out, std::size_t most) {
    std::string_view f = Next(name);
    if (!ok_) return false;
    if (!Unescape(f, out)) return Fail(name, "is not a well-formed text");
    if (out.size() > most) return Fail(name, "is longer than " + std::to_string(most) + " characters");
    return true;
  }
  bool Word(const char *name, std::string &out, std::initializer_list<const char *> words) {
    std::string_view f = Next(name);
    if (!ok_) return false;
    for (const char *w : words)
      if (f == w) {
        out = w;
        return true;
      }
    return Fail(name, "is not one of its words");
  }
  // Checks that every field was read.
  bool End() {
    if (ok_ && at_ != fields_.size()) return Fail("line", "has more fields than its kind");
    return ok_;
  }
  const std::string &why() const { return why_; }

 private:
  std::string_view Next(const char *name) {
    if (!ok_) return {};
    if (at_ >= fields_.size()) {
      Fail(name, "is missing");
      return {};
    }
    std::string_view f = fields_[at_++];
    if (f.empty()) Fail(name, "is empty");
    return f;
  }
  bool Fail(const char *name, const std::string &what) {
    if (ok_) why_ = "line " + std::to_string(line_) + ": " + name + " " + what;
    ok_ = false;
    return false;
  }
  std::vector<std::string_view> fields_;
  std::size_t at_ = 1;  // field 0 is the line's kind
  int line_;
  bool ok_ = true;
  std::string why_;
};

constexpr std::int64_t kMostTime = 253402300799;  // 9999-12-31 23:59:59
constexpr std::int64_t kMostDuration = 86400000;  // a day, in milliseconds

}  // namespace

const char *CommandWord(Command kind) {
  switch (kind) {
    case Command::kCopy: return "copy";
    case Command::kDisplay: return "display";
    case Command::kUser: return "user";
  }
  return "?";
}

std::string Escape(std::string_view text) {
  if (text.empty()) return "-";
  if (text == "-") return "%2D";
  std::string out;
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c > 0x20 && c < 0x7f && c != '%') {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

bool Unescape(std::string_view field, std::string &text) {
  text.clear();
  if (field == "-") return true;
  if (field.empty()) return false;
  for (std::size_t i = 0; i < field.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(field[i]);
    if (c <= 0x20 || c >= 0x7f) return false;
    if (c != '%') {
      text += field[i];
      continue;
    }
    if (i + 2 >= field.size()) return false;
    int hi = HexValue(field[i + 1]), lo = HexValue(field[i + 2]);
    if (hi < 0 || lo < 0) return false;
    text += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

std::string FormatHealth(const HealthFile &file) {
  std::string out = "VKHealth " + std::to_string(kHealthVersion) + "\n";
  out += "pass " + std::to_string(file.pass_started) + " " + std::to_string(file.pass_ended) + " " +
         std::to_string(file.pass_result) + "\n";
  for (const ServerHealth &s : file.servers)
    out += "server " + std::to_string(s.entry) + " " + std::to_string(s.version) + " " + Escape(s.group) + " " +
           Escape(s.address) + " " + std::to_string(s.fetched) + " " + s.outcome + " " + Status(s.exit_status) +
           " " + std::to_string(s.duration_ms) + " " + std::to_string(s.applied) + " " + Escape(s.reason) + "\n";
  for (const BrokerHealth &b : file.brokers)
    out += "broker " + std::to_string(b.number) + " " + Escape(b.url) + " " + std::to_string(b.connected) + " " +
           std::to_string(b.last) + " " + std::to_string(b.received) + " " + std::to_string(b.woken) + "\n";
  for (const RecordHealth &r : file.records)
    out += "record " + std::to_string(r.number) + " " + TypeWord(r.type) + " " + Escape(r.group) + " " +
           Escape(r.descriptor) + " " + std::to_string(r.examined) + " " + std::to_string(r.taken) + " " +
           std::to_string(r.item) + " " + Status(r.copy) + " " + Status(r.display) + " " + Status(r.user) + " " +
           std::to_string(r.failed_at) + " " + (r.failed_command.empty() ? "-" : r.failed_command) + " " +
           Status(r.failed_status) + "\n";
  out += "end " + std::to_string(file.servers.size()) + " " + std::to_string(file.records.size()) + " " +
         std::to_string(file.brokers.size()) + "\n";
  return out;
}

int ParseHealth(std::string_view text, HealthFile &file, std::string &why) {
  file = HealthFile{};
  if (text.size() > kMostHealthBytes) {
    why = "it is larger than " + std::to_string(kMostHealthBytes) + " bytes";
    return kHealthDamaged;
  }
  if (text.empty() || text.back() != '\n') {
    why = text.empty() ? "it is empty" : "its last line is cut short";
    return kHealthDamaged;
  }
  std::vector<std::string_view> lines;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  // Version 1 has no broker lines, and two counts on its end line.
  const int version = lines[0] == "VKHealth 1" ? 1 : lines[0] == "VKHealth 2" ? 2 : 0;
  if (version == 0) {
    why = "line 1 is not \"VKHealth 1\" or \"VKHealth 2\"";
    return kHealthDamaged;
  }
  bool pass_seen = false, end_seen = false;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const int number = static_cast<int>(i) + 1;
    if (end_seen) {
      why = "line " + std::to_string(number) + " follows the end line";
      return kHealthDamaged;
    }
    std::vector<std::string_view> fields = Fields(lines[i]);
    std::string_view kind = fields[0];
    LineReader in(fields, number);
    bool good = false;
    if (kind == "pass" && !pass_seen && i == 1) {
      good = in.Int("pass start", file.pass_started, 0, kMostTime) &&
             in.Int("pass end", file.pass_ended, 0, kMostTime) && in.Int("pass result", file.pass_result, 0, 1) &&
             in.End();
      pass_seen = true;
    } else if (kind == "broker" && version >= 2 && pass_seen && file.records.empty()) {
      BrokerHealth b;
      good = in.Int("broker", b.number, 1, 1000) && in.Text("url", b.url, 512) &&
             in.Int("connected", b.connected, 0, 1) && in.Int("last announcement", b.last, 0, kMostTime) &&
             in.Int("received", b.received, 0, INT64_MAX) && in.Int("woken", b.woken, 0, INT64_MAX) && in.End();
      if (good && !file.brokers.empty() && file.brokers.back().number >= b.number) {
        why = "line " + std::to_string(number) + ": broker numbers are not in ascending order";
        return kHealthDamaged;
      }
      file.brokers.push_back(b);
    } else if (kind == "server" && pass_seen && file.records.empty() && file.brokers.empty()) {
      ServerHealth s;
      good = in.Int("entry", s.entry, 0, kServerListRecords) && in.Int("version", s.version, -999999, 999999) &&
             in.Text("group", s.group, sizeof(ServerListRec::group) - 1) &&
             in.Text("address", s.address, sizeof(ServerListRec::Address) - 1) &&
             in.Int("fetch time", s.fetched, 0, kMostTime) &&
             in.Word("outcome", s.outcome, {kCompared, kFetchFailed, kNoRoute, kNotCompared}) &&
             in.Status("fetch status", s.exit_status) && in.Int("duration", s.duration_ms, 0, kMostDuration) &&
             in.Int("applied", s.applied, 0, 1000000) && in.Text("reason", s.reason, 512) && in.End();
      file.servers.push_back(s);
    } else if (kind == "record" && pass_seen) {
      RecordHealth r;
      std::string type;
      good = in.Int("record", r.number, 1, kClientRecords) && in.Word("type", type, {"AREA", "MD", "GRID", "TEXT"}) &&
             in.Text("group", r.group, sizeof(ClientRec::Group) - 1) &&
             in.Text("descriptor", r.descriptor, sizeof(ClientRec::Descriptor) - 1) &&
             in.Int("examined", r.examined, 0, kMostTime) && in.Int("taken", r.taken, 0, kMostTime) &&
             in.Int("item", r.item, INT32_MIN, INT32_MAX) && in.Status("copy", r.copy) &&
             in.Status("display", r.display) && in.Status("user", r.user) &&
             in.Int("failure time", r.failed_at, 0, kMostTime) &&
             in.Word("failed command", r.failed_command, {"-", "copy", "display", "user", kFutureDatedWord}) &&
             in.Status("failure status", r.failed_status) && in.End();
      if (good) {
        FileTypes t = UNKNOWN;
        (void)DataTypeFromWord(type, t);
        r.type = t;
        if (r.failed_command == "-") r.failed_command.clear();
        if (!file.records.empty() && file.records.back().number >= r.number) {
          why = "line " + std::to_string(number) + ": record numbers are not in ascending order";
          return kHealthDamaged;
        }
      }
      file.records.push_back(r);
    } else if (kind == "end" && pass_seen) {
      std::int64_t servers = 0, records = 0, brokers = 0;
      good = in.Int("server count", servers, 0, kServerListRecords + 1) &&
             in.Int("record count", records, 0, kClientRecords) &&
             (version < 2 || in.Int("broker count", brokers, 0, 1000)) && in.End();
      if (good && (static_cast<std::size_t>(servers) != file.servers.size() ||
                   static_cast<std::size_t>(records) != file.records.size() ||
                   static_cast<std::size_t>(brokers) != file.brokers.size())) {
        why = "line " + std::to_string(number) + ": the counts do not match the lines (the file is cut short?)";
        return kHealthDamaged;
      }
      end_seen = true;
    } else {
      why = "line " + std::to_string(number) + " is not a line of its place (\"" +
            Escape(kind.substr(0, 20)) + "\")";
      return kHealthDamaged;
    }
    if (!good) {
      why = in.why();
      return kHealthDamaged;
    }
  }
  if (!end_seen) {
    why = "the end line is missing (the file is cut short)";
    return kHealthDamaged;
  }
  return kHealthOk;
}

int ReadHealth(const char *path, HealthFile &file, std::string &why) {
  posix::File f;
  int rc = posix::OpenRegular(path, O_RDONLY, f);
  if (rc == ENOENT) {
    why = "there is no health file (no pass has ended since it was installed)";
    return kHealthMissing;
  }
  if (rc != 0) {
    why = posix::ErrorText(rc);
    return kHealthUnreadable;
  }
  std::string text(kMostHealthBytes + 1, '\0');
  std::size_t have = 0;
  while (have < text.size()) {
    ssize_t got = posix::ReadSome(f.fd(), text.data() + have, text.size() - have);
    if (got < 0) {
      why = posix::ErrorText(errno);
      return kHealthUnreadable;
    }
    if (got == 0) break;
    have += static_cast<std::size_t>(got);
  }
  text.resize(have);
  return ParseHealth(text, file, why);
}

}  // namespace health
