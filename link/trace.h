// The link layer's trace hook. The link layer, the response parser and the
// queues pass their trace texts here; it deliberately outputs nothing.
#pragma once

void DllTrace(const char* text);
