#include "tools/kitpack/safe_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

namespace hu::kitpack {

namespace {

// Temporary files open in this process, for the signal handler: it may only
// read fixed buffers and call unlink.
constexpr int kSlots = 8;
constexpr size_t kPathMax = 4096;
char gTempPaths[kSlots][kPathMax];
std::atomic<bool> gInUse[kSlots];

extern "C" void RemoveTempFilesAndDie(int signal) {
  for (int i = 0; i < kSlots; ++i) {
    if (gInUse[i].load()) ::unlink(gTempPaths[i]);
  }
  std::signal(signal, SIG_DFL);
  ::raise(signal);
}

void InstallHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int s : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action {};
    action.sa_handler = RemoveTempFilesAndDie;
    sigemptyset(&action.sa_mask);
    ::sigaction(s, &action, nullptr);
  }
}

int TakeSlot(const std::string& path) {
  if (path.size() >= kPathMax) return -1;
  for (int i = 0; i < kSlots; ++i) {
    if (gInUse[i].load()) continue;
    std::memcpy(gTempPaths[i], path.c_str(), path.size() + 1);
    gInUse[i].store(true);
    return i;
  }
  return -1;
}

bool SyncFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  return ::close(fd) == 0 && ok;
}

}  // namespace

SafeOutput::SafeOutput(std::string target) : target_(std::move(target)) {}

SafeOutput::~SafeOutput() {
  if (!temp_.empty() && !committed_) ::unlink(temp_.c_str());
  if (slot_ >= 0) gInUse[slot_].store(false);
}

bool SafeOutput::Create(std::string* error) {
  InstallHandlers();
  std::filesystem::path target(target_);
  std::filesystem::path folder = target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
  std::string pattern = (folder / ("." + target.filename().string() + ".kitpack-XXXXXX")).string();
  std::string buffer = pattern;
  // Blocked while the name is taken and registered, so an interrupt cannot
  // fall between the two and leave the file behind.
  sigset_t block, previous;
  sigemptyset(&block);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&block, s);
  ::sigprocmask(SIG_BLOCK, &block, &previous);
  int fd = ::mkstemp(buffer.data());
  int saved = errno;
  if (fd >= 0) {
    // mkstemp makes the file private; the kit gets the mode a new file or
    // the replaced one has.
    struct stat st {};
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, ::stat(target_.c_str(), &st) == 0 ? (st.st_mode & 07777) : (0666 & ~mask));
    temp_ = buffer;
    slot_ = TakeSlot(temp_);
    ::close(fd);
  }
  ::sigprocmask(SIG_SETMASK, &previous, nullptr);
  if (fd < 0) {
    *error = target_ + ": cannot be created (" + std::strerror(saved) + ")";
    return false;
  }
  return true;
}

bool SafeOutput::Commit(std::string* error) {
  if (temp_.empty() || committed_) {
    *error = target_ + ": nothing to write";
    return false;
  }
  if (!SyncFile(temp_)) {
    *error = target_ + ": cannot be flushed to disk (" + std::strerror(errno) + ")";
    return false;
  }
  if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    *error = target_ + ": cannot be replaced (" + std::strerror(errno) + ")";
    return false;
  }
  committed_ = true;
  if (slot_ >= 0) gInUse[slot_].store(false);
  slot_ = -1;
  // The rename itself reaches the disk with its folder.
  std::filesystem::path folder = std::filesystem::path(target_).parent_path();
  SyncFile(folder.empty() ? "." : folder.string());
  return true;
}

}  // namespace hu::kitpack
