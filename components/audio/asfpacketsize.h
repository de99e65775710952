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
inline constexpr int kAsfTargetPacketSize = 3200;
inline constexpr int kAsfMaxPacketSize = 65536;

// Packet header (11 bytes) and payload flags (1) of a packet with several
// payloads, and each payload's header (17 bytes), as the muxer writes them.
inline constexpr int kAsfMultiPayloadPacketOverhead = 12;
inline constexpr int kAsfMultiPayloadOverhead = 17;
inline constexpr int kAsfMinPacketSize = 100;
inline constexpr int kAsfMaxPayloadsPerPacket = 2;

// Each encoder block as a media object of its own, the way the demuxer must
// hand it to the decoder (one block per call, or the decoder warns of
// several frames in a packet), in packets that hold a whole number of such
// payloads: none is split, none padded.
AsfPacketLayout asfPayloadLayout(int blockAlign);
