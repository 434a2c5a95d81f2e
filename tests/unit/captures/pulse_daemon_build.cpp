// The private-server helper of the pulse tests, built into this suite as well.
#include "../pulse/pulse_daemon.cpp"
