#include "arrange/Random.h"

namespace vantrel {

namespace {
thread_local uint32_t t_state = 1;
}

int DrawRandom()
{
    t_state = t_state * 214013u + 2531011u;
    return static_cast<int>((t_state >> 16) & 0x7FFF);
}

uint32_t GetRandomState() { return t_state; }

void SetRandomState(uint32_t state) { t_state = state; }

int ScaleDraw(int r)
{
    double v = static_cast<double>(r) * (1.0 / 32767);
    v = v * 10000.0;
    return static_cast<int>(v);
}

} // namespace vantrel
