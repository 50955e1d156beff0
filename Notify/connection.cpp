// One connection to an MQTT broker through the Eclipse Paho MQTT C client
// (its synchronous API, without callbacks: every call is made from here,
// and the client starts no thread of its own).

#include <MQTTClient.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "Notify/Notify.h"
#include "posix/posix.h"

// The client library starts its TCP connection without waiting and then
// looks for it to complete only every tenth of a second: a connection on
// loopback that takes a tenth of a millisecond would cost a hundred.  The
// programs that link the library are linked with `--wrap=connect`, so the
// library's connect comes here: while Connection::Connect runs, a
// connection in progress is waited for (within the connect's own time
// limit) and reported as made or failed at once; the library then sends
// its CONNECT straight away.  Any other connect passes through unchanged.
namespace {
std::atomic<int> g_connect_wait_ms{0};
}

extern "C" int __real_connect(int fd, const sockaddr *address, socklen_t length);

extern "C" int __wrap_connect(int fd, const sockaddr *address, socklen_t length) {
  const int rc = __real_connect(fd, address, length);
  const int wait_ms = g_connect_wait_ms.load();
  if (rc == 0 || errno != EINPROGRESS || wait_ms <= 0) return rc;
  pollfd p = {fd, POLLOUT, 0};
  int ready;
  do {
    ready = ::poll(&p, 1, wait_ms);
  } while (ready < 0 && errno == EINTR);
  if (ready != 1) {  // not yet: the library goes on waiting within its limit
    errno = EINPROGRESS;
    return -1;
  }
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return -1;
  if (error != 0) {
    errno = error;
    return -1;
  }
  return 0;
}

namespace notify {

struct Connection::State {
  MQTTClient client = nullptr;
  bool connected = false;
};

namespace {

std::string PahoText(int rc) {
  const char *text = MQTTClient_strerror(rc);
  return text ? std::string(text) + " (" + std::to_string(rc) + ")" : "error " + std::to_string(rc);
}

// The broker's address as the client library writes it.
std::string ServerUri(const std::string &url) {
  if (url.rfind("mqtts://", 0) == 0) {
    std::string rest = url.substr(8);
    if (rest.find(':') == std::string::npos) rest += ":8883";
    return "ssl://" + rest;
  }
  std::string rest = url.substr(7);
  if (rest.find(':') == std::string::npos) rest += ":1883";
  return "tcp://" + rest;
}

// The first line of a password file.
bool ReadPassword(const std::string &path, std::string &password, std::string &why) {
  posix::File file;
  if (int rc = posix::OpenRegular(path.c_str(), O_RDONLY, file); rc != 0) {
    why = "password file " + path + ": " + posix::ErrorText(rc);
    return false;
  }
  char text[1024];
  ssize_t got = posix::ReadSome(file.fd(), text, sizeof text);
  if (got < 0) {
    why = "password file " + path + ": cannot be read";
    return false;
  }
  password.assign(text, static_cast<std::size_t>(got));
  password = password.substr(0, password.find('\n'));
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return true;
}

}  // namespace

Connection::Connection() : state_(std::make_unique<State>()) {}

Connection::~Connection() {
  if (state_->client) {
    if (state_->connected) (void)MQTTClient_disconnect(state_->client, 100);
    MQTTClient_destroy(&state_->client);
  }
}

bool Connection::connected() const { return state_->connected && MQTTClient_isConnected(state_->client); }

int Connection::Connect(const Broker &broker, const std::string &client_id, bool persistent, int timeout_ms,
                        std::string &why) {
  if (state_->client) {
    if (state_->connected) (void)MQTTClient_disconnect(state_->client, 0);
    MQTTClient_destroy(&state_->client);
    state_->connected = false;
  }
  const std::string uri = ServerUri(broker.url);
  int rc = MQTTClient_create(&state_->client, uri.c_str(), client_id.c_str(), MQTTCLIENT_PERSISTENCE_NONE, nullptr);
  if (rc != MQTTCLIENT_SUCCESS) {
    state_->client = nullptr;
    return why = "cannot make a client for " + broker.url + ": " + PahoText(rc), kFailed;
  }
  MQTTClient_connectOptions options = MQTTClient_connectOptions_initializer;
  options.keepAliveInterval = 60;
  options.cleansession = persistent ? 0 : 1;
  options.connectTimeout = timeout_ms <= 0 ? 1 : (timeout_ms + 999) / 1000;
  // One protocol version, so that a refusal is not tried twice.
  options.MQTTVersion = MQTTVERSION_3_1_1;
  options.maxInflightMessages = 65535;  // a burst is sent at once, not one by one
  std::string password;
  if (!broker.user.empty()) options.username = broker.user.c_str();
  if (!broker.password_file.empty()) {
    if (!ReadPassword(broker.password_file, password, why)) return kFailed;
    options.password = password.c_str();
  }
  MQTTClient_SSLOptions tls = MQTTClient_SSLOptions_initializer;
  if (uri.rfind("ssl://", 0) == 0) {
    tls.enableServerCertAuth = 1;
    tls.verify = 1;
    if (!broker.ca_file.empty()) tls.trustStore = broker.ca_file.c_str();
    options.ssl = &tls;
  }
  g_connect_wait_ms = timeout_ms > 0 ? timeout_ms : 1000;
  rc = MQTTClient_connect(state_->client, &options);
  g_connect_wait_ms = 0;
  if (rc != MQTTCLIENT_SUCCESS) return why = "cannot connect to " + broker.url + ": " + PahoText(rc), kFailed;
  state_->connected = true;
  return kOk;
}

int Connection::Publish(const std::vector<std::pair<std::string, std::string>> &messages, int timeout_ms,
                        std::string &why) {
  if (!state_->connected) return why = "not connected", kFailed;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms > 0 ? timeout_ms : 0);
  for (const auto &[topic, payload] : messages) {
    MQTTClient_message message = MQTTClient_message_initializer;
    message.payload = const_cast<char *>(payload.data());
    message.payloadlen = static_cast<int>(payload.size());
    message.qos = 1;
    message.retained = 1;
    MQTTClient_deliveryToken token = 0;
    if (int rc = MQTTClient_publishMessage(state_->client, topic.c_str(), &message, &token); rc != MQTTCLIENT_SUCCESS)
      return why = "cannot publish " + topic + ": " + PahoText(rc), kFailed;
  }
  // The acknowledgements are read as they come (the library's own wait for
  // one looks only every tenth of a second; its receive handles one but
  // returns only for a message or at its time limit, hence the short one).
  while (true) {
    MQTTClient_deliveryToken *pending = nullptr;
    (void)MQTTClient_getPendingDeliveryTokens(state_->client, &pending);
    const bool done = !pending || pending[0] == -1;
    if (pending) MQTTClient_free(pending);
    if (done) return kOk;
    if (std::chrono::steady_clock::now() >= end) return why = "the broker did not acknowledge in time", kFailed;
    std::string topic, payload;
    if (Receive(1, topic, payload, why) < 0) return kFailed;
  }
}

