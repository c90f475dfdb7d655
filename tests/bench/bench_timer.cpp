// The timer list walk that every event-loop round and every 100 ms tick
// makes: with many armed timers none of which is due, with all of them due
// and re-arming, and the add/remove churn of short-lived timers.
#include <benchmark/benchmark.h>

#include "core/ditimer.h"

#include <stdlib.h>

#include <vector>

static uint32_t g_now;

DiTimer* ddTimerAlloc(uint32_t) {
    return static_cast<DiTimer*>(calloc(1, sizeof(DiTimer)));
}
void ddTimerFree(DiTimer* t) {
    free(t);
}
uint32_t ddTimerNow(void) {
    return g_now;
}

static uint32_t rearm(void*) {
    return 10;
}

static void clearAll() {
    while (DiTimer* t = diTimerHead())
        diTimerRemove(t);
}

static void BM_WalkNoneDue(benchmark::State& state) {
    g_now = 0;
    for (int i = 0; i < state.range(0); i++)
        diTimerAdd(1000000, rearm, nullptr);
    for (auto _ : state)
        diTimerDispatch(g_now);
    clearAll();
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_WalkNoneDue)->Arg(10)->Arg(100)->Arg(1000);

static void BM_WalkAllDueRearm(benchmark::State& state) {
    g_now = 0;
    for (int i = 0; i < state.range(0); i++)
        diTimerAdd(0, rearm, nullptr);
    for (auto _ : state) {
        g_now += 10;
        diTimerDispatch(g_now);
    }
    clearAll();
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_WalkAllDueRearm)->Arg(10)->Arg(100)->Arg(1000);

static void BM_AddRemoveChurn(benchmark::State& state) {
    g_now = 0;
    for (int i = 0; i < state.range(0); i++)
        diTimerAdd(1000000, rearm, nullptr);
    for (auto _ : state)
        diTimerRemove(diTimerAdd(10, rearm, nullptr));
    clearAll();
}
BENCHMARK(BM_AddRemoveChurn)->Arg(10)->Arg(1000);

BENCHMARK_MAIN();
