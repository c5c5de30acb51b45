#pragma once

// Joining MPEG audio Layer III frame sequences that were encoded independently (one encoder per
// segment of a long sound, each started a little early and its first packets dropped), so that
// the joined sequence decodes as if one encoder had made it. See Mp3Splice.cpp for why the
// frame before the join may have to change.

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "binding/FFmpegHolders.h"

namespace zembra {

enum class TMpegVersion { Mpeg1, Mpeg2, Mpeg25 };

// One Layer III frame as its header and side information describe it.
struct TMp3Frame {
    int Size = 0;           // bytes of the whole frame
    int HeaderBytes = 0;    // 4, or 6 with the CRC
    int SideInfoBytes = 0;  // 17 or 32 (MPEG-1), 9 or 17 (MPEG-2 and 2.5)
    int MainDataBegin = 0;  // bytes before this frame's slot where its main data starts
    int MainDataBytes = 0;  // the granules' part2_3_length bits, rounded up to bytes
    int BitrateIndex = 0;
    TMpegVersion Version = TMpegVersion::Mpeg1;
    int SampleRate = 0;
    int Channels = 0;
    bool Padding = false;
    bool Crc = false;

    // The main-data slot: what follows the header, CRC and side information.
    int SlotBytes() const { return Size - HeaderBytes - SideInfoBytes; }
    // The bytes of its own slot that the frame's main data takes (the rest is free).
    int OwnSlotBytes() const { return MainDataBytes > MainDataBegin ? MainDataBytes - MainDataBegin : 0; }
};

// Data must be exactly one frame (an encoder's packet). Nullopt when it is not a Layer III frame
// of a fixed bitrate, when its length is not the header's frame size, or when its main data
// could not fit between main_data_begin and the end of its slot. Reads nothing outside Data.
std::optional<TMp3Frame> ParseMp3Frame(std::span<const uint8_t> Data);

// main_data_begin of Frame, or -1 when it is not a frame. Allocates nothing.
int Mp3MainDataBegin(std::span<const uint8_t> Frame);

// Bytes at the end of Frame's slot that its own main data leaves free, or -1 when it is not a
// frame.
int Mp3FreeTail(std::span<const uint8_t> Frame);

// The bytes FirstKept's main data takes from before its own slot: the last main_data_begin
// bytes of the dropped frames' slots, in stream order (empty when main_data_begin is 0).
// Nullopt when FirstKept or a dropped frame that is needed is not a frame, or when the dropped
// frames hold fewer bytes than FirstKept borrows.
std::optional<std::vector<uint8_t>> BorrowedBytes(const std::vector<std::span<const uint8_t>>& Dropped,
                                                  std::span<const uint8_t> FirstKept);

// Previous (the last frame kept before the join) made to end with Borrowed, at a higher bitrate
// of the same kind when its free tail is too short. Nullopt when Previous is not a frame or no
// bitrate of its version and sample rate leaves room for its own main data and Borrowed.
std::optional<std::vector<uint8_t>> CarryReservoir(std::span<const uint8_t> Previous,
                                                   std::span<const uint8_t> Borrowed);

// Where the next segment's packets are taken from, among the frames both encoders made within
// Window output samples of Planned (pts on the output's timeline): where the next segment's
// frame borrows nothing from the frames before it, or as little as the previous segment's frame
// ending there has room for, and then nearest Planned (FrameSize: samples a frame). Planned
// when no frame of Next within the window follows one of Tail.
int64_t ChooseMp3Splice(const std::deque<TPacketPtr>& Tail, const std::deque<TPacketPtr>& Next,
                        int64_t Planned, int64_t Window, int FrameSize);

// The previous segment's last kept packet (Tail's back) rewritten to end with the bytes that
// the first packet of Next from Splice on borrows from the packets of Next before Splice, which
// are dropped. True when nothing is borrowed or the bytes were carried; false when the frame
// could not carry them (Tail left as it was). Throws FFmpegException when the grown packet
// cannot be made.
bool CarryMp3Reservoir(std::deque<TPacketPtr>& Tail, const std::deque<TPacketPtr>& Next, int64_t Splice);

}  // namespace zembra
