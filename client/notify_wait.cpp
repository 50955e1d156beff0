// The background loop's wait between passes: the interval, or an
// announcement of a new item of a dataset the loop watches, whichever comes
// first (VKNotify, docs/notify.md).  The brokers are listened to by the
// helper program `vknotify listen`, which the loop starts and keeps for the
// datasets it watches; it writes "wake" and the brokers' states on a pipe.
// An announcement only wakes the loop: the pass that follows reads the
// servers' tables as every pass does.

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "client/client.h"
#include "client/health.h"
#include "client/internal.h"
#include "host/host.h"

namespace client_internal {

namespace {
using Clock = std::chrono::steady_clock;
constexpr int kRestartBackoffMs = 5000;  // a helper that ended is started again after this
}  // namespace

Waker::Waker() = default;

Waker::~Waker() { Stop(); }

void Waker::Stop() {
  if (helper_.running()) (void)posix::SignalProcess(helper_.pid(), SIGTERM);
  (void)helper_.Finish();
}

bool Waker::Load() {
  std::string text, why;
  int rc = notify::ReadConfigFile(notify::kNotifyFile, text, why);
  if (rc == notify::kMissing) return false;
  if (rc == notify::kOk) rc = notify::ParseClientConfig(text, config_, why);
  if (rc != notify::kOk) {
    Tveprintf("%s not used: %s; the loop waits its interval.\n", notify::kNotifyFile, why.c_str());
    return false;
  }
  for (std::size_t i = 0; i < config_.brokers.size(); ++i) {
    health::BrokerHealth b;
    b.number = static_cast<int>(i) + 1;
    b.url = config_.brokers[i].url;
    brokers_.push_back(b);
  }
  return true;
}

void Waker::Watch(const std::vector<std::pair<std::string, std::string>> &datasets) {
  std::vector<std::string> watched;
  for (const auto &[group, descriptor] : datasets) {
    std::string dataset = group + "/" + descriptor;
    if (std::find(watched.begin(), watched.end(), dataset) == watched.end()) watched.push_back(dataset);
  }
  std::sort(watched.begin(), watched.end());
  if (helper_.running() && watched == watched_) return;
  if (!helper_.running() && Clock::now() < next_start_) return;
  Stop();  // the datasets changed: a helper for the new ones (the broker keeps what comes meanwhile)
  watched_ = watched;
  const std::string path = notify::HelperPath();
  std::vector<std::string> args = {"vknotify", "listen"};
  if (verbose > 1) args.push_back("-v");
  args.insert(args.end(), watched_.begin(), watched_.end());
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pending_.clear();
  if (helper_.Start(path.c_str(), argv.data(), false) != 0 || !helper_.running()) {
    Tveprintf("%s cannot be started; the loop waits its interval.\n", path.c_str());
    (void)helper_.Finish();
    next_start_ = Clock::now() + std::chrono::milliseconds(kRestartBackoffMs);
  }
}

// Reads what the helper wrote; true when it said "wake".  A helper that
// ended is finished (the brokers count as unreachable until another runs).
bool Waker::Take() {
  char buffer[4096];
  ssize_t n = helper_.Read(buffer, sizeof buffer);
  if (n <= 0) {
    (void)helper_.Finish();
    next_start_ = Clock::now() + std::chrono::milliseconds(kRestartBackoffMs);
    for (health::BrokerHealth &b : brokers_) b.connected = 0;
    return false;
  }
  pending_.append(buffer, static_cast<std::size_t>(n));
  bool woken = false;
  for (std::size_t end; (end = pending_.find('\n')) != std::string::npos; pending_.erase(0, end + 1)) {
    notify::BrokerState state;
    int rc = notify::ParseListenLine(std::string_view(pending_).substr(0, end), state);
    if (rc == notify::kMissing) {
      woken = true;
    } else if (rc == notify::kOk && state.number >= 1 && static_cast<std::size_t>(state.number) <= brokers_.size()) {
      health::BrokerHealth &b = brokers_[static_cast<std::size_t>(state.number) - 1];
      b.connected = state.connected;
      b.last = state.last;
      b.received = state.received;
    }
  }
  return woken;
}

bool Waker::Wait(int milliseconds) {
  const auto end = Clock::now() + std::chrono::milliseconds(milliseconds > 0 ? milliseconds : 0);
  bool woken = false;
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (!helper_.running()) {
      // Nobody listens: the interval alone.
      if (left > 0) Tvsleep(static_cast<int>(left));
      return false;
    }
    // Once woken, only what is already written is taken.
    if (!helper_.WaitForOutput(woken ? 0 : static_cast<int>(std::max<std::int64_t>(left, 0)))) break;
    if (Take()) woken = true;
    if (!woken && Clock::now() >= end) break;
  }
  if (woken) {
    for (health::BrokerHealth &b : brokers_) b.woken += b.connected ? 1 : 0;
    if (verbose > 1) std::printf("Notification: a pass at once.\n");
  }
  return woken;
}

std::vector<health::BrokerHealth> Waker::Health() const { return brokers_; }

}  // namespace client_internal
