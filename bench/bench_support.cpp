#include "bench/bench_support.h"

#include "tests/support/s19_text.h"

#include <benchmark/benchmark.h>
#include <zlib.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace hu::bench {

std::string FreshTarget(const std::string& prefix) {
  static int runs = 0;
  ::sync();
  return prefix + std::to_string(++runs);
}

namespace {

// Whether repetitions may get file systems of their own; cleared by the first
// that cannot be made, so that every repetition of a run writes on the same kind.
bool gFreshAllowed = [] {
  const char* setting = std::getenv("HU_BENCH_FS");
  return ::geteuid() == 0 && !(setting != nullptr && std::string(setting) == "shared") && OnPath("mkfs.ext4") &&
         OnPath("mount") && std::filesystem::is_directory("/dev/shm");
}();
bool gFreshUsed = false;

}  // namespace

RunArea::RunArea(const std::string& parent, const std::string& prefix, uint64_t bytes) {
  name_ = FreshTarget(prefix);
  const std::string folder = parent + "/" + name_;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) return;
  if (gFreshAllowed) {
    const std::string image = "/dev/shm/hu_bench_" + std::to_string(::getpid()) + "_" + name_ + ".img";
    std::filesystem::remove(image, ec);
    // Sparse: the image takes memory only for what is written.
    const bool made = std::ofstream(image).good() && ::truncate(image.c_str(), static_cast<off_t>(bytes)) == 0 &&
                      Run({"mkfs.ext4", "-q", "-F", image}, "/dev/null") == 0 &&
                      Run({"mount", "-o", "loop", image, folder}, "/dev/null") == 0;
    if (made) {
      image_ = image;
      gFreshUsed = true;
    } else {
      std::filesystem::remove(image, ec);
      if (!gFreshUsed) {
        std::fprintf(stderr, "no fresh file system could be made (mkfs.ext4 or a loop mount failed): "
                             "the repetitions write on the shared disk\n");
        gFreshAllowed = false;
      } else {
        return;  // a run must not mix the two kinds
      }
    }
  }
  path_ = folder;
  ::sync();
}

RunArea::~RunArea() {
  if (image_.empty()) return;
  const std::string& folder = path_;
  if (!folder.empty() && Run({"umount", folder}, "/dev/null") != 0) Run({"umount", "-l", folder}, "/dev/null");
  std::error_code ec;
  std::filesystem::remove(image_, ec);
  if (!folder.empty()) std::filesystem::remove(folder, ec);
}

std::string RunAreaKind() {
  if (gFreshUsed) return "a fresh ext4 (with its journal) in /dev/shm for every repetition";
  return gFreshAllowed ? "not yet decided" : "the shared disk, a fresh folder for every repetition";
}

void Untimed(benchmark::State& state, const std::function<void()>& work) {
  if (state.error_occurred()) {
    work();
    return;
  }
  state.PauseTiming();
  work();
  if (!state.error_occurred()) state.ResumeTiming();
}

std::string TextLike(size_t size, std::mt19937& rng) {
  static const char* const words[] = {"update ", "kit ", "member ", "\\dravik\\", "$KVR$ ", "0x1F8B ", "Appvisor ",
                                      "partition\r\n"};
  std::string data;
  data.reserve(size + 16);
  while (data.size() < size) {
    if (rng() % 4 == 0) {
      data.push_back(static_cast<char>(rng()));
    } else {
      data += words[rng() % 8];
    }
  }
  data.resize(size);
  return data;
}

