/* vantreldec: the decoder element of the vantrel GStreamer plug-in (see the header).
 *
 * Threads: the base class calls every virtual method below with its decoder mutex
 * held, and only one of them runs at a time, so the song handle needs no lock of its
 * own. The properties are read and written under the object lock; a new
 * "performance" or "arrangement" takes effect at the next load (READY to PAUSED). */
#ifdef HAVE_CONFIG_H
#include "config.h"
#endif

#include "gstvantreldec.h"

#include <string.h>

GST_DEBUG_CATEGORY_STATIC (vantrel_dec_debug);
#define GST_CAT_DEFAULT vantrel_dec_debug

/* The highest "performance": reaching performance N draws N times (some 0.2 s for
 * a million), on the streaming thread, which a state change waits for. */
#define MAX_PERFORMANCE 1000000

/* Frames per output buffer: about 93 ms, a few engine blocks. */
#define FRAMES_PER_BUFFER 4096
#define RATE VANTREL_SAMPLE_RATE

enum
{
  PROP_0,
  PROP_PERFORMANCE,
  PROP_ARRANGEMENT,
  PROP_CURRENT_PERFORMANCE,
};

struct _GstVantrelDec
{
  GstNonstreamAudioDecoder parent;

  /* Properties (object lock). */
  gint performance;
  gchar *arrangement;
  gint current_performance;

  /* The base class's sink pad event function, which the element's wraps. */
  GstPadEventFunction base_sink_event;
  /* A load failed since the last start (error already posted). */
  gboolean load_failed;

  /* The loaded song (decoder mutex). */
  vantrel_song *song;
  gint32 length_ms;
  GstTagList *tags;
};

static GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE ("sink",
    GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS ("audio/x-vnf"));

static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE ("src",
    GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS ("audio/x-raw, format = (string) S16LE, "
        "layout = (string) interleaved, "
        "rate = (int) " G_STRINGIFY (VANTREL_SAMPLE_RATE) ", "
        "channels = (int) " G_STRINGIFY (VANTREL_CHANNELS)));

G_DEFINE_TYPE (GstVantrelDec, gst_vantrel_dec, GST_TYPE_NONSTREAM_AUDIO_DECODER);
GST_ELEMENT_REGISTER_DEFINE (vantreldec, "vantreldec", GST_RANK_PRIMARY,
    GST_TYPE_VANTREL_DEC);

/* Song texts are 8-bit; each byte stands for the character of the same code
 * (U+0001 to U+00FF), as the vantrel tool shows them. */
static gchar *
text_to_utf8 (const char *text)
{
  GString *out = g_string_sized_new (strlen (text) + 8);
  const guchar *p;

  for (p = (const guchar *) text; *p; ++p)
    g_string_append_unichar (out, *p);
  return g_string_free (out, FALSE);
}

static void
add_text_tag (GstTagList * tags, vantrel_song * song, int which,
    const gchar * tag)
{
  char buffer[256];
  gchar *utf8;

  if (vantrel_song_get_text (song, which, buffer, sizeof buffer,
          NULL) != VANTREL_OK || buffer[0] == '\0')
    return;
  utf8 = text_to_utf8 (buffer);
  gst_tag_list_add (tags, GST_TAG_MERGE_REPLACE, tag, utf8, NULL);
  g_free (utf8);
}

static void
gst_vantrel_dec_close_song (GstVantrelDec * self)
{
  vantrel_song_close (self->song);
  self->song = NULL;
  g_clear_pointer (&self->tags, gst_tag_list_unref);
  self->length_ms = 0;
}

/* Posts an error from inside a virtual method: the base class holds its mutex
 * there, and an application may call into the element when it sees the message. */
#define POST_ERROR(self, code, text, debug)                                  \
  G_STMT_START {                                                             \
    GST_NONSTREAM_AUDIO_DECODER_UNLOCK_MUTEX (self);                         \
    GST_ELEMENT_ERROR (self, STREAM, code, text, debug);                     \
    GST_NONSTREAM_AUDIO_DECODER_LOCK_MUTEX (self);                           \
  } G_STMT_END

