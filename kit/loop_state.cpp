// The loop's state file: its text, its reader and its whole-file writer.
//
// The file is a script of one call whose argument is a list of strings,
// one line of the state each:
//
//   varnekLoopState([
//   "VARNEK-LOOP 1",
//   "serial 7",
//   "loop 1 500 1 2 3 4",
//   "frame 2 2024173 150000 480 480 7 RTIM/G8IR",
//   ]);
//
// so the page parses words, and the kit reads the quoted lines back
// without a script parser.

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "kit/kit.h"
#include "posix/posix.h"

namespace kit {
namespace {

constexpr int kMostPictureSide = 65535;

bool SafeDatasetChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
         c == '.' || c == '/';
}

std::string SafeDataset(std::string_view name) {
  if (name.empty()) return "-";
  std::string out(name);
  for (char &c : out)
    if (!SafeDatasetChar(c)) c = '?';
  return out;
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> out;
  for (std::size_t at = 0; at < line.size();) {
    while (at < line.size() && line[at] == ' ') ++at;
    std::size_t end = at;
    while (end < line.size() && line[end] != ' ') ++end;
    if (end > at) out.push_back(line.substr(at, end - at));
    at = end;
  }
  return out;
}

// A whole decimal number from `least` to `most`, nothing else in the word.
bool Number(std::string_view word, long long least, long long most, long long &value) {
  if (word.empty() || word[0] == '+' || word[0] == '-') return false;
  long long v = 0;
  auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), v);
  if (ec != std::errc() || end != word.data() + word.size() || v < least || v > most) return false;
  value = v;
  return true;
}

bool IntNumber(std::string_view word, int least, int most, int &value) {
  long long v = 0;
  if (!Number(word, least, most, v)) return false;
  value = static_cast<int>(v);
  return true;
}

// Where the label of `frame` is, or goes, among the labels by frame number.
std::vector<FrameLabel>::iterator Slot(std::vector<FrameLabel> &frames, int frame) {
  return std::lower_bound(frames.begin(), frames.end(), frame, [](const FrameLabel &l, int f) { return l.frame < f; });
}

// Puts `label` in its place, replacing a label of the same frame.
void PutLabel(std::vector<FrameLabel> &frames, FrameLabel label) {
  auto at = Slot(frames, label.frame);
  if (at != frames.end() && at->frame == label.frame) *at = std::move(label);
  else frames.insert(at, std::move(label));
}

// One quoted line of the state into `state`; false with `why`.
bool TakeLine(std::string_view line, LoopState &state, std::string &why) {
  const std::vector<std::string_view> w = Words(line);
  if (w.empty()) return true;
  if (w[0] == "serial") {
    if (w.size() != 2 || !Number(w[1], 1, 999999999999999LL, state.serial)) {
      why = "the serial line is not \"serial N\"";
      return false;
    }
  } else if (w[0] == "loop") {
    long long running = 0, dwell = 0;
    if (w.size() < 3 || !Number(w[1], 0, 1, running) || !Number(w[2], 1, 999999999, dwell)) {
      why = "the loop line is not \"loop 0|1 dwell frames...\"";
      return false;
    }
    state.running = running == 1;
    state.dwell_ms = static_cast<int>(std::clamp<long long>(dwell, kLeastDwellMs, kMostDwellMs));
    state.loop.clear();
    for (std::size_t i = 3; i < w.size(); ++i) {
      int frame = 0;
      if (!IntNumber(w[i], 1, kMostFrame, frame)) {
        why = "the loop line holds " + std::string(w[i]) + ", which is no frame";
        return false;
      }
      state.loop.push_back(frame);
    }
  } else if (w[0] == "frame") {
    FrameLabel label;
    if (w.size() != 8 || !IntNumber(w[1], 1, kMostFrame, label.frame) || !IntNumber(w[2], 1, 99999999, label.date) ||
        !ValidDate(label.date) || !IntNumber(w[3], 0, 235959, label.time) || !ValidTime(label.time) ||
        !IntNumber(w[4], 1, kMostPictureSide, label.width) || !IntNumber(w[5], 1, kMostPictureSide, label.height) ||
        !Number(w[6], 1, 999999999999999LL, label.drawn)) {
      why = "a frame line is not \"frame N date time width height drawn dataset\": " + std::string(line);
      return false;
    }
    label.dataset = w[7];
    PutLabel(state.frames, std::move(label));
  }
  return true;
}

}  // namespace

