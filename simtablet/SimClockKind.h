#pragma once
// Which clock a simulated bus runs on.

enum class SimClockKind {
    Virtual, // every GetTickCount reading advances it 1 ms, a counter reading 7 us; Sleep and
             // latency advance it; while the thread idles in a message loop it jumps to the
             // next timed event
    Real,    // real time on the performance counter since the bus was made; Sleep and latency
             // really wait
};
