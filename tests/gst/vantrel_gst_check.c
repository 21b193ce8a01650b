/* Checks of the GStreamer plug-in through real pipelines, against the C library.
 *
 *   vantrel_gst_check PLUGIN pcm SONG REF.raw    decodebin to the end: the PCM is REF
 *                                                byte for byte, the timestamps run
 *                                                without gap or overlap, then EOS;
 *                                                duration and tags
 *   vantrel_gst_check PLUGIN seek SONG REF.raw   flushing seeks (also backwards, off
 *                                                the millisecond grid, with a stop),
 *                                                a segment seek: the samples after each
 *                                                are REF's at that position
 *   vantrel_gst_check PLUGIN choice SONG         the performance and arrangement
 *                                                properties, and performance 0
 *   vantrel_gst_check PLUGIN cycles SONG N       N play/seek/stop cycles (leaks are
 *                                                found by the sanitizer build)
 *   vantrel_gst_check PLUGIN hostile DIR         every .vn file in DIR through decodebin: an
 *                                                error with a message exactly where the
 *                                                library refuses the song, no hang
 *
 * PLUGIN is the built libgstvantrel.so; it is loaded into this process. Each check
 * prints what it saw and exits 0 when everything held. */
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <vantrel/vantrel.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define RATE 44100
#define FRAME_BYTES 4

static int failures = 0;

#define CHECK(cond, ...)                                                    \
  do {                                                                      \
    if (!(cond)) {                                                          \
      fprintf (stderr, "FAIL %s:%d: ", __FILE__, __LINE__);                 \
      fprintf (stderr, __VA_ARGS__);                                        \
      fprintf (stderr, "\n");                                               \
      failures++;                                                           \
    }                                                                       \
  } while (0)

typedef struct
{
  guint8 *data;
  gsize size;
} Bytes;

static Bytes
read_file (const char *path)
{
  Bytes b = { NULL, 0 };
  gchar *contents = NULL;
  GError *error = NULL;

  if (!g_file_get_contents (path, &contents, &b.size, &error)) {
    fprintf (stderr, "cannot read %s: %s\n", path, error->message);
    exit (2);
  }
  b.data = (guint8 *) contents;
  return b;
}

/* filesrc ! decodebin ! appsink, with the decoder's caps forced to what the
 * element gives (no converter in between). */
static GstElement *
make_pipeline (const char *song, const char *decoder_props, GstElement ** sink)
{
  GError *error = NULL;
  gchar *escaped = g_strescape (song, NULL);
  gchar *desc = decoder_props
      ? g_strdup_printf ("filesrc location=\"%s\" ! vantreldec %s ! "
      "appsink name=out sync=false max-buffers=4", escaped, decoder_props)
      : g_strdup_printf ("filesrc location=\"%s\" ! decodebin ! "
      "audio/x-raw,format=S16LE,rate=44100,channels=2 ! "
      "appsink name=out sync=false max-buffers=4", escaped);
  GstElement *pipeline = gst_parse_launch (desc, &error);

  if (!pipeline) {
    fprintf (stderr, "cannot build %s: %s\n", desc, error->message);
    exit (2);
  }
  g_free (desc);
  g_free (escaped);
  *sink = gst_bin_get_by_name (GST_BIN (pipeline), "out");
  return pipeline;
}

/* Waits for the pipeline to reach PAUSED; FALSE (with the error shown) if not. */
static gboolean
preroll (GstElement * pipeline)
{
  GstStateChangeReturn r;

  gst_element_set_state (pipeline, GST_STATE_PAUSED);
  r = gst_element_get_state (pipeline, NULL, NULL, 30 * GST_SECOND);
  if (r == GST_STATE_CHANGE_SUCCESS || r == GST_STATE_CHANGE_NO_PREROLL)
    return TRUE;
  {
    GstBus *bus = gst_element_get_bus (pipeline);
    GstMessage *m = gst_bus_pop_filtered (bus, GST_MESSAGE_ERROR);
    if (m) {
      GError *e = NULL;
      gst_message_parse_error (m, &e, NULL);
      fprintf (stderr, "preroll failed: %s\n", e->message);
      g_error_free (e);
      gst_message_unref (m);
    } else {
      fprintf (stderr, "preroll failed (state change %d)\n", r);
    }
    gst_object_unref (bus);
  }
  return FALSE;
}

/* Pulls samples into `out` (which grows) until `frames` frames (or EOS when
 * frames is 0). Checks that the timestamps are contiguous from the first buffer;
 * returns the first buffer's PTS through first_pts. */
