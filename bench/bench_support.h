#pragma once
// What the benchmark programs share: temporary folders, child processes,
// `unitctl serve`, S-record text, and Google Benchmark runs whose
// repetitions of the product and of its reference are interleaved.
#include <sys/resource.h>
#include <sys/types.h>

#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/support/scratch.h"

namespace benchmark {
class State;
}

namespace hu::bench {

// Folder of the running program (the build's bin/).
std::string BinDir();

using scratch::ReadFile;
using scratch::WriteFile;
// A fresh folder under /tmp, removed with everything in it at the end.
using TempDir = scratch::ScratchDir;

// Where one repetition writes: a file system of its own, fresh for it, when
// the machine allows one (root, mkfs.ext4 and a loop device), else a folder
// of its own on the shared disk. The fresh one is ext4 as mkfs.ext4 makes it
// (its journal included) in a sparse image under /dev/shm, mounted at
// PARENT/PREFIXn: each repetition starts on an empty file system, so neither
// side pays for the disk's state (other programs' deletions and write-back,
// ext4's scan past recently freed inodes without a journal). HU_BENCH_FS=shared
// keeps every repetition on the shared disk, as FreshTarget does.
class RunArea {
 public:
  RunArea(const std::string& parent, const std::string& prefix, uint64_t bytes);
  // Unmounts and removes the image; a shared folder stays until the end.
  ~RunArea();
  RunArea(const RunArea&) = delete;
  RunArea& operator=(const RunArea&) = delete;
  // The folder to write new names in; empty when it could not be made.
  const std::string& path() const { return path_; }
  // The folder's name in PARENT ("out3").
  const std::string& name() const { return name_; }
  bool fresh() const { return !image_.empty(); }

 private:
  std::string path_, name_, image_;
};
// What the repetitions write on, for the figures' record.
std::string RunAreaKind();

// Runs `work` with the timing paused; it may call state.SkipWithError, after
// which the timing stays stopped (the caller leaves the loop).
void Untimed(benchmark::State& state, const std::function<void()>& work);

// PREFIX with a number no earlier call gave, after a `sync`. Runs that write
// trees each write into a folder of their own and nothing is deleted until
// the end: ext4 scans past inodes freed in the last minute when it allocates
// new ones, so a run after a deletion paid for it (most of its time, in a
// profile). The sync lets each run start with nothing left to write back, or
// one side would pay for the other's dirty pages.
std::string FreshTarget(const std::string& prefix);

// Runs argv with stdin from `inPath` (or /dev/null) and stdout and stderr to
// `outPath`; the pid, or -1.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& inPath, const std::string& outPath);
// The exit code, or -1 after a signal; *usage (optional) gets the child's resource use.
int WaitExit(pid_t pid, struct rusage* usage = nullptr);
// Spawn and wait.
int Run(const std::vector<std::string>& argv, const std::string& outPath);

// The "t" (ms) of the first line of a --ui-log holding `text`, from `from`
// on; -1 when none.
long UiLogTime(const std::string& log, const std::string& text, size_t from = 0);

// `unitctl serve UNIT ARGS...` in the background until destroyed (SIGTERM);
// its output goes to `outPath`.
class Served {
 public:
  Served(const std::string& unit, const std::vector<std::string>& args, const std::string& outPath);
  ~Served();
  Served(const Served&) = delete;
  Served& operator=(const Served&) = delete;
  bool ready() const { return ready_; }
  // Ends serve and gives what it printed (the byte counts come last).
  std::string Finish();

 private:
  pid_t pid_ = -1;
  std::string outPath_;
  bool ready_ = false;
};

// A dialog program run with a script against `unitctl serve UNIT SERVE_ARGS`.
struct ServedRun {
  bool served = false;  // serve got ready
  int exitCode = -1;    // the program's
  std::string serveOutput, uiLog, programOutput;
};
// Runs BIN/PROGRAM --unit UNIT --ui script --input TEMP/script --ui-log
// TEMP/ui.jsonl while serve runs; a serve that does not get ready is printed.
ServedRun RunServed(const std::string& unit, const std::vector<std::string>& serveArgs, const std::string& program,
                    const std::string& temp);

// "COM4: N bytes in, M bytes out" of serve's closing lines; false when absent.
bool ServedBytes(const std::string& output, const std::string& port, unsigned long long* in,
                 unsigned long long* out);

// One Motorola S-record with its check byte and CR LF: S1 below 0x10000, S2
// below 0x1000000, else S3.
std::string S19Record(unsigned address, const std::vector<unsigned char>& data);

// `size` bytes of text-like data (eight words, a random byte in four), which
// compresses about 5.6:1 at zlib level 6. Its few short words give
// every position a long chain of earlier matches.
std::string TextLike(size_t size, std::mt19937& rng);

// `size` bytes of prose: words of a fixed 8,000-word vocabulary drawn as a
// natural language draws them (the n-th most common word 1/n as often),
// sentences, commas, numbers and lines of 60 to 75 characters.
std::string Prose(size_t size, std::mt19937& rng);

// Whether PROGRAM is found on the PATH.
bool OnPath(const std::string& program);

// One member of a pack as plain zlib sees it: where its gzip stream lies and
// the file (relative to the output folder) it makes.
struct PackBody {
  std::string relPath;  // "d07/f0123.bin"
  uint64_t offset = 0;  // from the start of the pack file
  uint32_t stored = 0;
};
// The reference extraction: pread each body, inflate it with zlib's gzip
// framing and write it in 64 KiB blocks to OUT/relPath. False when a read,
// an inflation or a write failed.
bool ZlibExtract(const std::string& pack, const std::vector<PackBody>& members, const std::string& outDir);

// Runs the registered benchmarks, each repetition of each in random order
// among the others' (so the product and its reference share the machine's
// moods), and returns the median real seconds of one iteration by benchmark
// function name. Arguments on the command line override the defaults.
std::map<std::string, double> RunInterleaved(int argc, char** argv, int repetitions);

}  // namespace hu::bench
