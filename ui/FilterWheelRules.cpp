// The main control window's rules: the transfers and enable rules, the filter list's rows and
// cell values, the command handlers and the status poll.
#include "ui/FilterWheelRules.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "ui/DataExchange.h"
#include "ui/NumberText.h"

namespace velq3::ui {

namespace {

constexpr int kFilterCountLimit = kImageFilterSlots;
constexpr int kFlatBoxMemorySize = 164;  // "Flat Box" column when the image is larger
constexpr int kHeaterMemorySize = 163;
constexpr std::int32_t kFocusShiftNone = 20000;  // stored for a "Focus Shift" of "none"
constexpr std::int32_t kNoneAbove = 10000;       // focuser positions above this show "none"

// A float differs from the one shown when it is unequal or either is not a number.
bool Differs(float a, float b) { return !(a == b); }

std::string Signed(std::int32_t v) { return std::to_string(v); }

// The wait cursor for the length of a blocking command.
class WaitCursor {
public:
    explicit WaitCursor(DialogControls* controls) : m_Controls(controls) {
        if (m_Controls) m_Controls->WaitCursor(true);
    }
    ~WaitCursor() {
        if (m_Controls) m_Controls->WaitCursor(false);
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    DialogControls* m_Controls;
};

}  // namespace

// ---- dispatch -------------------------------------------------------------------------------

void FilterWheelRules::OnCommand(int id, Notify what) {
    if (what == Notify::EditDone && id >= idc::kSensorName0 && id < idc::kSensorName0 + kSensorRows)
        return OnSensorNameEdited(id - idc::kSensorName0);
    if (what == Notify::TextChanged && id == idc::kStep) return OnStepEdited();
    if (what != Notify::Clicked) return;
    if (id >= idc::kAutoBox0 && id < idc::kAutoBox0 + kSensorRows) return OnAutoBox(id - idc::kAutoBox0);
    switch (id) {
        case idc::kConnect: OnConnect(); break;
        case idc::kDisconnect: OnDisconnect(); break;
        case idc::kGo: OnGo(); break;
        case idc::kSet: OnSetPosition(); break;
        case idc::kOnTop: OnOnTop(); break;
        case idc::kSave: OnSaveSettings(); break;
        case idc::kLoad: OnLoadSettings(); break;
        case idc::kWheelSettings: OnWheelSettings(); break;
        case idc::kFocuserSettings: OnFocuserSettings(); break;
        case idc::kHeater: OnHeater(); break;
        case idc::kGraphs: OnGraphs(); break;
        default: break;
    }
}

void FilterWheelRules::OnDeltaPos(int id, int delta) {
    switch (id) {
        case idc::kJog: OnJog(0, delta); break;
        case idc::kJog2: OnJog(1, delta); break;
        case idc::kStepSpin: OnStepSpin(delta); break;
        default: break;
    }
}

// ---- the window ---------------------------------------------------------------------------

void FilterWheelRules::OnInitWindow() {
    PortIndex = m_FW.ComPort;
    ExchangeData(Transfer::ToControls);
    RefillFilterList();
    if (m_Dlg) m_Dlg->SetText(idc::kStep, Signed(m_FW.MinMotorStep));
    StopPoll();
    m_PollTimer = m_Loop.AddTimer(std::chrono::milliseconds(kPollPeriodMs), [this] { StatusTick(); });
    m_FW.PollingWindow = ClientKey();
}

void FilterWheelRules::StopPoll() {
    if (m_PollTimer != kNoTimer) {
        m_Loop.RemoveTimer(m_PollTimer);
        if (m_FW.PollingWindow == ClientKey()) m_FW.PollingWindow = 0;
    }
    m_PollTimer = kNoTimer;
}

// ---- transfers ------------------------------------------------------------------------------

bool FilterWheelRules::DisconnectAllowed() const {
    return m_FW.IsClient(ClientKey()) && m_FW.ClientSet.size() == 1;
}

void FilterWheelRules::ExchangeData(Transfer direction) {
    if (!m_Dlg) return;
    DialogControls& c = *m_Dlg;
    if (direction == Transfer::ToFields) {
        // No selection (a configured port beyond the list) keeps the field as it was.
        if (c.Selection(idc::kPortList) >= 0) PortIndex = c.Selection(idc::kPortList);
        for (int k = 0; k < kSensorRows; ++k)
            m_FW.TermometerName[static_cast<size_t>(k)] = c.Text(idc::kSensorName0 + k);
        m_FW.ShowWindowOnConnect = c.Checked(idc::kShowOnConnect) ? 1 : 0;
        m_FW.OnTop = c.Checked(idc::kOnTop) ? 1 : 0;
    } else {
        c.Select(idc::kPortList, PortIndex >= 0 && PortIndex < c.ItemCount(idc::kPortList) ? PortIndex : -1);
        for (int k = 0; k < kSensorRows; ++k)
            c.SetText(idc::kSensorName0 + k, m_FW.TermometerName[static_cast<size_t>(k)].c_str());
        c.SetChecked(idc::kShowOnConnect, m_FW.ShowWindowOnConnect != 0);
        c.SetChecked(idc::kOnTop, m_FW.OnTop != 0);
        // The Auto boxes are disabled below; forget the temperatures shown so that the next
        // poll fills every sensor row again instead of waiting for a change.
        for (int k = 0; k < kSensorRows; ++k) LastStatus.Temp[k] = std::numeric_limits<float>::quiet_NaN();
    }

    const bool open = m_FW.IsOpen();
    const bool focuser = m_FW.m_bFocuserPresent;
    c.Enable(idc::kConnect, !open);
    c.Enable(idc::kPortList, !open);
    c.Enable(idc::kDisconnect, DisconnectAllowed());
    c.Enable(idc::kSave, open);
    c.Enable(idc::kLoad, open);
    c.Enable(idc::kExit, !OpenedForClient);
    for (int id : {idc::kStep, idc::kStepSpin, idc::kJog, idc::kGo, idc::kTarget, idc::kSet, idc::kFocuserSettings})
        c.Enable(id, focuser);
    const bool secondMotor = focuser && m_FW.Mode <= 0;
    c.Show(idc::kJog2, secondMotor);
    c.Show(idc::kPosition2, secondMotor);
    c.Show(idc::kDirection2, secondMotor);
    c.Enable(idc::kWheelSettings, m_FW.m_bWheelPresent);
    c.Enable(idc::kHeater, focuser && m_FW.m_MemorySize >= kHeaterMemorySize);
    for (int k = 0; k < kSensorRows; ++k) c.Enable(idc::kAutoBox0 + k, false);
}

void FilterWheelRules::RefillFilterList() {
    if (!m_Dlg) return;
    DialogControls& c = *m_Dlg;
    const bool flatBox = m_FW.m_MemorySize > kFlatBoxMemorySize;
    const int wide = flatBox ? 4 : 3;
    const bool columnsChanged = c.ColumnCount(idc::kFilterList) != wide + 1;
    if (columnsChanged) {
        std::vector<std::string> heads = {"Name", "#", "Correction", "Focus Shift"};
        if (flatBox) heads.push_back("Flat Box");
        c.SetColumns(idc::kFilterList, heads);
    }
    c.ClearRows(idc::kFilterList);
    for (int i = 0; i < m_FW.FilterCount(); ++i) {
        const FilterRecord& f = m_FW.Filters[static_cast<size_t>(i)];
        std::vector<std::string> cells = {f.Name.c_str(), std::to_string(i), Signed(f.Pos),
                                          f.FocuserPos > kNoneAbove ? "none" : Signed(f.FocuserPos)};
        if (flatBox) cells.push_back(i < kFilterCountLimit ? std::to_string(m_FW.FlatValue[i]) : std::string());
        c.AddRow(idc::kFilterList, cells, i == m_FW.CurrentFilter ? kCurrentFilterImage : kFilterImage);
    }
    FilterListFilled(columnsChanged);
}

void FilterWheelRules::RefreshFilterMarks() {
    MarkedFilter = m_FW.CurrentFilter;
    if (!m_Dlg) return;
    for (int i = 0; i < m_Dlg->RowCount(idc::kFilterList); ++i)
        m_Dlg->SetRowImage(idc::kFilterList, i, i == MarkedFilter ? kCurrentFilterImage : kFilterImage);
}

void FilterWheelRules::RefreshAutoBoxes() {
    if (!m_Dlg) return;
    for (int k = 0; k < kSensorRows; ++k) {
        int state = 2;  // indeterminate
        if (k == AutoSensor) state = 1;
        else if (k == m_FW.AscomPreferredTermometer) state = 0;
        m_Dlg->SetCheckState(idc::kAutoBox0 + k, state);
    }
}

const char* FilterWheelRules::SwitchText(unsigned bits) {
    static constexpr const char* kText[16] = {"0000", "0001", "0010", "0011", "0100", "0101", "0110", "0111",
                                              "1000", "1001", "1010", "1011", "1100", "1101", "1110", "1111"};
    return kText[bits & 0x0F];
}

// ---- the filter list's cells ----------------------------------------------------------------

void FilterWheelRules::CommitCellText(const std::string& text) {
    std::int32_t value = LeadingInt32(text);
    const int row = EditRow, column = EditColumn;
    // The table may have been rebuilt meanwhile (a new connection): a row gone takes the edit with it.
    if (row < 0 || row >= m_FW.FilterCount()) return;
    FilterRecord& f = m_FW.Filters[static_cast<size_t>(row)];
    // The memory image keeps positions as 16-bit numbers: keep what it can hold, so that the
    // list never shows a value that the device does not get.
    const auto imageRange = [](std::int32_t v) {
        return std::clamp<std::int32_t>(v, std::numeric_limits<std::int16_t>::min(),
                                        std::numeric_limits<std::int16_t>::max());
    };
    switch (column) {
    case 2:
        value = imageRange(value);
        if (value == f.Pos) return;
        f.Pos = value;
        break;
    case 3:
        if (text.find_first_of("Nn") != std::string::npos) value = kFocusShiftNone;
        value = imageRange(value);
        if (value == f.FocuserPos) return;
        f.FocuserPos = value;
        break;
    case 4:
        if (row >= kFilterCountLimit || value == m_FW.FlatValue[row]) return;
        m_FW.FlatValue[row] = static_cast<std::uint8_t>(std::clamp(value, 0, 255));
        break;
    default:
        break;
    }
    RefillFilterList();
    m_FW.WriteMemoryImage(true);
    if (column == 2 && row == m_FW.CurrentFilter) SelectFilterWithWaitCursor(row);
}

void FilterWheelRules::OnLabelEditEnded(int row, const std::string& text) {
    if (!m_Dlg || row < 0 || row >= m_Dlg->RowCount(idc::kFilterList)) return;
    m_FW.WriteFilterName(row, text);
    m_Dlg->SetCellText(idc::kFilterList, row, 0, text);
}

bool FilterWheelRules::SelectFilterWithWaitCursor(int filter) {
    WaitCursor wait(m_Dlg);
    return m_FW.SelectFilter(filter);
}

bool FilterWheelRules::OnWindowKey(WindowKey key, int digit, bool inPositionBox, bool ctrl) {
    if (!m_Dlg) return false;
    if (key == WindowKey::Enter) {
        if (!m_FW.IsOpen()) OnConnect();
        return true;
    }
    if (!inPositionBox && !ctrl) return false;
    const int n = m_FW.FilterCount();
    if (key == WindowKey::Digit) {
        if (digit < 0 || digit >= n) return false;
        SelectFilterWithWaitCursor(digit);
        return true;
    }
    if (m_FW.CurrentFilter >= 0 && n > 0) {
        const int next = key == WindowKey::Left ? (m_FW.CurrentFilter + n - 1) % n : (m_FW.CurrentFilter + 1) % n;
        SelectFilterWithWaitCursor(next);
        return true;
    }
    return false;
}

void FilterWheelRules::ActivateFilter(int row) {
    if (SelectFilterWithWaitCursor(row)) RefreshFilterMarks();
}

// ---- command handlers -----------------------------------------------------------------------

void FilterWheelRules::OnConnect() {
    ExchangeData(Transfer::ToFields);
    m_FW.ComPort = PortIndex;
    {
        WaitCursor wait(m_Dlg);
        m_FW.ConnectMulti(ClientKey());
    }
    ShowPermissionProblem();
}

void FilterWheelRules::OnDisconnect() {
    ExchangeData(Transfer::ToFields);
    m_FW.DisconnectMulti(ClientKey());
}

void FilterWheelRules::OnGo() {
    if (!m_Dlg) return;
    // An empty or non-numeric target moves nothing.
    const auto target = LeadingInteger(m_Dlg->Text(idc::kTarget));
    if (!target) return;
    WaitCursor wait(m_Dlg);
    m_FW.GoToPosition(Low16Signed(*target), 0);
}

void FilterWheelRules::OnSetPosition() {
    if (!m_Dlg) return;
    const auto target = LeadingInteger(m_Dlg->Text(idc::kTarget));
    if (!target) return;
    m_FW.SetFocusPosition(Low16Signed(*target), 0);
}

void FilterWheelRules::OnJog(int focuser, int delta) {
    const std::int32_t base = focuser == 0 ? m_FW.FocusPos : m_FW.Focus2Pos;
    // No jog from a position that was never read.
    if (base == kPositionNotRead) return;
    const std::int64_t target = static_cast<std::int64_t>(base) - static_cast<std::int64_t>(m_FW.MinMotorStep) * delta;
    {
        WaitCursor wait(m_Dlg);
        m_FW.GoToPosition(static_cast<int>(std::clamp<std::int64_t>(target, INT32_MIN, INT32_MAX)), focuser);
    }
    // A failed move leaves the position unknown: shown as after a failed status, and the next
    // status shows it again even where it equals the one displayed before the jog.
    const std::int32_t now = focuser == 0 ? m_FW.FocusPos : m_FW.Focus2Pos;
    if (now == kPositionNotRead) (focuser == 0 ? LastStatus.FocusPos : LastStatus.Focus2Pos) = kPositionNotRead;
    if (!m_Dlg) return;
    m_Dlg->SetText(focuser == 0 ? idc::kPosition : idc::kPosition2, now == kPositionNotRead ? "???" : Signed(now));
}

void FilterWheelRules::OnStepSpin(int delta) {
    const std::int64_t next = static_cast<std::int64_t>(m_FW.MinMotorStep) - delta;
    m_FW.MinMotorStep = static_cast<std::int32_t>(std::clamp<std::int64_t>(next, 1, 200));
    if (m_Dlg) m_Dlg->SetText(idc::kStep, Signed(m_FW.MinMotorStep));
}

void FilterWheelRules::OnStepEdited() {
    if (!m_Dlg) return;
    m_FW.MinMotorStep = UnsignedNumber(m_Dlg->Text(idc::kStep)).value_or(0);
}

void FilterWheelRules::OnSensorNameEdited(int k) {
    // Taken at once, so that whatever runs next (a save, a dialog that reloads the window)
    // sees the name as typed.
    if (!m_Dlg || k < 0 || k >= kSensorRows) return;
    m_FW.TermometerName[static_cast<size_t>(k)] = m_Dlg->Text(idc::kSensorName0 + k);
}

void FilterWheelRules::OnAutoBox(int k) {
    if (!m_Dlg || k < 0 || k >= kSensorRows) return;
    const bool wasChecked = m_Dlg->CheckState(idc::kAutoBox0 + k) == 1;
    m_FW.AscomPreferredTermometer = k;
    const int automatic = wasChecked ? -1 : k;
    if (automatic != AutoSensor) {
        AutoSensor = automatic;
        m_FW.SetAutoComp(automatic);
    }
    RefreshAutoBoxes();
}

// ---- settings files -------------------------------------------------------------------------

void FilterWheelRules::OnSaveSettings() {
    std::optional<std::string> path;
    RunModalStep([&] { path = ChooseSettingsFile(true); });
    if (path) m_FW.SaveSettingsFile(*path);
}

void FilterWheelRules::OnLoadSettings() {
    RunModalStep([&] {
        const std::optional<std::string> path = ChooseSettingsFile(false);
        if (!path) return;
        const bool loaded = m_FW.LoadSettingsFile(*path);
        if (!m_Dlg) return;
        if (!loaded) m_Dlg->Message("Load failed", "Load Failed", MessageIcon::Warning);
        ExchangeData(Transfer::ToControls);
        RefillFilterList();
    });
}

// ---- the status poll ------------------------------------------------------------------------

int FilterWheelRules::SensorRows() const { return std::clamp<int>(m_FW.SensorCount, 0, kSensorRows); }

void FilterWheelRules::StatusTick() {
    if (!m_Dlg) return;
    const bool open = m_FW.IsOpen();
    m_Dlg->Enable(idc::kConnect, !open);
    m_Dlg->Enable(idc::kDisconnect, DisconnectAllowed());
    const int others = static_cast<int>(m_FW.ClientSet.size()) - (m_FW.IsClient(ClientKey()) ? 1 : 0);

    if (!WasConnected && open) {
        WasConnected = true;
        PortIndex = m_FW.ComPort;
        ExchangeData(Transfer::ToControls);
        RefillFilterList();
        m_Dlg->Focus(idc::kPosition);
    } else if (WasConnected && !open) {
        WasConnected = false;
        m_Dlg->ClearRows(idc::kFilterList);
        ExchangeData(Transfer::ToControls);
    }

    m_Dlg->SetText(idc::kConnect,
                   others == 0 ? std::string("Connect") : std::string("Conn (").append(std::to_string(others)).append(")"));

    // Every tick is reported, asked or not: the device service fills only the seconds this
    // poll lets pass.
    if (!PollingEnabled || m_FW.IsBusy()) {
        m_FW.NoteWindowPoll(WindowPoll::Skipped);
        return;
    }
    const WindowPoll tick = m_FW.m_bStatusPresent ? (StatusPath() ? WindowPoll::Answered : WindowPoll::Failed)
                                                  : OlderDevicePath();
    m_FW.NoteWindowPoll(tick);
    if (!m_Dlg) return;
    AfterPoll();
}

bool FilterWheelRules::StatusPath() {
    FWCurrentParameters s = EmptyStatus();
    const bool answered = m_FW.GetAll(s);
    if (!m_Dlg) return answered;
    DialogControls& c = *m_Dlg;
    if (!answered) {
        c.Enable(idc::kFilterList, false);
        c.SetText(idc::kPosition, "???");
        c.SetText(idc::kPosition2, "???");
        LastStatus.FocusPos = kPositionNotRead;
        LastStatus.Focus2Pos = kPositionNotRead;
        return false;
    }
    c.Show(idc::kFilterList, m_FW.Mode > 0);
    c.Enable(idc::kFilterList, true);
    for (int k = 0; k < SensorRows(); ++k) {
        if (!Differs(s.Temp[k], LastStatus.Temp[k])) continue;
        const bool reading = s.Temp[k] != kNoTemperature;
        c.Enable(idc::kAutoBox0 + k, reading);
        c.SetText(idc::kTemperature0 + k, reading ? FixedText(static_cast<double>(s.Temp[k]), 2) : std::string());
    }
    if (s.FilterPos != LastStatus.FilterPos) RefreshFilterMarks();
    AutoSensor = s.AutoComp;
    RefreshAutoBoxes();
    if (s.FocusPos != LastStatus.FocusPos) c.SetText(idc::kPosition, Signed(s.FocusPos));
    if (s.FocusDir != LastStatus.FocusDir) c.SetText(idc::kDirection, s.FocusDir > 0 ? "U" : "D");
    if (s.Focus2Pos != LastStatus.Focus2Pos) c.SetText(idc::kPosition2, Signed(s.Focus2Pos));
    if (s.Focus2Dir != LastStatus.Focus2Dir) c.SetText(idc::kDirection2, s.Focus2Dir > 0 ? "U" : "D");
    if (Differs(s.Vin, LastStatus.Vin) || Differs(s.Out, LastStatus.Out) || s.Sw != LastStatus.Sw)
        c.SetText(idc::kPowerLine, std::string("Vin=")
                                       .append(FixedText(static_cast<double>(s.Vin), 2))
                                       .append("  Out=")
                                       .append(FixedText(static_cast<double>(s.Out), 1))
                                       .append("%  Sw_")
                                       .append(SwitchText(s.Sw)));
    LastStatus = s;
    return true;
}

WindowPoll FilterWheelRules::OlderDevicePath() {
    const bool focuser = m_FW.m_bFocuserPresent, wheel = m_FW.m_bWheelPresent;
    if (!focuser && !wheel) return WindowPoll::Skipped;
    // A controller that does not answer costs a time-out per query, so the first query that
    // fails ends the asking; what was not asked shows as unread. "FWisAuto" goes first: it
    // always has an answer, so once it has one, a failed temperature is that sensor giving no
    // reading rather than the controller gone, and the tick goes on.
    bool answering = true;
    bool answered = false;  // any query of this tick (the later ones run only after an answer)
    // The window may go while a query waits; what is asked still counts.
    auto show = [this](int id, const std::string& text) {
        if (m_Dlg) m_Dlg->SetText(id, text);
    };
    if (focuser) {
        int automatic = AutoSensor;
        answering = m_FW.GetAutoComp(automatic);
        answered = answering;
        if (answering) AutoSensor = automatic;
        for (int k = 0; k < SensorRows(); ++k) {
            float t = 0;
            const bool ok = answering && m_FW.GetTemperature(k, t);
            if (m_Dlg) m_Dlg->Enable(idc::kAutoBox0 + k, ok);
            show(idc::kTemperature0 + k, ok ? FixedText(static_cast<double>(t), 2) : std::string());
        }
        RefreshAutoBoxes();
        int position = 0;
        answering = answering && m_FW.GetFocus(position, 0);
        show(idc::kPosition, answering ? Signed(position) : "???");
        int direction = 0;
        answering = answering && m_FW.GetFocusDirection(direction, 0);
        show(idc::kDirection, answering ? (direction > 0 ? "U" : "D") : " ");
        float volts = 0, percent = 0;
        answering = answering && m_FW.GetVolt(volts, percent);
        show(idc::kPowerLine, answering ? std::string("Vin=")
                                              .append(FixedText(static_cast<double>(volts), 2))
                                              .append("\tOut=")
                                              .append(FixedText(static_cast<double>(percent), 1))
                                              .append("%")
                                        : std::string());
    }
    if (wheel) {
        int filter = -1;
        const bool ok = answering && m_FW.GetFilter(filter);
        answered = answered || ok;
        if (m_Dlg) m_Dlg->Enable(idc::kFilterList, ok);
        if (ok && filter != MarkedFilter) RefreshFilterMarks();
    }
    return answered ? WindowPoll::Answered : WindowPoll::Failed;
}

}  // namespace velq3::ui