static gsize
pull (GstElement * sink, GByteArray * out, gsize frames,
    GstClockTime * first_pts, gboolean * eos)
{
  gsize got = 0;
  GstClockTime next = GST_CLOCK_TIME_NONE;
  guint64 next_offset = GST_BUFFER_OFFSET_NONE;

  *eos = FALSE;
  if (first_pts)
    *first_pts = GST_CLOCK_TIME_NONE;
  while (frames == 0 || got < frames) {
    GstSample *sample =
        gst_app_sink_try_pull_sample (GST_APP_SINK (sink), 30 * GST_SECOND);
    GstBuffer *buffer;
    GstMapInfo map;

    if (!sample) {
      *eos = gst_app_sink_is_eos (GST_APP_SINK (sink));
      CHECK (*eos, "no sample within 30 s and no EOS");
      break;
    }
    buffer = gst_sample_get_buffer (sample);
    if (first_pts && !GST_CLOCK_TIME_IS_VALID (*first_pts))
      *first_pts = GST_BUFFER_PTS (buffer);
    gst_buffer_map (buffer, &map, GST_MAP_READ);
    CHECK (map.size % FRAME_BYTES == 0, "a buffer of %zu bytes", map.size);
    if (GST_CLOCK_TIME_IS_VALID (next)) {
      /* Each buffer starts where the one before ended: by sample count, and in
       * time within the nanosecond that rounding leaves. */
      CHECK (GST_BUFFER_OFFSET (buffer) == next_offset,
          "buffer offset %" G_GUINT64_FORMAT ", expected %" G_GUINT64_FORMAT,
          GST_BUFFER_OFFSET (buffer), next_offset);
      CHECK (GST_BUFFER_PTS (buffer) + 1 >= next
          && GST_BUFFER_PTS (buffer) <= next + 1,
          "buffer at %" GST_TIME_FORMAT " after one that ends at %"
          GST_TIME_FORMAT, GST_TIME_ARGS (GST_BUFFER_PTS (buffer)),
          GST_TIME_ARGS (next));
    }
    next = GST_BUFFER_PTS (buffer) + GST_BUFFER_DURATION (buffer);
    next_offset = GST_BUFFER_OFFSET_END (buffer);
    CHECK (GST_BUFFER_OFFSET_END (buffer) - GST_BUFFER_OFFSET (buffer) ==
        map.size / FRAME_BYTES, "buffer offsets do not span its frames");
    g_byte_array_append (out, map.data, (guint) map.size);
    got += map.size / FRAME_BYTES;
    gst_buffer_unmap (buffer, &map);
    gst_sample_unref (sample);
  }
  return got;
}

/* The first frame where two PCM runs differ, or -1. */
static gssize
first_difference (const guint8 * a, const guint8 * b, gsize frames)
{
  gsize i;
  for (i = 0; i < frames; ++i)
    if (memcmp (a + i * FRAME_BYTES, b + i * FRAME_BYTES, FRAME_BYTES) != 0)
      return (gssize) i;
  return -1;
}

static gchar *
tag_string (const GstTagList * tags, const char *tag)
{
  gchar *s = NULL;
  if (tags)
    gst_tag_list_get_string (tags, tag, &s);
  return s;
}

/* The song's text as UTF-8 (its bytes are the characters U+0001-U+00FF). */
static gchar *
song_text (vantrel_song * song, int which)
{
  char buffer[256];
  vantrel_song_get_text (song, which, buffer, sizeof buffer, NULL);
  return g_convert (buffer, -1, "UTF-8", "ISO-8859-1", NULL, NULL, NULL);
}

