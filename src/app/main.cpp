// Tarvok: the program's entry point. The start, the event loop and the end
// are in Startup.cpp.

#include "app/Startup.h"

int main(int argc, char** argv)
{
    return tarvok::runTarvok(argc, argv);
}
