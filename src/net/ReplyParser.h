#pragma once

// Reads a device's one-line reply, a NUL-terminated byte string of
// ';'-separated fields. Both functions run on the GUI thread only.

// Takes the next value field. Returns nonzero when a field was taken and then
// fills value, valid (1 for a number, 0 for "no value"), unit (up to 4 bytes
// and a NUL; the buffer holds at least 5) and next (the field after the taken
// one, or nullptr). Returns 0 and leaves the outputs alone when nothing is
// found. May overwrite one ',' in line with '.'.
int ParseNextValue(char* line, float* value, int* valid, char* unit, char** next);

// The device name of an addressed reply, "&amp;" decoded, at most 199 bytes;
// empty when the reply carries none. The result lives in one area that the
// next call overwrites.
const char* ParseDeviceName(const char* line);
