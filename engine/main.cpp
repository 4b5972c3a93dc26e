// Process entry: installs the crash handler, answers the version switch at
// any position without initialising anything, then starts the engine and
// hands the process to the main loop.
#include <stdio.h>

#include "engine/engine.h"
#include "engine/version.h"

static int is_version_switch(const char *arg)
{
    while (*arg == '-')
        arg++;
    return SDL_strcmp(arg, "version") == 0;
}

int main(int argc, char **argv)
{
    crash_handler_install();
    for (int i = 1; i < argc; i++)
        if (is_version_switch(argv[i])) {
            printf("%s\n", engine_version);
            return 0;
        }
    engine_startup(argc, argv);
    run_main_loop();
}
