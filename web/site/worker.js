// The page's worker: the picture's events (which need a whole render of the
// performance) and "Save as WAV", off the page's thread. Each request opens its
// own song from the bytes it is given.
import { openSong, wavFile, SAMPLE_RATE } from './vantrel/vantrel.mjs';

const CHUNK = SAMPLE_RATE; // frames per render call (one second)

self.onmessage = async (e) => {
  const msg = e.data;
  let song = null;
  try {
    song = await openSong(msg.bytes, msg.clipSource ? { clipSource: msg.clipSource } : {});
    if (msg.type === 'events') {
      song.prepare(msg.performance, msg.arrangement);
      self.postMessage({ type: 'events', id: msg.id, events: song.events(msg.performance, msg.arrangement) });
    } else if (msg.type === 'wav') {
      const perf = song.prepare(msg.performance, msg.arrangement);
      const expected = Math.max(1, Math.ceil(perf.lengthMs * SAMPLE_RATE / 1000) + CHUNK);
      let pcm = new Int16Array(expected * 2);
      let frames = 0;
      for (;;) {
        if (pcm.length - frames * 2 < CHUNK * 2) {
          const bigger = new Int16Array(pcm.length * 2);
          bigger.set(pcm);
          pcm = bigger;
        }
        const n = song.render(pcm.subarray(frames * 2, frames * 2 + CHUNK * 2));
        frames += n;
        self.postMessage({ type: 'progress', id: msg.id, done: Math.min(1, frames / expected) });
        if (n < CHUNK) break;
      }
      const file = wavFile(pcm.subarray(0, frames * 2), { texts: song.texts, performance: perf.number });
      self.postMessage({ type: 'wav', id: msg.id, bytes: file, frames }, [file.buffer]);
    }
  } catch (error) {
    self.postMessage({ type: 'error', id: msg.id, message: error.message });
  } finally {
    if (song) song.close();
  }
};
