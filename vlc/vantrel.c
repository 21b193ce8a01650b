/*****************************************************************************
 * vantrel.c: VNF song (.vn) demuxer for VLC 3.0, over the vantrel C library
 *****************************************************************************
 * A song is not a recording: every play draws a performance (an arrangement,
 * and a variation for each section it lists) and mixes it to 44100 Hz 16-bit
 * stereo. The demuxer reads the whole file, opens it from memory, prepares a
 * performance by number and sends raw S16 PCM blocks with exact timestamps.
 *
 * Titles: title 0 is "any arrangement" (the performance the option names),
 * then one title per arrangement of the song, by name: the first performance
 * from that number on whose draw chose that arrangement.
 *
 * Seeking is exact, in time and in position: after a seek to time t the next
 * frame sent is frame ceil(t * 44100 / 10^6) of the performance, with the
 * samples an unbroken play has there.
 *
 * VLC calls Demux and Control on the input thread only, so the song handle
 * needs no lock.
 *****************************************************************************/

#ifndef _GNU_SOURCE
# define _GNU_SOURCE /* asprintf */
#endif

/* Before vlc_plugin.h, which exports them with the module. */
#define VLC_MODULE_COPYRIGHT "Copyright (C) 2026 the Vantrel developers"
#define VLC_MODULE_LICENSE "Licensed under the BSD 3-Clause licence."

#include <stdlib.h>
#include <string.h>

#include <vlc_common.h>
#include <vlc_plugin.h>
#include <vlc_demux.h>
#include <vlc_charset.h>
#include <vlc_input.h>
#include <vlc_meta.h>
#include <vlc_rand.h>

#include <vantrel/vantrel.h>

/* Texts shown to users are not translated (VLC's own catalogue does not hold them). */
#ifndef N_
# define N_(str) (str)
#endif
#ifndef _
# define _(str) (str)
#endif

/*****************************************************************************
 * Module descriptor
 *****************************************************************************/
static int  Open (vlc_object_t *);
static void Close(vlc_object_t *);

#define PERFORMANCE_TEXT N_("Performance")
#define PERFORMANCE_LONGTEXT N_( \
    "Which performance of a song to play: N is the N-th draw of a freshly " \
    "started player, the same PCM as 'vantrel render --performance N'. " \
    "0 draws a number from 1 to 9999 at every play; the number is logged " \
    "and shown as the track number, so that it can be asked for again.")
#define ARRANGEMENT_TEXT N_("Arrangement")
#define ARRANGEMENT_LONGTEXT N_( \
    "Start with the title of the arrangement of this exact name: the first " \
    "performance from the one above on whose draw chose it. Empty: any " \
    "arrangement.")
#define CLIP_SOURCE_TEXT N_("Clip decoding")
#define CLIP_SOURCE_LONGTEXT N_( \
    "cache (the library's default): each stretch of a clip is decoded once " \
    "and replayed from memory (about 17 times the song file's size, at most " \
    "256 MiB per song); direct: every clip start decodes from the song data " \
    "again. The sound is the same either way.")

static const char *const clip_source_values[] = { "cache", "direct" };
static const char *const clip_source_texts[] = {
    N_("Decode once, replay from memory"), N_("Decode every clip start") };

/* Reaching performance N draws N times; the input thread waits for it. */
#define MAX_PERFORMANCE 1000000
/* The largest song file taken (the library keeps a copy of it in memory). */
#define MAX_FILE_SIZE (INT64_C(1) << 30)
/* Frames per block sent: about 93 ms. */
#define FRAMES_PER_BLOCK 4096
#define RATE VANTREL_SAMPLE_RATE

vlc_module_begin ()
    set_shortname ("VNF")
    set_description (N_("VNF song demuxer (Vantrel)"))
    set_category (CAT_INPUT)
    set_subcategory (SUBCAT_INPUT_DEMUX)
    set_capability ("demux", 200)
    set_callbacks (Open, Close)
    add_shortcut ("vantrel", "vnf")
    add_integer_with_range ("vantrel-performance", 1, 0, MAX_PERFORMANCE,
                            PERFORMANCE_TEXT, PERFORMANCE_LONGTEXT, false)
    add_string ("vantrel-arrangement", "", ARRANGEMENT_TEXT,
                ARRANGEMENT_LONGTEXT, false)
    add_string ("vantrel-clip-source", "cache", CLIP_SOURCE_TEXT,
                CLIP_SOURCE_LONGTEXT, true)
        change_string_list (clip_source_values, clip_source_texts)
