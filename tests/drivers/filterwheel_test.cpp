// The FilterWheel driver against the simulated controller (a 7-filter wheel by default).
#include <chrono>

#include "drivers/DriverFixture.h"

namespace velq3::test {
namespace {

using FilterWheelTest = DriverTest;

TEST_F(FilterWheelTest, ConnectsOnlyToAWheelAndReportsItsOwnHold) {
    Start({});
    auto wheel = Create<IFilterWheel>(CLSID_FilterWheel);
    auto other = Create<IFilterWheel>(CLSID_FilterWheel);
    EXPECT_EQ(wheel->put_Connected(VARIANT_TRUE), S_OK);
    EXPECT_TRUE(fw->IsOpen());
    EXPECT_EQ(CountLines("CFilterWheelImpl::put_Connected(-1)\n"), 1);
    EXPECT_TRUE(Logged("ConnectMulti(0x"));

    VariantBool connected = VARIANT_FALSE;
    EXPECT_EQ(wheel->get_Connected(&connected), S_OK);
    EXPECT_EQ(connected, VARIANT_TRUE);
    EXPECT_EQ(other->get_Connected(&connected), S_OK);  // the port is open, but not for this one
    EXPECT_EQ(connected, VARIANT_FALSE);
    EXPECT_EQ(CountLines("CFilterWheelImpl::get_Connected(-1)\n"), 1);
    EXPECT_EQ(CountLines("CFilterWheelImpl::get_Connected(0)\n"), 1);
    EXPECT_EQ(LateGet(wheel.Get(), "connected"), Variant(VARIANT_TRUE));

    EXPECT_EQ(LatePut(wheel.Get(), "Connected", Variant(VARIANT_FALSE)).hr, S_OK);
    EXPECT_FALSE(fw->IsOpen());
    EXPECT_EQ(CountLines("CFilterWheelImpl::put_Connected(0)\n"), 1);

    // The controller in second-focuser mode: the connection is undone.
    sim->control("set mode 0");
    TakeLog();
    EXPECT_EQ(wheel->put_Connected(VARIANT_TRUE), E_FAIL);
    EXPECT_FALSE(fw->IsOpen());
    const auto log = TakeLog();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log.front(), "CFilterWheelImpl::put_Connected(-1)\n");
    EXPECT_NE(log[1].find(") = connect\r\n"), std::string::npos);
    EXPECT_NE(log.back().find(") = Disconnect\r\n"), std::string::npos);
}

// Modes 21 and above declare ten filters: the count stops at the image's ten slots.
TEST_F(FilterWheelTest, AControllerInMode25IsATenFilterWheel) {
    Start({"--mode", "25"});
    auto wheel = Create<IFilterWheel>(CLSID_FilterWheel);
    ASSERT_EQ(wheel->put_Connected(VARIANT_TRUE), S_OK);
    EXPECT_EQ(fw->Mode, 25);
    SafeArray<Bstr> names;
    ASSERT_EQ(wheel->get_Names(&names), S_OK);
    EXPECT_EQ(names.size(), 10u);
    SafeArray<std::int32_t> offsets;
    ASSERT_EQ(wheel->get_FocusOffsets(&offsets), S_OK);
    EXPECT_EQ(offsets.size(), 10u);
    EXPECT_EQ(wheel->put_Position(9), S_OK);
    std::int16_t pos = -5;
    EXPECT_EQ(wheel->get_Position(&pos), S_OK);
    EXPECT_EQ(pos, 9);
}

TEST_F(FilterWheelTest, PositionReadsAndMovesTheWheel) {
    Start({});
    auto wheel = Create<IFilterWheel>(CLSID_FilterWheel);
    ASSERT_EQ(wheel->put_Connected(VARIANT_TRUE), S_OK);
    std::int16_t pos = -5;
    EXPECT_EQ(wheel->get_Position(&pos), S_OK);
    EXPECT_EQ(pos, fw->CurrentFilter);
    EXPECT_EQ(CountLines("CFilterWheelImpl::get_Position(" + std::to_string(pos) + ")\n"), 1);

    // The slot already in the light path: nothing sent, nothing logged.
    TakeLog();
    EXPECT_EQ(wheel->put_Position(pos), S_OK);
    EXPECT_TRUE(TakeLog().empty());

    const std::int16_t target = pos == 2 ? 3 : 2;
    EXPECT_EQ(wheel->put_Position(target), S_OK);
    auto log = TakeLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front().rfind("Goto(", 0), 0u);
    EXPECT_EQ(log.back(), "CFilterWheelImpl::put_Position(" + std::to_string(target) + ")\n");
    EXPECT_EQ(fw->CurrentFilter, target);
    int inDevice = -1;
    ASSERT_TRUE(fw->GetFilter(inDevice));
    EXPECT_EQ(inDevice, target);