static gboolean
gst_vantrel_dec_load_from_buffer (GstNonstreamAudioDecoder * dec,
    GstBuffer * source_data, G_GNUC_UNUSED guint initial_subsong,
    G_GNUC_UNUSED GstNonstreamAudioSubsongMode initial_subsong_mode,
    GstClockTime * initial_position,
    GstNonstreamAudioOutputMode * initial_output_mode,
    G_GNUC_UNUSED gint * initial_num_loops)
{
  GstVantrelDec *self = GST_VANTREL_DEC (dec);
  GstMapInfo map;
  vantrel_song *song = NULL;
  gint requested, number = 0, arrangement_index = -1;
  gboolean drawn;
  gchar *arrangement;
  char arrangement_name[256] = "";
  int result;

  gst_vantrel_dec_close_song (self);

  if (!gst_buffer_map (source_data, &map, GST_MAP_READ)) {
    self->load_failed = TRUE;
    POST_ERROR (self, FAILED, (NULL), ("cannot map the song data"));
    return FALSE;
  }
  result = vantrel_song_open_memory (map.data, map.size, &song);
  gst_buffer_unmap (source_data, &map);
  if (result != VANTREL_OK) {
    /* The library names the song "(memory)"; the user knows it by its own name. */
    const char *reason = vantrel_get_last_error ();
    if (g_str_has_prefix (reason, "(memory): "))
      reason += strlen ("(memory): ");
    self->load_failed = TRUE;
    POST_ERROR (self, DECODE, ("%s", reason),
        ("vantrel_song_open_memory: %s", vantrel_strerror (result)));
    return FALSE;
  }

  GST_OBJECT_LOCK (self);
  requested = self->performance;
  arrangement = g_strdup (self->arrangement);
  GST_OBJECT_UNLOCK (self);

  drawn = requested == GST_VANTREL_DEC_PERFORMANCE_RANDOM;
  if (drawn)
    requested = g_random_int_range (1, 10000);
  result = vantrel_song_prepare (song, requested,
      arrangement && *arrangement ? arrangement : NULL);
  if (result != VANTREL_OK) {
    self->load_failed = TRUE;
    POST_ERROR (self, DECODE, ("%s", vantrel_get_last_error ()),
        ("vantrel_song_prepare (performance %d, arrangement %s): %s",
            requested, arrangement ? arrangement : "(any)",
            vantrel_strerror (result)));
    g_free (arrangement);
    vantrel_song_close (song);
    return FALSE;
  }
  g_free (arrangement);

  self->song = song;
  vantrel_song_get_performance (song, &number, &arrangement_index,
      &self->length_ms, NULL);
  vantrel_song_get_arrangement (song, arrangement_index, arrangement_name,
      sizeof arrangement_name, NULL, NULL);

  GST_OBJECT_LOCK (self);
  self->current_performance = number;
  GST_OBJECT_UNLOCK (self);
  g_object_notify (G_OBJECT (self), "current-performance");

  self->tags = gst_tag_list_new_empty ();
  add_text_tag (self->tags, song, VANTREL_TEXT_TITLE, GST_TAG_TITLE);
  add_text_tag (self->tags, song, VANTREL_TEXT_AUTHOR, GST_TAG_ARTIST);
  add_text_tag (self->tags, song, VANTREL_TEXT_PUBLISHER, GST_TAG_ORGANIZATION);
  add_text_tag (self->tags, song, VANTREL_TEXT_GENRE, GST_TAG_GENRE);
  add_text_tag (self->tags, song, VANTREL_TEXT_COPYRIGHT, GST_TAG_COPYRIGHT);
  {
    gchar *name = text_to_utf8 (arrangement_name);
    gchar *comment = g_strdup_printf ("performance %d (arrangement \"%s\")",
        number, name);
    gst_tag_list_add (self->tags, GST_TAG_MERGE_REPLACE,
        GST_TAG_TRACK_NUMBER, (guint) number, GST_TAG_COMMENT, comment,
        GST_TAG_AUDIO_CODEC, "VNF song", NULL);
    g_free (comment);
    g_free (name);
  }

  GST_INFO_OBJECT (self, "playing performance %d, arrangement %d, %d ms",
      number, arrangement_index, self->length_ms);
  if (drawn || number != requested) {
    /* Say which number was played, so that it can be asked for again. */
    GST_NONSTREAM_AUDIO_DECODER_UNLOCK_MUTEX (self);
    /* gst-launch-1.0 shows the debug text of an INFO message, so it says it too. */
    GST_ELEMENT_INFO (self, STREAM, DECODE,
        ("playing performance %d (performance=%d gives it again)", number,
            number), ("playing performance %d (performance=%d gives it again)",
            number, number));
    GST_NONSTREAM_AUDIO_DECODER_LOCK_MUTEX (self);
  }

  *initial_position = 0;
  *initial_output_mode = GST_NONSTREAM_AUDIO_OUTPUT_MODE_STEADY;
  return gst_nonstream_audio_decoder_set_output_format_simple (dec, RATE,
      GST_AUDIO_FORMAT_S16LE, VANTREL_CHANNELS);
}