static void
check_pcm (const char *song_path, const char *ref_path)
{
  Bytes ref = read_file (ref_path);
  GstElement *sink, *pipeline = make_pipeline (song_path, NULL, &sink);
  GByteArray *pcm = g_byte_array_new ();
  GstTagList *tags = NULL;
  GstBus *bus;
  GstMessage *m;
  gint64 duration = -1;
  gboolean eos;
  gsize frames;
  gssize diff;
  vantrel_song *song = NULL;
  static const struct
  {
    int text;
    const char *tag;
  } texts[] = {
    {VANTREL_TEXT_TITLE, GST_TAG_TITLE}, {VANTREL_TEXT_AUTHOR, GST_TAG_ARTIST},
    {VANTREL_TEXT_PUBLISHER, GST_TAG_ORGANIZATION},
    {VANTREL_TEXT_GENRE, GST_TAG_GENRE},
    {VANTREL_TEXT_COPYRIGHT, GST_TAG_COPYRIGHT},
  };
  gsize i;
  guint track = 0;

  if (!preroll (pipeline))
    exit (1);
  CHECK (gst_element_query_duration (pipeline, GST_FORMAT_TIME, &duration),
      "no duration");
  gst_element_set_state (pipeline, GST_STATE_PLAYING);
  frames = pull (sink, pcm, 0, NULL, &eos);
  CHECK (eos, "the stream did not end with EOS");
  CHECK (pcm->len == ref.size, "%u bytes of PCM, the render has %zu", pcm->len,
      ref.size);
  diff = first_difference (pcm->data, ref.data, MIN (pcm->len, ref.size) / 4);
  CHECK (diff < 0, "the PCM differs from the render at frame %zd", diff);

  /* The tags, from the bus (merged as they came). */
  bus = gst_element_get_bus (pipeline);
  while ((m = gst_bus_pop_filtered (bus, GST_MESSAGE_TAG | GST_MESSAGE_ERROR))) {
    if (GST_MESSAGE_TYPE (m) == GST_MESSAGE_ERROR) {
      GError *e = NULL;
      gst_message_parse_error (m, &e, NULL);
      CHECK (FALSE, "error: %s", e->message);
      g_error_free (e);
    } else {
      GstTagList *t = NULL;
      gst_message_parse_tag (m, &t);
      if (tags) {
        GstTagList *merged = gst_tag_list_merge (tags, t, GST_TAG_MERGE_REPLACE);
        gst_tag_list_unref (tags);
        gst_tag_list_unref (t);
        tags = merged;
      } else {
        tags = t;
      }
    }
    gst_message_unref (m);
  }
  gst_object_unref (bus);

  if (vantrel_song_open_file (song_path, &song) != VANTREL_OK
      || vantrel_song_prepare (song, 1, NULL) != VANTREL_OK) {
    fprintf (stderr, "the library cannot play %s\n", song_path);
    exit (2);
  }
  {
    int32_t length_ms = 0;
    vantrel_song_get_performance (song, NULL, NULL, &length_ms, NULL);
    CHECK (duration == (gint64) length_ms * GST_MSECOND,
        "duration %" GST_TIME_FORMAT ", the performance lasts %d ms",
        GST_TIME_ARGS (duration), length_ms);
  }
  for (i = 0; i < G_N_ELEMENTS (texts); ++i) {
    gchar *want = song_text (song, texts[i].text);
    gchar *got = tag_string (tags, texts[i].tag);
    if (*want)
      CHECK (got && strcmp (got, want) == 0, "tag %s is \"%s\", the song has "
          "\"%s\"", texts[i].tag, got ? got : "(none)", want);
    else
      CHECK (!got, "tag %s is \"%s\" for an empty text", texts[i].tag, got);
    g_free (want);
    g_free (got);
  }
  CHECK (tags && gst_tag_list_get_uint (tags, GST_TAG_TRACK_NUMBER, &track)
      && track == 1, "track-number %u, not the performance 1", track);
  {
    gchar *shown = tags ? gst_tag_list_to_string (tags) : g_strdup ("(none)");
    printf ("pcm: %zu frames equal to the render, EOS; duration %" GST_TIME_FORMAT
        "; tags %s\n", frames, GST_TIME_ARGS (duration), shown);
    g_free (shown);
  }

  vantrel_song_close (song);
  if (tags)
    gst_tag_list_unref (tags);
  g_byte_array_unref (pcm);
  gst_element_set_state (pipeline, GST_STATE_NULL);
  gst_object_unref (sink);
  gst_object_unref (pipeline);
  g_free (ref.data);
}

/* Seeks to `position` (with `stop` unless NONE) and compares what follows with the
 * reference from the first frame at or after the position. */
