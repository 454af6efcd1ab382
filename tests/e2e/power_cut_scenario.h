#pragma once
// The kits and units of the power-failure campaign: an installed application
// 1.0.0 with the user's files, and on the card a kit for 1.1.0 whose update
// succeeds, fails in its unpack, fills the disk, or fails its boot write after
// the OS image was written.
#include <memory>
#include <string>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/update_outcome.h"

namespace hu::e2e {

enum class PowerCutScenario { Success, UnpackFails, DiskFull, BootFails };

const char* ScenarioName(PowerCutScenario scenario);
bool ParseScenario(const std::string& name, PowerCutScenario* out);

// A unit for one run. In the disk-full scenario its file system is a small
// tmpfs, unmounted before the unit's folder goes.
class ScenarioUnit {
 public:
  ScenarioUnit() = default;
  ~ScenarioUnit();
  ScenarioUnit(const ScenarioUnit&) = delete;
  ScenarioUnit& operator=(const ScenarioUnit&) = delete;

  const TestUnit& unit() const { return *unit_; }
  const std::string& dir() const { return unit_->dir(); }

 private:
  friend class PowerCutKit;
  std::unique_ptr<TestUnit> unit_;
  std::string mountPoint_;  // empty unless a tmpfs was mounted
};

class PowerCutKit {
 public:
  PowerCutKit(PowerCutScenario scenario, bool loosePack);

  // Builds the kit. False with `error` when it cannot; false with `skip` when
  // this machine does not allow the scenario (a tmpfs cannot be mounted).
  bool Build(std::string* error, std::string* skip);
  // A fresh unit with the kit on its card; null with `error` when it cannot be made.
  std::unique_ptr<ScenarioUnit> NewUnit(std::string* error) const;

  // What the intact pack unpacks to: the application folder after a
  // container update of it (a loose pack's update also keeps old files).
  const Tree& packedApp() const { return packedApp_; }
  // The kit writes images, so the configuration files below \NandFlash\$KVR$
  // that an image write removes may be gone with the old application kept.
  bool writesImages() const { return scenario_ == PowerCutScenario::BootFails; }
  // Whether an update from this kit can end with the new application.
  bool canInstall() const {
    return scenario_ == PowerCutScenario::Success || scenario_ == PowerCutScenario::BootFails;
  }

 private:
  bool BuildApp(std::string* error);
  bool DamagePack(const std::string& pack, std::string* error) const;
  bool DamageBootSection(const std::string& container, std::string* error) const;

  PowerCutScenario scenario_;
  bool loosePack_;
  TempDir app_, kit_, work_;
  Tree packedApp_;
};

}  // namespace hu::e2e
