// The plain copy of everything a client of the device service may read. The owner thread
// builds one after every status poll, command and connection change and publishes it whole;
// readers on any thread keep the copy they got as long as they like.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/DeviceRules.h"
#include "device/MultiConnect.h"
#include "link/Records.h"
#include "platform/DeviceText.h"

namespace velq3 {

// A move the service or another face started: which, towards what, and its number.
struct RunningMove {
    MoveKind kind = MoveKind::None;
    int target = 0;              // filter slot, or motor steps (device positions)
    std::uint64_t sequence = 0;  // the move's number; 0 for none
};

// How the last move ended. `sequence` is the number the move had while it ran, so a face that
// started move n learns its end when `lastMove.sequence` reaches n.
struct MoveOutcome {
    MoveKind kind = MoveKind::None;
    int target = 0;
    bool ok = false;
    std::uint64_t sequence = 0;  // 0: no move has ended yet
    std::string message;         // why it failed; empty after success
};

struct Snapshot {
    std::uint64_t serial = 0;  // grows with each publication
    std::chrono::steady_clock::time_point published{};

    // --- connection ---
    bool open = false;                // the serial link is open
    std::vector<ClientId> clients;    // the link's holders (every face's clients)
    int comPort = 0;                  // `ComPort`: 0 or less scans, n is COMn
    int openPort = 0;                 // the port number the link is open on; 0 when closed or unknown
    std::string portPath;             // device path of `comPort` (or of the open port)
    // When the controller last answered since the link opened (none while closed), and the age
    // after which readings fail.
    std::optional<std::chrono::steady_clock::time_point> lastAnswer;
    std::chrono::milliseconds staleAfter = kStaleStatusAge;
    bool lineGone = false;  // the line hung up (the controller vanished); readings fail at once

    // --- what the controller has ---
    bool wheelPresent = false;
    bool focuserPresent = false;
    bool statusPresent = false;  // answers the full status query ("FWAll")
    std::int8_t mode = 0;
    std::optional<std::int8_t> connectedMode;  // the mode read at the last connection; none before one
    int sensorCount = 0;
    int memorySize = 0;
    bool busy = false;           // a device command held the link when the copy was made

    // --- the last status record, and the filter list ---
    FWCurrentParameters status{};
    int currentFilter = -1;      // -1: unknown or moving
    int filterCount = 0;
    std::vector<std::string> filterNames;  // valid UTF-8
    std::vector<std::int32_t> focusOffsets;
    std::array<std::string, kSensorCount> thermometerNames;  // `TermometerName`, valid UTF-8

    // --- the controller's memory image and the operator settings ---
    EEFilterWheelData image{};     // `MaxSteps`, heater, speeds, backlash, `HomeMark`...
    FWAdditionalSettings settings;  // `StepLenInMicrons`, `AscomFocusShift`, `AscomMaxFocusPos`...
    bool rotatorReverse = false;

    // --- moves ---
    RunningMove move;       // kind None when no move runs
    // Moves accepted while the line was busy with another, each waiting for the line (at most
    // one per device); they read as moving.
    std::vector<RunningMove> queued;
    MoveOutcome lastMove;
    // The cover's state as the last cover move of this service left it (Open or Closed, Error
    // after a failure), until a status read after that move arrives: the end-stops of the
    // status before it still show where the cover was.
    std::optional<CoverStatus> coverEnd;

    // True when `client` holds the link.
    bool Holds(ClientId client) const;
    bool Moving() const { return move.kind != MoveKind::None || !queued.empty(); }
    // Whether a move of this kind (Focuser0 for motor 0...) runs or waits for the line.
    bool Moving(MoveKind kind) const;

    // True while open and the controller has not answered for `staleAfter` at `now`, or its
    // line has gone; a running move counts as an answer in progress (on a line that has gone
    // it ends at once).
    bool Stale(std::chrono::steady_clock::time_point now) const;
    // The message of a reading at `now`: kNoAnswerMessage when stale, none when readings are good.
    std::optional<std::string> ReadingProblem(std::chrono::steady_clock::time_point now) const;

    // --- the values the automation objects report, from the shared device rules ---
    int MaxSteps() const { return image.MaxSteps; }
    // Motor position (0: built-in focuser, 1: second motor) in device steps.
    std::int32_t MotorPosition(int motor) const { return motor == 0 ? status.FocusPos : status.Focus2Pos; }
    // Focuser position as clients see it (plus `AscomFocusShift`).
    std::int32_t FocuserPosition(int motor) const;
    // The focuser's temperature; false when the chosen sensor has no reading.
    bool Temperature(double& celsius) const;
    float RotatorPosition() const;            // degrees, with reverse
    float RotatorMechanicalPosition() const;  // degrees, without reverse
    float RotatorStepSize() const;
    CoverStatus Cover() const;
    // The cover's state is an error because its position is unknown (no end-stops to tell).
    bool CoverPositionUnknown() const;
};

} // namespace velq3