static void
seek_and_compare (GstElement * pipeline, GstElement * sink, const Bytes * ref,
    GstClockTime position, GstClockTime stop, gsize frames)
{
  guint64 start_frame = gst_util_uint64_scale_int_ceil (position, RATE,
      GST_SECOND);
  gsize ref_frames = ref->size / FRAME_BYTES;
  GByteArray *pcm = g_byte_array_new ();
  GstClockTime first_pts;
  gboolean eos;
  gsize got;
  gssize diff;
  gsize want = start_frame < ref_frames ? ref_frames - start_frame : 0;
  gboolean ok = gst_element_seek (pipeline, 1.0, GST_FORMAT_TIME,
      GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE, GST_SEEK_TYPE_SET,
      (gint64) position,
      GST_CLOCK_TIME_IS_VALID (stop) ? GST_SEEK_TYPE_SET : GST_SEEK_TYPE_NONE,
      GST_CLOCK_TIME_IS_VALID (stop) ? (gint64) stop : -1);

  CHECK (ok, "seek to %" GST_TIME_FORMAT " refused", GST_TIME_ARGS (position));
  if (GST_CLOCK_TIME_IS_VALID (stop)) {
    guint64 stop_frame = gst_util_uint64_scale_int_ceil (stop, RATE, GST_SECOND);
    want = MIN (want, stop_frame - start_frame);
    frames = 0;                 /* to the stop: EOS must come there */
  } else {
    want = MIN (want, frames);
  }
  got = pull (sink, pcm, frames, &first_pts, &eos);
  if (frames == 0 || want < frames)
    CHECK (eos, "no EOS after the seek to %" GST_TIME_FORMAT,
        GST_TIME_ARGS (position));
  if (eos) {
    /* The pipeline's EOS message follows; take it off the bus. */
    GstBus *bus = gst_element_get_bus (pipeline);
    GstMessage *m = gst_bus_timed_pop_filtered (bus, 30 * GST_SECOND,
        GST_MESSAGE_EOS);
    CHECK (m != NULL, "no EOS message after the seek to %" GST_TIME_FORMAT,
        GST_TIME_ARGS (position));
    if (m)
      gst_message_unref (m);
    gst_object_unref (bus);
  }
  CHECK (got >= want, "%zu frames after the seek to %" GST_TIME_FORMAT
      ", expected %zu", got, GST_TIME_ARGS (position), want);
  if (GST_CLOCK_TIME_IS_VALID (stop))
    CHECK (got == want, "%zu frames between %" GST_TIME_FORMAT " and the stop %"
        GST_TIME_FORMAT ", expected %zu", got, GST_TIME_ARGS (position),
        GST_TIME_ARGS (stop), want);
  if (want > 0)
    CHECK (first_pts == gst_util_uint64_scale_int (start_frame, GST_SECOND,
            RATE), "first buffer at %" GST_TIME_FORMAT " after a seek to %"
        GST_TIME_FORMAT, GST_TIME_ARGS (first_pts), GST_TIME_ARGS (position));
  diff = first_difference (pcm->data, ref->data + start_frame * FRAME_BYTES,
      MIN (got, want));
  CHECK (diff < 0, "after the seek to %" GST_TIME_FORMAT
      " (frame %" G_GUINT64_FORMAT ") the PCM differs from the render at %zd "
      "frames on", GST_TIME_ARGS (position), start_frame, diff);
  printf ("seek to %" GST_TIME_FORMAT " (frame %" G_GUINT64_FORMAT "): %zu "
      "frames equal to the render\n", GST_TIME_ARGS (position), start_frame,
      MIN (got, want));
  g_byte_array_unref (pcm);
}

typedef struct
{
  GMutex lock;
  GCond cond;
  gboolean eos;
} EosWatch;

static GstPadProbeReturn
on_sink_event (G_GNUC_UNUSED GstPad * pad, GstPadProbeInfo * info,
    gpointer user_data)
{
  EosWatch *watch = user_data;
  if (GST_EVENT_TYPE (GST_PAD_PROBE_INFO_EVENT (info)) == GST_EVENT_EOS) {
    g_mutex_lock (&watch->lock);
    watch->eos = TRUE;
    g_cond_signal (&watch->cond);
    g_mutex_unlock (&watch->lock);
  }
  return GST_PAD_PROBE_OK;
}

/* A seek while the sink holds EOS: appsink keeps EOS until its queue has been
 * read, as an audio sink keeps it until the end has played. */
static void
seek_while_sink_holds_eos (GstElement * pipeline, GstElement * sink,
    const Bytes * ref)
{
  EosWatch watch = { 0 };
  GstPad *pad = gst_element_get_static_pad (sink, "sink");
  gulong probe;
  gint64 end = g_get_monotonic_time () + 30 * G_TIME_SPAN_SECOND;

  g_mutex_init (&watch.lock);
  g_cond_init (&watch.cond);
  probe = gst_pad_add_probe (pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM,
      on_sink_event, &watch, NULL);
  gst_element_seek_simple (pipeline, GST_FORMAT_TIME,
      GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE, 23900 * GST_MSECOND);
  g_mutex_lock (&watch.lock);
  while (!watch.eos && g_cond_wait_until (&watch.cond, &watch.lock, end));
  g_mutex_unlock (&watch.lock);
  CHECK (watch.eos, "no EOS reached the sink after a seek to 23.9 s");
  gst_pad_remove_probe (pad, probe);
  gst_object_unref (pad);
  /* Nothing read: the sink holds EOS now. A seek that waited for it would never
   * return; the alarm ends the program then. */
  alarm (60);
  seek_and_compare (pipeline, sink, ref, 2 * GST_SECOND, GST_CLOCK_TIME_NONE,
      10000);
  alarm (0);
  g_mutex_clear (&watch.lock);
  g_cond_clear (&watch.cond);
}

