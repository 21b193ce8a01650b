/* vantreldec: plays VNF songs (audio/x-vnf) in GStreamer pipelines.
 *
 * A song is only playable once it is complete, so the element is a
 * GstNonstreamAudioDecoder: the base class gathers the whole file from upstream,
 * and the element opens it with libvantrel, draws the performance chosen by the
 * "performance" and "arrangement" properties and renders it as S16LE, 44 100 Hz
 * stereo. Seeks are exact: the samples after a seek are those of an unbroken
 * play at that position. */
#ifndef GST_VANTREL_DEC_H
#define GST_VANTREL_DEC_H

#include <gst/gst.h>
#include <gst/audio/gstnonstreamaudiodecoder.h>
#include <vantrel/vantrel.h>

G_BEGIN_DECLS

#define GST_TYPE_VANTREL_DEC (gst_vantrel_dec_get_type ())
#define GST_VANTREL_DEC(obj) \
  (G_TYPE_CHECK_INSTANCE_CAST ((obj), GST_TYPE_VANTREL_DEC, GstVantrelDec))
#define GST_IS_VANTREL_DEC(obj) (G_TYPE_CHECK_INSTANCE_TYPE ((obj), GST_TYPE_VANTREL_DEC))

/* (GstNonstreamAudioDecoder has no autoptr cleanup, which G_DECLARE_FINAL_TYPE needs.) */
typedef struct _GstVantrelDec GstVantrelDec;
typedef struct
{
  GstNonstreamAudioDecoderClass parent_class;
} GstVantrelDecClass;

GType gst_vantrel_dec_get_type (void);

/* The "performance" value that asks for a new draw on every load. */
#define GST_VANTREL_DEC_PERFORMANCE_RANDOM 0

GST_ELEMENT_REGISTER_DECLARE (vantreldec);

G_END_DECLS

#endif /* GST_VANTREL_DEC_H */
