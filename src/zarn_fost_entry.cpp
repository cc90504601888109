#include "zarn_fost_entry.h"