static void
check_seek (const char *song_path, const char *ref_path)
{
  Bytes ref = read_file (ref_path);
  GstElement *sink, *pipeline = make_pipeline (song_path, NULL, &sink);
  GstBus *bus;
  GstMessage *m;
  gint64 position = -1;
  const GstClockTime none = GST_CLOCK_TIME_NONE;

  if (!preroll (pipeline))
    exit (1);
  gst_element_set_state (pipeline, GST_STATE_PLAYING);
  /* Forwards and backwards, on and off the millisecond and the engine's blocks. */
  seek_and_compare (pipeline, sink, &ref, 10 * GST_SECOND, none, 20000);
  seek_and_compare (pipeline, sink, &ref, 3 * GST_SECOND + 123456789, none, 30000);
  seek_and_compare (pipeline, sink, &ref, 17 * GST_SECOND + 26122, none, 30000);
  seek_and_compare (pipeline, sink, &ref, 0, none, 5000);
  seek_and_compare (pipeline, sink, &ref, 12345 * GST_MSECOND, none, 44100);
  /* Close to the end: the rest, then EOS. */
  seek_and_compare (pipeline, sink, &ref, 23900 * GST_MSECOND, none, 100000);
  /* With a stop: exactly the frames between, then EOS. */
  seek_and_compare (pipeline, sink, &ref, 5 * GST_SECOND, 6 * GST_SECOND + 1234,
      0);
  gst_element_query_position (pipeline, GST_FORMAT_TIME, &position);

  /* A segment seek ends with SEGMENT_DONE, not EOS. */
  bus = gst_element_get_bus (pipeline);
  CHECK (gst_element_seek (pipeline, 1.0, GST_FORMAT_TIME,
          GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_SEGMENT, GST_SEEK_TYPE_SET,
          8 * GST_SECOND, GST_SEEK_TYPE_SET, 9 * GST_SECOND),
      "segment seek refused");
  {
    /* The segment's second, then SEGMENT_DONE (no EOS comes). */
    GByteArray *pcm = g_byte_array_new ();
    gboolean eos;
    gsize got = pull (sink, pcm, RATE, NULL, &eos);
    gssize diff = first_difference (pcm->data, ref.data + 8 * RATE * FRAME_BYTES,
        MIN (got, (gsize) RATE));
    CHECK (got == RATE && diff < 0, "segment 8 s to 9 s: %zu frames, differing "
        "from the render at %zd", got, diff);
    g_byte_array_unref (pcm);
  }
  m = gst_bus_timed_pop_filtered (bus, 30 * GST_SECOND,
      GST_MESSAGE_SEGMENT_DONE | GST_MESSAGE_EOS | GST_MESSAGE_ERROR);
  CHECK (m && GST_MESSAGE_TYPE (m) == GST_MESSAGE_SEGMENT_DONE,
      "after a segment seek: %s", m ? GST_MESSAGE_TYPE_NAME (m) : "nothing");
  if (m) {
    GstFormat format;
    gint64 done = -1;
    if (GST_MESSAGE_TYPE (m) == GST_MESSAGE_SEGMENT_DONE) {
      gst_message_parse_segment_done (m, &format, &done);
      CHECK (done == 9 * GST_SECOND, "segment done at %" GST_TIME_FORMAT,
          GST_TIME_ARGS (done));
      printf ("segment seek 8 s to 9 s: SEGMENT_DONE at %" GST_TIME_FORMAT "\n",
          GST_TIME_ARGS (done));
    }
    gst_message_unref (m);
  }
  gst_object_unref (bus);

  seek_while_sink_holds_eos (pipeline, sink, &ref);

  gst_element_set_state (pipeline, GST_STATE_NULL);
  gst_object_unref (sink);
  gst_object_unref (pipeline);
  g_free (ref.data);
}

/* The first `frames` frames of performance `number` from the library. */
static GByteArray *
library_pcm (const char *song_path, int number, gsize frames)
{
  vantrel_song *song = NULL;
  GByteArray *pcm = g_byte_array_sized_new ((guint) (frames * FRAME_BYTES));
  long n;

  g_byte_array_set_size (pcm, (guint) (frames * FRAME_BYTES));
  if (vantrel_song_open_file (song_path, &song) != VANTREL_OK
      || vantrel_song_prepare (song, number, NULL) != VANTREL_OK)
    exit (2);
  n = vantrel_song_render (song, (int16_t *) pcm->data, frames);
  g_byte_array_set_size (pcm, (guint) (n > 0 ? n * FRAME_BYTES : 0));
  vantrel_song_close (song);
  return pcm;
}

