#pragma once
// Running the real executables against a unit folder, for end-to-end tests.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/scratch.h"

namespace hu::e2e {

using scratch::ReadFile;
using scratch::TreeOf;
using scratch::WriteFile;

// The environment variable that names another folder of the executables
// (the campaigns' --bin); without it the build's own bin/.
constexpr char kBinVariable[] = "HU_E2E_BIN";
// Folder of the built executables.
std::string BinDir();
std::string Bin(const std::string& name);

struct RunResult {
  int exitCode = -1;  // -1 when killed by the time limit or a signal
  bool timedOut = false;
  std::string out;
  std::string err;
};

// Runs argv[0] with the arguments, feeding `input` on standard input, for at
// most `timeoutMs` of real time.
RunResult RunProgram(const std::vector<std::string>& argv, const std::string& input = "", int timeoutMs = 20000);

// A process left running while the test does other things.
class Background {
 public:
  explicit Background(const std::vector<std::string>& argv, const std::string& input = "");
  ~Background();
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;
  bool Running();
  // Waits for the end; the exit code, or -1 after the time limit (then killed).
  int Wait(int timeoutMs);
  std::string Output();  // what it printed so far on stdout

 private:
  int pid_ = -1;
  std::string outPath_;
  int status_ = -1;
  bool done_ = false;
};

// A fresh temporary folder, removed at the end; a test cannot go on without it.
class TempDir : public scratch::ScratchDir {
 public:
  TempDir();
};

// A unit made by `unitctl init DIR ARGS...` in a temporary folder, with the
// given time scale.
class TestUnit {
 public:
  explicit TestUnit(const std::vector<std::string>& initArgs = {}, double timeScale = 0.01);
  const std::string& dir() const { return dir_; }
  std::string Fs(const std::string& relative) const { return dir_ + "/fs/" + relative; }
  void Put(const std::string& relative, const std::string& bytes) const;  // under fs/, folders made
  std::string Read(const std::string& relative) const;                     // under the unit folder
  bool Exists(const std::string& relative) const;
  // A file by its device path, resolved as the unit does (ignoring case).
  std::string ReadDevice(const std::string& devicePath) const;
  void SetIni(const std::string& section, const std::string& key, const std::string& value) const;

 private:
  TempDir temp_;
  std::string dir_;
};

// `unitctl serve DIR ARGS` in the background, waited for until it serves.
class Served {
 public:
  Served(const TestUnit& unit, std::vector<std::string> args);
  // Ends what runs on the unit (the arbiter, the stand-ins, programs the tools
  // started) so that nothing outlives the test; serve itself goes with it.
  ~Served();
  bool ready() const { return ready_; }
  std::string Output() { return process_->Output(); }
  // The pseudo-terminal serve put on `port` ("COM4"); empty when none.
  std::string Pty(const std::string& port);

 private:
  std::string unitDir_;
  std::unique_ptr<Background> process_;
  bool ready_ = false;
};

// The text of an S-record image for the block family: the STM8 platform tag,
// then `image` from 0xA000, 32 bytes a record.
std::string S19Text(const std::string& image);
// A one-shot field run: argv[0] with HU_TIME_SCALE and TMPDIR (where the
// program makes its unit) in its environment.
std::vector<std::string> FieldRun(const std::string& tmpDir, double timeScale, std::vector<std::string> argv);

// `size` bytes of a pattern that differs with `salt`.
std::string ImageBytes(size_t size, int salt);


}  // namespace hu::e2e
