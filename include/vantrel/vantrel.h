/*
 * vantrel.h: the C interface of the Vantrel engine, which plays VNF songs (.vn).
 *
 * A song file holds MP3 clips and a structure of arrangements, sections and
 * variations. Every play draws a performance (one arrangement, one variation per
 * section it lists) and mixes it to 44 100 Hz, 16-bit, stereo PCM. Performances are
 * numbered: performance N is the N-th draw from the generator's start state, so
 * performance 1 is what a freshly started player plays first, and a number always
 * gives the same PCM.
 *
 * Typical use:
 *
 *     vantrel_song* song = NULL;
 *     if (vantrel_song_open_file("demo.vn", &song) != VANTREL_OK) {
 *         fprintf(stderr, "%s\n", vantrel_get_last_error());
 *         return 1;
 *     }
 *     vantrel_song_prepare(song, 1, NULL);
 *     while ((n = vantrel_song_render(song, frames, 1024)) > 0)
 *         fwrite(frames, 4, (size_t)n, out);
 *     vantrel_song_close(song);
 *
 * Conventions
 * - Functions that can fail return an int: VANTREL_OK (0) or a negative VANTREL_ERR_*
 *   code. They never crash on bad arguments (a NULL handle, an index out of range, a
 *   size that cannot be right, a call out of order) and never leave the handle broken:
 *   a failed call changes nothing. vantrel_strerror() gives a code's text,
 *   vantrel_get_last_error() the message of the calling thread's last failure (with
 *   the file's name and the system's reason where there is one).
 * - Texts are NUL-terminated 8-bit strings, passed on as the song file stores them
 *   (the authoring system's code page, usually Windows-1252); nothing is converted.
 *   Text getters copy into the caller's buffer (truncated, always NUL-terminated when
 *   size > 0) and report the full length through `length` (may be NULL). A NULL
 *   buffer with size 0 only asks for the length.
 * - Out-parameters marked "may be NULL" are skipped when NULL.
 *
 * Threads
 * - One handle is used by one thread at a time; different handles are independent and
 *   may be used on different threads at once. The library takes no lock on a handle.
 * - The random generator that draws performances is one per thread.
 *   vantrel_song_prepare() sets the calling thread's generator to its start state and
 *   leaves it as N plays leave it; it is the only call that draws. A handle prepared
 *   on one thread may be rendered and sought on another: rendering draws nothing, and
 *   the performance does not depend on the thread. Other code that draws on the
 *   thread that prepares (for instance an engine player in the same process) sees the
 *   generator moved.
 *
 * Compatibility: the header is C89 (with <stddef.h> and, for the sample type,
 * <stdint.h>) and C++. Functions are only ever added; VANTREL_API_VERSION grows with
 * each addition. Choices that later versions may add (where clip data comes from, the
 * decoding engine, ...) are named options, see vantrel_song_set_option().
 */
#ifndef VANTREL_VANTREL_H
#define VANTREL_VANTREL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && defined(VANTREL_SHARED_BUILD)
#define VANTREL_EXPORT __declspec(dllexport)
#elif defined(__GNUC__) && __GNUC__ >= 4
#define VANTREL_EXPORT __attribute__((visibility("default")))
#else
#define VANTREL_EXPORT
#endif

/* Grows by one with every addition to this interface. */
#define VANTREL_API_VERSION 2

/* Result codes. */
#define VANTREL_OK 0
#define VANTREL_ERR_INVALID_ARGUMENT (-1) /* NULL handle or pointer, bad size or index */
#define VANTREL_ERR_CANNOT_OPEN (-2)      /* the path cannot be opened (see the message) */
#define VANTREL_ERR_BAD_FILE (-3)         /* "File is not a VNF or is corrupted." */
#define VANTREL_ERR_NO_MEMORY (-4)
#define VANTREL_ERR_NOT_PREPARED (-5)     /* render or seek before a successful prepare */
#define VANTREL_ERR_NOTHING_TO_PLAY (-6)  /* no arrangement has a section that can sound */
#define VANTREL_ERR_NO_SUCH_ARRANGEMENT (-7)
#define VANTREL_ERR_ARRANGEMENT_NOT_DRAWN (-8) /* not chosen by performances N..N+9999 */
#define VANTREL_ERR_UNKNOWN_OPTION (-9)
#define VANTREL_ERR_BAD_OPTION_VALUE (-10)
#define VANTREL_ERR_INTERNAL (-11)        /* an unexpected failure inside the engine */

/* Song texts, for vantrel_song_get_text(). */
#define VANTREL_TEXT_TITLE 0
#define VANTREL_TEXT_AUTHOR 1
#define VANTREL_TEXT_PUBLISHER 2
#define VANTREL_TEXT_GENRE 3
#define VANTREL_TEXT_COPYRIGHT 4