/* Plays `frames` frames with the element's properties; returns the element's
 * current-performance and the PCM. */
static int
play_with (const char *song_path, const char *props, gsize frames,
    GByteArray ** pcm)
{
  GstElement *sink, *pipeline = make_pipeline (song_path, props, &sink);
  GstElement *dec;
  GstIterator *it;
  GValue item = G_VALUE_INIT;
  int number = -1;
  gboolean eos;

  *pcm = g_byte_array_new ();
  if (!preroll (pipeline)) {
    gst_element_set_state (pipeline, GST_STATE_NULL);
    gst_object_unref (sink);
    gst_object_unref (pipeline);
    return -1;
  }
  it = gst_bin_iterate_all_by_element_factory_name (GST_BIN (pipeline),
      "vantreldec");
  if (gst_iterator_next (it, &item) == GST_ITERATOR_OK) {
    dec = g_value_get_object (&item);
    g_object_get (dec, "current-performance", &number, NULL);
    g_value_unset (&item);
  }
  gst_iterator_free (it);
  gst_element_set_state (pipeline, GST_STATE_PLAYING);
  pull (sink, *pcm, frames, NULL, &eos);
  gst_element_set_state (pipeline, GST_STATE_NULL);
  gst_object_unref (sink);
  gst_object_unref (pipeline);
  return number;
}

static void
check_choice (const char *song_path)
{
  const gsize frames = 3 * RATE;
  GByteArray *pcm, *want;
  int number, drawn[3];
  int i;

  /* A chosen number plays that performance. */
  number = play_with (song_path, "performance=4", frames, &pcm);
  want = library_pcm (song_path, 4, frames);
  CHECK (number == 4, "performance=4 plays %d", number);
  CHECK (pcm->len >= want->len && memcmp (pcm->data, want->data, want->len) == 0,
      "performance=4 is not the library's performance 4");
  printf ("performance=4: current-performance %d, PCM of performance 4\n",
      number);
  g_byte_array_unref (pcm);
  g_byte_array_unref (want);

  /* An arrangement: the first performance from 1 on that chose it. */
  {
    vantrel_song *song = NULL;
    int expected = -1, arrangement = -1;
    if (vantrel_song_open_file (song_path, &song) == VANTREL_OK
        && vantrel_song_prepare (song, 1, "Long") == VANTREL_OK)
      vantrel_song_get_performance (song, &expected, &arrangement, NULL, NULL);
    vantrel_song_close (song);
    number = play_with (song_path, "arrangement=Long", frames, &pcm);
    CHECK (expected > 0 && number == expected,
        "arrangement=Long plays %d, the library says %d", number, expected);
    want = library_pcm (song_path, expected > 0 ? expected : 1, frames);
    CHECK (pcm->len >= want->len
        && memcmp (pcm->data, want->data, want->len) == 0,
        "arrangement=Long is not the library's performance %d", expected);
    printf ("arrangement=Long: performance %d\n", number);
    g_byte_array_unref (pcm);
    g_byte_array_unref (want);
  }

  /* An arrangement the song does not have: an error, no output. */
  number = play_with (song_path, "arrangement=Nonesuch", frames, &pcm);
  CHECK (number == -1 && pcm->len == 0, "an unknown arrangement played (%d)",
      number);
  g_byte_array_unref (pcm);

  /* performance=0 draws a number each time; that number plays its performance. */
  for (i = 0; i < 3; ++i) {
    number = play_with (song_path, "performance=0", RATE, &pcm);
    drawn[i] = number;
    CHECK (number >= 1 && number <= 9999, "performance=0 drew %d", number);
    want = library_pcm (song_path, number > 0 ? number : 1, RATE);
    CHECK (pcm->len >= want->len
        && memcmp (pcm->data, want->data, want->len) == 0,
        "performance=0 drew %d but played something else", number);
    g_byte_array_unref (pcm);
    g_byte_array_unref (want);
  }
  /* Three equal draws out of 9999 would happen once in 10^8 runs. */
  CHECK (!(drawn[0] == drawn[1] && drawn[1] == drawn[2]),
      "performance=0 drew %d three times", drawn[0]);
  printf ("performance=0: drew %d, %d, %d, each its performance\n", drawn[0],
      drawn[1], drawn[2]);
}

