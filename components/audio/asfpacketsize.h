#pragma once

// How the WMA writer lays encoder blocks into ASF data packets. ASF packets
// have one fixed size and the muxer pads each to it, so a packet that holds
// a whole number of blocks exactly keeps the file at its stated bit rate.
struct AsfPacketLayout {
    int blocksPerObject = 1; // encoder blocks joined into one media object
    int packetSize = 0;      // bytes; 0 leaves the muxer's default
};

// Packet header (11 bytes) plus one single-payload header (15 bytes), as
// libavformat's ASF muxer writes them.
inline constexpr int kAsfSinglePayloadOverhead = 26;
inline constexpr int kAsfTargetPacketSize = 3200;
inline constexpr int kAsfMaxPacketSize = 65536;

AsfPacketLayout asfPacketLayout(int blockAlign);
