// tavcam: list the cameras, inspect and configure them from the command line.
#include <stdio.h>
#include <string.h>

#include "tools/tavcam/commands.h"

namespace {

const Command kCommands[] = {
    {"status", "", "list the cameras and show the state of the shared block", CmdStatus},
    {"list", "", "list the cameras with their names", CmdList},
    {"info", "NAME", "show a camera's record: model, formats, features, presets", CmdInfo},
    {"init", "NAME", "initialise a camera into its saved preset and show its state", CmdInit},
    {"get", "NAME FEATURE", "read a feature (brightness, shutter, gain, ... or 0x800)", CmdGet},
    {"set", "NAME FEATURE VALUE", "set a feature and show the value read back", CmdSet},
    {"format", "NAME INDEX", "switch the camera to another format", CmdFormat},
    {"area", "NAME L T W H", "set the scan area of a partial format", CmdArea},
    {"preset", "save|load NAME P", "save the settings in force as preset P, or load it", CmdPreset},
    {"capture", "NAME -o FILE [-n N]", "take N pictures into FILE (.bmp or .png)", CmdCapture},
    {"live", "NAME [--seconds S] ...", "stream live video and show its rate and drops", CmdLive},
    {"watch", "", "print cameras arriving and leaving, until interrupted", CmdWatch},
#if defined(TAVCAM_HAVE_VIEW)
    {"view", "[NAME] [--port N] [--bind ADDR]", "live picture and settings in a web browser",
     CmdView},
#endif
};

void Usage(FILE* out) {
    fprintf(out, "usage: tavcam [command [arguments]]\n\ncommands:\n");
    for (const Command& c : kCommands) fprintf(out, "  %-8s %-28s %s\n", c.name, c.usage, c.help);
    fprintf(out, "\nWithout a command, tavcam runs 'status'.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        char name[] = "status";
        char* args[] = {name, nullptr};
        return CmdStatus(1, args);
    }
    if (!strcmp(argv[1], "-h") || !strcmp(argv[1], "--help") || !strcmp(argv[1], "help")) {
        Usage(stdout);
        return 0;
    }
    for (const Command& c : kCommands)
        if (!strcmp(argv[1], c.name)) return c.run(argc - 1, argv + 1);
    fprintf(stderr, "tavcam: unknown command '%s'\n\n", argv[1]);
    Usage(stderr);
    return 2;
}