static void
check_cycles (const char *song_path, int cycles)
{
  int i;
  GRand *rand = g_rand_new_with_seed (15);
  GByteArray *whole = library_pcm (song_path, 1, 30 * RATE);

  for (i = 0; i < cycles; ++i) {
    /* decodebin builds its insides afresh after READY, and a parsed pipeline
     * links them only once: the cycles that go back to READY name the element. */
    GstElement *sink, *pipeline = make_pipeline (song_path, i % 10 == 0 ? "" : NULL,
        &sink);
    GByteArray *pcm = g_byte_array_new ();
    gboolean eos;
    gint64 at = g_rand_int_range (rand, 0, 24000) * (gint64) GST_MSECOND;

    if (!preroll (pipeline)) {
      CHECK (FALSE, "cycle %d: no preroll", i);
      break;
    }
    gst_element_set_state (pipeline, GST_STATE_PLAYING);
    pull (sink, pcm, 2048, NULL, &eos);
    CHECK (gst_element_seek_simple (pipeline, GST_FORMAT_TIME,
            GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE, at),
        "cycle %d: seek refused", i);
    pull (sink, pcm, 2048, NULL, &eos);
    /* Every third cycle stops while the decoder is still running; every tenth
     * goes back to READY and plays again. */
    if (i % 3 == 0)
      gst_element_set_state (pipeline, GST_STATE_PAUSED);
    if (i % 10 == 0) {
      /* The whole performance again, from its first frame to EOS. */
      GByteArray *again = g_byte_array_new ();
      gst_element_set_state (pipeline, GST_STATE_READY);
      if (!preroll (pipeline))
        CHECK (FALSE, "cycle %d: no preroll after READY", i);
      else {
        int stale = 0;
        gst_element_set_state (pipeline, GST_STATE_PLAYING);
        /* appsink still hands out what it queued before READY first. */
        for (;;) {
          GstSample *sample = gst_app_sink_try_pull_sample (GST_APP_SINK (sink),
              30 * GST_SECOND);
          GstBuffer *buffer = sample ? gst_sample_get_buffer (sample) : NULL;
          if (buffer && GST_BUFFER_OFFSET (buffer) == 0) {
            GstMapInfo map;
            gst_buffer_map (buffer, &map, GST_MAP_READ);
            g_byte_array_append (again, map.data, (guint) map.size);
            gst_buffer_unmap (buffer, &map);
          }
          if (sample)
            gst_sample_unref (sample);
          if (!buffer || GST_BUFFER_OFFSET (buffer) == 0 || ++stale > 10000)
            break;
        }
        pull (sink, again, 0, NULL, &eos);
        CHECK (eos && again->len == whole->len
            && memcmp (again->data, whole->data, whole->len) == 0,
            "cycle %d: after READY the performance does not play again from its "
            "start to its end (%u bytes, %d stale samples)", i, again->len, stale);
      }
      g_byte_array_unref (again);
    }
    gst_element_set_state (pipeline, GST_STATE_NULL);
    gst_object_unref (sink);
    gst_object_unref (pipeline);
    g_byte_array_unref (pcm);
  }
  g_rand_free (rand);
  g_byte_array_unref (whole);
  printf ("cycles: %d play/seek/stop cycles\n", i);
}

static int
compare_names (gconstpointer a, gconstpointer b)
{
  return strcmp (*(const char *const *) a, *(const char *const *) b);
}

/* Whether the library plays the file: opens it and prepares performance 1. */
static gboolean
library_plays (const char *path)
{
  vantrel_song *song = NULL;
  gboolean ok = vantrel_song_open_file (path, &song) == VANTREL_OK
      && vantrel_song_prepare (song, 1, NULL) == VANTREL_OK;
  vantrel_song_close (song);
  return ok;
}

static void
on_element_added (G_GNUC_UNUSED GstBin * bin, G_GNUC_UNUSED GstBin * sub,
    GstElement * element, gpointer user_data)
{
  GstElementFactory *factory = gst_element_get_factory (element);
  if (factory && strcmp (GST_OBJECT_NAME (factory), "vantreldec") == 0)
    *(gboolean *) user_data = TRUE;
}