vlc_module_end ()

/*****************************************************************************
 * Local prototypes
 *****************************************************************************/
struct demux_sys_t
{
    vantrel_song    *p_song;
    es_out_id_t     *p_es;
    int              i_performance;  /* the number asked for (or drawn) */
    int              i_played;       /* the number of the prepared performance */
    int64_t          i_frames;       /* the prepared performance's length */
    int64_t          i_frame;        /* the next frame to send */
    bool             b_discontinuity;
    bool             b_started;      /* Demux has been called */

    input_title_t  **pp_title;       /* "any arrangement", then each by name */
    int              i_titles;
    int              i_title;
};

static int Demux  (demux_t *);
static int Control(demux_t *, int, va_list);

/* The song's file, all of it. */
static block_t *ReadWhole (demux_t *p_demux)
{
    uint64_t i_size = 0;
    if (vlc_stream_GetSize (p_demux->s, &i_size) != VLC_SUCCESS || i_size == 0)
        i_size = 1 << 20;
    if (i_size > (uint64_t)MAX_FILE_SIZE)
        return NULL;

    block_t *p_block = block_Alloc (i_size);
    size_t i_have = 0;
    while (p_block != NULL)
    {
        if (i_have == p_block->i_buffer)
        {
            if (i_have >= (size_t)MAX_FILE_SIZE)
            {
                block_Release (p_block);
                return NULL;
            }
            p_block = block_Realloc (p_block, 0, 2 * i_have);
            continue;
        }
        ssize_t i_read = vlc_stream_Read (p_demux->s, p_block->p_buffer + i_have,
                                          p_block->i_buffer - i_have);
        if (i_read < 0)
        {
            block_Release (p_block);
            return NULL;
        }
        if (i_read == 0)
        {
            p_block->i_buffer = i_have;
            return p_block;
        }
        i_have += i_read;
    }
    return NULL;
}

/* The library's reason, without the "(memory): " it names a song in memory by. */
static const char *LastError (void)
{
    const char *psz = vantrel_get_last_error ();
    if (!strncmp (psz, "(memory): ", 10))
        psz += 10;
    return psz;
}

/* Song texts are 8-bit: each byte stands for the character of the same code. */
static char *Text (vantrel_song *p_song, int i_which)
{
    char psz[256];
    if (vantrel_song_get_text (p_song, i_which, psz, sizeof (psz), NULL)
            != VANTREL_OK || psz[0] == '\0')
        return NULL;
    return FromLatin1 (psz);
}

static char *ArrangementName (vantrel_song *p_song, int i_arrangement)
{
    char psz[256];
    if (vantrel_song_get_arrangement (p_song, i_arrangement, psz, sizeof (psz),
                                      NULL, NULL) != VANTREL_OK)
        return NULL;
    return FromLatin1 (psz);
}

/* Prepares the performance of title i_title (0: any arrangement). */
static int Prepare (demux_t *p_demux, int i_title)
{
    demux_sys_t *p_sys = p_demux->p_sys;
    int i_played = 0;
    int32_t i_length_ms = 0;

    int i_ret = vantrel_song_prepare_index (p_sys->p_song, p_sys->i_performance,
                                            i_title - 1);
    if (i_ret != VANTREL_OK)
        return i_ret;
    vantrel_song_get_performance (p_sys->p_song, &i_played, NULL,
                                  &i_length_ms, NULL);
    p_sys->i_played = i_played;
    p_sys->i_frames = (int64_t)i_length_ms * RATE / 1000;
    p_sys->i_frame = 0;
    p_sys->i_title = i_title;
    p_sys->b_discontinuity = true;
    return VANTREL_OK;
}

/* The titles, each with the length of its performance. An arrangement that no
 * draw in reach chooses keeps its title, with no length; choosing it fails. */
