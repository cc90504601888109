#include "launcher.h"

int main(int argc, char **argv, char **) { return l_main(argc, argv); }
