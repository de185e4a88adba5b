// The temperature history kept every five seconds for the graph and the daily CSV log.
#pragma once

#include <cstdint>
#include <ctime>
#include <deque>
#include <string>

namespace velq3 {

constexpr float kNoSample = -1e30f;          // a sample's marker for "no reading"
constexpr std::size_t kTermHistorySize = 10000;

struct TermSample {
    float T[4];
    std::int32_t Focus;
};
static_assert(sizeof(TermSample) == 20);

using TermHistoryQueue = std::deque<TermSample>;

// The wall-clock time (seconds since the epoch) of each sample, index for index beside the
// history: the sample record itself keeps its 20-byte layout.
using TermTimeQueue = std::deque<std::time_t>;

// Appends a sample and its time; each queue then drops its oldest entries beyond
// kTermHistorySize, so the two stay index for index in step.
void AppendTermSample(TermHistoryQueue& history, TermTimeQueue& times, const TermSample& sample,
                      std::time_t at);

// "term_log_%i-%02i-%02i.csv" named after the local date of `night` (twelve hours before the
// tick), so that one file runs from noon to noon. A time whose conversion to local time failed
// (every field zero, as the clocks leave it) gives year, month and day 0.
std::string TermLogFileName(const std::tm& night);

// "%02i:%02i:%02i" with hours before noon counted past 24. A time whose conversion failed
// gives hour 23, minute -1 and second -1.
std::string TermLogTime(const std::tm& local);

} // namespace velq3
