// The AudioWorkletProcessor that plays a performance: the engine runs here, in the
// audio thread, and renders each 128-frame quantum as it is asked for. The page
// sends it the song's bytes and what to play; it answers with its position.
//
// Underruns are counted here, of two kinds: `short`, a quantum the engine could not
// fill before the performance's end, and `late`, each time the audio rendered so
// far fell behind the wall clock by more than LATE_MS beyond the least it has been
// behind since play started (the output would have run dry: a stall of the audio
// thread, by the engine or by anything else).
import { loadCore, openSong } from './vantrel/vantrel.mjs';

const QUANTUM = 128;
const REPORT_EVERY = 8; // quanta between position reports (about 23 ms)
const LATE_MS = 40;     // more than the output's buffer holds

class VantrelProcessor extends AudioWorkletProcessor {
  constructor(options) {
    super();
    this.song = null;
    this.playing = false;
    this.buffer = new Float32Array(QUANTUM * 2);
    this.quanta = 0;        // quanta delivered while playing
    this.short = 0;
    this.late = 0;
    this.lastFrame = -1;    // currentFrame of the last call while playing
    this.lag = null;        // the least (wall clock - audio clock) since play started, in ms
    this.sinceReport = 0;
    this.ready = loadCore({ wasmModule: options.processorOptions.wasmModule });
    this.queue = Promise.resolve();
    this.port.onmessage = (e) => { this.queue = this.queue.then(() => this.handle(e.data)); };
  }

  async handle(msg) {
    try {
      switch (msg.type) {
        case 'open':
          await this.ready;
          this.close();
          this.song = await openSong(msg.bytes, msg.clipSource ? { clipSource: msg.clipSource } : {});
          break;
        case 'prepare':
          this.song.prepare(msg.performance, msg.arrangement);
          this.lastFrame = -1;
          if (msg.frame) this.song.seekFrame(msg.frame);
          this.report();
          break;
        case 'seek':
          this.song.seekFrame(msg.frame);
          this.lastFrame = -1;
          this.report();
          break;
        case 'play':
          this.playing = !!this.song;
          this.lastFrame = -1;
          break;
        case 'pause':
          this.playing = false;
          this.report();
          break;
        case 'stats':
          this.port.postMessage({ type: 'stats', id: msg.id, quanta: this.quanta, short: this.short,
            late: this.late, frame: this.song && this.song.performance ? this.song.position : 0 });
          break;
        case 'reset-stats':
          this.quanta = 0;
          this.short = 0;
          this.late = 0;
          break;
      }
      if (msg.id !== undefined && msg.type !== 'stats') this.port.postMessage({ type: 'done', id: msg.id });
    } catch (error) {
      this.port.postMessage({ type: 'error', id: msg.id, message: error.message });
    }
  }

  close() {
    if (this.song) this.song.close();
    this.song = null;
    this.playing = false;
  }

  report() {
    if (!this.song || !this.song.performance) return;
    this.sinceReport = 0;
    this.port.postMessage({ type: 'position', frame: this.song.position, time: currentTime, playing: this.playing });
  }

  // Wall clock against audio clock: a stall shows as the wall clock running ahead.
  watchClock() {
    const lag = Date.now() - (currentFrame / sampleRate) * 1000;
    if (this.lastFrame < 0 || currentFrame !== this.lastFrame + QUANTUM) this.lag = lag;
    else if (lag < this.lag) this.lag = lag;
    else if (lag - this.lag > LATE_MS) {
      this.late++;
      this.lag = lag;
    }
    this.lastFrame = currentFrame;
  }

  process(inputs, outputs) {
    const out = outputs[0];
    const left = out[0], right = out[1] || out[0];
    if (!this.playing || !this.song) {
      left.fill(0);
      right.fill(0);
      return true;
    }
    this.watchClock();
    const frames = Math.min(QUANTUM, left.length);
    const buf = frames === QUANTUM ? this.buffer : new Float32Array(frames * 2);
    let n = 0;
    try {
      n = this.song.render(buf);
    } catch (error) {
      this.port.postMessage({ type: 'error', message: error.message });
    }
    for (let i = 0; i < n; i++) {
      left[i] = buf[2 * i];
      right[i] = buf[2 * i + 1];
    }
    left.fill(0, n);
    right.fill(0, n);
    this.quanta++;
    if (n < frames) {
      if (!this.song.atEnd) this.short++;
      this.playing = false;
      this.report();
      this.port.postMessage({ type: 'ended' });
    } else if (++this.sinceReport >= REPORT_EVERY) {
      this.report();
    }
    return true;
  }
}

registerProcessor('vantrel-player', VantrelProcessor);