/* Clip kinds, for vantrel_song_get_clip(). */
#define VANTREL_CLIP_NO_DATA 0 /* a clip record without data */
#define VANTREL_CLIP_OTHER 1   /* data whose format text sorts before "MP3" */
#define VANTREL_CLIP_MP3 2     /* MPEG audio ("MP3" and texts sorting after it) */

/* The PCM format of every render. */
#define VANTREL_SAMPLE_RATE 44100
#define VANTREL_CHANNELS 2
#define VANTREL_BYTES_PER_FRAME 4
/* The most frames one render call takes (about three hours and a half). */
#define VANTREL_MAX_RENDER_FRAMES 0x1FFFFFFF

typedef struct vantrel_song vantrel_song;

/* The library's version, "MAJOR.MINOR.PATCH.BUILD"; never NULL. */
VANTREL_EXPORT const char* vantrel_get_version(void);
/* VANTREL_API_VERSION of the library that is running (it may be newer than the
   header a program was built with). */
VANTREL_EXPORT int vantrel_get_api_version(void);
/* The text of a result code; never NULL ("unknown error" for an unknown code). */
VANTREL_EXPORT const char* vantrel_strerror(int code);
/* The message of the calling thread's last failed call, "" when none failed yet.
   Valid until the thread's next call into the library. */
VANTREL_EXPORT const char* vantrel_get_last_error(void);

/* --- Opening and closing ------------------------------------------------------ */

/* Opens a song file. On success *song is a new handle; on failure *song is NULL and
   the result is VANTREL_ERR_CANNOT_OPEN (the message gives the system's reason) or
   VANTREL_ERR_BAD_FILE. The file is read again for clip data while rendering. */
VANTREL_EXPORT int vantrel_song_open_file(const char* path, vantrel_song** song);
/* Opens a song from memory. The library copies the bytes: the caller's buffer may be
   freed as soon as the call returns. size must be at least 1. */
VANTREL_EXPORT int vantrel_song_open_memory(const void* data, size_t size, vantrel_song** song);
/* Closes a handle and frees everything it holds; NULL is ignored. */
VANTREL_EXPORT void vantrel_song_close(vantrel_song* song);

/* Sets a named option; an option takes effect at the next vantrel_song_prepare().
     "decoder"      the MPEG decoding engine by name (one the MPEG library supports
                    on this machine, e.g. "generic"), "" for the library's choice
                    (the default).
     "clip-source"  how clips are decoded: "cache" (the default since API version 2:
                    each stretch of a clip is decoded once and replayed from memory,
                    up to "cache-mb" per handle; a song holds about 17 times its file
                    size of PCM, 9 MB for the demo song) or "direct" (every clip start
                    decodes from the song data again; the least memory). The PCM is
                    the same either way.
     "cache-mb"     the most memory the cache may hold, in MiB, from "0" to "65536"
                    (default "256"); the least recently used stretches are dropped
                    first and decoded again when needed. (Since API version 2.)
   Unknown names give VANTREL_ERR_UNKNOWN_OPTION, unknown values
   VANTREL_ERR_BAD_OPTION_VALUE; nothing is changed then. */
VANTREL_EXPORT int vantrel_song_set_option(vantrel_song* song, const char* name, const char* value);

/* --- What the song holds ------------------------------------------------------- */

/* One of the VANTREL_TEXT_* texts. */
VANTREL_EXPORT int vantrel_song_get_text(const vantrel_song* song, int which, char* buffer,
                                         size_t size, size_t* length);
/* The size in bytes of the song file or memory image. */
VANTREL_EXPORT int vantrel_song_get_file_size(const vantrel_song* song, uint64_t* size);

/* Counts: arrangements, sections, clips (each may be NULL). */
VANTREL_EXPORT int vantrel_song_get_counts(const vantrel_song* song, int* arrangements,
                                           int* sections, int* clips);
/* Arrangement `index` (0-based): its name and how many sections it lists. */
VANTREL_EXPORT int vantrel_song_get_arrangement(const vantrel_song* song, int index, char* name,
                                                size_t size, size_t* length, int* section_count);
/* The section index (into the song's section table) at `position` of an arrangement. */
VANTREL_EXPORT int vantrel_song_get_arrangement_section(const vantrel_song* song, int arrangement,
                                                        int position, int* section);
/* Section `index`: its name and how many variations it has. */
VANTREL_EXPORT int vantrel_song_get_section(const vantrel_song* song, int index, char* name,
                                            size_t size, size_t* length, int* variation_count);
/* Variation `variation` of section `section`: name, length in ms, track count. */
VANTREL_EXPORT int vantrel_song_get_variation(const vantrel_song* song, int section, int variation,
                                              char* name, size_t size, size_t* length,
                                              int32_t* length_ms, int* track_count);
