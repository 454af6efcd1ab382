#include "sim/faults/answer_faults.h"

namespace hu {

namespace {
// Drawn every time, so that a fault sequence depends on the seed and the
// answers only.
bool Chance(std::mt19937& rng, double probability) {
  const double draw = static_cast<double>(rng()) / 4294967296.0;
  return draw < probability;
}
}  // namespace

void SendWithFaults(const AnswerFaults& faults, std::mt19937& rng, bool (*startsFrame)(uint8_t),
                    std::vector<uint8_t> bytes, AnswerFaultStats* stats, std::vector<uint8_t>* out) {
  if (bytes.empty()) return;
  if (faults.silentAfter >= 0 && stats->answers >= static_cast<uint32_t>(faults.silentAfter)) {
    ++stats->silenced;
    return;
  }
  ++stats->answers;
  if (Chance(rng, faults.lossProbability)) {
    ++stats->lost;
    return;
  }
  if (Chance(rng, faults.corruptProbability)) {
    const size_t at = rng() % bytes.size();
    bytes[at] = static_cast<uint8_t>(bytes[at] ^ (1 + rng() % 255));
    ++stats->corrupted;
  }
  if (Chance(rng, faults.garbageProbability)) {
    const size_t count = 1 + rng() % 8;
    for (size_t i = 0; i < count; ++i) {
      const uint8_t g = static_cast<uint8_t>(rng());
      out->push_back(startsFrame(g) ? 0x55 : g);
    }
    ++stats->garbage;
  }
  out->insert(out->end(), bytes.begin(), bytes.end());
  if (Chance(rng, faults.duplicateProbability)) {
    out->insert(out->end(), bytes.begin(), bytes.end());
    ++stats->duplicated;
  }
}

}  // namespace hu