    EXPECT_EQ(LatePut(wheel.Get(), "POSITION", Variant(std::int32_t{5})).hr, S_OK);
    EXPECT_EQ(LateGet(wheel.Get(), "Position"), Variant(std::int16_t{5}));
    EXPECT_EQ(LatePut(wheel.Get(), "Position", Variant(std::int32_t{70000})).hr, DISP_E_OVERFLOW);

    // A slot the wheel does not have is refused before anything is sent.
    TakeLog();
    EXPECT_EQ(wheel->put_Position(7), E_INVALIDARG);
    EXPECT_EQ(wheel->put_Position(-2), E_INVALIDARG);
    log = TakeLog();
    EXPECT_EQ(log, (std::vector<std::string>{"CFilterWheelImpl::put_Position(7)\n", "CFilterWheelImpl::put_Position(-2)\n"}));
    EXPECT_EQ(fw->CurrentFilter, 5);
}

TEST_F(FilterWheelTest, FailedMoveIsTriedOnceMore) {
    Start({"--fault", "fail", "--fault-cmd", "FWGOTO"});
    auto wheel = Create<IFilterWheel>(CLSID_FilterWheel);
    ASSERT_EQ(wheel->put_Connected(VARIANT_TRUE), S_OK);
    TakeLog();
    const std::int16_t target = fw->CurrentFilter == 3 ? 4 : 3;
    EXPECT_EQ(wheel->put_Position(target), E_FAIL);
    EXPECT_EQ(CountLines("CFilterWheelImpl::put_Position(" + std::to_string(target) + ")\n"), 1);
    int attempts = 0, failures = 0;
    for (const auto& l : logLines) {
        attempts += l.rfind("Goto(", 0) == 0;
        failures += l.rfind("Failed Goto(", 0) == 0;
    }
    EXPECT_EQ(attempts, 2);
    EXPECT_EQ(failures, 2);
}

TEST_F(FilterWheelTest, AfterAFailedMoveTheOldSlotIsReallyAskedFor) {
    // The wheel turns, but its report is lost, cut short or garbled: the filter in the light
    // path is unknown, and asking for the slot it came from moves the wheel back.
    for (const char* fault : {"short", "garbage", "silent"}) {
        SCOPED_TRACE(fault);
        Start({});
        auto wheel = Create<IFilterWheel>(CLSID_FilterWheel);
        ASSERT_EQ(wheel->put_Connected(VARIANT_TRUE), S_OK);
        const std::int16_t from = static_cast<std::int16_t>(fw->CurrentFilter);
        const std::int16_t to = static_cast<std::int16_t>((from + 1) % fw->FilterCount());
        fw->ChangeFilterTimeoutMs = -4700;  // 300 ms for the one slot
        sim->control(std::string("fault ") + fault + " FWGOTO");
        if (std::string(fault) == "silent") sim->control("set wheel " + std::to_string(to));  // it moved anyway
        EXPECT_EQ(wheel->put_Position(to), E_FAIL);
        std::int16_t pos = 0;
        EXPECT_EQ(wheel->get_Position(&pos), S_OK);
        EXPECT_EQ(pos, -1);
        sim->control("fault none");
        fw->ChangeFilterTimeoutMs = 1000;

        EXPECT_EQ(wheel->put_Position(from), S_OK);
        int inDevice = -1;
        ASSERT_TRUE(fw->GetFilter(inDevice));
        EXPECT_EQ(inDevice, from);
        ASSERT_EQ(wheel->put_Connected(VARIANT_FALSE), S_OK);
        wheel.Reset();
        ctx.reset();
        fw.reset();
    }
}