std::string LoopStateText(const LoopState &state) {
  std::string text =
      "// The frame loop as the stand-in host kit last left it, for loop.html.\n"
      "varnekLoopState([\n\"";
  text += kLoopStateHeader;
  text += "\",\n\"serial " + std::to_string(state.serial) + "\",\n";
  text += "\"loop " + std::to_string(state.running ? 1 : 0) + " " + std::to_string(state.dwell_ms);
  for (int f : state.loop) text += " " + std::to_string(f);
  text += "\",\n";
  for (const FrameLabel &l : state.frames)
    text += "\"frame " + std::to_string(l.frame) + " " + std::to_string(l.date) + " " + std::to_string(l.time) + " " +
            std::to_string(l.width) + " " + std::to_string(l.height) + " " + std::to_string(l.drawn) + " " +
            SafeDataset(l.dataset) + "\",\n";
  return text + "]);\n";
}

bool ParseLoopState(std::string_view text, LoopState &state, std::string &why) {
  LoopState read;
  bool header = false;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    const std::size_t open = line.find_first_not_of(" \t\r");
    if (open == std::string_view::npos || line[open] != '"') continue;  // the script around the lines
    const std::size_t close = line.find('"', open + 1);
    if (close == std::string_view::npos) {
      why = "a quoted line is left open";
      return false;
    }
    const std::string_view content = line.substr(open + 1, close - open - 1);
    if (!header) {
      if (content != kLoopStateHeader) {
        why = std::string("the first line is not \"") + kLoopStateHeader + "\"";
        return false;
      }
      header = true;
    } else if (!TakeLine(content, read, why)) {
      return false;
    }
  }
  if (!header) {
    why = std::string("there is no \"") + kLoopStateHeader + "\" line";
    return false;
  }
  state = std::move(read);
  return true;
}

int ReadLoopState(const std::string &path, LoopState &state, std::string &why) {
  posix::File file;
  if (int rc = posix::OpenRegular(path.c_str(), O_RDONLY, file); rc != 0) {
    why = path + ": " + posix::ErrorText(rc);
    return rc;
  }
  std::string text;
  char buffer[65536];
  for (ssize_t n; (n = posix::ReadSome(file.fd(), buffer, sizeof buffer)) != 0;) {
    if (n < 0) {
      const int rc = errno != 0 ? errno : EIO;
      why = path + ": " + posix::ErrorText(rc);
      return rc;
    }
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > kMostLoopStateBytes) {
      why = path + ": larger than " + std::to_string(kMostLoopStateBytes) + " bytes";
      return EFBIG;
    }
  }
  std::string reason;
  if (!ParseLoopState(text, state, reason)) {
    why = path + ": " + reason;
    return EINVAL;
  }
  return 0;
}

void SetFrameLabel(LoopState &state, FrameLabel label) {
  label.drawn = state.serial + 1;
  PutLabel(state.frames, std::move(label));
}

const FrameLabel *FindFrameLabel(const LoopState &state, int frame) {
  for (const FrameLabel &l : state.frames)
    if (l.frame == frame) return &l;
  return nullptr;
}

bool WriteLoopState(const std::string &path, LoopState &state, std::string &error) {
  LoopState next = state;
  ++next.serial;
  const std::string text = LoopStateText(next);
  const int rc = posix::ReplaceFile(
      path.c_str(), 0666, [&](int fd) { return posix::WriteAll(fd, text.data(), text.size()); }, nullptr,
      posix::Links::kReplace);
  if (rc != 0) {
    error = path + ": cannot be written: " + posix::ErrorText(rc);
    return false;
  }
  state.serial = next.serial;
  return true;
}

}  // namespace kit
