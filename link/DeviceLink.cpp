// The controller's query and set commands: request bytes, reply decoding and state effects.
#include "link/DeviceLink.h"

#include <cstring>

#include "link/CommandGuard.h"
#include "link/ReplyDecoding.h"
#include "link/WireFormat.h"
#include "platform/Stopwatch.h"

namespace velq3 {

CDeviceLink::CDeviceLink(CFilterTable& filters, CTimeLogFile& log) : m_Filters(filters), m_Log(log) {
    std::memset(Image().ImageBytes(), 0, sizeof(EEFilterWheelData));
    Status() = EmptyStatus();
}

void CDeviceLink::ReopenHungUpPort() {
    if (!ReopenPort) return;
    const PortHandle fresh = ReopenPort();
    if (fresh == kNoPort) return;
    SerialClose(m_hPort);
    m_hPort = fresh;
}

std::string CDeviceLink::FocuserRequest(int focuser, std::string tail) const {
    if (!TwoMotorForm()) return tail;
    return std::string(1, focuser != 0 ? '\x01' : '\x00') + tail;
}

bool CDeviceLink::GetMemorySize(int& size) {
    CommandGuard guard(*this);
    if (!guard) return false;
    std::uint8_t reply[2];
    if (Transact(m_hPort, wire::kEeSize, reply, 2) < 2) return false;
    size = DecodeMemorySize(GetI16(reply));
    return true;
}

bool CDeviceLink::ReadMemory(int offset, int length, std::uint8_t* destination) {
    // Offset and length travel as single bytes.
    if (offset < 0 || offset > 255 || length < 0 || length > 255) return false;
    CommandGuard guard(*this);
    if (!guard) return false;
    const std::uint8_t request[2] = {static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(length)};
    std::uint8_t reply[256];
    size_t got = TransactWithPayload(m_hPort, wire::kReadEe, request, 2, reply, static_cast<size_t>(length));
    if (got != static_cast<size_t>(length)) return false;
    std::memcpy(destination, reply, got);
    return true;
}

bool CDeviceLink::WriteMemory(int offset, int length, const std::uint8_t* source) {
    if (offset < 0 || length < 0 || offset + length > kMaxMemorySize) return false;
    CommandGuard guard(*this);
    if (!guard) return false;
    if (!WriteText(m_hPort, wire::kWriteEe)) return false;
    const std::uint8_t request[2] = {static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(length)};
    if (!WriteBytes(m_hPort, request, 2)) return false;
    if (!WriteBytes(m_hPort, source, static_cast<size_t>(length))) return false;
    std::uint8_t reply = 0;
    size_t got = ReadWithDeadline(m_hPort, &reply, 1, 1000);
    SleepMs(100);  // the controller is still busy storing the bytes
    return got == 1 && reply == wire::kAck;
}

bool CDeviceLink::GetFilter(int& position) {
    CommandGuard guard(*this);
    if (!guard) return false;
    std::uint8_t reply = 0;
    std::optional<int> pos;
    if (Transact(m_hPort, wire::kFilter, &reply, 1) == 1) pos = DecodePositionChar(reply);
    if (!pos) {
        m_Filters.CurrentFilter = -1;
        FilterPos = -1;
        return false;
    }
    m_Filters.CurrentFilter = *pos;
    FilterPos = *pos;
    position = *pos;
    return true;
}

bool CDeviceLink::WriteFilterName(int index, const std::string& name) {
    if (index < 0 || index >= m_Filters.FilterCount()) return false;
    CommandGuard guard(*this);
    if (!guard) return false;
    std::string stored = TruncateName(name, kImageNameLen);
    m_Filters.Filters[static_cast<size_t>(index)].Name = stored;
    std::uint8_t bytes[kImageNameLen] = {};
    std::memcpy(bytes, stored.data(), stored.size());
    if (!WriteText(m_hPort, wire::kWriteName)) return false;
    WriteByte(m_hPort, wire::SmallNumber(index));
    if (!WriteBytes(m_hPort, bytes, kImageNameLen)) return false;
    std::uint8_t reply = 0;
    return ReadBytes(m_hPort, &reply, 1) == 1 && reply == wire::kAck;
}

bool CDeviceLink::GetTemperature(int index, float& celsius) {
    if (index < 0 || index >= kSensorCount) return false;
    CommandGuard guard(*this);
    if (!guard) return false;
    Temp[index] = kNoTemperature;
    const std::uint8_t request = wire::SmallNumber(index);
    std::uint8_t reply[2];
    if (TransactWithPayload(m_hPort, wire::kTemperature, &request, 1, reply, 2) < 2) return false;
    std::int16_t value = GetI16(reply);
    if (value == wire::kNoSensor) return false;
    celsius = DecodeTemperature(value);
    Temp[index] = celsius;
    return true;
}

bool CDeviceLink::ReadFocuserPosition(int focuser) {
    std::string request = FocuserRequest(focuser);
    std::uint8_t reply[2];
    size_t got = request.empty() ? Transact(m_hPort, wire::kFocus, reply, 2)
                                 : TransactWithPayload(m_hPort, wire::kFocus, request.data(), request.size(), reply, 2);
    if (got < 2) return false;
    SetFocuserPosition(focuser, GetI16(reply));
    return true;
}

bool CDeviceLink::GetFocus(int& position, int focuser) {
    CommandGuard guard(*this);
    if (!guard) return false;
    if (!ReadFocuserPosition(focuser)) return false;
    position = FocuserPosition(focuser);
    return true;
}

bool CDeviceLink::SetFocusPosition(int position, int focuser) {
    CommandGuard guard(*this);
    if (!guard) return false;
    std::uint8_t pos[2];
    PutU16(pos, static_cast<std::uint16_t>(position));
    std::string request = FocuserRequest(focuser, std::string(reinterpret_cast<char*>(pos), 2));
    std::uint8_t reply = 0;
    if (TransactWithPayload(m_hPort, wire::kSetFocus, request.data(), request.size(), &reply, 1) < 1) return false;
    SetFocuserPosition(focuser, GetI16(pos));
    return true;
}

bool CDeviceLink::GetFocusDirection(int& direction, int focuser) {
    CommandGuard guard(*this);
    if (!guard) return false;
    std::string request = FocuserRequest(focuser);
    std::uint8_t reply = 0;
    size_t got = request.empty() ? Transact(m_hPort, wire::kDirFocus, &reply, 1)
                                 : TransactWithPayload(m_hPort, wire::kDirFocus, request.data(), request.size(), &reply, 1);
    if (got == 0) {
        FocusDir = 0;
        return false;
    }
    if (int dir = DecodeDirection(reply); dir != 0) {
        direction = dir;
        return true;
    }
    FocusDir = direction;
    return false;
}

bool CDeviceLink::SetAutoComp(int thermometer) {
    CommandGuard guard(*this);
    if (!guard) return false;
    const std::uint8_t request = wire::SmallNumber(thermometer);
    std::uint8_t reply = 0;
    return TransactWithPayload(m_hPort, wire::kAutoCompSet, &request, 1, &reply, 1) == 1 && reply == wire::kAck;
}

bool CDeviceLink::GetAutoComp(int& thermometer) {
    CommandGuard guard(*this);
    if (!guard) return false;
    std::uint8_t reply = 0;
    if (Transact(m_hPort, wire::kIsAuto, &reply, 1) < 1) return false;
    thermometer = DecodeCompensationSensor(reply);
    AutoComp = thermometer;
    if (thermometer >= 0) AscomPreferredTermometer = thermometer;
    return true;
}

bool CDeviceLink::GetMicrostep(int& increment, int& resolution) {
    CommandGuard guard(*this);
    if (!guard) return false;
    increment = MicrostepIncrement;
    resolution = 2;
    const std::uint8_t request = 0;
    std::uint8_t reply[2];
    if (TransactWithPayload(m_hPort, wire::kMicrostep, &request, 1, reply, 2) != 2) return false;
    increment = reply[0];
    resolution = reply[1];
    return true;
}

bool CDeviceLink::ReadMicrostepTable() {
    CommandGuard guard(*this);
    if (!guard) return false;
    std::memset(m_MicrostepTable, 0, sizeof m_MicrostepTable);
    m_MicrostepTableLen = -1;
    std::uint8_t len = 0;
    if (Transact(m_hPort, wire::kReadTable, &len, 1) != 1) return false;
    // A table longer than the 128 bytes kept here cannot be held or written back
    // faithfully: refuse it without reading any of it.
    if (len > wire::kMicrostepTableSize) return false;
    m_MicrostepTableLen = len;
    return ReadWithDeadline(m_hPort, m_MicrostepTable, len, 1000) == len;
}

bool CDeviceLink::WriteMicrostepTable() {
    // Nothing valid to send before a table was read.
    if (m_MicrostepTableLen < 0 || m_MicrostepTableLen > wire::kMicrostepTableSize) return false;
    CommandGuard guard(*this);
    if (!guard) return false;
    std::uint8_t reply = 0;
    return TransactWithPayload(m_hPort, wire::kWriteTable, m_MicrostepTable, static_cast<size_t>(m_MicrostepTableLen),
                               &reply, 1) == 1 &&
           reply == wire::kAck;
}

bool CDeviceLink::GetVolt(float& volts, float& percent) {
    CommandGuard guard(*this);
    if (!guard) return false;
    std::uint8_t reply[3];
    if (Transact(m_hPort, wire::kVolt, reply, 3) < 3) return false;
    volts = static_cast<float>(GetI16(reply)) / 100.0f;
    percent = DecodeOutputPercent(reply[2]);
    Vin = volts;
    Out = percent;
    return true;
}

bool CDeviceLink::GetAll(FWCurrentParameters& status) {
    CommandGuard guard(*this);
    if (!guard) return false;
    std::uint8_t len = 0;
    if (Transact(m_hPort, wire::kAll, &len, 1) != 1 || len < wire::kMinStatusBlock) return false;
    SleepMs(len * 1000 / wire::kBaudRate + 10);  // let the block arrive
    std::uint8_t block[256];
    // A block cut short would decode bytes that never arrived: the status is refused and
    // the previous one kept.
    if (ReadBytes(m_hPort, block, len) != len) return false;
    if (!PlausibleStatusBlock(block, len)) return false;
    m_bFocuserPresent = true;
    m_bWheelPresent = true;
    DecodeStatusBlock(block, len, status);
    if (status.AutoComp >= 0) AscomPreferredTermometer = status.AutoComp;
    Status() = status;
    // A block tells the first motor's position, and from 19 bytes on the second's.
    m_bFocusPosLost = false;
    if (len >= wire::kStatusBlockWithFocuser2) m_bFocus2PosLost = false;
    m_Filters.CurrentFilter = status.FilterPos;
    return true;
}

} // namespace velq3
