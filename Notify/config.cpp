// VKNotify: the broker a server announces to, or the brokers a client
// listens to, one setting a line (format in docs/notify.md).

#include <fcntl.h>

#include <cerrno>
#include <charconv>
#include <string>
#include <string_view>
#include <vector>

#include "Notify/Notify.h"
#include "posix/posix.h"

namespace notify {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The words of a line, split at blanks.
std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    std::size_t start = at;
    while (at < line.size() && !IsBlank(line[at])) ++at;
    if (at > start) out.push_back(line.substr(start, at - start));
  }
  return out;
}

bool Printable(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x21 || c == 0x7f) return false;
  return !text.empty();
}

// mqtt://host[:port] or mqtts://host[:port], the host a name or address.
bool BrokerUrl(std::string_view url) {
  std::string_view rest;
  if (url.substr(0, 7) == "mqtt://") rest = url.substr(7);
  else if (url.substr(0, 8) == "mqtts://") rest = url.substr(8);
  else return false;
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  std::size_t colon = rest.rfind(':');
  std::string_view host = colon == std::string_view::npos ? rest : rest.substr(0, colon);
  if (host.empty() || !Printable(host) || host.find('/') != std::string_view::npos) return false;
  if (colon == std::string_view::npos) return true;
  std::string_view port = rest.substr(colon + 1);
  int value = 0;
  auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  return ec == std::errc() && end == port.data() + port.size() && value >= 1 && value <= 65535;
}

// A topic prefix: levels of printable characters without the wildcards,
// none empty.
bool Prefix(std::string_view prefix) {
  if (prefix.empty() || prefix.size() > 200 || !Printable(prefix)) return false;
  if (prefix.find_first_of("+#") != std::string_view::npos) return false;
  return prefix.front() != '/' && prefix.back() != '/' && prefix.find("//") == std::string_view::npos;
}

// Reads the lines of a VKNotify, calling `apply` with the words of each
// line that is not blank or a comment; stops at the first refusal, which
// `apply` describes in `why`.
template <typename Apply>
int EachLine(std::string_view text, std::string &why, Apply apply) {
  int number = 0;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++number;
    std::vector<std::string_view> words = Words(line);
    if (words.empty() || words[0].front() == '#') continue;
    std::string problem;
    if (!apply(words, problem)) {
      why = "line " + std::to_string(number) + ": " + problem;
      return kFailed;
    }
  }
  return kOk;
}

// The settings of a broker: "broker URL", "user NAME", "password-file
// PATH", "ca-file PATH".  true when `words` was one of them (`problem`
// set when it was refused).
bool BrokerSetting(const std::vector<std::string_view> &words, Broker *broker, std::string &problem) {
  const std::string_view key = words[0];
  std::string *field = key == "user" ? &broker->user
                       : key == "password-file" ? &broker->password_file
                       : key == "ca-file"       ? &broker->ca_file
                                                : nullptr;
  if (!field) return false;
  if (words.size() != 2 || !Printable(words[1])) problem = std::string(key) + " wants one word";
  else if (!field->empty()) problem = std::string(key) + " is given twice";
  else *field = std::string(words[1]);
  return true;
}

}  // namespace

int ParseServerConfig(std::string_view text, ServerConfig &config, std::string &why) {
  config = ServerConfig{};
  int rc = EachLine(text, why, [&](const std::vector<std::string_view> &words, std::string &problem) {
    const std::string_view key = words[0];
    if (key == "broker") {
      if (words.size() != 2 || !BrokerUrl(words[1])) return problem = "broker wants mqtt://host[:port] or mqtts://host[:port]", false;
      if (!config.broker.url.empty()) return problem = "broker is given twice", false;
      config.broker.url = std::string(words[1]);
      return true;
    }
    if (key == "prefix") {
      if (words.size() != 2 || !Prefix(words[1])) return problem = "prefix wants one topic without wildcards", false;
      config.prefix = std::string(words[1]);
      return true;
    }
    if (key == "base-url") {
      if (words.size() != 2 || !Printable(words[1])) return problem = "base-url wants one URL", false;
      config.base_url = std::string(words[1]);
      return true;
    }
    if (BrokerSetting(words, &config.broker, problem)) return problem.empty();
    return problem = "unknown setting " + std::string(key.substr(0, 32)), false;
  });
  if (rc != kOk) return rc;
  if (config.broker.url.empty() || config.prefix.empty() || config.base_url.empty()) {
    why = "broker, prefix and base-url must all be given";
    return kFailed;
  }
  return kOk;
}

int ParseClientConfig(std::string_view text, ClientConfig &config, std::string &why) {
  config = ClientConfig{};
  int rc = EachLine(text, why, [&](const std::vector<std::string_view> &words, std::string &problem) {
    const std::string_view key = words[0];
    if (key == "broker") {
      if (words.size() != 2 || !BrokerUrl(words[1])) return problem = "broker wants mqtt://host[:port] or mqtts://host[:port]", false;
      config.brokers.push_back(Broker{std::string(words[1]), "", "", ""});
      return true;
    }
    if (key == "group") {
      // group GROUP... prefix PREFIX: the groups the last broker announces.
      if (config.brokers.empty()) return problem = "group before any broker", false;
      if (words.size() < 4 || words[words.size() - 2] != "prefix" || !Prefix(words.back()))
        return problem = "group wants GROUP... prefix PREFIX", false;
      for (std::size_t i = 1; i + 2 < words.size(); ++i) {
        if (!TopicWord(words[i])) return problem = "group " + std::string(words[i].substr(0, 32)) + " is not a word", false;
        for (const Route &r : config.routes)
          if (r.group == words[i]) return problem = "group " + std::string(words[i]) + " is given twice", false;
        config.routes.push_back(Route{std::string(words[i]), config.brokers.size() - 1, std::string(words.back())});
      }
      return true;
    }
    if (config.brokers.empty() && (key == "user" || key == "password-file" || key == "ca-file"))
      return problem = std::string(key) + " before any broker", false;
    if (!config.brokers.empty() && BrokerSetting(words, &config.brokers.back(), problem)) return problem.empty();
    return problem = "unknown setting " + std::string(key.substr(0, 32)), false;
  });
  if (rc != kOk) return rc;
  if (config.routes.empty()) {
    why = "no group is given";
    return kFailed;
  }
  return kOk;
}

int ReadConfigFile(const char *path, std::string &text, std::string &why) {
  posix::File file;
  int rc = posix::OpenRegular(path, O_RDONLY, file);
  if (rc == ENOENT) return kMissing;
  if (rc != 0) {
    why = posix::ErrorText(rc);
    return kFailed;
  }
  text.assign(kMostFileBytes + 1, '\0');
  ssize_t got = posix::ReadSome(file.fd(), text.data(), text.size());
  if (got < 0) {
    why = posix::ErrorText(errno);
    return kFailed;
  }
  if (static_cast<std::size_t>(got) > kMostFileBytes) {
    why = "it is larger than " + std::to_string(kMostFileBytes) + " bytes";
    return kFailed;
  }
  text.resize(static_cast<std::size_t>(got));
  return kOk;
}

// A group of letters, digits and "_-.", as the records hold them.
bool TopicWord(std::string_view text) {
  if (text.empty() || text.size() > 31) return false;
  for (char c : text)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
          c == '.'))
      return false;
  return true;
}

}  // namespace notify