/* Clip `index` of the clip table: its VANTREL_CLIP_* kind and data size in bytes. A
   clip without data gives VANTREL_CLIP_NO_DATA and size 0. */
VANTREL_EXPORT int vantrel_song_get_clip(const vantrel_song* song, int index, int* kind,
                                         int32_t* data_size);

/* --- Preparing a performance --------------------------------------------------- */

/* Draws performance `performance` (1 or more). With `arrangement` (a name, compared
   exactly) the performance is the first one numbered `performance` or later, up to
   performance + 9999, whose draw chose that arrangement: the numbering and the draws
   stay those of a player, so its number can be passed again later without the name.
   VANTREL_ERR_NO_SUCH_ARRANGEMENT when the song has no arrangement of that name,
   VANTREL_ERR_ARRANGEMENT_NOT_DRAWN when no performance in reach chose it,
   VANTREL_ERR_NOTHING_TO_PLAY when the song has nothing to play. After a failure the
   song has no performance (render and seek give VANTREL_ERR_NOT_PREPARED). Rendering
   then starts at the beginning of the performance. */
VANTREL_EXPORT int vantrel_song_prepare(vantrel_song* song, int performance, const char* arrangement);
/* The same with the arrangement by index (-1: any arrangement). */
VANTREL_EXPORT int vantrel_song_prepare_index(vantrel_song* song, int performance, int arrangement);
/* The prepared performance: its number, the arrangement's index, its length in ms
   (the entries' lengths added up) and its number of entries (each may be NULL). */
VANTREL_EXPORT int vantrel_song_get_performance(const vantrel_song* song, int* performance,
                                                int* arrangement, int32_t* length_ms,
                                                int* entry_count);
/* Entry `index` of the prepared performance: the section index, the variation index
   within that section, the start in ms and the length in ms (each may be NULL). */
VANTREL_EXPORT int vantrel_song_get_entry(const vantrel_song* song, int index, int* section,
                                          int* variation, int32_t* start_ms, int32_t* length_ms);

/* --- Rendering and seeking ----------------------------------------------------- */

/* Renders up to `count` frames (interleaved signed 16-bit stereo, left first, in the
   machine's byte order) into `frames`. Any count works: the library keeps the rest of
   its internal block for the next call. Returns the frames written; fewer than
   `count` only when the performance has ended, and 0 on every call after the end.
   Negative: an error (nothing written). count 0 returns 0. */
VANTREL_EXPORT long vantrel_song_render(vantrel_song* song, int16_t* frames, size_t count);
/* The same in bytes, for callers with byte buffers: `bytes` must be a multiple of 4;
   returns the bytes written. */
VANTREL_EXPORT long vantrel_song_render_bytes(vantrel_song* song, void* buffer, size_t bytes);
/* 1 when the performance has been rendered to its end, 0 while it has not, or an
   error. */
VANTREL_EXPORT int vantrel_song_at_end(const vantrel_song* song);

/* Seeks as a media player's host does: `percent` (0-100) of the length; playing
   resumes at the start of the entry in which that share falls, and the rest of the
   current block is dropped. *start_ms (may be NULL) receives the entry's start. The
   PCM from there is what the player plays after such a seek, which starts the entry
   afresh: it is not the same as a render from the beginning reaching that time. */
VANTREL_EXPORT int vantrel_song_seek_percent(vantrel_song* song, int percent, int32_t* start_ms);
/* Seeks exactly: the next frame rendered is frame floor(ms * 44.1) of the
   performance, the same samples as a render from the start gives there. A time past
   the end leaves the song at its end. The cost does not grow with the time: the
   first exact seek into a performance learns when each of its clips ends (a few tens
   of ms for a ten-minute song, kept until the song is closed: about 160 KiB);
   every seek then decodes only the clips that sound at the time, from their starts
   (with the "cache" clip source, once). */
VANTREL_EXPORT int vantrel_song_seek_ms(vantrel_song* song, int64_t ms);
/* Seeks exactly to a frame: the next frame rendered is frame `frame` of the
   performance, as vantrel_song_seek_ms() does for frame floor(ms * 44.1); a frame
   past the end leaves the song at its end. (Since API version 2.) */
VANTREL_EXPORT int vantrel_song_seek_frame(vantrel_song* song, int64_t frame);
/* The position, in frames from the start of the performance, of the next frame to be
   rendered. After a percentage seek it counts on from the entry's start time, although
   the player starts that entry afresh at a block boundary there. */
VANTREL_EXPORT int vantrel_song_tell(const vantrel_song* song, int64_t* frame);

#ifdef __cplusplus
}
#endif

#endif /* VANTREL_VANTREL_H */
