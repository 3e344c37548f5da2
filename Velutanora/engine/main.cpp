// velutanora-engine: the recognition engines in a process of their own, so that a library that
// ends its process on a model it cannot use takes only this one with it.
#include "engine/EngineHost.h"

int main(int argc, char** argv) { return vel::runEngineProcess(argc, argv); }
