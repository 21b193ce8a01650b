// Types of the vantrel package (vantrel.mjs).

export declare const SAMPLE_RATE: 44100;
export declare const CHANNELS: 2;

/** A failure of the engine, with its message and result code. */
export declare class VantrelError extends Error {
  readonly code: number;
  constructor(message: string, code: number);
}

export interface CoreOptions {
  /** A compiled vantrel-core.wasm (for example handed to an AudioWorklet). */
  wasmModule?: WebAssembly.Module;
  /** The bytes of vantrel-core.wasm. */
  wasmBinary?: Uint8Array | ArrayBuffer;
}

export interface OpenOptions extends CoreOptions {
  /** How clips are decoded: every start from the song data, or each stretch once from memory (the same PCM). Default: the library's own. */
  clipSource?: 'direct' | 'cache';
}

export interface SongTexts {
  title: string;
  author: string;
  publisher: string;
  genre: string;
  copyright: string;
}

export interface Arrangement {
  name: string;
  /** Indexes into Song.sections, in playing order. */
  sections: number[];
}

export interface Variation {
  name: string;
  lengthMs: number;
  tracks: number;
}

export interface Section {
  name: string;
  variations: Variation[];
}

export interface Clip {
  /** 0 no data, 1 another format, 2 MPEG audio. */
  kind: number;
  size: number;
}

export interface Entry {
  section: number;
  variation: number;
  startMs: number;
  lengthMs: number;
}

export interface Performance {
  number: number;
  /** Index into Song.arrangements. */
  arrangement: number;
  lengthMs: number;
  entries: Entry[];
}

export interface PerformanceEvent {
  entry: number;
  track: number;
  /** From the start of its entry. */
  startMs: number;
  lengthMs: number;
  /** 0-3 its track's voice, 4-11 an overflow voice, -1 not played. */
  voice: number;
  clip: string;
}

export declare class Song {
  /** Song texts; every byte of the file is the character of the same code. */
  readonly texts: SongTexts;
  readonly fileSize: number;
  readonly arrangements: Arrangement[];
  readonly sections: Section[];
  readonly clips: Clip[];
  readonly performance: Performance | null;
  readonly lengthMs: number;
  /** The frame of the performance that the next render starts with. */
  readonly position: number;
  readonly atEnd: boolean;
  setOption(name: 'clip-source' | 'decoder' | string, value: string): void;
  /** Draws performance N (1 or more), optionally the first from N on that chose an arrangement (name or index). */
  prepare(performance?: number, arrangement?: string | number): Performance;
  /** Interleaved stereo frames; returns the frames written, fewer only at the end. */
  render(buffer: Int16Array | Float32Array): number;
  /** Exact seek: the next frame is frame floor(ms * 44.1). */
  seek(ms: number): void;
  seekFrame(frame: number): void;
  /** The media player's seek: resumes at the start of the entry holding that share; returns its start in ms. */
  seekPercent(percent: number): number;
  events(performance?: number, arrangement?: number): PerformanceEvent[];
  close(): void;
}

export declare function loadCore(options?: CoreOptions): Promise<unknown>;
export declare function openSong(bytes: Uint8Array | ArrayBuffer, options?: OpenOptions): Promise<Song>;
export declare function version(): Promise<string>;
export declare function wavFile(pcm: Int16Array, info?: { texts?: Partial<SongTexts>; performance?: number }): Uint8Array;