static int MakeTitles (demux_t *p_demux)
{
    demux_sys_t *p_sys = p_demux->p_sys;
    int i_arrangements = 0;

    vantrel_song_get_counts (p_sys->p_song, &i_arrangements, NULL, NULL);
    p_sys->pp_title = calloc (i_arrangements + 1, sizeof (*p_sys->pp_title));
    if (p_sys->pp_title == NULL)
        return VLC_ENOMEM;
    for (int i = 0; i <= i_arrangements; i++)
    {
        input_title_t *p_title = vlc_input_title_New ();
        if (p_title == NULL)
            return VLC_ENOMEM;
        p_sys->pp_title[p_sys->i_titles++] = p_title;
        p_title->psz_name = i == 0 ? strdup (_("any arrangement"))
                                   : ArrangementName (p_sys->p_song, i - 1);
        int i_ret = Prepare (p_demux, i);
        if (i_ret == VANTREL_OK)
            p_title->i_length = p_sys->i_frames * CLOCK_FREQ / RATE;
        else if (i > 0)
            msg_Warn (p_demux, "arrangement \"%s\" cannot be played from "
                      "performance %d on: %s", p_title->psz_name,
                      p_sys->i_performance, LastError ());
    }
    return VLC_SUCCESS;
}

/* The title whose arrangement has this exact name, or -1. */
static int TitleOfArrangement (demux_t *p_demux, const char *psz_name)
{
    demux_sys_t *p_sys = p_demux->p_sys;
    char psz[256];

    for (int i = 1; i < p_sys->i_titles; i++)
        if (vantrel_song_get_arrangement (p_sys->p_song, i - 1, psz,
                sizeof (psz), NULL, NULL) == VANTREL_OK
         && !strcmp (psz, psz_name))
            return i;
    return -1;
}

static void LogPerformance (demux_t *p_demux, bool b_drawn)
{
    demux_sys_t *p_sys = p_demux->p_sys;
    int i_arrangement = -1;
    vantrel_song_get_performance (p_sys->p_song, NULL, &i_arrangement, NULL, NULL);
    char *psz_name = ArrangementName (p_sys->p_song, i_arrangement);

    if (b_drawn)
        msg_Info (p_demux, "playing performance %d (--vantrel-performance=%d "
                  "gives it again), arrangement \"%s\", %"PRId64" ms",
                  p_sys->i_played, p_sys->i_played, psz_name ? psz_name : "",
                  p_sys->i_frames * 1000 / RATE);
    else
        msg_Dbg (p_demux, "playing performance %d, arrangement \"%s\", "
                 "%"PRId64" ms", p_sys->i_played, psz_name ? psz_name : "",
                 p_sys->i_frames * 1000 / RATE);
    free (psz_name);
}

/*****************************************************************************
 * Open: claims files that begin as songs do, or are named *.vn
 *****************************************************************************/
