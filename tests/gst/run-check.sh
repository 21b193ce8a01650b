#!/usr/bin/env bash
# Runs one check of vantrel_gst_check (see its header) with what it needs: the
# reference render of the demo song's performance 1 from the vantrel tool, or the
# hostile songs from vantrel_corpus. Called by ctest with VANTREL, GST_CHECK,
# GST_PLUGIN, CORPUS, SOURCE_DIR and WORK_DIR set.
set -euo pipefail
check=$1
work=$(mktemp -d "$WORK_DIR/$check.XXXXXX")
trap 'rm -rf "$work"' EXIT
# A registry of our own: nothing cached from another build or run.
export GST_REGISTRY="$work/registry.bin"
# GLib's slice allocator hands out memory from blocks of its own, which hides leaked
# GStreamer objects (tag lists, events, ...) from LeakSanitizer in the sanitizer build.
export G_SLICE=always-malloc G_DEBUG=gc-friendly
song="$SOURCE_DIR/examples/demo.vn"
case $check in
  pcm | seek)
    "$VANTREL" render "$song" --raw --performance 1 -o "$work/ref.raw" 2>/dev/null
    exec "$GST_CHECK" "$GST_PLUGIN" "$check" "$song" "$work/ref.raw" ;;
  choice) exec "$GST_CHECK" "$GST_PLUGIN" choice "$song" ;;
  cycles) exec "$GST_CHECK" "$GST_PLUGIN" cycles "$song" 100 ;;
  hostile)
    mkdir "$work/songs"
    "$CORPUS" hostile "$SOURCE_DIR" "$work/songs" >/dev/null
    # Not a song file at all: a folder under a song's name.
    mkdir "$work/songs/a-folder.vn"
    exec "$GST_CHECK" "$GST_PLUGIN" hostile "$work/songs" ;;
  *) echo "unknown check $check" >&2; exit 2 ;;
esac
