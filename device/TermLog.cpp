// The temperature-log tick: a CSV line in the night's file and a sample in the history.
#include "device/TermLog.h"

#include <cstdio>
#include <filesystem>

#include "device/OrnFilterWheel.h"
#include "platform/Files.h"

namespace velq3 {

namespace {

// A conversion to local time that failed leaves every field zero; a converted time always has
// a day of the month.
bool Converted(const std::tm& t) { return t.tm_mday >= 1; }

}  // namespace

std::string TermLogFileName(const std::tm& night) {
    // Not converted: year, month and day 0.
    int year = 0, month = 0, day = 0;
    if (Converted(night)) {
        year = night.tm_year + 1900;
        month = night.tm_mon + 1;
        day = night.tm_mday;
    }
    char name[64];
    std::snprintf(name, sizeof name, "term_log_%i-%02i-%02i.csv", year, month, day);
    return name;
}

void AppendTermSample(TermHistoryQueue& history, TermTimeQueue& times, const TermSample& sample,
                      std::time_t at) {
    history.push_back(sample);
    times.push_back(at);
    while (history.size() > kTermHistorySize) history.pop_front();
    while (times.size() > kTermHistorySize) times.pop_front();
}

std::string TermLogTime(const std::tm& local) {
    // Not converted: hour 23, minute and second -1.
    int hour = 23, minute = -1, second = -1;
    if (Converted(local)) {
        hour = local.tm_hour < 12 ? local.tm_hour + 24 : local.tm_hour;
        minute = local.tm_min;
        second = local.tm_sec;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%02i:%02i:%02i", hour, minute, second);
    return text;
}

void OrnFilterWheel::TermLogTick() {
    if (!IsOpen() || !m_bFocuserPresent || IsBusy()) return;
    const CalendarClock& clock = CalendarTime();
    const std::time_t now = clock.Now();
    // Four temperatures at most, whatever the image says.
    const int sensors = SensorCount > 4 ? 4 : SensorCount;

    std::FILE* file = nullptr;
    if (!TermLogPath.empty()) {
        auto path = Utf8Path(TermLogPath) / TermLogFileName(clock.ToLocal(now - 43200));
        file = OpenFile(path, "ab");
    }
    if (file) {
        std::fseek(file, 0, SEEK_END);
        if (std::ftell(file) == 0) {
            std::fputs("Time,", file);
            for (int i = 0; i < sensors; ++i) std::fprintf(file, "T%i,", i);
            std::fputs("Focus,Filter\r\n", file);
        }
        std::fputs(TermLogTime(clock.ToLocal(now)).c_str(), file);
    }

    TermSample sample{{kNoSample, kNoSample, kNoSample, kNoSample}, FocusPos};
    for (int i = 0; i < sensors; ++i) {
        if (file) std::fputc(',', file);
        if (Temp[i] != kNoTemperature) {
            if (file) std::fprintf(file, "%.2f", static_cast<double>(Temp[i]));
            sample.T[i] = Temp[i];
        }
    }
    if (file) std::fprintf(file, ",%i", static_cast<int>(FocusPos));

    AppendTermSample(TermHistory, TermHistoryTimes, sample, now);

    if (file) {
        std::fputc(',', file);
        // Slot 10 has no name in the image: its cell stays empty.
        if (FilterPos >= 0 && FilterPos < kImageFilterSlots)
            std::fwrite(FilterNames[FilterPos], 1, strnlen(FilterNames[FilterPos], kImageNameLen), file);
        std::fputs("\r\n", file);
        std::fclose(file);
    }
}

} // namespace velq3
