#include "app/host_main.h"

int main(int argc, char** argv) { return quillon::hostMain(argc, argv); }
