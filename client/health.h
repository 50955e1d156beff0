// The health file VKHealth: what the last pass of the cycle saw, per
// server-list entry and per active client record (format in
// docs/health_file.md).  The cycle writes it whole at the end of every pass
// (under a temporary name, then renamed); the health tool only reads it.
//
// Two parts share this header, so reader and writer agree on the format:
//
//   the file   HealthFile in memory, FormatHealth (the text of the file) and
//              ParseHealth / ReadHealth (which refuse a damaged file with the
//              reason);
//   the pass   the collector the cycle reports into: BeginPass, then per
//              server BeginServer and what became of it, per client record
//              Examining / Taken / CommandRan (from the checks), and EndPass,
//              which writes the file.  Reports made outside a pass (a check
//              called on its own) are ignored.

#ifndef VARNEK_CLIENT_HEALTH_H
#define VARNEK_CLIENT_HEALTH_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "client/client.h"

namespace health {

inline constexpr const char *kHealthFile = "VKHealth";
inline constexpr int kHealthVersion = 2;  // version 1 (no broker lines) is still read
inline constexpr std::size_t kMostHealthBytes = 1u << 20;  // a larger file is refused as damaged

// A command status that was never recorded (written "-").
inline constexpr int kNoStatus = -1000;

// Results of ReadHealth.
inline constexpr int kHealthOk = 0;
inline constexpr int kHealthMissing = 1;   // no such file
inline constexpr int kHealthUnreadable = 2;  // it cannot be opened or read
inline constexpr int kHealthDamaged = 3;   // it is not a valid health file

// What became of a server-list entry in the last pass (the words on disk).
inline constexpr const char *kCompared = "compared";          // fetched and compared
inline constexpr const char *kFetchFailed = "fetch-failed";   // the fetch command did not end with 0
inline constexpr const char *kNoRoute = "no-route";           // the route table could not be read
inline constexpr const char *kNotCompared = "not-compared";   // fetched, but not compared (reason given)

// The kinds of command run for a client record (the words on disk).
enum class Command { kCopy, kDisplay, kUser };
const char *CommandWord(Command kind);

struct ServerHealth {
  int entry = 0;                // server-list entry, 0..50
  int version = 0;              // availability file format of the entry
  std::string group;            // the entry's group
  std::string address;          // the entry's address
  std::int64_t fetched = 0;     // start of the fetch, seconds since 1970 UTC
  std::string outcome;          // kCompared, kFetchFailed, kNoRoute or kNotCompared
  int exit_status = kNoStatus;  // the fetch command's status (Exec's result)
  std::int64_t duration_ms = 0; // how long the fetch command took
  int applied = 0;              // server records applied to the client records
  std::string reason;           // why not compared; "" otherwise
};

struct RecordHealth {
  int number = 0;               // client record, 1..200
  int type = 0;                 // FileTypes
  std::string group;
  std::string descriptor;
  std::int64_t examined = 0;    // last pass that offered it a server item; 0 never
  std::int64_t taken = 0;       // when it last took an item; 0 never
  int item = 0;                 // the position of that item
  int copy = kNoStatus;         // status of the last copy (or text transfer)
  int display = kNoStatus;      // status of the last display
  int user = kNoStatus;         // status of the last user command
  std::int64_t failed_at = 0;   // when a command run for it last failed; 0 never
  std::string failed_command;   // its kind ("copy", "display", "user", or
                                // "future-dated": an item not taken); "" none
  int failed_status = kNoStatus;
};

// A broker the background loop listens to for announcements (VKNotify).
struct BrokerHealth {
  int number = 0;                // its place in VKNotify, from 1
  std::string url;               // mqtt://host:port or mqtts://host:port
  int connected = 0;             // 1 when connected at the pass's start
  std::int64_t last = 0;         // when the last announcement came; 0 never
  std::int64_t received = 0;     // announcements received since the loop started
  std::int64_t woken = 0;        // passes they started early
};

struct HealthFile {
  std::int64_t pass_started = 0;  // seconds since 1970 UTC
  std::int64_t pass_ended = 0;
  int pass_result = 0;            // the cycle's status: 0, or 1
  std::vector<ServerHealth> servers;
  std::vector<BrokerHealth> brokers;  // only a background loop's passes have them
  std::vector<RecordHealth> records;
};

// The text of a health file.  Text values are escaped, so no value can
// split a line or a field.
std::string FormatHealth(const HealthFile &file);

// Reads the text of a health file, validating every field.  kHealthOk, or
// kHealthDamaged with `why` saying which line and what is wrong.  Prints
// nothing.
[[nodiscard]] int ParseHealth(std::string_view text, HealthFile &file, std::string &why);

// Opens `path` read-only (a regular file only) and parses it.  kHealthOk,
// kHealthMissing, kHealthUnreadable or kHealthDamaged, with `why` set.
// Prints nothing.
[[nodiscard]] int ReadHealth(const char *path, HealthFile &file, std::string &why);

// A text value as written in the file: "-" for the empty text; every byte
// that is not a printable ASCII character other than blank and "%", and a
// value that is "-" alone, written as %XX.
std::string Escape(std::string_view text);
// The reverse; false for a malformed escape.
[[nodiscard]] bool Unescape(std::string_view field, std::string &text);

// ---------------------------------------------------------------------------
// The collector of a pass.

// Starts a pass at `now`: what the previous health file says of each client
// record is carried on (a damaged or missing file carries nothing).
void BeginPass(std::int64_t now);

// A server-list entry's fetch starts / ended with Exec's status after
// `duration_ms`.
void BeginServer(int entry, const ServerListRec &record, std::int64_t now);
void Fetched(int exit_status, std::int64_t duration_ms);

// The entry was not compared: `outcome` kNoRoute or kNotCompared.
void NotCompared(const char *outcome, std::string_view reason);

// One server record of the entry was applied to the client records.
void Applied();

// Client record `number` (`record` as the comparison holds it) is offered
// a server item: later reports go to it.  What was known of another record
// under the number is forgotten.
void Examining(int number, const ClientRec &record);

// The record being examined took item `item`.
void Taken(int item);

// A command was run for the record being examined, with `status`.
void CommandRan(Command kind, int status);

// The record being examined was offered an item of its own dated more than
// a day ahead of this machine's clock, and did not take it: recorded as
// its last failure, kFutureDatedWord.
void FutureDated();
inline constexpr const char *kFutureDatedWord = "future-dated";

// The brokers of the background loop as they are now: the passes that
// follow write them into the file (a pass outside a loop writes none).
void SetBrokers(const std::vector<BrokerHealth> &brokers);

// Ends the pass with the cycle's status and writes the health file whole
// for the active records of the client file (read once more, quietly).  kClientOk, or
// kClientFailed after "VKHealth not written: <reason>" on the error stream
// (the previous file then stays).
[[nodiscard]] int EndPass(int result, std::int64_t now);

}  // namespace health

#endif  // VARNEK_CLIENT_HEALTH_H
