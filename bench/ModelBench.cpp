// Adds a realistic collection of about a million nodes, looks each node up once, and prints the
// time and the memory each node costs.
#include "bench/BenchSupport.h"

#include <cstdio>

int main()
{
    const uint64_t before = CurrentRssBytes();
    TStopwatch total;
    TFendrel collection;
    FillBenchCollection(collection);
    const double addSeconds = total.Seconds();

    TStopwatch lookups;
    uint64_t checksum = 0;
    for (uint32_t id = 1; id <= collection.LastId; ++id)
        checksum += collection.GetNode(id).Size;
    const double lookupSeconds = lookups.Seconds();

    const uint64_t nodes = collection.LastId;
    const double bytesPerNode =
        static_cast<double>(PeakRssBytes() - before) / static_cast<double>(nodes);
    std::printf("nodes: %llu\n", static_cast<unsigned long long>(nodes));
    std::printf("add: %.3f s, look up each once: %.3f s, together: %.3f s\n", addSeconds,
                lookupSeconds, addSeconds + lookupSeconds);
    std::printf("peak memory: %.1f bytes per node (checksum %llu)\n", bytesPerNode,
                static_cast<unsigned long long>(checksum));
    return 0;
}
