#include "vcedit.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { CHUNK_SIZE = 4096 };

static void set_error(vcedit_state *state, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(state->errorbuf, sizeof state->errorbuf, format, args);
    va_end(args);
    state->lasterror = state->errorbuf;
}

/* Frees everything an open built; the error text survives for the caller. */
static void release(vcedit_state *state)
{
    if (state->vc) {
        vorbis_comment_clear(state->vc);
        free(state->vc);
        state->vc = NULL;
    }
    if (state->vi) {
        vorbis_info_clear(state->vi);
        free(state->vi);
        state->vi = NULL;
    }
    if (state->os) {
        ogg_stream_clear(state->os);
        free(state->os);
        state->os = NULL;
    }
    if (state->oy) {
        ogg_sync_clear(state->oy);
        free(state->oy);
        state->oy = NULL;
    }
    state->read = NULL;
    state->write = NULL;
    state->in = NULL;
    state->serial = 0;
    state->bytesread = 0;
}

vcedit_state *vcedit_new_state(void)
{
    return calloc(1, sizeof(vcedit_state));
}

vorbis_comment *vcedit_comments(vcedit_state *state)
{
    return state ? state->vc : NULL;
}

void vcedit_clear(vcedit_state *state)
{
    if (!state)
        return;
    release(state);
    free(state);
}

static int has_magic(const ogg_packet *op, const char *magic, size_t length)
{
    return op->bytes >= (long)length && memcmp(op->packet, magic, length) == 0;
}

/* Names the codec of another stream's first packet, for a useful error. */
static const char *codec_name(const ogg_packet *op)
{
    if (has_magic(op, "OpusHead", 8))
        return "Opus";
    if (has_magic(op,
                  "\x7f"
                  "FLAC",
                  5) ||
        has_magic(op, "fLaC", 4))
        return "FLAC";
    if (has_magic(op, "Speex   ", 8))
        return "Speex";
    if (has_magic(op, "\x80theora", 7))
        return "Theora";
    if (has_magic(op, "\x80kate", 5))
        return "Kate";
    if (has_magic(op, "fishead", 7))
        return "Skeleton";
    return NULL;
}

/* 1: a page; 0: the input ended; -1: failure, error set. */
static int next_page(vcedit_state *state, ogg_page *page, size_t *skipped, int seen_page)
{
    for (;;) {
        long result = ogg_sync_pageseek(state->oy, page);
        if (result > 0)
            return 1;
        if (result < 0) {
            *skipped += (size_t)-result;
            if (!seen_page && *skipped > VCEDIT_MAX_LEADING_BYTES) {
                set_error(state, "Input is not an Ogg bitstream");
                return -1;
            }
            continue;
        }
        if (state->bytesread >= VCEDIT_MAX_HEADER_BYTES) {
            set_error(state, "Vorbis headers not complete within the first %u MB",
                      VCEDIT_MAX_HEADER_BYTES / (1024u * 1024u));
            return -1;
        }
        char *buffer = ogg_sync_buffer(state->oy, CHUNK_SIZE);
        if (!buffer) {
            set_error(state, "Out of memory");
            return -1;
        }
        size_t count = state->read(buffer, 1, CHUNK_SIZE, state->in);
        if (count > CHUNK_SIZE) /* a callback that claims more than it was given */
            count = 0;
        if (count == 0)
            return 0;
        ogg_sync_wrote(state->oy, (long)count);
        state->bytesread += count;
    }
}

static void set_end_error(vcedit_state *state, int seen_page, int found, const char *other)
{
    if (state->bytesread == 0)
        set_error(state, "Input is empty");
    else if (!seen_page)
        set_error(state, "Input is not an Ogg bitstream");
    else if (!found && other)
        set_error(state, "Ogg bitstream holds %s, not Vorbis", other);
    else if (!found)
        set_error(state, "Ogg bitstream does not contain Vorbis data");
    else
        set_error(state, "Input ends before the Vorbis headers are complete");
}