/* The tags go out as the (one) subsong's: the base class merges main tags into a
 * list it then loses, once per load. */
static GstTagList *
gst_vantrel_dec_get_subsong_tags (GstNonstreamAudioDecoder * dec,
    G_GNUC_UNUSED guint subsong)
{
  GstVantrelDec *self = GST_VANTREL_DEC (dec);
  GstTagList *tags;

  if (!self->tags)
    return NULL;
  tags = gst_tag_list_copy (self->tags);
  gst_tag_list_add (tags, GST_TAG_MERGE_REPLACE, GST_TAG_DURATION,
      (guint64) self->length_ms * GST_MSECOND, NULL);
  return tags;
}

/* The base class never releases the EOS event it is given. Once the song is loaded
 * (or its load has failed and said so) EOS means nothing more here, and the
 * element takes it; before that the base class loads from what it has. */
static gboolean
gst_vantrel_dec_sink_event (GstPad * pad, GstObject * parent, GstEvent * event)
{
  GstVantrelDec *self = GST_VANTREL_DEC (parent);
  GstNonstreamAudioDecoder *dec = GST_NONSTREAM_AUDIO_DECODER (parent);

  if (GST_EVENT_TYPE (event) == GST_EVENT_EOS) {
    gboolean loaded, failed;
    gsize pending;

    GST_NONSTREAM_AUDIO_DECODER_LOCK_MUTEX (self);
    loaded = dec->loaded_mode;
    failed = self->load_failed;
    pending = gst_adapter_available (dec->input_data_adapter);
    GST_NONSTREAM_AUDIO_DECODER_UNLOCK_MUTEX (self);
    if (loaded || failed) {
      gst_event_unref (event);
      return loaded;
    }
    if (pending == 0) {
      gst_event_unref (event);
      GST_ELEMENT_ERROR (self, STREAM, DECODE, ("The song file is empty."),
          ("EOS before any data"));
      return FALSE;
    }
  }
  return self->base_sink_event (pad, parent, event);
}

static GstClockTime
gst_vantrel_dec_get_subsong_duration (GstNonstreamAudioDecoder * dec,
    G_GNUC_UNUSED guint subsong)
{
  GstVantrelDec *self = GST_VANTREL_DEC (dec);

  if (!self->song)
    return GST_CLOCK_TIME_NONE;
  return (GstClockTime) self->length_ms * GST_MSECOND;
}

static guint
gst_vantrel_dec_get_supported_output_modes (G_GNUC_UNUSED
    GstNonstreamAudioDecoder * dec)
{
  return 1u << GST_NONSTREAM_AUDIO_OUTPUT_MODE_STEADY;
}

/* The exact seek: the first frame at or after the requested time is the next one
 * played, with the samples an unbroken play has there. */
