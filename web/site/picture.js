// The picture of a performance, drawn on a canvas as `vantrel arrange --picture`
// draws it: a ruler in m:ss, one column per entry named by its section and
// variation, one lane per track, each clip event as a bar from its start to its
// end coloured by the voice it sounds on (its track's, an overflow voice, or grey
// when it is not played), and the playhead.

const PAD = 6;
const RULER = 18;
const HEADER = 34;

function colours(canvas) {
  const css = getComputedStyle(canvas);
  const v = (name) => css.getPropertyValue(name).trim();
  return {
    ink: v('--ink'), muted: v('--muted'), line: v('--line'), entryA: v('--entry-a'), entryB: v('--entry-b'),
    tracks: [v('--track0'), v('--track1'), v('--track2'), v('--track3')], overflow: v('--overflow'),
    idle: v('--idle'), playhead: v('--playhead'), panel: v('--panel'), barInk: v('--bar-ink'),
  };
}

function geometry(canvas, perf) {
  const width = canvas.clientWidth;
  return { width, left: PAD, right: width - PAD, scale: (width - 2 * PAD) / Math.max(1, perf.lengthMs) };
}

/** The time in ms under x (CSS pixels from the canvas's left edge), or null outside. */
export function timeAt(canvas, perf, x) {
  const g = geometry(canvas, perf);
  if (x < g.left - PAD || x > g.right + PAD) return null;
  return Math.max(0, Math.min(perf.lengthMs, (x - g.left) / g.scale));
}

function clock(ms) {
  const s = Math.round(ms / 1000);
  return `${Math.floor(s / 60)}:${String(s % 60).padStart(2, '0')}`;
}

function fitText(ctx, text, width) {
  if (ctx.measureText(text).width <= width) return text;
  let s = text;
  while (s.length > 1 && ctx.measureText(`${s}…`).width > width) s = s.slice(0, -1);
  return s.length > 1 ? `${s}…` : '';
}

export function drawPicture(canvas, { song, perf, events, ms }) {
  const ratio = window.devicePixelRatio || 1;
  const cssW = canvas.clientWidth, cssH = canvas.clientHeight;
  if (!cssW || !cssH) return;
  if (canvas.width !== Math.round(cssW * ratio) || canvas.height !== Math.round(cssH * ratio)) {
    canvas.width = Math.round(cssW * ratio);
    canvas.height = Math.round(cssH * ratio);
  }
  const ctx = canvas.getContext('2d');
  ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
  const c = colours(canvas);
  const g = geometry(canvas, perf);
  const x = (t) => g.left + t * g.scale;
  ctx.clearRect(0, 0, cssW, cssH);
  ctx.font = '11px system-ui, sans-serif';
  ctx.textBaseline = 'middle';

  // Entries: alternating columns with their section and variation.
  const lanes = Math.max(4, ...perf.entries.map((e) => song.sections[e.section]?.variations[e.variation]?.tracks ?? 0));
  const top = RULER + HEADER;
  const laneH = (cssH - top - PAD) / lanes;
  perf.entries.forEach((e, i) => {
    const x0 = x(e.startMs), x1 = x(e.startMs + e.lengthMs);
    ctx.fillStyle = i % 2 ? c.entryB : c.entryA;
    ctx.fillRect(x0, RULER, x1 - x0, cssH - RULER);
    ctx.strokeStyle = c.line;
    ctx.beginPath();
    ctx.moveTo(Math.round(x0) + 0.5, RULER);
    ctx.lineTo(Math.round(x0) + 0.5, cssH);
    ctx.stroke();
    const section = song.sections[e.section];
    const variation = section?.variations[e.variation];
    ctx.fillStyle = c.ink;
    ctx.fillText(fitText(ctx, section?.name ?? '', x1 - x0 - 6), x0 + 3, RULER + 10);
    ctx.fillStyle = c.muted;
    ctx.fillText(fitText(ctx, variation?.name ?? '', x1 - x0 - 6), x0 + 3, RULER + 24);
  });

  // The ruler: a tick every 1, 5, 10, 30 or 60 s, whichever leaves room for labels.
  const step = [1000, 2000, 5000, 10000, 15000, 30000, 60000, 120000, 300000]
    .find((s) => s * g.scale >= 42) ?? 600000;
  ctx.fillStyle = c.muted;
  ctx.strokeStyle = c.line;
  for (let t = 0; t <= perf.lengthMs; t += step) {
    const tx = Math.round(x(t)) + 0.5;
    ctx.beginPath();
    ctx.moveTo(tx, RULER - 5);
    ctx.lineTo(tx, RULER);
    ctx.stroke();
    if (tx + 30 < cssW) ctx.fillText(clock(t), tx + 2, 7);
  }

  // Lanes and bars. Overlapping bars of a lane go to sub-rows.
  for (let l = 1; l < lanes; l++) {
    const y = Math.round(top + l * laneH) + 0.5;
    ctx.strokeStyle = c.line;
    ctx.setLineDash([2, 3]);
    ctx.beginPath();
    ctx.moveTo(g.left, y);
    ctx.lineTo(g.right, y);
    ctx.stroke();
    ctx.setLineDash([]);
  }
  if (events) {
    const rows = Array.from({ length: lanes }, () => []);
    const placed = events.map((ev) => {
      const start = perf.entries[ev.entry].startMs + Math.max(0, ev.startMs);
      return { ev, start, end: start + Math.max(0, ev.lengthMs) };
    }).sort((a, b) => a.start - b.start);
    for (const p of placed) {
      const ends = rows[p.ev.track] ?? (rows[p.ev.track] = []);
      let r = ends.findIndex((end) => end <= p.start);
      if (r < 0) { r = ends.length; ends.push(0); }
      ends[r] = Math.max(p.end, p.start + perf.lengthMs * 0.04);
      p.row = r;
    }
    for (const p of placed) {
      const rowCount = Math.max(1, rows[p.ev.track].length);
      const h = (laneH - 4) / rowCount;
      const y = top + p.ev.track * laneH + 2 + p.row * h;
      const x0 = x(p.start), w = Math.max(2, x(p.end) - x0);
      const v = p.ev.voice;
      ctx.fillStyle = v < 0 ? c.idle : v < 4 ? c.tracks[p.ev.track % 4] : c.overflow;
      ctx.beginPath();
      ctx.roundRect(x0, y + 1, w, Math.max(2, h - 2), 3);
      ctx.fill();
      if (h >= 12 && w > 24) {
        ctx.fillStyle = c.barInk;
        const label = v >= 4 ? `${p.ev.clip} (voice ${v})` : p.ev.clip;
        ctx.fillText(fitText(ctx, label, w - 6), x0 + 3, y + h / 2);
      }
    }
  } else {
    ctx.fillStyle = c.muted;
    ctx.fillText('drawing the events…', g.left + 4, top + laneH / 2);
  }

  // The playhead.
  const px = Math.round(x(Math.min(ms, perf.lengthMs))) + 0.5;
  ctx.strokeStyle = c.playhead;
  ctx.lineWidth = 2;
  ctx.beginPath();
  ctx.moveTo(px, 0);
  ctx.lineTo(px, cssH);
  ctx.stroke();
  ctx.lineWidth = 1;
}
