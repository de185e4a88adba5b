// The window's status poll beside the device service's: at most one status query a second in
// all, counted on the simulator's side of the line. The window's poll has precedence; the
// service asks only in the seconds the window lets pass (a dialog is up) and only for a client
// other than the window. Virtual time drives both polls and the readings' age.
#include <algorithm>
#include <thread>

#include "UiFixture.h"
#include "service/DeviceService.h"

namespace velq3::test {
namespace {

struct PollCase {
    const char* name;
    bool fullStatus;   // the controller answers "FWAll"; else the older per-item queries
    bool otherClient;  // a client besides the window holds the link
};

class PollSharingTest : public UiTest, public ::testing::WithParamInterface<PollCase> {
protected:
    void TearDown() override {
        dlg.reset();
        service.reset();
        UiTest::TearDown();
    }

    // The device object with the service and its poll started first, then the window, as the
    // program starts them; connected through the window.
    void StartWindowBesideService() {
        std::vector<std::string> args = {"--verbose", "--mode", "7", "--sensors", "2"};
        if (!GetParam().fullStatus) args.push_back("--no-all");
        StartSim(args);
        MakeDeviceObject();
        device->SetSteadyClock([this] { return SteadyTime{} + std::chrono::hours(1) + loop.Now(); });
        service = std::make_unique<DeviceService>(*device, loop);
        service->StartPoll();
        dlg = std::make_unique<CFilterWheelDlg>(*device, loop);
        ASSERT_TRUE(dlg->CreateModeless());
        ConnectThroughWindow();
        ASSERT_EQ(device->m_bStatusPresent, GetParam().fullStatus);
        if (GetParam().otherClient) {
            ASSERT_TRUE(service->Connect(DeviceService::NewClient(), DeviceKind::Focuser).Ok());
        }
        sim->takeReceived();
    }

    // Status queries the controller received in one second of virtual time: each round of
    // the full status is one "FWAll"; each round of the per-item queries reads the wheel once.
    int QueriesInOneSecond() {
        Tick();
        const auto words = sim->takeReceived();
        const auto count = [&words](const char* w) { return static_cast<int>(std::count(words.begin(), words.end(), w)); };
        if (GetParam().fullStatus) {
            EXPECT_EQ(count("FWFILTER") + count("FWfocus") + count("FWtemperature"), 0) << "beside the full status";
            return count("FWAll");
        }
        EXPECT_EQ(count("FWAll"), 0);
        EXPECT_LE(count("FWfocus"), count("FWFILTER")) << "one position read per round";
        return count("FWFILTER");
    }

    std::vector<int> QueriesPerSecond(int seconds) {
        std::vector<int> counts;
        for (int i = 0; i < seconds; ++i) counts.push_back(QueriesInOneSecond());
        return counts;
    }

    std::unique_ptr<DeviceService> service;
};

TEST_P(PollSharingTest, OneStatusQueryASecondWithTheWindowFirst) {
    StartWindowBesideService();

    // The window polls; the service adds nothing, and the window's answers keep the readings
    // fresh past the ten seconds after which they would go stale.
    EXPECT_EQ(QueriesPerSecond(12), std::vector<int>(12, 1));
    EXPECT_FALSE(device->ReadingsStale());
    EXPECT_FALSE(service->Current()->Stale(service->Now()));

    // A file dialog is up for six seconds: the window's poll pauses; the service fills those
    // seconds only for another client. Real time passes as well, so that a pause judged by the
    // wall clock rather than by the window's ticks shows too.
    std::vector<int> duringDialog;
    dlg->SetFileChooser([&](bool, QWidget*) -> std::optional<QString> {
        EXPECT_EQ(dlg->PollingEnabled, 0);
        std::this_thread::sleep_for(1600ms);
        duringDialog = QueriesPerSecond(6);
        return std::nullopt;
    });
    Click(idc::kLoad);
    EXPECT_EQ(duringDialog, std::vector<int>(6, GetParam().otherClient ? 1 : 0));

    // The window takes over again, without a second of two queries.
    EXPECT_EQ(QueriesPerSecond(4), std::vector<int>(4, 1));
    EXPECT_FALSE(device->ReadingsStale());
}

INSTANTIATE_TEST_SUITE_P(Controllers, PollSharingTest,
                         ::testing::Values(PollCase{"FullStatusWindowAlone", true, false},
                                           PollCase{"FullStatusWithAnotherClient", true, true},
                                           PollCase{"PerItemWindowAlone", false, false},
                                           PollCase{"PerItemWithAnotherClient", false, true}),
                         [](const ::testing::TestParamInfo<PollCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velq3::test