static gboolean
gst_vantrel_dec_seek (GstNonstreamAudioDecoder * dec,
    GstClockTime * new_position)
{
  GstVantrelDec *self = GST_VANTREL_DEC (dec);
  guint64 frame;
  gint64 reached = 0;

  if (!self->song)
    return FALSE;
  frame = gst_util_uint64_scale_int_ceil (*new_position, RATE, GST_SECOND);
  if (frame > G_MAXINT64)
    frame = G_MAXINT64;
  if (vantrel_song_seek_frame (self->song, (int64_t) frame) != VANTREL_OK
      || vantrel_song_tell (self->song, &reached) != VANTREL_OK)
    goto failed;
  /* The base class turns the position back into a frame by rounding down. */
  *new_position = gst_util_uint64_scale_int_ceil ((guint64) reached, GST_SECOND,
      RATE);
  GST_DEBUG_OBJECT (self, "seek to frame %" G_GUINT64_FORMAT ", at %"
      G_GINT64_FORMAT, frame, reached);
  return TRUE;

failed:
  GST_WARNING_OBJECT (self, "seek to %" GST_TIME_FORMAT " failed: %s",
      GST_TIME_ARGS (*new_position), vantrel_get_last_error ());
  return FALSE;
}

static GstClockTime
gst_vantrel_dec_tell (GstNonstreamAudioDecoder * dec)
{
  GstVantrelDec *self = GST_VANTREL_DEC (dec);
  gint64 frame = 0;

  if (!self->song || vantrel_song_tell (self->song, &frame) != VANTREL_OK)
    return GST_CLOCK_TIME_NONE;
  return gst_util_uint64_scale_int_ceil ((guint64) frame, GST_SECOND, RATE);
}

/* Ends the output: EOS, or for a segment seek SEGMENT_DONE (the application then
 * seeks again). The base class would push EOS itself when decode() returns FALSE,
 * but it does so holding its decoder mutex: a sink that blocks on EOS (appsink until
 * its queue is read, an audio sink until the end has played) then holds up every
 * seek, which takes that mutex first, and in PAUSED for good. So the element pushes
 * the event itself without the mutex and returns no buffer, which makes the base
 * class pause its task (logging that no buffer came) until the next seek. */
static void
end_output (GstVantrelDec * self, gboolean segment_seek, gint64 position)
{
  GstNonstreamAudioDecoder *dec = GST_NONSTREAM_AUDIO_DECODER (self);
  GstPad *srcpad = GST_NONSTREAM_AUDIO_DECODER_SRC_PAD (dec);

  GST_NONSTREAM_AUDIO_DECODER_UNLOCK_MUTEX (self);
  if (segment_seek) {
    GST_DEBUG_OBJECT (self, "segment done at %" GST_TIME_FORMAT,
        GST_TIME_ARGS (position));
    gst_element_post_message (GST_ELEMENT (self),
        gst_message_new_segment_done (GST_OBJECT (self), GST_FORMAT_TIME,
            position));
    gst_pad_push_event (srcpad, gst_event_new_segment_done (GST_FORMAT_TIME,
            position));
  } else {
    GST_DEBUG_OBJECT (self, "end of the performance");
    gst_pad_push_event (srcpad, gst_event_new_eos ());
  }
  GST_NONSTREAM_AUDIO_DECODER_LOCK_MUTEX (self);
}

