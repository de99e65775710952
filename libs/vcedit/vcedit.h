#pragma once

/* The Ogg Vorbis comment-editing library: opens an Ogg Vorbis stream through
 * caller-supplied callbacks and hands out its comment block. The state is
 * declared here so that callers read the comment block and the last error by
 * field name; everything after those two fields belongs to the library. */

#include <stddef.h>

#include <ogg/ogg.h>
#include <vorbis/codec.h>

#ifdef __cplusplus
extern "C" {
#endif

/* fread/fwrite-like: return the number of whole elements transferred. */
typedef size_t (*vcedit_read_func)(void *ptr, size_t size, size_t nmemb, void *datasource);
typedef size_t (*vcedit_write_func)(const void *ptr, size_t size, size_t nmemb, void *datasource);

typedef struct vcedit_state {
    vorbis_comment *vc;    /* the stream's comment block, valid after a successful open */
    const char *lasterror; /* why the last call failed; NULL when none did */

    vorbis_info *vi;
    ogg_sync_state *oy;
    ogg_stream_state *os;
    vcedit_read_func read;
    vcedit_write_func write;
    void *in;
    long serial;
    size_t bytesread;
    char errorbuf[128];
} vcedit_state;

/* Most bytes an open reads before it gives up on finding all three headers;
 * a comment block with cover art stays well below it. */
#define VCEDIT_MAX_HEADER_BYTES (64u * 1024u * 1024u)
/* Most bytes skipped before the first Ogg page. */
#define VCEDIT_MAX_LEADING_BYTES (1024u * 1024u)

vcedit_state *vcedit_new_state(void);
/* 0 when the stream's three Vorbis headers were read; anything else is a
 * failure described by state->lasterror. */
int vcedit_open_callbacks(vcedit_state *state, void *datasource, vcedit_read_func read_func,
                          vcedit_write_func write_func);
vorbis_comment *vcedit_comments(vcedit_state *state);
void vcedit_clear(vcedit_state *state);

#ifdef __cplusplus
}
#endif
