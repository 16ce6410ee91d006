#include <gtest/gtest.h>

#include <vector>

#include "platform/agent/CAgent.h"
#include "platform/hardware/Bcm53134.h"
#include "platform/kiv/Dir.h"
#include "platform/stratum/EntityManager.h"
#include "tests/support/Loop.h"

namespace {

// An agent that records every mount completion it is told of.
class RecordingAgent : public AgentBase::CAgent {
 public:
  explicit RecordingAgent(Orba::String name) : CAgent(std::move(name)) {}
  void doMountsComplete(Stratum::MountStatus status,
                        Orba::Ptr<Stratum::EntityManager> const& em) override {
    completions.push_back(status);
    managers.push_back(em);
  }
  std::vector<Stratum::MountStatus> completions;
  std::vector<Orba::Ptr<Stratum::EntityManager>> managers;
};

// A database with the profile "Bcm53134Agent" over the two hardware paths of
// the local cell and the interface slice directory; all three are present.
class StratumTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestSupport::resetLoop();
    previous_ = Stratum::EntityManager::local();
    em = Stratum::EntityManager::EntityManagerIs();
    Stratum::EntityManager::localIs(em);
    configPath = Cell::path("hardware/bcm53134/config", 0);
    statusPath = Cell::path("hardware/bcm53134/status", 0);
    em->entityIs(configPath, Hardware::Bcm53134::Config::ConfigIs());
    em->entityIs(statusPath, Hardware::Bcm53134::Status::StatusIs());
    em->entityIs("interface/config/eth/phy/slice", Kiv::Dir::DirIs("slice"));
    em->mountProfileIs("Bcm53134Agent", {configPath, statusPath, "interface/config/eth/phy/slice"});
    agent = Orba::Ptr<RecordingAgent>::adopt(new RecordingAgent("agent"));
  }
  void TearDown() override {
    TestSupport::resetLoop();
    Stratum::EntityManager::localIs(previous_);
  }

  // Requests the profiles and closes the group, as an agent's doInit does.
  void mount(std::vector<Orba::String> const& profiles) {
    auto group = agent->entityManager()->getMountGroup(agent);
    for (auto const& p : profiles)
      group->doMountProfile(p);
    group->doClose(false, "", 0);
  }

  Orba::Ptr<Stratum::EntityManager> previous_, em;
  Orba::String configPath, statusPath;
  Orba::Ptr<RecordingAgent> agent;
};

TEST_F(StratumTest, CompletionComesThroughTheLoopNeverInsideDoClose) {
  EXPECT_EQ(agent->entityManager(), em);  // the agent holds the process's manager
  auto group = em->getMountGroup(agent);
  group->doMountProfile("Bcm53134Agent");
  group->doClose(false, "", 0);
  EXPECT_TRUE(agent->completions.empty());

  // Closing again, and dropping the group, neither repeats nor loses the
  // completion.
  group->doClose(false, "", 0);
  group = {};
  TestSupport::runUntilIdle();
  ASSERT_EQ(agent->completions.size(), 1u);
  EXPECT_EQ(agent->completions[0], Stratum::MountStatus::mountsComplete);
  EXPECT_EQ(agent->managers[0], em);
  EXPECT_EQ(em->completionCount(), 1u);
  EXPECT_EQ(TestSupport::now(), 0.0);  // at once, in virtual time
  TestSupport::advance(10);
  EXPECT_EQ(agent->completions.size(), 1u);

  // An unknown profile, even next to a complete one, or an absent path
  // completes as partial; nothing asked is nothing missing.
  mount({"NoSuchProfile"});
  TestSupport::runUntilIdle();
  em->entityDel(statusPath);
  mount({"Bcm53134Agent"});
  TestSupport::runUntilIdle();
  em->entityIs(statusPath, Hardware::Bcm53134::Status::StatusIs());
  mount({"Bcm53134Agent", "NoSuchProfile"});
  TestSupport::runUntilIdle();
  mount({});
  TestSupport::runUntilIdle();
  using S = Stratum::MountStatus;
  EXPECT_EQ(agent->completions,
            (std::vector<S>{S::mountsComplete, S::mountsPartial, S::mountsPartial, S::mountsPartial,
                            S::mountsComplete}));
  // The hardware paths are relative to the cell.
  EXPECT_FALSE(em->getEntity("hardware/bcm53134/config"));
  EXPECT_TRUE(Orba::ptrCast<Hardware::Bcm53134::Config>(em->getEntity(configPath)));
}

}  // namespace