std::string Prose(size_t size, std::mt19937& rng) {
  static const struct Vocabulary {
    std::vector<std::string> words;
    std::vector<double> cumulative;  // of 1/rank, up to 1
    Vocabulary() {
      std::mt19937 spell(8000);
      // Letters roughly as often as in English: an exponential pick along this order.
      static const char kLetters[] = "etaoinshrdlcumwfgypbvkjxqz";
      double sum = 0;
      for (int rank = 1; rank <= 8000; ++rank) {
        std::string word;
        const int length = 2 + static_cast<int>(spell() % 5 + spell() % 5);
        for (int k = 0; k < length; ++k) {
          const double pick = -std::log((spell() % 10000 + 1) / 10001.0) * 5;
          word.push_back(kLetters[std::min(25, static_cast<int>(pick))]);
        }
        words.push_back(word);
        sum += 1.0 / rank;
        cumulative.push_back(sum);
      }
      for (double& c : cumulative) c /= sum;
    }
  } vocabulary;
  std::uniform_real_distribution<double> uniform(0, 1);
  std::string text;
  text.reserve(size + 32);
  size_t line = 0;
  int inSentence = 0;
  while (text.size() < size) {
    const size_t rank = static_cast<size_t>(
        std::lower_bound(vocabulary.cumulative.begin(), vocabulary.cumulative.end(), uniform(rng)) -
        vocabulary.cumulative.begin());
    std::string word = rng() % 40 == 0 ? std::to_string(rng() % 100000) : vocabulary.words[std::min<size_t>(rank, 7999)];
    if (inSentence++ == 0) word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
    if (inSentence > 5 && rng() % 12 == 0) {
      word += '.';
      inSentence = 0;
    } else if (rng() % 10 == 0) {
      word += ',';
    }
    text += word;
    line += word.size() + 1;
    const bool lineFull = line > 60 + rng() % 15;
    text += lineFull ? '\n' : ' ';
    if (lineFull) line = 0;
  }
  text.resize(size);
  return text;
}

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    if (::access((dirs.substr(start, end - start) + "/" + program).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

bool ZlibExtract(const std::string& pack, const std::vector<PackBody>& members, const std::string& outDir) {
  std::vector<uint8_t> block(64 * 1024), body;
  int packFd = ::open(pack.c_str(), O_RDONLY);
  if (packFd < 0) return false;
  bool ok = true;
  for (const PackBody& m : members) {
    body.resize(m.stored);
    if (::pread(packFd, body.data(), m.stored, static_cast<off_t>(m.offset)) != static_cast<ssize_t>(m.stored)) {
      ok = false;
      break;
    }
    const std::filesystem::path target = std::filesystem::path(outDir) / m.relPath;
    if (::mkdir(target.parent_path().c_str(), 0755) != 0 && errno == ENOENT) {
      std::filesystem::create_directories(target.parent_path());
    }
    int fd = ::open(target.c_str(), O_CREAT | O_TRUNC | O_RDWR, 0644);
    z_stream zs{};
    inflateInit2(&zs, MAX_WBITS + 16);
    zs.next_in = body.data();
    zs.avail_in = m.stored;
    int rc;
    do {
      zs.next_out = block.data();
      zs.avail_out = static_cast<uInt>(block.size());
      rc = inflate(&zs, Z_NO_FLUSH);
      size_t produced = block.size() - zs.avail_out;
      if (produced > 0 && ::write(fd, block.data(), produced) != static_cast<ssize_t>(produced)) rc = Z_ERRNO;
    } while (rc == Z_OK);
    inflateEnd(&zs);
    ::close(fd);
    if (rc != Z_STREAM_END) {
      ok = false;
      break;
    }
  }
  ::close(packFd);
  return ok;
}

std::string BinDir() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  buf[n] = 0;
  std::string path(buf);
  return path.substr(0, path.rfind('/'));
}

pid_t Spawn(const std::vector<std::string>& argv, const std::string& inPath, const std::string& outPath) {
  pid_t pid = fork();
  if (pid == 0) {
    int in = open(inPath.empty() ? "/dev/null" : inPath.c_str(), O_RDONLY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in >= 0) dup2(in, 0);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

int WaitExit(pid_t pid, struct rusage* usage) {
  if (pid <= 0) return -1;
  int status = 0;
  struct rusage own {};
  if (wait4(pid, &status, 0, usage != nullptr ? usage : &own) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int Run(const std::vector<std::string>& argv, const std::string& outPath) {
  return WaitExit(Spawn(argv, "", outPath));
}

long UiLogTime(const std::string& log, const std::string& text, size_t from) {
  size_t at = log.find(text, from);
  if (at == std::string::npos) return -1;
  size_t start = log.rfind('\n', at);
  start = start == std::string::npos ? 0 : start + 1;
  size_t t = log.find("\"t\":", start);
  if (t == std::string::npos || t > at) return -1;
  return std::strtol(log.c_str() + t + 4, nullptr, 10);
}

Served::Served(const std::string& unit, const std::vector<std::string>& args, const std::string& outPath)
    : outPath_(outPath) {
  std::vector<std::string> argv = {BinDir() + "/unitctl", "serve", unit};
  argv.insert(argv.end(), args.begin(), args.end());
  // An earlier run's "ready" in the same file must not count for this one.
  std::error_code ignored;
  std::filesystem::remove(outPath, ignored);
  pid_ = Spawn(argv, "", outPath);
  for (int i = 0; i < 400 && pid_ > 0 && !ready_; ++i) {
    ready_ = ReadFile(outPath_).find("ready\n") != std::string::npos;
    if (!ready_) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
}

Served::~Served() { Finish(); }

std::string Served::Finish() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    WaitExit(pid_);
    pid_ = -1;
  }
  return ReadFile(outPath_);
}

ServedRun RunServed(const std::string& unit, const std::vector<std::string>& serveArgs, const std::string& program,
                    const std::string& temp) {
  ServedRun run;
  Served serve(unit, serveArgs, temp + "/serve.out");
  run.served = serve.ready();
  if (!run.served) {
    std::fprintf(stderr, "unitctl serve did not get ready: %s\n", serve.Finish().c_str());
    return run;
  }
  run.exitCode = WaitExit(Spawn({BinDir() + "/" + program, "--unit", unit, "--ui", "script", "--input",
                                 temp + "/script", "--ui-log", temp + "/ui.jsonl"},
                                "", temp + "/" + program + ".out"));
  run.serveOutput = serve.Finish();
  run.uiLog = ReadFile(temp + "/ui.jsonl");
  run.programOutput = ReadFile(temp + "/" + program + ".out");
  return run;
}

bool ServedBytes(const std::string& output, const std::string& port, unsigned long long* in,
                 unsigned long long* out) {
  size_t at = output.find(port + ": ");
  if (at == std::string::npos) return false;
  return std::sscanf(output.c_str() + at + port.size(), ": %llu bytes in, %llu bytes out", in, out) == 2;
}

std::string S19Record(unsigned address, const std::vector<unsigned char>& data) {
  const int type = address > 0xFFFFFF ? 3 : (address > 0xFFFF ? 2 : 1);
  return testing_s19::Record(type, address, data);
}

namespace {

// Keeps the median of each benchmark's repetitions, in seconds.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median") {
        medians[r.run_name.function_name] = r.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(r.time_unit);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> medians;
};

}  // namespace

std::map<std::string, double> RunInterleaved(int argc, char** argv, int repetitions) {
  std::vector<std::string> defaults = {"--benchmark_repetitions=" + std::to_string(repetitions),
                                       "--benchmark_enable_random_interleaving=true",
                                       "--benchmark_report_aggregates_only=true"};
  std::vector<char*> args = {argv[0]};
  for (std::string& d : defaults) args.push_back(&d[0]);
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&count, args.data());
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return reporter.medians;
}

}  // namespace hu::bench
