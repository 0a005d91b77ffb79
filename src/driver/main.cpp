#include "driver.h"

#ifdef _WIN32
// The command line reaches main as typed: patterns are expanded by the
// program itself, in its own order, never by the start-up code.
int _dowildcard = 0;
#endif

int main(int argc, char **argv) { return FinishOutput(RunQuelvo(argc, argv)); }
