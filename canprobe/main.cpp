#include "canprobe/canprobe_app.h"
#include "common/runner/program_main.h"

int main(int argc, char** argv) {
  hu::ProgramInfo info{"canprobe", "Canprobe, the head unit's CAN box maintenance tool",
                       "\\SDMMC\\Canprobe\\Canprobe.exe", "1.0"};
  return hu::ProgramMain(argc, argv, info, [](hu::ProgramContext& ctx) {
    hu::CCanprobeApp app(ctx.platform, ctx.desktop);
    return app.Run(ctx.ui);
  });
}
