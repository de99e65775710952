#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// A Simple Index Object after the Data Object, so that readers seek by table
// rather than by bisecting packet times (which lands where the decoder cannot
// give the sought sample yet). Times are in the container's 100 ns units.

// A data packet a reader may start at, and the media time (without the
// preroll) from which a decoder started there gives right, rightly timed output.
struct AsfResumePoint {
    uint32_t packet = 0;
    int64_t time = 0;
};

// Entry i stands for presentation time i * interval, which is media time
// i * interval - preroll; it names the latest packet whose resume time lies
// at least `margin` before that (the first packet where none does). The
// entries run up to media time `end`.
std::vector<uint32_t> asfIndexPackets(std::vector<AsfResumePoint> points, int64_t interval, int64_t preroll,
                                      int64_t margin, int64_t end);

std::vector<uint8_t> asfSimpleIndexObject(const std::array<uint8_t, 16> &fileId, int64_t interval,
                                          const std::vector<uint32_t> &packets);

// What indexing needs to know of a finished file.
struct AsfFileLayout {
    std::array<uint8_t, 16> fileId{};
    int64_t fileSizeField = 0; // where the File Properties Object states the file's size
    int64_t preroll = 0;
    int64_t firstPacket = 0; // offset of data packet 0
    int64_t dataEnd = 0;     // just past the Data Object
    uint32_t packetSize = 0;
};

// `head` holds the Header Object and the Data Object's own header (50
// bytes). No layout for anything else, for packets of varying size, or for a
// broadcast file (whose sizes readers ignore).
std::optional<AsfFileLayout> asfFileLayout(const std::vector<uint8_t> &head);

// Appends the index to the finished file open for reading and writing as
// `fd`, whose one stream ends at media time `end`. Its media objects, in
// order, give right output from `resumeTimes` on (media time; negative where
// a decoder cannot start). Whatever goes wrong, the file is left as it was,
// without an index.
bool appendAsfSimpleIndex(int fd, const std::vector<int64_t> &resumeTimes, int64_t end, int64_t interval,
                          int64_t margin);
