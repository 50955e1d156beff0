// Start-up: joining or creating the host session, and building the
// argument store (Tvinit).
//
// A session is two System V shared memory areas named by the environment
// variables TVENV_POSUC (the session area, shared by every program of the
// session) and TVENV_NEGUC (a second, smaller area).  A program started
// outside a session creates both, exports their identifiers, and forks: the
// child goes on as the program, the parent waits for it, passes terminal
// signals on, and exits with the child's status.
//
// Areas are marked for removal as soon as they are attached.  Linux keeps a
// marked area alive while any process has it attached and still lets other
// processes attach it by identifier, so the session lives exactly as long as
// some program of it runs: a session never outlives its programs, even when
// its parent is killed with SIGKILL.  The program itself is sent SIGTERM
// when its parent ends, so it never runs on without the parent that passes
// signals to it.

#include <signal.h>
#include <sys/ipc.h>
#include <sys/resource.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "host/host.h"
#include "host/internal.h"
#include "posix/posix.h"

namespace tv {
namespace {

constexpr int kDefaultFrames = 1;
constexpr int kDefaultLines = 480;
constexpr int kDefaultElements = 640;
constexpr std::size_t kNegAreaBytes = 4096;

SessionArea g_local_session;  // used until (or unless) a session is attached
SessionArea *g_session = nullptr;
std::string g_program_name = "Unknown command";
bool g_initialised = false;

void DefaultSessionValues(SessionArea &area, int frames, int lines, int elements) {
  std::memset(&area, 0, sizeof area);
  std::memcpy(area.magic, kSessionMagic, sizeof area.magic);
  area.area_bytes = static_cast<std::int32_t>(SessionAreaBytes(frames));
  area.frame_count = frames;
  area.frame_lines = lines;
  area.frame_elements = elements;
  const char *check = std::getenv("TVKEYCHECK");
  area.keyword_check = (check && std::strcmp(check, "0") == 0) ? 0 : 1;
  area.text_window = 0;
  area.streams[kStandardStream] = {1, 2, 0, 0};
  area.streams[kErrorStream] = {2, 2, 0, 14};
  const char *debug = std::getenv("TVDEBUG");
  bool debug_on = debug && *debug && std::strcmp(debug, "0") != 0;
  area.streams[kDebugStream] = {2, debug_on ? 2 : 0, 0, 14};
}

struct LocalInit {
  LocalInit() { DefaultSessionValues(g_local_session, kDefaultFrames, kDefaultLines, kDefaultElements); }
} g_local_init;

bool ParseId(const char *text, int &id) {
  std::string_view s(text);
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), id);
  return ec == std::errc() && end == s.data() + s.size() && id >= 0;
}

// Attaches an existing area and checks that it is what it claims to be.
SessionArea *AttachSession(int id) {
  struct shmid_ds info;
  if (shmctl(id, IPC_STAT, &info) != 0 || info.shm_segsz < sizeof(SessionArea)) return nullptr;
  void *p = shmat(id, nullptr, 0);
  if (p == reinterpret_cast<void *>(-1)) return nullptr;
  auto *area = static_cast<SessionArea *>(p);
  bool valid = std::memcmp(area->magic, kSessionMagic, sizeof kSessionMagic) == 0 &&
               area->frame_count >= 1 && area->frame_count <= kMaxFrames &&
               static_cast<std::size_t>(area->area_bytes) <= info.shm_segsz &&
               SessionAreaBytes(area->frame_count) <= static_cast<std::size_t>(area->area_bytes);
  if (!valid) {
    shmdt(p);
    return nullptr;
  }
  return area;
}

// Creates an area, attaches it and marks it for removal.  Returns the
// identifier or -1 (create), -2 (attach), -3 (mark) with nothing left behind.
int CreateArea(std::size_t bytes, void **where) {
  int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  if (id < 0) return -1;
  void *p = shmat(id, nullptr, 0);
  if (p == reinterpret_cast<void *>(-1)) {
    shmctl(id, IPC_RMID, nullptr);
    return -2;
  }
  if (shmctl(id, IPC_RMID, nullptr) != 0) {
    shmdt(p);
    shmctl(id, IPC_RMID, nullptr);
    return -3;
  }
  *where = p;
  return id;
}

bool ExportId(const char *name, int id) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", id);
  return setenv(name, text, 1) == 0;
}

int CreateNegArea() {
  void *p = nullptr;
  int id = CreateArea(kNegAreaBytes, &p);
  if (id < 0) return kTvInitNegCreateFailed;
  std::memcpy(p, "TVNEGA01", 8);
  if (!ExportId("TVENV_NEGUC", id)) return kTvInitNegCreateFailed;
  return 0;
}

int JoinNegArea(const char *text) {
  int id = 0;
  if (!ParseId(text, id)) return kTvInitNegJoinFailed;
  void *p = shmat(id, nullptr, 0);
  if (p == reinterpret_cast<void *>(-1)) return kTvInitNegJoinFailed;
  return 0;
}