static int Open (vlc_object_t *p_this)
{
    demux_t *p_demux = (demux_t *)p_this;
    const uint8_t *p_peek;

    /* "VNF", three bytes of text, the format flags (0), the version (0x60 or
     * 0x61). A file named *.vn that is not a song is refused here too, with the
     * reason, rather than handed to another demuxer. */
    bool b_magic = vlc_stream_Peek (p_demux->s, &p_peek, 8) == 8
                && !memcmp (p_peek, "VNF", 3) && p_peek[6] == 0
                && (p_peek[7] == 0x60 || p_peek[7] == 0x61);
    if (!b_magic && !demux_IsPathExtension (p_demux, ".vn")
     && !demux_IsForced (p_demux, "vantrel"))
        return VLC_EGENERIC;

    block_t *p_data = ReadWhole (p_demux);
    if (p_data == NULL)
    {
        msg_Err (p_demux, "cannot read the song %s", p_demux->psz_location);
        return VLC_ETIMEOUT; /* probed right: no other demuxer is tried */
    }
    vantrel_song *p_song = NULL;
    bool b_empty = p_data->i_buffer == 0;
    int i_ret = b_empty ? VANTREL_ERR_BAD_FILE
              : vantrel_song_open_memory (p_data->p_buffer, p_data->i_buffer,
                                          &p_song);
    block_Release (p_data);
    if (i_ret != VANTREL_OK)
    {
        /* An empty file never reaches the library, which says nothing then. */
        msg_Err (p_demux, "%s: %s", p_demux->psz_location,
                 b_empty ? vantrel_strerror (i_ret) : LastError ());
        return VLC_ETIMEOUT;
    }

    demux_sys_t *p_sys = calloc (1, sizeof (*p_sys));
    if (p_sys == NULL)
    {
        vantrel_song_close (p_song);
        return VLC_ENOMEM;
    }
    p_demux->p_sys = p_sys;
    p_sys->p_song = p_song;

    char *psz_clip_source = var_InheritString (p_demux, "vantrel-clip-source");
    if (psz_clip_source != NULL && *psz_clip_source != '\0'
     && vantrel_song_set_option (p_song, "clip-source", psz_clip_source)
            != VANTREL_OK)
        msg_Warn (p_demux, "vantrel-clip-source: %s", vantrel_get_last_error ());
    free (psz_clip_source);

    int64_t i_asked = var_InheritInteger (p_demux, "vantrel-performance");
    bool b_drawn = i_asked <= 0;
    p_sys->i_performance = b_drawn ? 1 + (int)(vlc_lrand48 () % 9999)
                         : (int)__MIN (i_asked, MAX_PERFORMANCE);

    /* Titles first (each prepares its performance), then the one to play. */
    int i_title = 0;
    char *psz_arrangement = var_InheritString (p_demux, "vantrel-arrangement");
    if (MakeTitles (p_demux) != VLC_SUCCESS)
        goto error;
    if (psz_arrangement != NULL && *psz_arrangement != '\0')
    {
        i_title = TitleOfArrangement (p_demux, psz_arrangement);
        if (i_title < 0)
        {
            msg_Err (p_demux, "%s: the song has no arrangement named \"%s\"",
                     p_demux->psz_location, psz_arrangement);
            goto refused;
        }
    }
    i_ret = Prepare (p_demux, i_title);
    if (i_ret != VANTREL_OK)
    {
        msg_Err (p_demux, "%s: %s", p_demux->psz_location, LastError ());
        goto refused;
    }
    free (psz_arrangement);
    LogPerformance (p_demux, b_drawn || p_sys->i_played != p_sys->i_performance);

    es_format_t fmt;
    /* The library renders in the machine's byte order. */
    es_format_Init (&fmt, AUDIO_ES, VLC_CODEC_S16N);
    fmt.audio.i_format = VLC_CODEC_S16N;
    fmt.audio.i_rate = RATE;
    fmt.audio.i_channels = VANTREL_CHANNELS;
    fmt.audio.i_physical_channels = AOUT_CHANS_STEREO;
    fmt.audio.i_bitspersample = 16;
    fmt.audio.i_blockalign = VANTREL_BYTES_PER_FRAME;
    fmt.i_bitrate = RATE * VANTREL_BYTES_PER_FRAME * 8;
    p_sys->p_es = es_out_Add (p_demux->out, &fmt);
    if (p_sys->p_es == NULL)
        goto error;

    p_demux->info.i_title = i_title;
    p_demux->info.i_update = INPUT_UPDATE_TITLE | INPUT_UPDATE_META;
    p_demux->pf_demux = Demux;
    p_demux->pf_control = Control;
    return VLC_SUCCESS;

refused:
    free (psz_arrangement);
    Close (p_this);
    return VLC_ETIMEOUT;
error:
    free (psz_arrangement);
    Close (p_this);
    return VLC_EGENERIC;
}

static void Close (vlc_object_t *p_this)
{
    demux_t *p_demux = (demux_t *)p_this;
    demux_sys_t *p_sys = p_demux->p_sys;

    for (int i = 0; i < p_sys->i_titles; i++)
        vlc_input_title_Delete (p_sys->pp_title[i]);
    free (p_sys->pp_title);
    vantrel_song_close (p_sys->p_song);
    free (p_sys);
}

/*****************************************************************************
 * Demux: one block of the performance
 *****************************************************************************/
