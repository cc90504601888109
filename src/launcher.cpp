#include "launcher.h"

int l_main(int, char **) { return 0; }