// The session's parent: wait for the program and end like it did.
[[noreturn]] void RunSessionParent(pid_t child) {
  int status = 0;
  int waited = posix::WaitChild(child, &status);
  shmdt(g_session);  // the last detach removes the area
  if (waited != 0) _exit(1);
  if (WIFEXITED(status)) _exit(WEXITSTATUS(status));
  // The program died of a signal: die of the same one, without a core
  // file of our own, so the caller sees what it would have seen.
  int sig = WTERMSIG(status);
  struct rlimit no_core = {0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  signal(sig, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  _exit(128 + sig);
}

// The frame count of a new session: TVFRAMES when it is a number from 1 to
// kMaxFrames (the session starter sets it), else one frame.
int NewSessionFrames() {
  const char *text = std::getenv("TVFRAMES");
  int frames = 0;
  if (!text || !ParseId(text, frames) || frames < 1 || frames > kMaxFrames) return kDefaultFrames;
  return frames;
}

int CreateSession() {
  void *p = nullptr;
  const int frames = NewSessionFrames();
  int id = CreateArea(SessionAreaBytes(frames), &p);
  if (id < 0) return id;  // -1, -2 or -3
  g_session = static_cast<SessionArea *>(p);
  DefaultSessionValues(*g_session, frames, kDefaultLines, kDefaultElements);
  if (!ExportId("TVENV_POSUC", id)) return kTvInitStartFailed;
  if (int rc = CreateNegArea(); rc != 0) return rc;

  // The parent passes terminal signals on to the program for as long as it
  // waits (the relay is never destroyed there: the parent ends by _exit).
  static posix::SignalRelay *relay = nullptr;
  relay = new posix::SignalRelay();
  const pid_t parent = getpid();
  pid_t child = posix::Fork();
  if (child < 0) {
    delete relay;
    relay = nullptr;
    return kTvInitStartFailed;
  }
  if (child > 0) {
    relay->Target(child);
    RunSessionParent(child);
  }
  relay->RestoreInChild();
  // The program ends with its session's parent: killed outright, the parent
  // cannot pass a signal on, so the kernel sends the program SIGTERM.
  if (!posix::EndWithParent(parent)) return kTvInitStartFailed;
  return 0;
}

void OutOfMemory() {
  static const char kMessage[] = "OUT OF MEMORY\n";
  ssize_t ignored = write(2, kMessage, sizeof kMessage - 1);
  (void)ignored;
  _exit(1);
}

void AtExit() {
  FlushStreams();
  std::fflush(nullptr);
}

}  // namespace

SessionArea &Session() { return g_session ? *g_session : g_local_session; }

std::int32_t *FrameDirectory(int frame) {
  SessionArea &area = Session();
  if (!g_session || frame < 1 || frame > area.frame_count) return nullptr;
  auto *base = reinterpret_cast<std::int32_t *>(reinterpret_cast<char *>(&area) + sizeof(SessionArea));
  return base + static_cast<std::size_t>(frame - 1) * kFrameDirectoryWords;
}

bool HasDisplay() { return g_session != nullptr; }

const char *ProgramName() { return g_program_name.c_str(); }

void SetProgramName(std::string name) { g_program_name = std::move(name); }

int StartSession() {
  const char *pos = std::getenv("TVENV_POSUC");
  if (pos && *pos) {
    int id = 0;
    if (!ParseId(pos, id) || !(g_session = AttachSession(id))) return kTvInitJoinFailed;
    const char *neg = std::getenv("TVENV_NEGUC");
    if (neg && *neg) return JoinNegArea(neg);
    return CreateNegArea();
  }
  return CreateSession();
}

}  // namespace tv

int Tvinit(int argc, char **argv) {
  if (tv::g_initialised) return kTvBadCall;
  tv::g_initialised = true;
  // Before anything is opened: a closed standard descriptor would otherwise
  // be taken by the first file the program opens.
  if (posix::EnsureStandardDescriptors() != 0) return kTvInitStartFailed;
  std::set_new_handler(tv::OutOfMemory);

  // Program name; a start by the host's command processor hands the whole
  // command line over as one string after an argv[0] holding a blank.
  const char *arg0 = (argc > 0 && argv && argv[0]) ? argv[0] : "";
  bool one_string = argc == 2 && std::strchr(arg0, ' ') != nullptr;
  const char *sep = std::strrchr(arg0, one_string ? ' ' : '/');
  std::string name = sep ? sep + 1 : arg0;

  if (int rc = tv::StartSession(); rc != 0) return rc;
  std::atexit(tv::AtExit);

  if (!name.empty()) tv::SetProgramName(name);
  auto store = std::make_unique<tv::ArgStore>();
  if (one_string) {
    if (int rc = tv::ParseString(argv[1] ? argv[1] : "", *store); rc != 0) return rc;
    if (name.empty()) name = store->entries[0].values[0];
  } else {
    tv::ParseArgv(argc, argv, *store);
  }
  tv::SetProgramName(name.empty() ? "Unknown command" : name);
  tv::SetCurrentStore(std::move(store));
  return 0;
}

int TvGetMaxImageFrameNumber() { return tv::Session().frame_count; }