static void
check_hostile (const char *dir)
{
  GDir *d = g_dir_open (dir, 0, NULL);
  GPtrArray *names = g_ptr_array_new_with_free_func (g_free);
  const gchar *name;
  guint i;
  int errors = 0, played = 0, not_songs = 0;

  if (!d) {
    fprintf (stderr, "cannot open %s\n", dir);
    exit (2);
  }
  while ((name = g_dir_read_name (d)))
    if (g_str_has_suffix (name, ".vn"))
      g_ptr_array_add (names, g_build_filename (dir, name, NULL));
  g_dir_close (d);
  g_ptr_array_sort (names, compare_names);

  for (i = 0; i < names->len; ++i) {
    const char *path = g_ptr_array_index (names, i);
    gboolean expect_play = g_file_test (path, G_FILE_TEST_IS_REGULAR)
        && library_plays (path);
    gchar *escaped = g_strescape (path, NULL);
    gchar *desc = g_strdup_printf ("filesrc location=\"%s\" ! decodebin ! "
        "fakesink sync=false", escaped);
    GstElement *pipeline = gst_parse_launch (desc, NULL);
    GstBus *bus = gst_element_get_bus (pipeline);
    GstMessage *m = NULL;
    gboolean done = FALSE;
    gint64 last = -1;
    gboolean decoded = FALSE;

    g_signal_connect (pipeline, "deep-element-added",
        G_CALLBACK (on_element_added), &decoded);
    gst_element_set_state (pipeline, GST_STATE_PLAYING);
    /* Until an error, EOS or 30 s of sound (an entry may last for hours); no
     * message and no progress within 10 s is a hang. */
    while (!done) {
      gint64 position = -1;
      m = gst_bus_timed_pop_filtered (bus, 10 * GST_SECOND,
          GST_MESSAGE_ERROR | GST_MESSAGE_EOS);
      if (m)
        break;
      gst_element_query_position (pipeline, GST_FORMAT_TIME, &position);
      if (position >= 30 * (gint64) GST_SECOND)
        done = TRUE;
      else if (position <= last) {
        CHECK (FALSE, "%s: no message and no progress for 10 s", path);
        done = TRUE;
      }
      last = position;
    }
    if (m && GST_MESSAGE_TYPE (m) == GST_MESSAGE_ERROR) {
      GError *e = NULL;
      gchar *debug = NULL;
      gst_message_parse_error (m, &e, &debug);
      CHECK (e && e->message && *e->message, "%s: an error without a message",
          path);
      CHECK (!expect_play, "%s: the library plays it, the pipeline says: %s",
          path, e->message);
      errors++;
      g_error_free (e);
      g_free (debug);
    } else {
      /* A file whose header is not a song's is not given to the decoder: what
       * else GStreamer finds in it (MPEG frames of the clips) is its own affair. */
      CHECK (expect_play || !decoded, "%s: the library refuses it, the element "
          "played it", path);
      played += decoded;
    }
    CHECK (decoded || !expect_play, "%s: a song the library plays did not reach "
        "vantreldec", path);
    not_songs += !decoded;
    if (m)
      gst_message_unref (m);
    gst_element_set_state (pipeline, GST_STATE_NULL);
    gst_object_unref (bus);
    gst_object_unref (pipeline);
    g_free (desc);
    g_free (escaped);
  }
  printf ("hostile: %u files: %d played by vantreldec, %d ended in an error, %d "
      "not taken for songs by the type finder\n", names->len, played, errors,
      not_songs);
  CHECK (names->len > 0, "no songs in %s", dir);
  g_ptr_array_unref (names);
}

int
main (int argc, char **argv)
{
  GError *error = NULL;
  GstPlugin *plugin;

  gst_init (&argc, &argv);
  if (argc < 4) {
    fprintf (stderr, "usage: %s PLUGIN pcm|seek|choice|cycles|hostile ...\n",
        argv[0]);
    return 2;
  }
  plugin = gst_plugin_load_file (argv[1], &error);
  if (!plugin) {
    fprintf (stderr, "cannot load %s: %s\n", argv[1], error->message);
    return 2;
  }
  gst_object_unref (plugin);

  if (strcmp (argv[2], "pcm") == 0 && argc == 5)
    check_pcm (argv[3], argv[4]);
  else if (strcmp (argv[2], "seek") == 0 && argc == 5)
    check_seek (argv[3], argv[4]);
  else if (strcmp (argv[2], "choice") == 0)
    check_choice (argv[3]);
  else if (strcmp (argv[2], "cycles") == 0 && argc == 5)
    check_cycles (argv[3], atoi (argv[4]));
  else if (strcmp (argv[2], "hostile") == 0)
    check_hostile (argv[3]);
  else {
    fprintf (stderr, "unknown check %s\n", argv[2]);
    return 2;
  }
  gst_deinit ();
  if (failures)
    fprintf (stderr, "%d failure(s)\n", failures);
  return failures ? 1 : 0;
}
