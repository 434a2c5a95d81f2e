#include "quillon-engine/engine_cli.h"

int main(int argc, char** argv) { return quillon::engineCliMain(argc, argv); }
