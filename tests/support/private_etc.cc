#include "tests/support/private_etc.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace ravo_test {

namespace {

std::string overlay_dir;

std::string failed(const std::string& what) { return what + ": " + std::strerror(errno); }

bool write_proc(const char* path, const std::string& text) {
  std::ofstream out(path);
  out << text;
  out.flush();
  return out.good();
}

// The overlay's backing directory lives on a tmpfs of its own; leave no trace
// of it in the host's temporary directory.
void remove_overlay() {
  umount2("/etc", MNT_DETACH);
  umount2(overlay_dir.c_str(), MNT_DETACH);
  rmdir(overlay_dir.c_str());
}

}  // namespace

std::string enter_private_etc() {
  const uid_t uid = geteuid();
  const gid_t gid = getegid();
  if (unshare(uid == 0 ? CLONE_NEWNS : CLONE_NEWNS | CLONE_NEWUSER) != 0) {
    return failed("unshare");
  }
  if (uid != 0 && !(write_proc("/proc/self/setgroups", "deny") &&
                    write_proc("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") &&
                    write_proc("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))) {
    return "cannot map the user into its namespace";
  }
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    return failed("making mounts private");
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/ravo-etc-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return failed("mkdtemp");
  overlay_dir = pattern;
  std::atexit(remove_overlay);
  if (mount("tmpfs", overlay_dir.c_str(), "tmpfs", 0, "size=16m,mode=0755") != 0) {
    return failed("mounting tmpfs");
  }
  const std::string upper = overlay_dir + "/upper";
  const std::string work = overlay_dir + "/work";
  if (mkdir(upper.c_str(), 0755) != 0 || mkdir(work.c_str(), 0755) != 0) {
    return failed("mkdir");
  }
  const std::string options = "lowerdir=/etc,upperdir=" + upper + ",workdir=" + work;
  if (mount("overlay", "/etc", "overlay", 0, options.c_str()) != 0) {
    return failed("mounting an overlay on /etc");
  }
  return "";
}

std::string* PrivateEtcTest::setup_error = nullptr;

bool under_ci() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::strcmp(ci, "true") == 0;
}

void PrivateEtcTest::SetUp() {
  const std::string why = setup_error == nullptr ? "not set up" : *setup_error;
  RAVO_REQUIRE(why.empty(), "no private /etc: " + why);
  remove_settings();
}

void put_settings(const std::string& content) {
  std::ofstream(SETTINGS_FILE, std::ios::binary | std::ios::trunc) << content;
}

void remove_settings() { unlink(SETTINGS_FILE); }

}  // namespace ravo_test
