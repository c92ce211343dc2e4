// Console trace of the chip code: printed only while tracing is on
// (g_debugSwitch 254), wrapped in the chip code's colour escapes. Tracing
// never changes behaviour.
#pragma once

void c331_trace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// An out-of-range warning (blinking).
void c331_trace_warn(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
