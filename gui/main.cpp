#include "drivergui.h"
#include "paths.h"

int main(int argc, char** argv)
{
    if (!VtnFixRoot("vtnraid", true))
        return 1;
    return VtnRaidMain(argc, argv);
}
