// The three commands that start a motion and wait for its end: wheel homing, filter change
// and focuser move, each with a time-out computed from the distance and the device settings.
#include <cmath>
#include <cstdlib>

#include "link/CommandGuard.h"
#include "link/DeviceLink.h"
#include "link/WireFormat.h"

namespace velq3 {

namespace {
// A focuser speed of 0 means "not configured": the time-out then assumes the fastest speed
// it ever uses, so the caller is held up as briefly as possible. A slower motor keeps moving
// after the reported failure, and the next status poll shows where it is.
constexpr int kMaxFocuserSpeed = 300;
}

int WheelDistance(int count, int from, int to) {
    int forward = (count - from + to) % count;
    int backward = (from - to + count) % count;
    return forward < backward ? forward : backward;
}

int SelectFilterTimeoutMs(int count, int from, int to, int perPositionMs) {
    int dif = WheelDistance(count, from, to);
    int t = dif * perPositionMs + 5000;
    if (from == -1) t += count * dif;
    return t;
}

int GoToPositionTimeoutMs(int start, int target, int speed, int backlash) {
    if (speed <= 0 || speed > kMaxFocuserSpeed) speed = kMaxFocuserSpeed;
    double t = std::fabs(static_cast<double>(start) - target) * (1000.0 / speed) + backlash * 11.0 + 2000.0;
    return static_cast<int>(t);
}

bool CDeviceLink::Home(int) {
    CommandGuard guard(m_bBusy, m_hPort);
    if (!guard) return false;
    int timeout = m_Filters.FilterCount() * ChangeFilterTimeoutMs;
    if (!WriteText(m_hPort, wire::kHome)) return false;
    std::uint8_t reply = 0;
    return ReadWithDeadline(m_hPort, &reply, 1, timeout) == 1 && reply == wire::kAck;
}

bool CDeviceLink::SelectFilter(int target) {
    CommandGuard guard(m_bBusy, m_hPort);
    if (!guard) return false;
    const int count = m_Filters.FilterCount();
    if (count <= 0) return false;  // no distance on an empty wheel
    const int cur = m_Filters.CurrentFilter;
    const int dif = WheelDistance(count, cur, target);
    const int timeout = SelectFilterTimeoutMs(count, cur, target, ChangeFilterTimeoutMs);
    m_Log.Log("Goto(%i->%i) dif=%i TimeOut=%i\r\n", cur, target, dif, timeout);
    if (!WriteText(m_hPort, wire::kGoto)) return false;
    WriteByte(m_hPort, wire::SmallNumber(target));
    Stopwatch sw;
    while (sw.ElapsedWholeMs() < timeout) {
        std::uint8_t c = 0;
        if (ReadBytes(m_hPort, &c, 1) == 0) continue;  // each read waits up to 200 ms
        if (c == wire::kForeignMessage) {
            char skipped[20] = {};
            ReadBytes(m_hPort, skipped, wire::kForeignMessageTail);
            m_Log.Log("Skip cmd(%s)\r\n", skipped);
            c = static_cast<std::uint8_t>(skipped[0]);
        }
        if (c == wire::SmallNumber(target)) {
            m_Log.Log("OK Goto(%i->%i) in=%.1fms\r\n", cur, target, sw.ElapsedMs());
            m_Filters.CurrentFilter = target;
            return true;
        }
        if (c == wire::kFailure) {
            m_Log.Log("Failed Goto(%i->%i) in=%.1fms\r\n", cur, target, sw.ElapsedMs());
            m_Filters.CurrentFilter = -1;
            return false;
        }
    }
    FilterPos = m_Filters.CurrentFilter;
    m_Log.Log("Failed Goto(%i->%i) in=%.1fms\r\n", cur, target, sw.ElapsedMs());
    return false;
}

bool CDeviceLink::GoToPosition(int target, int focuser) {
    CommandGuard guard(m_bBusy, m_hPort);
    if (!guard) return false;
    if (!WriteText(m_hPort, wire::kGoFocus)) return false;
    if (TwoMotorForm() && !WriteByte(m_hPort, focuser != 0 ? 1 : 0)) return false;
    std::uint8_t pos[2];
    PutU16(pos, static_cast<std::uint16_t>(target));
    if (!WriteBytes(m_hPort, pos, 2)) return false;
    const int start = FocuserPosition(focuser);
    const int timeout = GoToPositionTimeoutMs(start, target, FocuserSpeed, FocuserBacklash);
    Stopwatch sw;
    while (sw.ElapsedWholeMs() < timeout) {
        std::uint8_t c = 0;
        if (ReadBytes(m_hPort, &c, 1) == 1 && c == wire::kAck) {
            m_Log.Log("OK GoFocus#%i(%i->%i) in=%.1fms\r\n", focuser, start, target, sw.ElapsedMs());
            SetFocuserPosition(focuser, target);
            return true;
        }
    }
    m_Log.Log("Failed GoFocus#%i(%i->%i) in=%.1fms timeout=%ims\r\n", focuser, start, target, sw.ElapsedMs(), timeout);
    return false;
}

} // namespace velq3
