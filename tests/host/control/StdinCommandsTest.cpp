// Steps typed on the host's stdin, in virtual time in this process: a line
// that is no step is answered and the host goes on; management interfaces
// added past the most an appliance has are refused one by one.

#include "workbench/control/StdinCommands.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "host/Session.h"
#include "tests/host/HostTestSupport.h"
#include "tests/support/Loop.h"

namespace {

// The example appliance with the simulated CPU interface manager, its
// timeline in a file the test reads, its stdin a pipe the test writes.
class StdinTest : public ::testing::Test {
 protected:
  StdinTest() : out_(std::tmpfile()), timeline_(out_) {
    TestSupport::resetLoop();
    Host::SessionOptions o;
    o.cpu = Host::CpuRequest::simulated;
    session_ = std::make_unique<Host::Session>(
        Host::loadAppliance(std::string(EXAMPLES_DIR) + "/appliance.yaml"), o, timeline_);
    session_->start();
    TestSupport::advance(0.5);
    EXPECT_EQ(::pipe(pipe_), 0);
    input_ = std::make_unique<Host::StdinCommands>(*session_, pipe_[0]);
  }
  ~StdinTest() override {
    input_.reset();
    session_.reset();
    ::close(pipe_[0]);
    ::close(pipe_[1]);
    std::fclose(out_);
  }
  // Types the text and lets the host read it, in pieces as a pipe gives it.
  void type(std::string const& text) {
    for (std::size_t at = 0; at < text.size(); at += 512) {
      auto piece = text.substr(at, 512);
      ASSERT_EQ(::write(pipe_[1], piece.data(), piece.size()), static_cast<ssize_t>(piece.size()));
      input_->readable();
    }
  }
  std::string timeline() {
    std::fflush(out_);
    std::rewind(out_);
    std::string r;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, out_)) > 0;)
      r.append(buf, n);
    return r;
  }

  std::FILE* out_;
  Host::Timeline timeline_;
  std::unique_ptr<Host::Session> session_;
  int pipe_[2] = {-1, -1};
  std::unique_ptr<Host::StdinCommands> input_;
};

TEST_F(StdinTest, ALineThatIsNoStepIsAnsweredAndTheNextIsCarriedOut) {
  type("link: {port: 1, sate: down}\n\n   \nlink: {port: 1, state: down}\n");
  TestSupport::advance(2.5);
  auto out = timeline();
  EXPECT_EQ(HostTest::occurrences(out, "  input   stdin:1: "), 1u) << out;
  EXPECT_NE(out.find("sate"), std::string::npos) << out;
  EXPECT_NE(out.find("status  port 1 link status 0 (linkDown)"), std::string::npos) << out;
}

// A switch port that an added interface shares is accepted with a word,
// after the event's line; an interface added takes the first free key, so
// here it is visited first.
TEST_F(StdinTest, AnAddedInterfaceOnASharedPortIsAcceptedWithAWarning) {
  type("mgmtDel: Management1\nmgmtAdd: {intfId: Management3, externalPort: 3, internalPort: 2}\n");
  auto out = timeline();
  EXPECT_NE(out.find("management interface Management3 added (ports 3/2, no CPU netdevice)\n"
                     "     0.500  note    warning: switch port 2 is used by Management3 "
                     "(internal) and Management2 (external): they share its register records, "
                     "and Management2, visited last, decides a shared register\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(HostTest::occurrences(out, "warning: "), 1u) << out;
}

TEST_F(StdinTest, ManagementInterfacesPastTheMostAreRefusedAndTheAgentRunsOn) {
  std::string lines;
  for (int i = 1; i <= 300; ++i) {
    lines += "mgmtAdd: {intfId: Extra" + std::to_string(i) +
             ", externalPort: " + std::to_string(i % 4) +
             ", internalPort: " + std::to_string(4 + i % 4) + "}\n";
  }
  type(lines);
  auto out = timeline();
  // The appliance has two; 253 more fit.
  EXPECT_EQ(HostTest::occurrences(out, "is one too many"), 47u);
  EXPECT_NE(out.find("management interface Extra254 is one too many: at most 255 "
                     "management interfaces"),
            std::string::npos);
  EXPECT_EQ(session_->db().mgmtInterfaces().size(), 255u);
  auto& chip = session_->db().chip();
  chip.countersClear();
  TestSupport::advance(4.5);
  EXPECT_GE(chip.miiStatusReadsTotal(), 255u) << "a cycle over every interface";
}

}  // namespace
