// The random source of performances: a linear congruential generator with one state
// per thread, 1 before the thread's first draw, never seeded. The same sequence of
// draws on a thread gives the same performances.
#pragma once

#include <cstdint>

namespace vantrel {

// Draws the next value, 0 to 32767, from the calling thread's generator.
int DrawRandom();
// The calling thread's generator state (for tools and tests that replay draws).
uint32_t GetRandomState();
void SetRandomState(uint32_t state);
// Turns a draw into 0..10000: trunc(r * (1.0 / 32767) * 10000.0).
int ScaleDraw(int r);

} // namespace vantrel
