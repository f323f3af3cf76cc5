#include "app/watchdog.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr milliseconds LONGEST_PROBE{5000};
constexpr milliseconds UNTIL_READY{250};

bool positive_number(const char* text, long long* value) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  *value = std::strtoll(text, &end, 10);
  return *end == '\0' && *value > 0;
}

// Asks the server at `path` for its home page, reading all of it; true when
// it came whole within `limit` from a working server.
bool probe(const std::string& path, milliseconds limit) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    close(fd);
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const Clock::time_point deadline = Clock::now() + limit;
  // Waits until `events` may be done on the socket, or the deadline passes.
  auto wait_for = [&](short events) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    pollfd ready{fd, events, 0};
    return left > 0 && poll(&ready, 1, static_cast<int>(left)) == 1;
  };
  bool working = false;
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
      (errno == EINPROGRESS && wait_for(POLLOUT))) {
    constexpr char REQUEST[] = "GET / HTTP/1.0\r\nHost: localhost\r\n\r\n";
    char head[32] = {};
    size_t kept = 0;
    if (send(fd, REQUEST, sizeof REQUEST - 1, MSG_NOSIGNAL) ==
        static_cast<ssize_t>(sizeof REQUEST - 1)) {
      char buffer[4096];
      for (;;) {
        if (!wait_for(POLLIN)) break;
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
          working = got == 0 && answered(head, kept);
          break;
        }
        const size_t more = std::min(sizeof head - kept, static_cast<size_t>(got));
        std::memcpy(head + kept, buffer, more);
        kept += more;
      }
    }
  }
  close(fd);
  return working;
}

void watch(const std::string& path) {
  const long long interval =
      watchdog_interval(std::getenv("WATCHDOG_USEC"), std::getenv("WATCHDOG_PID"), getpid());
  const auto period = std::chrono::microseconds(interval);
  const milliseconds limit =
      interval > 0 ? std::min(LONGEST_PROBE, std::chrono::duration_cast<milliseconds>(period))
                   : LONGEST_PROBE;
  bool ready = false;
  for (;;) {
    const Clock::time_point started = Clock::now();
    if (probe(path, limit)) {
      if (!ready) ready = notify_service_manager("READY=1");
      if (interval > 0) static_cast<void>(notify_service_manager("WATCHDOG=1"));
      if (ready && interval <= 0) return;
    }
    if (!ready) {
      std::this_thread::sleep_for(UNTIL_READY);
    } else {
      std::this_thread::sleep_until(started + period);
    }
  }
}

}  // namespace

long long watchdog_interval(const char* usec, const char* for_pid, long pid) {
  long long total = 0;
  long long wanted_pid = 0;
  if (!positive_number(usec, &total)) return 0;
  if (for_pid != nullptr && (!positive_number(for_pid, &wanted_pid) || wanted_pid != pid)) {
    return 0;
  }
  return total / 2;
}

bool notify_address(const char* name, sockaddr_un* address, socklen_t* length) {
  if (name == nullptr || (name[0] != '/' && name[0] != '@')) return false;
  const size_t size = std::strlen(name);
  if (size < 2 || size >= sizeof address->sun_path) return false;
  *address = sockaddr_un{};
  address->sun_family = AF_UNIX;
  std::memcpy(address->sun_path, name, size);
  if (name[0] == '@') address->sun_path[0] = '\0';
  const size_t terminator = name[0] == '/' ? 1 : 0;  // an abstract name has none
  *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + size + terminator);
  return true;
}

bool answered(const char* response, size_t length) {
  constexpr char PREFIX[] = "HTTP/1.";
  constexpr size_t PREFIX_SIZE = sizeof PREFIX - 1;
  // "HTTP/1.x NNN"
  if (length < PREFIX_SIZE + 5 || std::strncmp(response, PREFIX, PREFIX_SIZE) != 0) return false;
  const char* status = response + PREFIX_SIZE + 2;
  if (response[PREFIX_SIZE + 1] != ' ') return false;
  for (int i = 0; i < 3; ++i) {
    if (status[i] < '0' || status[i] > '9') return false;
  }
  return status[0] >= '1' && status[0] <= '4';
}

bool notify_service_manager(const char* message) {
  sockaddr_un address{};
  socklen_t length = 0;
  if (!notify_address(std::getenv("NOTIFY_SOCKET"), &address, &length)) return false;
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const size_t size = std::strlen(message);
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
  const ssize_t sent =
      sendto(fd, message, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address), length);
  close(fd);
  return sent == static_cast<ssize_t>(size);
}

void start_watchdog(const char* probe_path) {
  sockaddr_un address{};
  socklen_t length = 0;
  if (!notify_address(std::getenv("NOTIFY_SOCKET"), &address, &length)) return;
  std::thread(watch, std::string(probe_path)).detach();
}
