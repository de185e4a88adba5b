// A client disconnects from the controller and connects again in one session. Run as an ordinary
// user this catches a port that stays locked after its close.
#include "e2e/E2eFixture.h"

namespace velq3::test {
namespace {

TEST_F(E2eTest, AClientDisconnectsAndConnectsAgain) {
    Register();
    StartController();
    const RunResult r = Run(Program("velq3-ctl"), {"VELQ3.FilterWheel", "Connected=true", "Position=3", "Connected=false",
                                                   "Connected", "Connected=true", "Connected", "Position"});
    ASSERT_EQ(r.status, 0) << r.output << r.error;
    EXPECT_EQ(r.Lines(), (std::vector<std::string>{
                             "Connected = true",
                             "Position = 3",
                             "Connected = false",
                             "Connected = false",
                             "Connected = true",
                             "Connected = true",
                             "Position = 3",
                         }));
}

}  // namespace
}  // namespace velq3::test
