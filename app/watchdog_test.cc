#include "app/watchdog.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

TEST(WatchdogTest, PingsAtHalfTheWatchdogTimeOnlyForThisProcess) {
  struct Case {
    const char* usec;
    const char* pid;  // null: unset
    long long interval;
  };
  const Case cases[] = {
      {"30000000", nullptr, 15000000},
      {"30000000", "42", 15000000},
      {"30000000", "43", 0},
      {"30000000", "", 0},
      {"30000000", "4x", 0},
      {nullptr, "42", 0},
      {"", nullptr, 0},
      {"0", nullptr, 0},
      {"-5", nullptr, 0},
      {"12s", nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.usec != nullptr ? c.usec : "(unset)") + " pid " +
                 (c.pid != nullptr ? c.pid : "(unset)"));
    EXPECT_EQ(watchdog_interval(c.usec, c.pid, 42), c.interval);
  }
}

TEST(WatchdogTest, ReadsPathsAndAbstractNames) {
  const std::string too_long = "/" + std::string(sizeof(sockaddr_un::sun_path), 'x');
  struct Case {
    const char* name;
    bool valid;
    bool abstract;
  };
  const Case cases[] = {
      {"/run/systemd/notify", true, false},
      {"@/org/notify", true, true},
      {"/n", true, false},
      {"@n", true, true},
      {nullptr, false, false},
      {"", false, false},
      {"run/notify", false, false},
      {"@", false, false},
      {too_long.c_str(), false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name != nullptr ? c.name : "(unset)");
    sockaddr_un address{};
    socklen_t length = 0;
    ASSERT_EQ(notify_address(c.name, &address, &length), c.valid);
    if (!c.valid) continue;
    const size_t size = std::strlen(c.name);
    EXPECT_EQ(address.sun_family, AF_UNIX);
    EXPECT_EQ(address.sun_path[0] == '\0', c.abstract);
    EXPECT_EQ(std::string(address.sun_path + 1, size - 1), std::string(c.name + 1));
    // A path counts its terminating nul; an abstract name has none.
    EXPECT_EQ(length, offsetof(sockaddr_un, sun_path) + size + (c.abstract ? 0 : 1));
  }
}

TEST(WatchdogTest, TakesOnlyAWorkingServersStatusLine) {
  struct Case {
    const char* response;
    bool working;
  };
  const Case cases[] = {
      {"HTTP/1.0 200 OK\r\n", true},
      {"HTTP/1.1 401 Unauthorized\r\n", true},
      {"HTTP/1.0 500 Internal Server Error\r\n", false},
      {"HTTP/1.0 503 Service Unavailable\r\n", false},
      {"HTTP/1.0 20", false},
      {"HTTP/1.1 2OO OK\r\n", false},
      {"HTTP/1.1 20: OK\r\n", false},
      {"HTTP/1.1 /00 OK\r\n", false},
      {"HTTP/2 200\r\n", false},
      {"HTTP/2.0 200 OK\r\n", false},
      {"ICAP/1.0 200 OK\r\n", false},
      {"", false},
      {"SSH-2.0-x", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.response);
    EXPECT_EQ(answered(c.response, std::strlen(c.response)), c.working);
  }
}

// The datagram reaches the socket named by NOTIFY_SOCKET, and nothing is sent
// without one, nor without a descriptor for it.
TEST(WatchdogTest, SendsTheMessageToTheNotifySocket) {
  char directory[] = "/tmp/ravo-notify-XXXXXX";
  ASSERT_NE(mkdtemp(directory), nullptr);
  const std::string path = std::string(directory) + "/notify";
  sockaddr_un address{};
  socklen_t length = 0;
  ASSERT_TRUE(notify_address(path.c_str(), &address, &length));
  const int listener = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
  ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), length), 0);

  unsetenv("NOTIFY_SOCKET");
  EXPECT_FALSE(notify_service_manager("READY=1"));
  setenv("NOTIFY_SOCKET", path.c_str(), 1);
  // With no descriptor left for the socket, nothing is sent, and it says so.
  rlimit saved{};
  getrlimit(RLIMIT_NOFILE, &saved);
  const rlimit none = {static_cast<rlim_t>(listener), saved.rlim_max};
  setrlimit(RLIMIT_NOFILE, &none);
  EXPECT_FALSE(notify_service_manager("READY=1"));
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_TRUE(notify_service_manager("WATCHDOG=1"));
  unsetenv("NOTIFY_SOCKET");
  char got[64] = {};
  EXPECT_EQ(recv(listener, got, sizeof got - 1, MSG_DONTWAIT), 10);
  EXPECT_STREQ(got, "WATCHDOG=1");

  close(listener);
  unlink(path.c_str());
  rmdir(directory);
}

// A socket of `type` bound to `path`, or -1.
int bound_socket(int type, const std::string& path) {
  sockaddr_un address{};
  socklen_t length = 0;
  if (!notify_address(path.c_str(), &address, &length)) return -1;
  const int fd = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
  if (fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

// A server whose status line comes a byte at a time has answered once all
// of it has come: the server is ready.
TEST(WatchdogTest, TakesAnAnswerThatComesAByteAtATime) {
  char directory[] = "/tmp/ravo-probe-XXXXXX";
  ASSERT_NE(mkdtemp(directory), nullptr);
  const std::string notify_path = std::string(directory) + "/notify";
  const std::string server_path = std::string(directory) + "/server";
  const int notified = bound_socket(SOCK_DGRAM, notify_path);
  const int listener = bound_socket(SOCK_STREAM, server_path);
  ASSERT_GE(notified, 0);
  ASSERT_GE(listener, 0);
  ASSERT_EQ(listen(listener, 4), 0);
  std::thread server([listener] {
    const int client = accept(listener, nullptr, nullptr);
    if (client < 0) return;
    char request[512];
    static_cast<void>(recv(client, request, sizeof request, 0));
    for (const char byte : std::string("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")) {
      static_cast<void>(send(client, &byte, 1, MSG_NOSIGNAL));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    close(client);
  });
  unsetenv("WATCHDOG_USEC");
  setenv("NOTIFY_SOCKET", notify_path.c_str(), 1);
  start_watchdog(server_path.c_str());
  pollfd ready{notified, POLLIN, 0};
  char got[64] = {};
  if (poll(&ready, 1, 5000) == 1) static_cast<void>(recv(notified, got, sizeof got - 1, 0));
  EXPECT_STREQ(got, "READY=1");
  server.join();
  unsetenv("NOTIFY_SOCKET");
  close(listener);
  close(notified);
  unlink(server_path.c_str());
  unlink(notify_path.c_str());
  rmdir(directory);
}

}  // namespace
