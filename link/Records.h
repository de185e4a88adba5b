// The controller's memory image, the operator settings block and the status record, laid
// out byte for byte as they travel on the wire and into settings files.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace velq3 {

static_assert(std::endian::native == std::endian::little,
              "the records mirror the controller's little-endian layout");

constexpr int kMaxMemorySize = 202;     // the largest image the server accepts
constexpr int kDefaultMemorySize = 144; // assumed when the device does not report its size
constexpr int kImageFilterSlots = 10;   // filter entries the image has room for
constexpr int kImageNameLen = 8;        // name bytes per filter in the image
constexpr int kSensorCount = 4;
constexpr std::int32_t kPositionNotRead = 16777215;  // 0xFFFFFF: focuser position not read yet
constexpr float kNoTemperature = 1e30f;              // status record: sensor gave no reading

// The records keep their fields naturally aligned so that every field can be used like any
// other variable (bound to references, passed to printf and test macros). The memory image
// needs no packing: every 16-bit field of the device layout sits at an even offset. The
// settings block has a packed 32-byte form for files, written and read by the functions
// below; the status record's first 49 bytes are its packed layout.

// Copy of the controller's non-volatile memory. Offsets in the comments are device offsets.
struct EEFilterWheelData {
    std::uint8_t Reserved0;                       // 0: not interpreted
    std::int8_t Mode;                             // 1: 1..10 wheel, 11..20 virtual wheel, 0 second focuser, -1 rotator, -2 cover
    std::uint16_t WheelSpeed;                     // 2: steps per second
    std::uint8_t WheelIdleCurrent;                // 4: coded
    std::uint8_t SettingsConfirmed;               // 5: set to 1 when the wheel settings are confirmed
    std::uint8_t HomeMark;                        // 6: home mark seen by the filter sensor; cover mode: CoverEndstops
    std::uint8_t SensorsPowerMode;                // 7: index of a choice
    std::uint16_t FocuserSpeed;                   // 8: steps per second
    std::uint8_t FocuserIdleCurrent;              // 10: coded
    std::uint8_t MicrostepIncrement;              // 11
    std::uint16_t FocuserBacklash;                // 12: steps
    std::uint8_t SensorType;                      // 14: index of a choice
    std::uint8_t SensorCount;                     // 15: 1..4
    std::int16_t TempCompensation;                // 16: steps (or tenths) per degree
    std::uint16_t TempAveraging;                  // 18: 0 = off
    std::uint16_t DirChangeThreshold;             // 20: steps
    std::int16_t FilterWheelPos[kImageFilterSlots];      // 22
    std::int16_t FilterFocuserPos[kImageFilterSlots];    // 42
    char FilterNames[kImageFilterSlots][kImageNameLen];  // 62: zero-padded, not terminated when 8 long
    std::uint16_t MaxSteps;                       // 142
    std::uint16_t HeaterControl;                  // 144
    std::int16_t HeaterSetPoint;                  // 146: hundredths of a degree or a power level
    std::int16_t TermOffset[kSensorCount];        // 148: hundredths of a degree
    std::int16_t TermSteep[kSensorCount];         // 156: thousandths, 1000 = 1.0
    std::uint8_t FlatValue[kImageFilterSlots];    // 164
    std::uint16_t FilterColor[kImageFilterSlots]; // 174: 5-6-5 red-green-blue
    std::int16_t VoltCalibration;                 // 194
    std::int16_t MotorsPowerOnVoltage;            // 196
    std::uint16_t VoltAveraging;                  // 198
    std::uint8_t WheelCurrent;                    // 200: coded
    std::uint8_t FocuserCurrent;                  // 201: coded

    std::uint8_t* ImageBytes() { return reinterpret_cast<std::uint8_t*>(this); }
    const std::uint8_t* ImageBytes() const { return reinterpret_cast<const std::uint8_t*>(this); }
};

// Operator settings that live only on the computer (32 bytes packed in files).
struct FWAdditionalSettings {
    std::int32_t ComPort = 0;                   // 0 or less: scan; n: COMn
    double StepLenInMicrons = 10.0;
    std::int32_t AscomPreferredTermometer = -1;
    std::int32_t AscomFocusShift = 10000;
    std::int32_t AscomMaxFocusPos = 30000;
    std::int32_t ShowWindowOnConnect = 0;
    std::int32_t OnTop = 0;
};

// The last status read from the device.
struct FWCurrentParameters {
    std::int32_t FocusPos;
    std::int32_t FocusDir;
    std::int32_t FilterPos;
    float Temp[kSensorCount];
    std::int32_t AutoComp;
    float Vin;
    float Out;
    std::int32_t Focus2Pos;
    std::int32_t Focus2Dir;
    std::uint8_t Sw;
};

static_assert(sizeof(EEFilterWheelData) == 202);
static_assert(offsetof(EEFilterWheelData, FilterWheelPos) == 22);
static_assert(offsetof(EEFilterWheelData, FilterNames) == 62);
static_assert(offsetof(EEFilterWheelData, MaxSteps) == 142);
static_assert(offsetof(EEFilterWheelData, FlatValue) == 164);
static_assert(offsetof(EEFilterWheelData, FilterColor) == 174);
static_assert(offsetof(EEFilterWheelData, VoltCalibration) == 194);
static_assert(offsetof(FWCurrentParameters, Sw) == 48);
constexpr std::size_t kStatusRecordBytes = 49;    // the status record up to and including Sw
constexpr std::size_t kSettingsBlockBytes = 32;   // the packed settings block

// The settings block in its packed little-endian form.
void PackSettings(const FWAdditionalSettings& s, std::uint8_t out[kSettingsBlockBytes]);
FWAdditionalSettings UnpackSettings(const std::uint8_t in[kSettingsBlockBytes]);

// A status record as the handshake and the poll prepare it: all zero, both focuser
// positions "not read yet".
inline FWCurrentParameters EmptyStatus() {
    FWCurrentParameters s;
    std::memset(&s, 0, sizeof s);
    s.FocusPos = kPositionNotRead;
    s.Focus2Pos = kPositionNotRead;
    return s;
}

// Filter count that the mode byte declares: 0 or less means no wheel, 11..20 a virtual
// wheel with mode - 10 filters, never more than 10.
inline int FilterCountFromMode(std::int8_t mode) {
    int m = mode;
    if (m <= 10) return m;
    return m - 10 > kImageFilterSlots ? kImageFilterSlots : m - 10;
}

// Little-endian 16-bit helpers for the raw image and reply bytes.
inline std::int16_t GetI16(const std::uint8_t* p) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}
inline std::uint16_t GetU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline void PutU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v & 0xFF);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

} // namespace velq3
