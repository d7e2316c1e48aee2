#include "drivergui.h"

int main(int argc, char** argv)
{
    return VtnRaidMain(argc, argv);
}
