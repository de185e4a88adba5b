// The three commands that start a motion and wait for its end: wheel homing, filter change
// and focuser move, each with a time-out computed from the distance and the device settings.
#include <algorithm>
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

// Time-outs are computed wide: settings from a file or the registry may be anything. A
// negative result waits for nothing; a result beyond the clamp waits for the clamp.
int ClampTimeout(std::int64_t ms) { return static_cast<int>(std::clamp<std::int64_t>(ms, 0, kMaxMoveTimeoutMs)); }
}

int WheelDistance(int count, int from, int to) {
    int forward = (count - from + to) % count;
    int backward = (from - to + count) % count;
    return forward < backward ? forward : backward;
}

int HomeTimeoutMs(int count, int perPositionMs) { return ClampTimeout(std::int64_t{count} * perPositionMs); }

int SelectFilterTimeoutMs(int count, int from, int to, int perPositionMs) {
    const std::int64_t dif = WheelDistance(count, from, to);
    std::int64_t t = dif * perPositionMs + 5000;
    if (from == -1) t += std::int64_t{count} * dif;
    return ClampTimeout(t);
}

std::int64_t GoToPositionTimeoutMs(int start, int target, int speed, int backlash) {
    if (speed <= 0 || speed > kMaxFocuserSpeed) speed = kMaxFocuserSpeed;
    const double t = std::fabs(static_cast<double>(start) - target) * (1000.0 / speed) + backlash * 11.0 + 2000.0;
    if (!(t > 0)) return 0;
    return t >= static_cast<double>(kMaxFocuserTimeoutMs) ? kMaxFocuserTimeoutMs : static_cast<std::int64_t>(t);
}

bool CDeviceLink::Home(int) {
    CommandGuard guard(*this);
    if (!guard) return false;
    const int timeout = HomeTimeoutMs(m_Filters.FilterCount(), ChangeFilterTimeoutMs);
    std::uint8_t reply = 0;
    if (WriteText(m_hPort, wire::kHome) && ReadWithDeadline(m_hPort, &reply, 1, timeout) == 1 && reply == wire::kAck)
        return true;
    // The wheel may have turned: where it stands is unknown.
    m_Filters.CurrentFilter = -1;
    return false;
}

bool CDeviceLink::SelectFilter(int target) {
    CommandGuard guard(*this);
    if (!guard) return false;
    const int count = m_Filters.FilterCount();
    if (count <= 0) return false;  // no distance on an empty wheel
    const int cur = m_Filters.CurrentFilter;
    const int dif = WheelDistance(count, cur, target);
    const int timeout = SelectFilterTimeoutMs(count, cur, target, ChangeFilterTimeoutMs);
    m_Log.Log("Goto(%i->%i) dif=%i TimeOut=%i\r\n", cur, target, dif, timeout);
    // From here on the wheel may be turning: any failure leaves the filter unknown (-1) until
    // the next status or move, so that a request for the old slot moves the wheel again.
    const auto failed = [this] {
        m_Filters.CurrentFilter = -1;
        FilterPos = -1;
        return false;
    };
    if (!WriteText(m_hPort, wire::kGoto)) return failed();
    if (!WriteByte(m_hPort, wire::SmallNumber(target))) return failed();
    Stopwatch sw;
    while (sw.ElapsedWholeMs() < timeout) {
        std::uint8_t c = 0;
        if (ReadBytes(m_hPort, &c, 1) == 0) {  // each read waits up to 200 ms
            if (LineHungUp(m_hPort)) break;    // the controller is gone: no report will come
            continue;
        }
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
            return failed();
        }
    }
    m_Log.Log("Failed Goto(%i->%i) in=%.1fms\r\n", cur, target, sw.ElapsedMs());
    return failed();
}

bool CDeviceLink::GoToPosition(int target, int focuser) {
    CommandGuard guard(*this);
    if (!guard) return false;
    // After a failed move the position is lost: read it before a time-out is based on it. A
    // motor that does not tell where it stands is not sent anywhere. A position the status
    // never carried is not read: such a controller would gain a query with every move.
    if (FocuserPositionLost(focuser) && !ReadFocuserPosition(focuser)) return false;
    const int start = FocuserPosition(focuser);
    const auto failed = [&] {
        LoseFocuserPosition(focuser);
        return false;
    };
    if (!WriteText(m_hPort, wire::kGoFocus)) return failed();
    if (TwoMotorForm() && !WriteByte(m_hPort, focuser != 0 ? 1 : 0)) return failed();
    std::uint8_t pos[2];
    PutU16(pos, static_cast<std::uint16_t>(target));
    if (!WriteBytes(m_hPort, pos, 2)) return failed();
    const std::int64_t timeout = GoToPositionTimeoutMs(start, target, FocuserSpeed, FocuserBacklash);
    Stopwatch sw;
    while (sw.ElapsedWholeMs() < timeout) {
        std::uint8_t c = 0;
        const size_t got = ReadBytes(m_hPort, &c, 1);
        if (got == 1 && c == wire::kAck) {
            m_Log.Log("OK GoFocus#%i(%i->%i) in=%.1fms\r\n", focuser, start, target, sw.ElapsedMs());
            SetFocuserPosition(focuser, target);
            return true;
        }
        if (got == 0 && LineHungUp(m_hPort)) break;  // the controller is gone: no report will come
    }
    m_Log.Log("Failed GoFocus#%i(%i->%i) in=%.1fms timeout=%llims\r\n", focuser, start, target, sw.ElapsedMs(),
              static_cast<long long>(timeout));
    // The motor may be anywhere on its way: the position is read again before it is used.
    return failed();
}

} // namespace velq3
