// Construction and destruction, connection, handshake and closing of the device object.
#include "device/OrnFilterWheel.h"

#include <cerrno>

#include "link/SerialLink.h"
#include "link/WireFormat.h"
#include "platform/DebugSink.h"
#include "platform/PortMap.h"

namespace velq3 {

OrnFilterWheel::OrnFilterWheel(DeviceEnvironment env)
    : CMultiConnect<OrnFilterWheel>(this),
      CDeviceLink(static_cast<CFilterTable&>(*this), static_cast<CTimeLogFile&>(*this)),
      m_Env(std::move(env)) {
    LoadRegistrySettings();
    if (m_Env.loop)
        m_TimerId = m_Env.loop->AddTimer(std::chrono::milliseconds(kTermLogIntervalMs), [this] { TermLogTick(); });
}

OrnFilterWheel::~OrnFilterWheel() {
    if (IsOpen()) CloseLink();
    SaveRegistrySettings();
    if (m_Env.loop && m_TimerId != kNoTimer) m_Env.loop->RemoveTimer(m_TimerId);
    m_TimerId = kNoTimer;
    CTimeLogFile::Close();
}

std::string OrnFilterWheel::PortPath(int n) const {
    if (m_Env.portPath) return m_Env.portPath(n);
    RegistryHive* hive = m_Env.userHive;
    return DevicePathForPort(n, [hive](int k) -> std::optional<std::string> {
        if (!hive) return std::nullopt;
        return hive->GetString(kSettingsKey, "SerialDevice" + std::to_string(k));
    });
}

void OrnFilterWheel::OpenLogFileIfSet() {
    if (!LogFile.empty()) CTimeLogFile::Open(LogFile);
}

PortInfo OrnFilterWheel::DescribePort(int n) const {
    return velq3::DescribePort(n, PortPath(n), m_Env.byIdDir, false);
}

PortHandle OrnFilterWheel::OpenDevice(int n, std::string* error) const {
    return OpenSerialPort(ResolvePortPath(PortPath(n)), wire::kBaudRate, error);
}

bool OrnFilterWheel::OpenPort(int n) {
    if (IsOpen()) return true;
    std::string error;
    m_hPort = OpenDevice(n, &error);
    if (!IsOpen()) {
        // A missing or busy port is routine during a scan; a refused permission is not.
        if (errno == EACCES || errno == EPERM) {
            m_PermissionProblem = PortDisplayName(n) + ": " + error;
            DebugOutput("velq3: " + m_PermissionProblem + "\n");
        }
        return false;
    }
    m_PermissionProblem.clear();
    // An adapter pulled out and plugged in again comes back under the same name (a stable name
    // or a link to whichever device it got): a command that finds the line hung up opens that
    // name again. The controller kept its state, so no handshake is needed.
    ReopenPort = [this, n] {
        const PortHandle fresh = OpenDevice(n);
        if (fresh != kNoPort) DebugOutput("velq3: " + PortDisplayName(n) + ": the line came back and was opened again\n");
        return fresh;
    };
    if (!Handshake()) {
        CloseLink();
        return false;
    }
    OpenLogFileIfSet();
    NoteAnswer();
    Notify({DeviceChange::Connection});
    return true;
}

bool OrnFilterWheel::OpenLink() {
    m_PermissionProblem.clear();
    if (ComPort > 0) return OpenPort(ComPort);
    // Each port is tried as a fixed port would be: open, handshake, close again on failure.
    for (int n = kFirstPortNumber; n <= kLastPortNumber; ++n)
        if (OpenPort(n)) return true;
    return false;
}

void OrnFilterWheel::CloseLink() {
    if (!IsOpen()) return;
    SerialClose(m_hPort);
    m_hPort = kNoPort;
    ReopenPort = nullptr;
    CTimeLogFile::Close();
    m_bFocuserPresent = false;
    m_bWheelPresent = false;
    m_LastAnswer.reset();
    Notify({DeviceChange::Connection});
}

SteadyTime OrnFilterWheel::SteadyNow() const {
    return m_SteadyNow ? m_SteadyNow() : std::chrono::steady_clock::now();
}

void OrnFilterWheel::NoteAnswer() {
    if (IsOpen()) m_LastAnswer = SteadyNow();
}

void OrnFilterWheel::NoteWindowPoll(WindowPoll tick) {
    if (!IsOpen()) return;  // nothing was asked on a closed link
    if (tick == WindowPoll::Answered) NoteAnswer();
    DeviceChange change;
    change.what = tick == WindowPoll::Skipped ? DeviceChange::WindowPollSkipped : DeviceChange::WindowPolled;
    change.ok = tick == WindowPoll::Answered;
    Notify(change);
}

bool OrnFilterWheel::LineGone() const { return IsOpen() && LineHungUp(m_hPort); }

bool OrnFilterWheel::ReadingsStale() const {
    if (!IsOpen()) return false;
    if (LineGone()) return true;
    return !m_LastAnswer || SteadyNow() - *m_LastAnswer > StaleAfter;
}

bool OrnFilterWheel::GetAll(FWCurrentParameters& status) {
    if (!CDeviceLink::GetAll(status)) return false;
    NoteAnswer();
    Notify({DeviceChange::Status});
    return true;
}

bool OrnFilterWheel::GoToPosition(int target, int focuser) {
    const MoveKind kind = FocuserMoveKind(focuser, Mode);
    Notify({DeviceChange::MoveStarted, kind, target});
    const bool ok = CDeviceLink::GoToPosition(target, focuser);
    if (ok) NoteAnswer();
    Notify({DeviceChange::MoveEnded, kind, target, ok});
    return ok;
}

bool OrnFilterWheel::SelectFilter(int position) {
    Notify({DeviceChange::MoveStarted, MoveKind::Wheel, position});
    const bool ok = CDeviceLink::SelectFilter(position);
    if (ok) NoteAnswer();
    Notify({DeviceChange::MoveEnded, MoveKind::Wheel, position, ok});
    return ok;
}

bool OrnFilterWheel::Home(int unused) {
    Notify({DeviceChange::MoveStarted, MoveKind::Home, 0});
    const bool ok = CDeviceLink::Home(unused);
    if (ok) NoteAnswer();
    Notify({DeviceChange::MoveEnded, MoveKind::Home, 0, ok});
    return ok;
}

bool OrnFilterWheel::Handshake() {
    // Readings of an earlier connection (or none yet) are not this controller's: without the
    // full status query the temperatures come with the first poll, and until then have none.
    for (float& t : Temp) t = kNoTemperature;
    int position = 0;
    m_bWheelPresent = GetFilter(position);
    m_bFocuserPresent = GetFocus(position, 0);
    FWCurrentParameters scratch = EmptyStatus();
    m_bStatusPresent = GetAll(scratch);
    if (!m_bWheelPresent && !m_bFocuserPresent && !m_bStatusPresent) return false;
    int size = 0;
    m_MemorySize = GetMemorySize(size) ? size : kDefaultMemorySize;
    if (!ReadMemory(0, m_MemorySize, ImageBytes())) return false;
    if (m_bWheelPresent && !FiltersFromImage()) return false;
    if (m_bFocuserPresent) ReadMicrostepTable();
    return true;
}

} // namespace velq3