static mtime_t TimeOfFrame (int64_t i_frame)
{
    /* Rounded up, so that a block never starts before a time sought to. */
    return (i_frame * CLOCK_FREQ + RATE - 1) / RATE;
}

static int Demux (demux_t *p_demux)
{
    demux_sys_t *p_sys = p_demux->p_sys;

    /* The first call sends nothing: VLC's input takes the title to start with
     * (an MRL ending in "#N") after its first demux call, and a block sent before
     * would be heard ahead of that title. */
    if (!p_sys->b_started)
    {
        p_sys->b_started = true;
        return VLC_DEMUXER_SUCCESS;
    }

    block_t *p_block = block_Alloc (FRAMES_PER_BLOCK * VANTREL_BYTES_PER_FRAME);
    if (p_block == NULL)
        return VLC_DEMUXER_EGENERIC;
    long i_rendered = vantrel_song_render (p_sys->p_song,
                                           (int16_t *)p_block->p_buffer,
                                           FRAMES_PER_BLOCK);
    if (i_rendered <= 0)
    {
        block_Release (p_block);
        if (i_rendered < 0)
        {
            msg_Err (p_demux, "%s", vantrel_get_last_error ());
            return VLC_DEMUXER_EGENERIC;
        }
        return VLC_DEMUXER_EOF;
    }
    p_block->i_buffer = i_rendered * VANTREL_BYTES_PER_FRAME;
    p_block->i_nb_samples = i_rendered;
    p_block->i_dts = p_block->i_pts = VLC_TS_0 + TimeOfFrame (p_sys->i_frame);
    p_block->i_length = TimeOfFrame (p_sys->i_frame + i_rendered)
                      - TimeOfFrame (p_sys->i_frame);
    if (p_sys->b_discontinuity)
    {
        p_block->i_flags |= BLOCK_FLAG_DISCONTINUITY;
        p_sys->b_discontinuity = false;
    }
    p_sys->i_frame += i_rendered;

    es_out_SetPCR (p_demux->out, p_block->i_pts);
    es_out_Send (p_demux->out, p_sys->p_es, p_block);
    return VLC_DEMUXER_SUCCESS;
}

/*****************************************************************************
 * Control
 *****************************************************************************/
static int SeekFrame (demux_t *p_demux, int64_t i_frame)
{
    demux_sys_t *p_sys = p_demux->p_sys;
    int64_t i_reached = 0;

    if (i_frame < 0)
        i_frame = 0;
    if (vantrel_song_seek_frame (p_sys->p_song, i_frame) != VANTREL_OK
     || vantrel_song_tell (p_sys->p_song, &i_reached) != VANTREL_OK)
    {
        msg_Err (p_demux, "seek to frame %"PRId64" failed: %s", i_frame,
                 vantrel_get_last_error ());
        return VLC_EGENERIC;
    }
    msg_Dbg (p_demux, "seek to frame %"PRId64", at %"PRId64, i_frame, i_reached);
    p_sys->i_frame = i_reached;
    p_sys->b_discontinuity = true;
    return VLC_SUCCESS;
}

static void SetMeta (demux_t *p_demux, vlc_meta_t *p_meta)
{
    static const struct { int i_text; vlc_meta_type_t i_meta; } texts[] = {
        { VANTREL_TEXT_TITLE, vlc_meta_Title },
        { VANTREL_TEXT_AUTHOR, vlc_meta_Artist },
        { VANTREL_TEXT_PUBLISHER, vlc_meta_Publisher },
        { VANTREL_TEXT_GENRE, vlc_meta_Genre },
        { VANTREL_TEXT_COPYRIGHT, vlc_meta_Copyright },
    };
    demux_sys_t *p_sys = p_demux->p_sys;

    for (size_t i = 0; i < sizeof (texts) / sizeof (texts[0]); i++)
    {
        char *psz = Text (p_sys->p_song, texts[i].i_text);
        if (psz != NULL)
            vlc_meta_Set (p_meta, texts[i].i_meta, psz);
        free (psz);
    }

    char psz_number[16];
    snprintf (psz_number, sizeof (psz_number), "%d", p_sys->i_played);
    vlc_meta_Set (p_meta, vlc_meta_TrackNumber, psz_number);

    int i_arrangement = -1;
    vantrel_song_get_performance (p_sys->p_song, NULL, &i_arrangement, NULL, NULL);
    char *psz_name = ArrangementName (p_sys->p_song, i_arrangement);
    char *psz_description;
    if (asprintf (&psz_description, "performance %d (arrangement \"%s\")",
                  p_sys->i_played, psz_name ? psz_name : "") >= 0)
    {
        vlc_meta_Set (p_meta, vlc_meta_Description, psz_description);
        free (psz_description);
    }
    free (psz_name);
}

