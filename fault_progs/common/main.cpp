/*
** Process entry of the fault monitor, compiled into each monitor
** executable (the production build with the Dovariza probe, the test build
** with the scripted probe). The launcher returns at once with status 0;
** the daemon runs the start-up and the main loop (monitor_startup.cpp).
*/
#include "monitor.h"

int main(int argc, char **argv) {
  make_daemon();
  return monitor_main(argc, argv);
}
