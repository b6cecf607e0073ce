// The exported socket-style functions of the trunk library.
#include "halvane2.h"