static int Control (demux_t *p_demux, int i_query, va_list args)
{
    demux_sys_t *p_sys = p_demux->p_sys;

    switch (i_query)
    {
        case DEMUX_CAN_SEEK:
            *va_arg (args, bool *) = true;
            return VLC_SUCCESS;

        case DEMUX_GET_LENGTH:
            *va_arg (args, int64_t *) = p_sys->i_frames * CLOCK_FREQ / RATE;
            return VLC_SUCCESS;

        case DEMUX_GET_TIME:
            *va_arg (args, int64_t *) = p_sys->i_frame * CLOCK_FREQ / RATE;
            return VLC_SUCCESS;

        case DEMUX_SET_TIME:
        {
            int64_t i_time = va_arg (args, int64_t);
            /* The first frame at or after the time. */
            return SeekFrame (p_demux, i_time <= 0 ? 0
                              : (i_time * RATE + CLOCK_FREQ - 1) / CLOCK_FREQ);
        }

        case DEMUX_GET_POSITION:
            /* The last block runs a little past the length. */
            *va_arg (args, double *) = p_sys->i_frames > 0
                ? __MIN (1., (double)p_sys->i_frame / p_sys->i_frames) : 0.;
            return VLC_SUCCESS;

        case DEMUX_SET_POSITION:
        {
            double f_pos = va_arg (args, double);
            return SeekFrame (p_demux, (int64_t)(f_pos * p_sys->i_frames + .5));
        }

        case DEMUX_GET_META:
            SetMeta (p_demux, va_arg (args, vlc_meta_t *));
            return VLC_SUCCESS;

        case DEMUX_GET_TITLE_INFO:
        {
            input_title_t ***ppp_title = va_arg (args, input_title_t ***);
            int *pi_int = va_arg (args, int *);
            *va_arg (args, int *) = 0; /* title offset */
            *va_arg (args, int *) = 0; /* chapter offset */

            *ppp_title = vlc_alloc (p_sys->i_titles, sizeof (**ppp_title));
            if (*ppp_title == NULL)
                return VLC_ENOMEM;
            for (int i = 0; i < p_sys->i_titles; i++)
                (*ppp_title)[i] = vlc_input_title_Duplicate (p_sys->pp_title[i]);
            *pi_int = p_sys->i_titles;
            return VLC_SUCCESS;
        }

        case DEMUX_SET_TITLE:
        {
            int i_title = va_arg (args, int);
            if (i_title < 0 || i_title >= p_sys->i_titles)
                return VLC_EGENERIC;
            if (Prepare (p_demux, i_title) != VANTREL_OK)
            {
                msg_Err (p_demux, "title \"%s\": %s",
                         p_sys->pp_title[i_title]->psz_name, LastError ());
                /* Back to the title that played, from its start. */
                Prepare (p_demux, p_demux->info.i_title);
                return VLC_EGENERIC;
            }
            LogPerformance (p_demux, false);
            p_demux->info.i_title = i_title;
            p_demux->info.i_update |= INPUT_UPDATE_TITLE | INPUT_UPDATE_META;
            return VLC_SUCCESS;
        }

        case DEMUX_CAN_PAUSE:
        case DEMUX_SET_PAUSE_STATE:
        case DEMUX_CAN_CONTROL_PACE:
        case DEMUX_GET_PTS_DELAY:
            return demux_vaControlHelper (p_demux->s, 0, -1, 0, 1, i_query, args);

        default:
            return VLC_EGENERIC;
    }
}
