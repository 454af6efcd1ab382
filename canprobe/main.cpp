#include <iostream>

#include "canprobe/canprobe_app.h"
#include "common/runner/field_run.h"
#include "common/runner/program_main.h"

int main(int argc, char** argv) {
  hu::ProgramInfo info{"canprobe", "Canprobe, the head unit's CAN box maintenance tool",
                       "\\SDMMC\\Canprobe\\Canprobe.exe", "1.0"};
  hu::ProgramOptions extra;
  // The raw CAN box is on COM14 of PlatformType 13, on COM4 elsewhere.
  extra.fieldPorts = {"COM4", "COM14"};
  extra.usage = "(none)";
  bool readType = false;
  int setType = -1;
  std::string upgrade;
  CLI::Option* setOption = nullptr;
  extra.addOptions = [&](CLI::App& app) {
    const std::string group = "Jobs (run at once; the program ends with the result)";
    auto* read = app.add_flag("--read-type", readType, "read the CAN box's vehicle type, build date and description")
                     ->group(group);
    setOption = app.add_option("--set-type", setType, "set the vehicle type ID (0 to 10, 254, or CarTypeDef.txt's)")
                    ->check(CLI::Range(0, 255))
                    ->group(group);
    auto* up = app.add_option("--upgrade", upgrade, "upgrade the CAN box's firmware from FILE.canbox")->group(group);
    read->excludes(setOption)->excludes(up);
    setOption->excludes(up);
  };
  return hu::ProgramMain(argc, argv, info, extra, [&](hu::ProgramContext& ctx) {
    hu::DialogUpdate::OneShot job;
    if (readType) job.kind = hu::DialogUpdate::OneShot::Kind::ReadType;
    if (setOption != nullptr && setOption->count() > 0) {
      job.kind = hu::DialogUpdate::OneShot::Kind::SetType;
      job.carId = setType;
    }
    if (!upgrade.empty()) {
      job.kind = hu::DialogUpdate::OneShot::Kind::Upgrade;
      std::string name, error;
      const std::string dir = hu::DeviceDirOf(ctx.platform.processes().GetModuleFileName());
      if (!hu::PlaceJobFile(ctx.platform.files(), upgrade, dir, &name, &error)) {
        std::cerr << "canprobe: " << error << "\n";
        return 1;
      }
      job.file = dir + name;
    }
    if (!ctx.args.empty()) {
      std::cerr << "canprobe: unexpected " << ctx.args[0] << "\n";
      return 2;
    }
    if (ctx.fieldUnit && job.kind == hu::DialogUpdate::OneShot::Kind::None) {
      std::cerr << "canprobe: --port needs a job: --read-type, --set-type ID or --upgrade FILE.canbox\n";
      return 2;
    }
    hu::CCanprobeApp app(ctx.platform, ctx.desktop);
    app.SetOneShot(job);
    return app.Run(ctx.ui);
  });
}
