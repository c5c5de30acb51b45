#pragma once

// One long sound on every free processor. LAME and the other sound encoders run on one thread,
// so the sound of a long film is cut into segments, each encoded on a thread of its own from a
// little before its start (the pre-roll, which warms the encoder up and is dropped), and the
// job's thread hands the kept packets in order to the one muxer: one header, the timestamps the
// one-thread run gives, and its gapless figures.

#include <cstdint>
#include <span>
#include <vector>

#include "binding/FFmpegHolders.h"

namespace zembra {

// The value of ZEMBRA_SEGMENTS (null: unset) allows segments unless it is "0".
bool SegmentsAllowed(const char* Setting);

// Where the sound is cut: the first output sample of each segment, starting with 0, each a
// whole number of encoder frames. One segment (no split) when Wanted is below 2 or segments of
// at least MinSamples would not make two.
std::vector<int64_t> PlanSegments(int64_t Samples, int FrameSize, int Wanted, int64_t MinSamples);

// Where segment Index is encoded: from its start less the pre-roll to its end plus the
// post-roll (the last one to the end of the sound), in output samples.
struct TSegmentSpan {
    int64_t From = 0;
    int64_t To = INT64_MAX;
};
TSegmentSpan SegmentSpan(std::span<const int64_t> Starts, size_t Index, int64_t PreRoll, int64_t PostRoll);

// How many runs of this process have split their sound so far, and how many of those found
// the sound's timeline could not be split after all and encoded the rest on one thread.
int64_t SegmentedRunCount();
int64_t SegmentRunOnCount();

}  // namespace zembra
