// Stands in for systemd's notify socket: binds a datagram socket at PATH and
// prints each message it receives on a line of its own, until it has COUNT
// or SECONDS pass without one.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: notify_listen PATH COUNT SECONDS\n");
    return 2;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", argv[1]);
  const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  const int count = std::atoi(argv[2]);
  const int wait = std::atoi(argv[3]) * 1000;
  for (int got = 0; got < count; ++got) {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, wait) != 1) break;
    char message[256];
    const ssize_t size = recv(fd, message, sizeof message - 1, 0);
    if (size < 0) break;
    message[size] = '\0';
    std::printf("%s\n", message);
    std::fflush(stdout);
  }
  close(fd);
  return 0;
}
