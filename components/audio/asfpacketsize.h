#pragma once

// How the WMA writer lays encoder blocks into ASF data packets. ASF packets
// have one fixed size and the muxer pads each to it, so a packet that holds
// a whole number of payloads exactly keeps the file at its stated bit rate.
struct AsfPacketLayout {
    int packetSize = 0; // bytes; 0 leaves the muxer's default
};

// Packet header (11 bytes) plus one single-payload header (15 bytes), as
// libavformat's ASF muxer writes them.
inline constexpr int kAsfSinglePayloadOverhead = 26;
inline constexpr int kAsfMaxPacketSize = 65536;

// One encoder block (a superframe) per packet, exactly filling it: players
// that decode a packet's payload as one superframe (as files in the wild
// carry them) play every sample, and none is split or padded. The encoder
// leaves room in its rate for the 26 bytes each packet adds.
AsfPacketLayout asfPayloadLayout(int blockAlign);
