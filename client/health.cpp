// The collector of a pass: what the cycle, the comparisons and the checks
// report is held here and written as the health file when the pass ends.
// Reports made outside a pass are ignored, so the checks can run on their
// own (tests, COMPARE) without a health file.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "client/client.h"
#include "client/health.h"
#include "client/internal.h"
#include "host/host.h"
#include "posix/posix.h"

namespace health {
namespace {

struct Pass {
  bool running = false;
  HealthFile file;
  // What is known of each client record, by number (carried on from the
  // previous file, then updated); `known` marks the numbers that hold one.
  std::vector<RecordHealth> records;
  std::vector<bool> known;
  // The entry (index in file.servers) under which each record's identity
  // was last checked: the records are read once per entry, so once is enough.
  std::vector<int> checked;
  int server = -1;                 // index of the entry being compared in file.servers
  int record = 0;                  // the client record being examined
  std::int64_t now = 0;
};

Pass &State() {
  static Pass pass;
  return pass;
}

// The background loop's brokers, set between passes.
std::vector<BrokerHealth> &Brokers() {
  static std::vector<BrokerHealth> brokers;
  return brokers;
}

RecordHealth *Current() {
  Pass &p = State();
  if (!p.running || p.record < 1 || p.record > kClientRecords) return nullptr;
  return &p.records[static_cast<std::size_t>(p.record)];
}

}  // namespace

void BeginPass(std::int64_t now) {
  Pass &p = State();
  p = Pass{};
  p.running = true;
  p.now = now;
  p.file.pass_started = now;
  p.records.assign(kClientRecords + 1, RecordHealth{});
  p.known.assign(kClientRecords + 1, false);
  p.checked.assign(kClientRecords + 1, -1);
  HealthFile previous;
  std::string why;
  if (ReadHealth(kHealthFile, previous, why) == kHealthOk) {
    for (const RecordHealth &r : previous.records) {
      p.records[static_cast<std::size_t>(r.number)] = r;
      p.known[static_cast<std::size_t>(r.number)] = true;
    }
  }
}

void BeginServer(int entry, const ServerListRec &record, std::int64_t now) {
  Pass &p = State();
  if (!p.running) return;
  ServerHealth s;
  s.entry = entry;
  s.version = record.Version;
  s.group = record.group;
  s.address = record.Address;
  s.fetched = now;
  s.outcome = kCompared;
  p.file.servers.push_back(s);
  p.server = static_cast<int>(p.file.servers.size()) - 1;
}

namespace {
ServerHealth *CurrentServer() {
  Pass &p = State();
  return p.running && p.server >= 0 ? &p.file.servers[static_cast<std::size_t>(p.server)] : nullptr;
}
}  // namespace

void Fetched(int exit_status, std::int64_t duration_ms) {
  ServerHealth *s = CurrentServer();
  if (!s) return;
  s->exit_status = exit_status;
  s->duration_ms = duration_ms < 0 ? 0 : duration_ms;
  if (exit_status != 0) s->outcome = kFetchFailed;
}

void NotCompared(const char *outcome, std::string_view reason) {
  ServerHealth *s = CurrentServer();
  if (!s) return;
  s->outcome = outcome;
  s->reason = std::string(reason.substr(0, 512));
}

void Applied() {
  if (ServerHealth *s = CurrentServer()) ++s->applied;
}

void Examining(int number, const ClientRec &record) {
  Pass &p = State();
  if (!p.running) return;
  p.record = number;
  RecordHealth *r = Current();
  if (!r) return;
  std::size_t n = static_cast<std::size_t>(number);
  if (p.checked[n] == p.server && p.server >= 0) {  // the usual case: many items offered to one record
    r->examined = p.now;
    return;
  }
  p.checked[n] = p.server;
  // What was known of another record under this number does not count.
  if (!p.known[n] || r->type != record.DataType || r->group != record.Group || r->descriptor != record.Descriptor) {
    *r = RecordHealth{};
    r->number = number;
    r->type = record.DataType;
    r->group = record.Group;
    r->descriptor = record.Descriptor;
    p.known[n] = true;
  }
  r->examined = p.now;
}

void Taken(int item) {
  if (RecordHealth *r = Current()) {
    r->taken = tv::Now();
    r->item = item;
  }
}

void CommandRan(Command kind, int status) {
  RecordHealth *r = Current();
  if (!r) return;
  switch (kind) {
    case Command::kCopy: r->copy = status; break;
    case Command::kDisplay: r->display = status; break;
    case Command::kUser: r->user = status; break;
  }
  if (status != 0) {
    r->failed_at = tv::Now();
    r->failed_command = CommandWord(kind);
    r->failed_status = status;
  }
}

void FutureDated() {
  if (RecordHealth *r = Current()) {
    r->failed_at = tv::Now();
    r->failed_command = kFutureDatedWord;
    r->failed_status = kNoStatus;
  }
}

void SetBrokers(const std::vector<BrokerHealth> &brokers) { Brokers() = brokers; }

int EndPass(int result, std::int64_t now) {
  Pass &p = State();
  if (!p.running) return kClientOk;
  p.running = false;
  p.file.pass_ended = now;
  p.file.brokers = Brokers();
  p.file.pass_result = result == kClientOk ? 0 : 1;
  // The active records as the client file holds them now; what is known of
  // a number counts only while it is the same record (type, group and
  // descriptor).
  // Opened quietly: the comparisons have said already when it cannot be;
  // closed at the block's end, before the health file is written.
  if (DBase file; DBOpenForRead(&file, kClientFile, "") == 0) {
    ClientTable table(&file);
    const RA &ra = file.File;
    bool own = ra.BlockSize == 0 && ra.RecSize == static_cast<int>(sizeof(ClientRec)) && ra.NRecords == kClientRecords;
    if (own && table.Load()) {
      for (int n = 1; n <= kClientRecords; ++n) {
        const ClientRec *c = table.Record(n);
        if (!c || c->Status != Active || c->DataType < AREA || c->DataType > TEXT) continue;
        RecordHealth r = p.records[static_cast<std::size_t>(n)];
        if (!p.known[static_cast<std::size_t>(n)] || r.type != c->DataType || r.group != c->Group ||
            r.descriptor != c->Descriptor)
          r = RecordHealth{};
        r.number = n;
        r.type = c->DataType;
        r.group = c->Group;
        r.descriptor = c->Descriptor;
        p.file.records.push_back(r);
      }
    }
  }
  std::string text = FormatHealth(p.file);
  p.server = -1;
  int rc = posix::ReplaceFile(
      kHealthFile, 0666, [&](int fd) { return posix::WriteAll(fd, text.data(), text.size()); }, nullptr,
      posix::Links::kReplace);
  if (rc != 0) {
    Tveprintf("%s not written: %s\n", kHealthFile, posix::ErrorText(rc).c_str());
    return kClientFailed;
  }
  return kClientOk;
}

}  // namespace health
