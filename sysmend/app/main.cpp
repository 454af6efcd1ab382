#include "common/runner/program_main.h"
#include "sysmend/app/sysmend_app.h"

int main(int argc, char** argv) {
  hu::ProgramInfo info{"sysmend", "Sysmend, the head unit's system updater", "\\StorageCard\\Sysmend\\Sysmend.exe",
                       "1.28"};
  return hu::ProgramMain(argc, argv, info, [](hu::ProgramContext& ctx) {
    hu::CSysmendApp app(ctx.platform, ctx.desktop);
    return app.Run(ctx.ui);
  });
}
