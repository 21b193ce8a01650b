/*
 * vantrel-example: prints a song's texts and renders one performance as raw PCM
 * (16-bit little-endian stereo, 44100 Hz) through libvantrel.
 *
 *   vantrel-example SONG OUT.raw [PERFORMANCE] [--memory] [--seek PERCENT@FRAMES]
 *                   [--seek-ms MS]
 *
 * --memory reads the song into memory and opens it from there. --seek renders FRAMES
 * frames, then seeks as a media player's host does; --seek-ms seeks exactly before
 * rendering anything. OUT.raw may be - for standard output.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vantrel/vantrel.h>

static int fail(const char* what)
{
    fprintf(stderr, "vantrel-example: %s: %s\n", what, vantrel_get_last_error());
    return 1;
}

static int open_from_memory(const char* path, vantrel_song** song)
{
    FILE* f = fopen(path, "rb");
    char* data = NULL;
    size_t size = 0, got;
    char chunk[65536];
    int result;
    if (!f) {
        perror(path);
        return VANTREL_ERR_CANNOT_OPEN;
    }
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) {
        char* grown = (char*)realloc(data, size + got);
        if (!grown) {
            free(data);
            fclose(f);
            return VANTREL_ERR_NO_MEMORY;
        }
        data = grown;
        memcpy(data + size, chunk, got);
        size += got;
    }
    fclose(f);
    result = vantrel_song_open_memory(data, size, song);
    free(data); /* the library keeps its own copy */
    return result;
}

static int write_frames(FILE* out, const int16_t* frames, long count)
{
    /* The library gives samples in the machine's order; the file is little-endian. */
    unsigned char bytes[4 * 1000];
    long i;
    for (i = 0; i < count * 2; ++i) {
        bytes[2 * i] = (unsigned char)(frames[i] & 0xFF);
        bytes[2 * i + 1] = (unsigned char)((frames[i] >> 8) & 0xFF);
    }
    return fwrite(bytes, 4, (size_t)count, out) == (size_t)count ? 0 : -1;
}

/* Renders up to `limit` frames (-1: to the end) in calls of 1000. */
static int render(vantrel_song* song, FILE* out, long limit)
{
    int16_t frames[2 * 1000];
    long done = 0;
    for (;;) {
        long want = 1000, n;
        if (limit >= 0 && limit - done < want)
            want = limit - done;
        if (want == 0)
            return 0;
        n = vantrel_song_render(song, frames, (size_t)want);
        if (n < 0)
            return fail("render");
        if (write_frames(out, frames, n) != 0) {
            perror("write");
            return 1;
        }
        done += n;
        if (n < want)
            return 0;
    }
}

int main(int argc, char** argv)
{
    static const int texts[] = {VANTREL_TEXT_TITLE, VANTREL_TEXT_AUTHOR, VANTREL_TEXT_PUBLISHER,
                                VANTREL_TEXT_GENRE, VANTREL_TEXT_COPYRIGHT};
    static const char* const names[] = {"title", "author", "publisher", "genre", "copyright"};
    vantrel_song* song = NULL;
    FILE* out;
    int performance = 1, memory = 0, percent = -1, i, status, result;
    long seek_frames = 0;
    long long seek_ms = -1;
    int32_t length_ms = 0;
    char text[512];

    if (argc < 3) {
        fprintf(stderr, "usage: %s SONG OUT.raw [PERFORMANCE] [--memory] "
                        "[--seek PERCENT@FRAMES] [--seek-ms MS]\n", argv[0]);
        return 2;
    }
    for (i = 3; i < argc; ++i) {
        if (strcmp(argv[i], "--memory") == 0)
            memory = 1;
        else if (strcmp(argv[i], "--seek") == 0 && i + 1 < argc)
            sscanf(argv[++i], "%d@%ld", &percent, &seek_frames);
        else if (strcmp(argv[i], "--seek-ms") == 0 && i + 1 < argc)
            seek_ms = atoll(argv[++i]);
        else
            performance = atoi(argv[i]);
    }

    result = memory ? open_from_memory(argv[1], &song) : vantrel_song_open_file(argv[1], &song);
    if (result != VANTREL_OK)
        return fail(argv[1]);
    fprintf(stderr, "libvantrel %s\n", vantrel_get_version());
    for (i = 0; i < 5; ++i)
        if (vantrel_song_get_text(song, texts[i], text, sizeof text, NULL) == VANTREL_OK)
            fprintf(stderr, "%-10s %s\n", names[i], text);

    if (vantrel_song_prepare(song, performance, NULL) != VANTREL_OK) {
        status = fail("prepare");
        vantrel_song_close(song);
        return status;
    }
    vantrel_song_get_performance(song, NULL, NULL, &length_ms, NULL);
    fprintf(stderr, "performance %d: %ld ms\n", performance, (long)length_ms);

    out = strcmp(argv[2], "-") == 0 ? stdout : fopen(argv[2], "wb");
    if (!out) {
        perror(argv[2]);
        vantrel_song_close(song);
        return 1;
    }
    status = 0;
    if (seek_ms >= 0 && vantrel_song_seek_ms(song, (int64_t)seek_ms) != VANTREL_OK)
        status = fail("seek");
    if (status == 0 && percent >= 0) {
        status = render(song, out, seek_frames);
        if (status == 0 && vantrel_song_seek_percent(song, percent, NULL) != VANTREL_OK)
            status = fail("seek");
    }
    if (status == 0)
        status = render(song, out, -1);
    if (out != stdout && fclose(out) != 0) {
        perror(argv[2]);
        status = 1;
    }
    vantrel_song_close(song);
    return status;
}