static gboolean
gst_vantrel_dec_decode (GstNonstreamAudioDecoder * dec, GstBuffer ** buffer,
    guint * num_samples)
{
  GstVantrelDec *self = GST_VANTREL_DEC (dec);
  const GstSegment *segment = &dec->cur_segment;
  gboolean segment_seek = (segment->flags & GST_SEGMENT_FLAG_SEGMENT) != 0;
  guint64 frames = FRAMES_PER_BUFFER;
  gint64 position = 0;
  GstBuffer *out;
  GstMapInfo map;
  long rendered;

  *buffer = NULL;
  *num_samples = 0;
  if (!self->song)
    return FALSE;

  vantrel_song_tell (self->song, &position);
  /* A seek's stop position ends the output there. */
  if (GST_CLOCK_TIME_IS_VALID (segment->stop)) {
    guint64 stop = gst_util_uint64_scale_int_ceil (segment->stop, RATE,
        GST_SECOND);
    frames = (guint64) position < stop ? MIN (frames, stop - (guint64) position)
        : 0;
  }

  rendered = 0;
  if (frames > 0) {
    out = gst_nonstream_audio_decoder_allocate_output_buffer (dec,
        frames * VANTREL_BYTES_PER_FRAME);
    if (!out) {
      POST_ERROR (self, FAILED, (NULL), ("cannot allocate an output buffer"));
      return FALSE;
    }
    gst_buffer_map (out, &map, GST_MAP_WRITE);
    rendered = vantrel_song_render (self->song, (int16_t *) map.data,
        (size_t) frames);
#if G_BYTE_ORDER == G_BIG_ENDIAN
    if (rendered > 0) {
      guint16 *s = (guint16 *) map.data;
      long i;
      for (i = 0; i < rendered * VANTREL_CHANNELS; ++i)
        s[i] = GUINT16_SWAP_LE_BE (s[i]);
    }
#endif
    gst_buffer_unmap (out, &map);
    if (rendered < 0) {
      gst_buffer_unref (out);
      POST_ERROR (self, DECODE, ("%s", vantrel_get_last_error ()),
          ("vantrel_song_render: %s", vantrel_strerror ((int) rendered)));
      return FALSE;
    }
    if (rendered > 0) {
      gst_buffer_set_size (out, (gsize) rendered * VANTREL_BYTES_PER_FRAME);
      *buffer = out;
      *num_samples = (guint) rendered;
      return TRUE;
    }
    gst_buffer_unref (out);
  }

  /* At the end of the song or of the seek's segment. */
  end_output (self, segment_seek, GST_CLOCK_TIME_IS_VALID (segment->stop)
      ? (gint64) segment->stop : (gint64) gst_util_uint64_scale_int_ceil ((guint64)
          position, GST_SECOND, RATE));
  return TRUE;
}

static void
gst_vantrel_dec_set_property (GObject * object, guint prop_id,
    const GValue * value, GParamSpec * pspec)
{
  GstVantrelDec *self = GST_VANTREL_DEC (object);

  switch (prop_id) {
    case PROP_PERFORMANCE:
      GST_OBJECT_LOCK (self);
      self->performance = g_value_get_int (value);
      GST_OBJECT_UNLOCK (self);
      break;
    case PROP_ARRANGEMENT:
      GST_OBJECT_LOCK (self);
      g_free (self->arrangement);
      self->arrangement = g_value_dup_string (value);
      GST_OBJECT_UNLOCK (self);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID (object, prop_id, pspec);
      break;
  }
}

static void
gst_vantrel_dec_get_property (GObject * object, guint prop_id, GValue * value,
    GParamSpec * pspec)
{
  GstVantrelDec *self = GST_VANTREL_DEC (object);

  GST_OBJECT_LOCK (self);
  switch (prop_id) {
    case PROP_PERFORMANCE:
      g_value_set_int (value, self->performance);
      break;
    case PROP_ARRANGEMENT:
      g_value_set_string (value, self->arrangement);
      break;
    case PROP_CURRENT_PERFORMANCE:
      g_value_set_int (value, self->current_performance);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID (object, prop_id, pspec);
      break;
  }
  GST_OBJECT_UNLOCK (self);
}

static GstStateChangeReturn
gst_vantrel_dec_change_state (GstElement * element, GstStateChange transition)
{
  GstVantrelDec *self = GST_VANTREL_DEC (element);
  GstStateChangeReturn ret;

  ret = GST_ELEMENT_CLASS (gst_vantrel_dec_parent_class)->change_state (element,
      transition);
  if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
    GstNonstreamAudioDecoder *dec = GST_NONSTREAM_AUDIO_DECODER (self);

    /* The base class has stopped its task: nothing renders any more. It forgets
     * the loaded song only on the way to NULL, and back in PAUSED it would wait
     * for nothing; so the element makes it load again from what upstream sends,
     * as after NULL. */
    GST_NONSTREAM_AUDIO_DECODER_LOCK_MUTEX (self);
    gst_vantrel_dec_close_song (self);
    self->load_failed = FALSE;
    dec->loaded_mode = FALSE;
    dec->upstream_size = -1;
    gst_adapter_clear (dec->input_data_adapter);
    dec->cur_pos_in_samples = 0;
    dec->num_decoded_samples = 0;
    gst_segment_init (&dec->cur_segment, GST_FORMAT_TIME);
    dec->discont = FALSE;
    GST_NONSTREAM_AUDIO_DECODER_UNLOCK_MUTEX (self);
  }
  return ret;
}

