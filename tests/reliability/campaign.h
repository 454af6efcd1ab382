#pragma once
// What the reliability campaigns share: the folder of the programs, a dialog
// program run to one of its result texts under a hard time limit, and the tally
// of the runs with the list of those that went wrong.
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace hu::reliability {

// --bin: the folder of the built executables, for this process and the helpers.
void UseBinFolder(const std::string& dir);

// How a program run ended.
struct Ending {
  enum class Kind { Result, Crashed, Hung };
  Kind kind = Kind::Hung;
  std::string result;  // the result text seen (Result)
  std::string detail;  // why it counts as a crash
  std::string out;
  std::string err;
};

// Runs argv with `script` on standard input and watches standard output for
// the first of `results`; then `closing` is written, the input ends and the
// program must exit. A death by signal, a sanitizer report, an exit code
// other than 0 or an exit without a result is a crash; a run still going
// after `timeoutMs` is killed with its process group and hung.
Ending RunToResult(const std::vector<std::string>& argv, const std::string& script,
                   const std::vector<std::string>& results, const std::string& closing, int timeoutMs);

// A crash seen in a wait status and a standard error text; empty when none.
std::string CrashOf(int waitStatus, const std::string& err);
// The first line of a sanitizer report in `err`; empty when there is none.
std::string SanitizerReport(const std::string& err);

// Counts per outcome, in the order first met or given, and the runs to replay.
class Tally {
 public:
  explicit Tally(std::vector<std::string> outcomes);
  void Pass() { ++runs_; }
  void Add(const std::string& outcome) { ++counts_.at(outcome); ++runs_; }
  void Fail(const std::string& outcome, const std::string& what);
  // "mcu: 200 runs, 163 succeeded exact, 37 failed cleanly, 0 hung".
  std::string Line(const std::string& name) const;
  const std::vector<std::string>& failures() const { return failures_; }
  int runs() const { return runs_; }

 private:
  std::vector<std::string> order_;
  std::map<std::string, int> counts_;
  std::vector<std::string> failures_;
  int runs_ = 0;
};

// Copies the folders and regular files below `from` to `to` (a unit's
// sockets and pipes stay behind).
void CopyTree(const std::string& from, const std::string& to);

// n random bytes.
std::string RandomBytes(std::mt19937& random, size_t n);
// A number in [low, high].
uint32_t Between(std::mt19937& random, uint32_t low, uint32_t high);

}  // namespace hu::reliability