int Connection::Subscribe(const std::vector<std::string> &topics, std::string &why) {
  if (!state_->connected) return why = "not connected", kFailed;
  if (topics.empty()) return kOk;
  std::vector<char *> names;
  std::vector<int> qos(topics.size(), 1);
  for (const std::string &t : topics) names.push_back(const_cast<char *>(t.c_str()));
  int rc = MQTTClient_subscribeMany(state_->client, static_cast<int>(topics.size()), names.data(), qos.data());
  if (rc != MQTTCLIENT_SUCCESS) return why = "cannot subscribe: " + PahoText(rc), kFailed;
  for (int granted : qos)
    if (granted == 0x80) return why = "the broker refused a subscription", kFailed;
  return kOk;
}

int Connection::Receive(int timeout_ms, std::string &topic, std::string &payload, std::string &why) {
  if (!state_->connected) return why = "not connected", -1;
  char *name = nullptr;
  int name_length = 0;
  MQTTClient_message *message = nullptr;
  int rc = MQTTClient_receive(state_->client, &name, &name_length, &message,
                              static_cast<unsigned long>(timeout_ms > 0 ? timeout_ms : 0));
  if (rc != MQTTCLIENT_SUCCESS && rc != MQTTCLIENT_TOPICNAME_TRUNCATED) {
    state_->connected = false;
    if (message) MQTTClient_freeMessage(&message);
    if (name) MQTTClient_free(name);
    return why = "connection lost: " + PahoText(rc), -1;
  }
  if (!message) {
    if (!MQTTClient_isConnected(state_->client)) {
      state_->connected = false;
      return why = "connection lost", -1;
    }
    return 0;
  }
  topic = name_length > 0 ? std::string(name, static_cast<std::size_t>(name_length)) : std::string(name ? name : "");
  payload.assign(static_cast<const char *>(message->payload), static_cast<std::size_t>(message->payloadlen));
  MQTTClient_freeMessage(&message);
  MQTTClient_free(name);
  return 1;
}

}  // namespace notify