/* Tries a beginning-of-stream page as the Vorbis stream's first page. */
static int try_first_page(vcedit_state *state, ogg_page *page, const char **other)
{
    ogg_packet packet;
    ogg_stream_init(state->os, ogg_page_serialno(page));
    if (ogg_stream_pagein(state->os, page) == 0 && ogg_stream_packetout(state->os, &packet) == 1) {
        if (vorbis_synthesis_idheader(&packet)) {
            if (vorbis_synthesis_headerin(state->vi, state->vc, &packet) < 0) {
                set_error(state, "Corrupt Vorbis identification header");
                return -1;
            }
            state->serial = ogg_page_serialno(page);
            return 1;
        }
        if (!*other)
            *other = codec_name(&packet);
    }
    ogg_stream_clear(state->os);
    return 0;
}

/* The setup header is only checked for its signature: its codebooks are not
 * needed to read or edit comments, and decoding them costs the most. */
static int read_header_packet(vcedit_state *state, ogg_packet *packet, int index)
{
    if (index == 1) {
        int result = vorbis_synthesis_headerin(state->vi, state->vc, packet);
        if (result == OV_ENOTVORBIS)
            set_error(state, "Second packet is not a Vorbis comment header");
        else if (result < 0)
            set_error(state, "Corrupt Vorbis comment header");
        return result;
    }
    if (!has_magic(packet, "\x05vorbis", 7)) {
        set_error(state, "Third packet is not a Vorbis setup header");
        return -1;
    }
    return 0;
}

int vcedit_open_callbacks(vcedit_state *state, void *datasource, vcedit_read_func read_func,
                          vcedit_write_func write_func)
{
    if (!state)
        return -1;
    release(state);
    state->lasterror = NULL;
    if (!read_func) {
        set_error(state, "No read callback");
        return -1;
    }
    state->in = datasource;
    state->read = read_func;
    state->write = write_func;
    state->oy = calloc(1, sizeof(ogg_sync_state));
    state->os = calloc(1, sizeof(ogg_stream_state));
    state->vi = calloc(1, sizeof(vorbis_info));
    state->vc = calloc(1, sizeof(vorbis_comment));
    if (!state->oy || !state->os || !state->vi || !state->vc) {
        set_error(state, "Out of memory");
        release(state);
        return -1;
    }
    ogg_sync_init(state->oy);
    vorbis_info_init(state->vi);
    vorbis_comment_init(state->vc);

    int seen_page = 0;
    int found = 0;
    int headers = 0;
    size_t skipped = 0;
    const char *other = NULL;
    ogg_page page;
    ogg_packet packet;
    while (headers < 3) {
        int result = next_page(state, &page, &skipped, seen_page);
        if (result < 0)
            goto fail;
        if (result == 0) {
            set_end_error(state, seen_page, found, other);
            goto fail;
        }
        seen_page = 1;
        if (!found) {
            /* Streams start with their first pages side by side; past them
             * no Vorbis stream can begin. */
            if (!ogg_page_bos(&page)) {
                set_end_error(state, seen_page, found, other);
                goto fail;
            }
            result = try_first_page(state, &page, &other);
            if (result < 0)
                goto fail;
            found = result;
            headers = found;
            if (!found)
                continue;
        } else {
            if (ogg_page_serialno(&page) != state->serial)
                continue;
            if (ogg_stream_pagein(state->os, &page) != 0) {
                set_error(state, "Corrupt Ogg page in the Vorbis headers");
                goto fail;
            }
        }
        while (headers < 3) {
            result = ogg_stream_packetout(state->os, &packet);
            if (result == 0)
                break;
            if (result < 0) {
                set_error(state, "Ogg pages missing in the Vorbis headers");
                goto fail;
            }
            if (read_header_packet(state, &packet, headers) < 0)
                goto fail;
            ++headers;
        }
    }
    return 0;

fail:
    release(state);
    return -1;
}
