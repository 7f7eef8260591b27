#include "link/trace.h"

void DllTrace(const char* /*text*/) {}
