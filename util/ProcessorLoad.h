#pragma once

// How busy the machine's processors are, from the kernel's counts of processor time.

#include <cstdint>
#include <string>

namespace zembra {

// All processors' time since boot and the part of it they stood idle, in the kernel's ticks.
struct TProcessorTimes {
    uint64_t Total = 0;
    uint64_t Idle = 0;   // idle and waiting for input or output
    int Processors = 0;  // how many the counts cover (the "cpuN" lines)
};

// Reads /proc/stat's text: the "cpu" line's sums and the "cpuN" lines' number; false when the
// sums are missing or malformed.
bool ParseProcessorTimes(const std::string& Stat, TProcessorTimes& Times);
// Reads /proc/stat; false when it cannot be read.
bool ReadProcessorTimes(TProcessorTimes& Times);
// How many processors' worth stood idle between two readings; all of them when no time passed
// between the readings or the counts went back. A container may be shown the whole host's
// processors: then this is the host's idle share of them.
double IdleProcessors(const TProcessorTimes& Before, const TProcessorTimes& After);

}  // namespace zembra
