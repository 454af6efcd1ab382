#include <iostream>

#include "common/runner/field_run.h"
#include "common/runner/program_main.h"
#include "mcuflash/mcuflash_app.h"

int main(int argc, char** argv) {
  hu::ProgramInfo info{"mcuflash", "Mcuflash, the head unit's MCU firmware updater",
                       "\\StorageCard\\Mcuflash\\Mcuflash.exe", "3.9"};
  hu::ProgramOptions extra;
  extra.fieldPorts = {"COM4"};
  extra.usage = "[FILE.s19 | FILE.key]: with a file, the update runs at once and the program ends with its result";
  return hu::ProgramMain(argc, argv, info, extra, [](hu::ProgramContext& ctx) {
    hu::CMcuflashApp app(ctx.platform, ctx.desktop);
    if (ctx.args.empty() && !ctx.fieldUnit) return app.Run(ctx.ui);
    if (ctx.args.size() != 1) {
      std::cerr << "mcuflash: give one FILE.s19 or FILE.key to write\n";
      return 2;
    }
    const std::string& hostFile = ctx.args[0];
    const size_t slash = hostFile.find_last_of('/');
    const std::string name = slash == std::string::npos ? hostFile : hostFile.substr(slash + 1);
    const hu::CMcuflashDlg::OneShot job = hu::CMcuflashApp::JobOf(name);
    const std::string breach = app.RuleBreach(job, name);
    if (!breach.empty()) {
      std::cerr << "mcuflash: " << breach << "\n";
      return 2;
    }
    std::string placed, error;
    const std::string dir = hu::DeviceDirOf(ctx.platform.processes().GetModuleFileName());
    if (!hu::PlaceJobFile(ctx.platform.files(), hostFile, dir, &placed, &error)) {
      std::cerr << "mcuflash: " << error << "\n";
      return 1;
    }
    return app.RunOneShot(ctx.ui, job, placed);
  });
}
