#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/mcu/mcu_simulator.h"

namespace hu {

enum class ServeArbiter { Normal, Stubborn, None };

struct ServeOptions {
  std::string unitDir;
  std::string mcuVersion = "3900R20130101";
  // Faults on the answers of the MCU and of a raw CAN box (a box behind the
  // MCU answers through the MCU, whose faults then apply).
  double loss = 0.0;
  double corrupt = 0.0;
  double duplicate = 0.0;  // an answer sent twice
  double garbage = 0.0;    // stray bytes before an answer
  int silentAfter = -1;
  uint32_t seed = 1;
  ServeArbiter arbiter = ServeArbiter::Normal;
  std::string canboxType = "VZD3A000105";
  bool canboxOnly = false;     // project type 18 and others: the raw box instead of the MCU
  uint32_t canboxBaud = 115200;  // pacing rate of a raw box (115200 or 625000)
  bool pace = false;
  // Host executable of the serial arbiter; empty: "portmaster" beside the
  // running program.
  std::string portmasterPath;
  // Stand-ins for the head unit's own programs (`SiblingPrograms`): installed
  // at their device paths, and the ones a booted unit runs started.
  bool siblings = false;
  // Host executable of the stand-in; empty: "sibling" beside the running program.
  std::string siblingPath;
};

// One of the head unit's own programs the service tools close and start.
struct SiblingProgram {
  const char* modulePath;  // device path
  const char* title;       // its window's title (and class); empty: no window
  bool running;            // runs on a booted unit
};
const std::vector<SiblingProgram>& SiblingPrograms();

// What one served port carries.
struct ServedPort {
  enum class Peer { Mcu, CanBox };
  std::string port;  // port map key, "COM4"
  Peer peer = Peer::Mcu;
  McuFamily family = McuFamily::Block;
  uint32_t baudRate = 115200;
  int relayKind = 0;  // MCU with the CAN box behind it: link kind 4 or 5; 0 none
};

// The ports of a unit and what answers on each:
// - project type 17 or 19: COM4, the MCU with the CAN box behind it (kind 5
//   on the IAP platforms 8, 9 and 12, kind 4 otherwise);
// - any other project type: the MCU on COM4 and the raw CAN box on COM14
//   when the platform type is 13; elsewhere the MCU alone on COM4, or with
//   `canboxOnly` the raw box alone on its port (COM14 on 13, COM4 otherwise).
// False with *error for `canboxOnly` on 17/19 (the box is reached through the MCU there).
bool PlanServedPorts(uint32_t projectType, const std::string& cpuType, int platformType,
                     const std::string& hwVersion, bool canboxOnly, uint32_t canboxBaud,
                     std::vector<ServedPort>* ports, std::string* error);

// "COM4 -> /dev/pts/7 (mcu, block family, 115200)".
std::string DescribeServedPort(const ServedPort& port, const std::string& slavePath);

// Takes [ports] KEY out of an INI text, keeping every other line.
std::string RemoveIniKey(const std::string& text, const std::string& section, const std::string& key);

// `unitctl serve`: pseudo-terminals on the unit's ports with the simulators,
// the slave names in unit.ini [ports], the serial arbiter started on the unit;
// with `siblings` the unit's own programs (a line "sibling PATH, pid N" each
// started),
// prints a line per port and "ready", then serves until RequestServeStop (a
// signal handler may call it), then "COM4: N bytes in, M bytes out" per port. At the end the arbiter is ended and the ports
// written are restored (removed, or given their earlier value). 0 after a
// clean stop, 1 with *error otherwise.
int ServeUnit(const ServeOptions& options, std::FILE* out, std::string* error);
void RequestServeStop();

}  // namespace hu
