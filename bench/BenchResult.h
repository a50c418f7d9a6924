// One figure of a benchmark in the form bench/run-all.sh gathers into its table:
//   RESULT <tab> figure <tab> goal <tab> measured <tab> met|missed|-
// The human-readable lines of each benchmark stay as they are; these come in addition.
#pragma once

#include <cstdio>

inline void PrintResult(const char* figure, const char* goal, const char* measured, bool met)
{
    std::printf("RESULT\t%s\t%s\t%s\t%s\n", figure, goal, measured, met ? "met" : "missed");
}

// A figure without a goal of its own (it only feeds another figure's goal).
inline void PrintFigure(const char* figure, const char* measured)
{
    std::printf("RESULT\t%s\t-\t%s\t-\n", figure, measured);
}

// A figure with a unit, e.g. PrintResultValue("load, 10,000 items", "<= 1 s", 0.42, "%.2f s", 0.42 <= 1.0).
template <typename T>
void PrintResultValue(const char* figure, const char* goal, T value, const char* format, bool met)
{
    char measured[64];
    std::snprintf(measured, sizeof measured, format, value);
    PrintResult(figure, goal, measured, met);
}