TEST_F(FilterWheelTest, MoveWithTheLinkClosedFailsAfterOneRetry) {
    MakeFw();  // no controller anywhere
    auto wheel = Create<IFilterWheel>(CLSID_FilterWheel);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(wheel->put_Position(1), E_FAIL);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(190));  // the retry's pause
    EXPECT_EQ(TakeLog(), std::vector<std::string>{"CFilterWheelImpl::put_Position(1)\n"});
    auto late = LatePut(wheel.Get(), "Position", Variant(std::int16_t{1}));
    EXPECT_EQ(late.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(late.excep.scode, E_FAIL);
}

TEST_F(FilterWheelTest, NamesAndOffsetsAreTheCallersOwnArrays) {
    Start({});
    auto wheel = Create<IFilterWheel>(CLSID_FilterWheel);
    ASSERT_EQ(wheel->put_Connected(VARIANT_TRUE), S_OK);
    TakeLog();
    SafeArray<Bstr> names, names2;
    ASSERT_EQ(wheel->get_Names(&names), S_OK);
    EXPECT_EQ(names.LBound(), 0);
    ASSERT_EQ(names.size(), 7u);
    EXPECT_EQ(names.Elements()[0], "L");
    EXPECT_EQ(names.Elements()[5], "OIII");
    SafeArray<std::int32_t> offsets, offsets2;
    ASSERT_EQ(wheel->get_FocusOffsets(&offsets), S_OK);
    EXPECT_EQ(offsets.Elements(), (std::vector<std::int32_t>{0, 35, 20, 45, 60, 55, 65}));
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"CFilterWheelImpl::get_Names()\n", "CFilterWheelImpl::get_FocusOffsets()\n"}));

    // Changing one array changes neither the next one nor the filter table.
    ASSERT_EQ(names.PutElement(0, Bstr("mine")), S_OK);
    ASSERT_EQ(offsets.PutElement(1, -1), S_OK);
    ASSERT_EQ(wheel->get_Names(&names2), S_OK);
    ASSERT_EQ(wheel->get_FocusOffsets(&offsets2), S_OK);
    EXPECT_EQ(names2.Elements()[0], "L");
    EXPECT_EQ(offsets2.Elements()[1], 35);
    EXPECT_EQ(fw->Filters[0].Name, "L");

    // A changed table shows in the next pair; device text comes out as UTF-8.
    fw->Filters[1].Name = "5\xB0";
    fw->Filters[1].FocuserPos = 99;
    const Variant lateNames = LateGet(wheel.Get(), "Names");
    ASSERT_EQ(lateNames.vt(), VT_ARRAY | VT_BSTR);
    EXPECT_EQ(lateNames.Get<SafeArray<Bstr>>().Elements()[1], "5\xC2\xB0");
    const Variant lateOffsets = LateGet(wheel.Get(), "focusoffsets");
    ASSERT_EQ(lateOffsets.vt(), VT_ARRAY | VT_I4);
    EXPECT_EQ(lateOffsets.Get<SafeArray<std::int32_t>>().Elements()[1], 99);

    // An empty filter table gives empty arrays.
    fw->Filters.clear();
    ASSERT_EQ(wheel->get_Names(&names), S_OK);
    EXPECT_EQ(names.size(), 0u);
    EXPECT_EQ(names.UBound(), -1);
    ASSERT_EQ(wheel->get_FocusOffsets(&offsets), S_OK);
    EXPECT_EQ(offsets.size(), 0u);
    EXPECT_EQ(wheel->get_Names(nullptr), E_POINTER);
}

TEST_F(FilterWheelTest, SetupDialogBringsTheWindowForward) {
    MakeFw();
    auto wheel = Create<IFilterWheel>(CLSID_FilterWheel);
    EXPECT_EQ(wheel->SetupDialog(), S_OK);
    EXPECT_EQ(LateCallMethod(wheel.Get(), "setupdialog").hr, S_OK);
    EXPECT_EQ(window.fronts, 2);
    EXPECT_EQ(CountLines("CFilterWheelImpl::SetupDialog()\n"), 2);
}

} // namespace
} // namespace velq3::test
