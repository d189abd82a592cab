#pragma once
#include <string>

// "<pid>-<nanoseconds since the epoch>": unique per process and moment, for the
// names of response, temporary and backup files. The count needs more than 64
// bits to never overflow; a clock before the epoch counts as the epoch.
std::string process_stamp();
