#include "launcher.h"
#include "platform.h"

int main(int argc, char **argv, char **) {
  plat_start();
  return l_main(argc, argv);
}