static void
gst_vantrel_dec_finalize (GObject * object)
{
  GstVantrelDec *self = GST_VANTREL_DEC (object);

  gst_vantrel_dec_close_song (self);
  g_free (self->arrangement);
  G_OBJECT_CLASS (gst_vantrel_dec_parent_class)->finalize (object);
}

static void
gst_vantrel_dec_init (GstVantrelDec * self)
{
  GstPad *sinkpad =
      GST_NONSTREAM_AUDIO_DECODER_SINK_PAD (GST_NONSTREAM_AUDIO_DECODER (self));

  self->performance = 1;
  self->base_sink_event = GST_PAD_EVENTFUNC (sinkpad);
  gst_pad_set_event_function (sinkpad,
      GST_DEBUG_FUNCPTR (gst_vantrel_dec_sink_event));
}

static void
gst_vantrel_dec_class_init (GstVantrelDecClass * klass)
{
  GObjectClass *object_class = G_OBJECT_CLASS (klass);
  GstElementClass *element_class = GST_ELEMENT_CLASS (klass);
  GstNonstreamAudioDecoderClass *dec_class =
      GST_NONSTREAM_AUDIO_DECODER_CLASS (klass);

  GST_DEBUG_CATEGORY_INIT (vantrel_dec_debug, "vantreldec", 0,
      "VNF song decoder");

  object_class->set_property = gst_vantrel_dec_set_property;
  object_class->get_property = gst_vantrel_dec_get_property;
  object_class->finalize = gst_vantrel_dec_finalize;

  g_object_class_install_property (object_class, PROP_PERFORMANCE,
      g_param_spec_int ("performance", "Performance",
          "Which performance to play: N is the N-th draw of a freshly started "
          "player (the same PCM as 'vantrel render --performance N'); 0 draws a "
          "number from 1 to 9999 at every load (read it from "
          "current-performance, the track-number tag or the INFO message)",
          0, MAX_PERFORMANCE, 1, G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS));
  g_object_class_install_property (object_class, PROP_ARRANGEMENT,
      g_param_spec_string ("arrangement", "Arrangement",
          "Play the first performance from 'performance' on whose draw chose the "
          "arrangement of this exact name (NULL or empty: any arrangement)",
          NULL, G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS));
  g_object_class_install_property (object_class, PROP_CURRENT_PERFORMANCE,
      g_param_spec_int ("current-performance", "Current performance",
          "The number of the performance being played (0 before a song is "
          "loaded); 'performance' set to it plays it again",
          0, G_MAXINT, 0, G_PARAM_READABLE | G_PARAM_STATIC_STRINGS));

  gst_element_class_add_static_pad_template (element_class, &sink_template);
  gst_element_class_add_static_pad_template (element_class, &src_template);
  gst_element_class_set_static_metadata (element_class, "VNF song decoder",
      "Codec/Decoder/Audio",
      "Plays VNF songs (.vn): draws a performance and mixes it to 44100 Hz "
      "16-bit stereo", "Vantrel developers <vantrel@example.org>");

  element_class->change_state = GST_DEBUG_FUNCPTR (gst_vantrel_dec_change_state);

  dec_class->loads_from_sinkpad = TRUE;
  dec_class->load_from_buffer = GST_DEBUG_FUNCPTR (gst_vantrel_dec_load_from_buffer);
  dec_class->get_subsong_tags =
      GST_DEBUG_FUNCPTR (gst_vantrel_dec_get_subsong_tags);
  dec_class->get_subsong_duration =
      GST_DEBUG_FUNCPTR (gst_vantrel_dec_get_subsong_duration);
  dec_class->get_supported_output_modes =
      GST_DEBUG_FUNCPTR (gst_vantrel_dec_get_supported_output_modes);
  dec_class->seek = GST_DEBUG_FUNCPTR (gst_vantrel_dec_seek);
  dec_class->tell = GST_DEBUG_FUNCPTR (gst_vantrel_dec_tell);
  dec_class->decode = GST_DEBUG_FUNCPTR (gst_vantrel_dec_decode);
}
