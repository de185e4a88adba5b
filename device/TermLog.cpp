// The temperature-log tick: a CSV line in the night's file and a sample in the history.
#include "device/TermLog.h"

#include <cstdio>
#include <filesystem>

#include "device/OrnFilterWheel.h"

namespace velq3 {

std::string TermLogFileName(const std::tm& night) {
    char name[64];
    std::snprintf(name, sizeof name, "term_log_%i-%02i-%02i.csv", night.tm_year + 1900, night.tm_mon + 1,
                  night.tm_mday);
    return name;
}

std::string TermLogTime(const std::tm& local) {
    char text[32];
    int hour = local.tm_hour < 12 ? local.tm_hour + 24 : local.tm_hour;
    std::snprintf(text, sizeof text, "%02i:%02i:%02i", hour, local.tm_min, local.tm_sec);
    return text;
}

void OrnFilterWheel::TermLogTick() {
    if (!IsOpen() || !m_bFocuserPresent || IsBusy()) return;
    const SystemCalendarClock systemClock;
    const CalendarClock& clock = m_Env.clock ? *m_Env.clock : systemClock;
    const std::time_t now = clock.Now();
    // Four temperatures at most, whatever the image says.
    const int sensors = SensorCount > 4 ? 4 : SensorCount;

    std::FILE* file = nullptr;
    if (!TermLogPath.empty()) {
        auto path = std::filesystem::path(TermLogPath) / TermLogFileName(clock.ToLocal(now - 43200));
        file = std::fopen(path.c_str(), "ab");
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

    TermHistory.push_back(sample);
    if (TermHistory.size() > kTermHistorySize) TermHistory.pop_front();

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
