// Stands in for a C++ runtime older than the build machine's: a library
// named as the machine's, which defines only the first of its symbol
// versions and none of the later ones that programs built here ask for.
extern "C" void zarn_old_cxx_runtime(void) {}
