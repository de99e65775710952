// Fuzzes the comment library's opening path. Most inputs are wrapped into
// valid Ogg pages first, since random bytes almost never pass the page CRC.
#include "vcedit.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct Input {
    const uint8_t *data;
    size_t size;
    size_t position = 0;
};

size_t readInput(void *buffer, size_t size, size_t count, void *dataSource)
{
    auto *input = static_cast<Input *>(dataSource);
    if (size == 0 || count == 0)
        return 0;
    size_t wanted = size * count;
    size_t left = input->size - input->position;
    // Short reads vary with the data so the refill path is exercised too.
    size_t chunk = wanted < left ? wanted : left;
    if (chunk > 1 && input->position % 7 == 3)
        chunk /= 2;
    if (chunk == 0)
        return 0;
    memcpy(buffer, input->data + input->position, chunk);
    input->position += chunk;
    return chunk / size;
}

size_t writeNothing(const void *, size_t, size_t, void *)
{
    return 0;
}

void appendPages(std::vector<uint8_t> &out, ogg_stream_state &stream, int fill)
{
    ogg_page page;
    while (ogg_stream_flush_fill(&stream, &page, fill) != 0) {
        out.insert(out.end(), page.header, page.header + page.header_len);
        out.insert(out.end(), page.body, page.body + page.body_len);
    }
}

// Splits the input into packets at two-byte length prefixes and pages them.
// With withHeaders, a valid identification header comes first and the next
// two packets get the comment and setup signatures, so the fuzzer spends its
// time inside the comment block rather than on the magic bytes.
std::vector<uint8_t> pagedPackets(const uint8_t *data, size_t size, int fill, bool withHeaders)
{
    static const uint8_t idHeader[30] = {1, 'v', 'o', 'r', 'b', 'i', 's',  0, 0, 0, 0, 2, 0x44, 0xac, 0,
                                         0, 0,   0,   0,   0,   0,   0xf4, 1, 0, 0, 0, 0, 0,    0xb8, 1};
    std::vector<uint8_t> out;
    ogg_stream_state stream;
    ogg_stream_init(&stream, 1);
    long number = 0;
    auto addPacket = [&](const uint8_t *bytes, size_t length) {
        std::vector<uint8_t> packetBytes;
        if (withHeaders && (number == 1 || number == 2))
            packetBytes = {static_cast<uint8_t>(number == 1 ? 3 : 5), 'v', 'o', 'r', 'b', 'i', 's'};
        packetBytes.insert(packetBytes.end(), bytes, bytes + length);
        ogg_packet packet{};
        packet.packet = packetBytes.data();
        packet.bytes = static_cast<long>(packetBytes.size());
        packet.b_o_s = number == 0;
        packet.packetno = number++;
        ogg_stream_packetin(&stream, &packet);
        if (number == 1)
            appendPages(out, stream, fill);
    };
    if (withHeaders)
        addPacket(idHeader, sizeof idHeader);
    size_t position = 0;
    while (position + 2 <= size) {
        size_t length = static_cast<size_t>(data[position]) << 8 | data[position + 1];
        position += 2;
        if (length > size - position)
            length = size - position;
        addPacket(data + position, length);
        position += length;
    }
    appendPages(out, stream, fill);
    ogg_stream_clear(&stream);
    return out;
}

void openOnce(const uint8_t *data, size_t size)
{
    Input input{data, size};
    vcedit_state *state = vcedit_new_state();
    if (vcedit_open_callbacks(state, &input, readInput, writeNothing) == 0) {
        const vorbis_comment *comments = vcedit_comments(state);
        size_t total = 0;
        for (int i = 0; i < comments->comments; ++i)
            for (int j = 0; j < comments->comment_lengths[i]; ++j)
                total += static_cast<unsigned char>(comments->user_comments[i][j]);
        (void)total;
    }
    vcedit_clear(state);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t mode = data[0];
    const int fill = 64 + data[1] * 64;
    data += 2;
    size -= 2;
    if (mode % 3 == 0) {
        openOnce(data, size);
        return 0;
    }
    const std::vector<uint8_t> file = pagedPackets(data, size, fill, mode % 3 == 2);
    // Bit 7 of the mode truncates the paged stream somewhere in its second half.
    const size_t length =
        (mode & 0x80) && !file.empty() ? file.size() / 2 + mode % (file.size() / 2 + 1) : file.size();
    openOnce(file.data(), length);
    return 0;
}
