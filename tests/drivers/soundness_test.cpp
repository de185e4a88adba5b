// Identities that a released object leaves behind are never inherited, and readings fail once
// the controller has stopped answering.
#include <thread>

#include "automation/ErrorInfo.h"
#include "drivers/DriverFixture.h"

namespace velq3::test {
namespace {

class SoundnessTest : public DriverTest {};

TEST(ClientIdTest, NeverRepeatedAcrossThreads) {
    std::vector<ClientId> ids[4];
    std::vector<std::thread> threads;
    for (auto& list : ids)
        threads.emplace_back([&list] {
            for (int i = 0; i < 1000; ++i) list.push_back(NewClientId());
        });
    for (auto& t : threads) t.join();
    std::set<ClientId> all;
    for (const auto& list : ids) all.insert(list.begin(), list.end());
    EXPECT_EQ(all.size(), 4000u);
    EXPECT_EQ(all.count(0), 0u);
}

TEST_F(SoundnessTest, AFreshObjectNeverInheritsAReleasedObjectsConnection) {
    Start({"--mode", "4"});
    // Many create / connect / release rounds: whatever addresses the allocator hands out
    // again, the link's holders only grow and a new object holds nothing.
    for (int round = 0; round < 20; ++round) {
        auto wheel = Create<IFilterWheel>(CLSID_FilterWheel);
        VariantBool connected = VARIANT_TRUE;
        ASSERT_EQ(wheel->get_Connected(&connected), S_OK);
        EXPECT_EQ(connected, VARIANT_FALSE) << "round " << round;
        ASSERT_EQ(wheel->put_Connected(VARIANT_TRUE), S_OK);
        wheel.Reset();
        EXPECT_EQ(fw->ClientSet.size(), static_cast<std::size_t>(round + 1));
    }
    // A rotator on this wheel-mode controller is not connected and cannot connect.
    auto rotator = Create<IRotator>(CLSID_Rotator);
    VariantBool connected = VARIANT_TRUE;
    ASSERT_EQ(rotator->get_Connected(&connected), S_OK);
    EXPECT_EQ(connected, VARIANT_FALSE);
    EXPECT_EQ(rotator->put_Connected(VARIANT_TRUE), E_FAIL);
    EXPECT_TRUE(fw->IsOpen());  // the released wheels still hold the link
}

TEST_F(SoundnessTest, ReadingsFailWhenTheControllerStopsAnswering) {
    Start({"--mode", "0"});
    fw->StaleAfter = std::chrono::milliseconds(300);
    auto focuser = Create<IFocuser>(CLSID_Focuser);
    auto focuser2 = Create<IFocuser>(CLSID_Focuser2);
    ASSERT_EQ(focuser->put_Link(VARIANT_TRUE), S_OK);
    ASSERT_EQ(focuser2->put_Link(VARIANT_TRUE), S_OK);
    std::int32_t position = 0;
    double temperature = 0;
    EXPECT_EQ(focuser->get_Position(&position), S_OK);
    EXPECT_EQ(focuser->get_Temperature(&temperature), S_OK);

    // A status keeps the readings fresh past the age.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    FWCurrentParameters s = EmptyStatus();
    ASSERT_TRUE(fw->GetAll(s));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(focuser->get_Position(&position), S_OK);

    // Silence: the poll fails, and once the age has passed every reading fails with the message.
    sim->control("fault silent");
    EXPECT_FALSE(fw->GetAll(s));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    GetErrorInfo();
    EXPECT_EQ(focuser->get_Position(&position), E_FAIL);
    auto info = GetErrorInfo();
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->description, kNoAnswerMessage);
    EXPECT_EQ(focuser->get_Temperature(&temperature), E_FAIL);
    EXPECT_EQ(focuser2->get_Temperature(&temperature), E_FAIL);
    EXPECT_EQ(focuser2->get_Position(&position), E_FAIL);
    LateGet(focuser.Get(), "Position", DISP_E_EXCEPTION);
    // Each refused reading names its member in the log, as every member's line does.
    EXPECT_EQ(CountLines("CFocuser::get_Position() no answer\n"), 2);
    EXPECT_EQ(CountLines("CFocuser::get_Temperature() no answer\n"), 1);
    EXPECT_EQ(CountLines("CFocuser2::get_Temperature() no answer\n"), 1);
    EXPECT_EQ(CountLines("CFocuser2::get_Position() no answer\n"), 1);
    // Members that read no controller value still answer.
    std::int32_t maxStep = 0;
    EXPECT_EQ(focuser->get_MaxStep(&maxStep), S_OK);

    // The controller answers again: so do the readings.
    sim->control("fault none");
    ASSERT_TRUE(fw->GetAll(s));
    EXPECT_EQ(focuser->get_Position(&position), S_OK);
    EXPECT_EQ(focuser->get_Temperature(&temperature), S_OK);
}

TEST_F(SoundnessTest, WheelRotatorAndCoverReadingsGoStaleToo) {
    struct Case {
        const char* mode;
        int which;
    };
    const char* const kLines[] = {"CFilterWheelImpl::get_Position() no answer\n",
                                  "CRotatorImpl::get_Position() no answer\n",
                                  "CDomeImpl::get_ShutterStatus() no answer\n"};
    const char* const kSources[] = {"VELQ3.FilterWheel", "VELQ3.Rotator", "VELQ3.Dome"};
    for (const Case& c : {Case{"4", 0}, Case{"-1", 1}, Case{"-2", 2}}) {
        SCOPED_TRACE(c.mode);
        ctx.reset();
        fw.reset();
        Start({"--mode", c.mode});
        fw->StaleAfter = std::chrono::milliseconds(200);
        auto wheel = Create<IFilterWheel>(CLSID_FilterWheel);
        auto rotator = Create<IRotator>(CLSID_Rotator);
        auto dome = Create<IDome>(CLSID_Dome);
        auto read = [&]() -> HRESULT {
            std::int16_t slot = 0;
            float angle = 0;
            std::int32_t status = 0;
            if (c.which == 0) return wheel->get_Position(&slot);
            if (c.which == 1) return rotator->get_Position(&angle);
            return dome->get_ShutterStatus(&status);
        };
        HRESULT connected = c.which == 0 ? wheel->put_Connected(VARIANT_TRUE)
                            : c.which == 1 ? rotator->put_Connected(VARIANT_TRUE)
                                           : dome->put_Connected(VARIANT_TRUE);
        ASSERT_EQ(connected, S_OK);
        EXPECT_EQ(read(), S_OK);
        sim->control("fault silent");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        GetErrorInfo();
        EXPECT_EQ(read(), E_FAIL);
        const auto info = GetErrorInfo();
        ASSERT_TRUE(info.has_value());
        EXPECT_EQ(info->description, kNoAnswerMessage);
        EXPECT_EQ(info->source, kSources[c.which]);
        EXPECT_EQ(CountLines(kLines[c.which]), 1);
        sim->control("fault none");
        FWCurrentParameters s = EmptyStatus();
        ASSERT_TRUE(fw->GetAll(s));
        EXPECT_EQ(read(), S_OK);
        // Closed, nothing is stale: the member reports what the device object holds.
        fw->CloseLink();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(read(), S_OK);
    }
}

} // namespace
} // namespace velq3::test
