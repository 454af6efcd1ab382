#include "common/runner/program_main.h"
#include "mcuflash/mcuflash_app.h"

int main(int argc, char** argv) {
  hu::ProgramInfo info{"mcuflash", "Mcuflash, the head unit's MCU firmware updater",
                       "\\StorageCard\\Mcuflash\\Mcuflash.exe", "3.9"};
  return hu::ProgramMain(argc, argv, info, [](hu::ProgramContext& ctx) {
    hu::CMcuflashApp app(ctx.platform, ctx.desktop);
    return app.Run(ctx.ui);
  });
}
