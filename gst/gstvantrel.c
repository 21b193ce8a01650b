/* The vantrel GStreamer plug-in: the vantreldec element and a type finder that
 * recognises VNF songs, so that decodebin and playbin pick the element themselves. */
#include "gstvantreldec.h"
#include "VantrelVersion.h"

#include <string.h>

#define PACKAGE "vantrel"

/* A song begins with "VNF", three bytes of text, the format flags (0) and the
 * format version (0x60 or 0x61). */
static GstStaticCaps vnf_caps = GST_STATIC_CAPS ("audio/x-vnf");

static void
vnf_type_find (GstTypeFind * tf, G_GNUC_UNUSED gpointer user_data)
{
  const guint8 *data = gst_type_find_peek (tf, 0, 8);

  if (data && memcmp (data, "VNF", 3) == 0 && data[6] == 0
      && (data[7] == 0x60 || data[7] == 0x61))
    gst_type_find_suggest (tf, GST_TYPE_FIND_MAXIMUM,
        gst_static_caps_get (&vnf_caps));
}

static gboolean
plugin_init (GstPlugin * plugin)
{
  gboolean ok = gst_type_find_register (plugin, "audio/x-vnf", GST_RANK_PRIMARY,
      vnf_type_find, "vn", gst_static_caps_get (&vnf_caps), NULL, NULL);

  return GST_ELEMENT_REGISTER (vantreldec, plugin) && ok;
}

GST_PLUGIN_DEFINE (GST_VERSION_MAJOR, GST_VERSION_MINOR, vantrel,
    "Plays VNF songs (.vn)", plugin_init, VANTREL_VERSION_STRING, "BSD",
    "vantrel", "https://example.org/vantrel")
