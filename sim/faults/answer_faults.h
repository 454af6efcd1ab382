#pragma once
#include <cstdint>
#include <random>
#include <vector>

namespace hu {

// Faults a simulated peer puts on its answers.
struct AnswerFaults {
  double lossProbability = 0.0;       // an answer is not sent
  double corruptProbability = 0.0;    // one byte of an answer is changed
  double duplicateProbability = 0.0;  // an answer is sent twice
  double garbageProbability = 0.0;    // 1..8 stray bytes go before an answer
  int silentAfter = -1;               // answers given before the peer falls silent; -1 never
  uint32_t seed = 1;
};

// What became of the answers.
struct AnswerFaultStats {
  uint32_t answers = 0;  // answers made, before faults
  uint32_t lost = 0;
  uint32_t corrupted = 0;
  uint32_t duplicated = 0;
  uint32_t garbage = 0;
  uint32_t silenced = 0;
};

// Appends `bytes` to `out` as `faults` allow, counting in `stats`. A stray
// byte that `startsFrame` would take for the start of a frame goes out as
// 0x55: the faults then depend on the seed rather than on the receiver's
// resynchronisation.
void SendWithFaults(const AnswerFaults& faults, std::mt19937& rng, bool (*startsFrame)(uint8_t),
                    std::vector<uint8_t> bytes, AnswerFaultStats* stats, std::vector<uint8_t>* out);

}  // namespace hu
