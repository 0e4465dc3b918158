// A caller's stop token tied to the cancellation poll (StopTokenScope): the
// calling thread answers from the token instead of the registered poll, scopes
// nest, and the workers of its loops stop with it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <stop_token>
#include <vector>

#include "core/base/cancel.h"
#include "core/base/parallel.h"

namespace korvane {
namespace {

std::atomic<int> g_polls{0};
bool count_and_stop() {
  ++g_polls;
  return true;
}

class StopToken : public ::testing::Test {
 protected:
  void SetUp() override {
    g_polls = 0;
    set_cancel_poll(count_and_stop);
  }
  void TearDown() override { set_cancel_poll(nullptr); }
};

TEST_F(StopToken, TheTokenAnswersInsteadOfTheRegisteredPoll) {
  std::stop_source stopped;
  stopped.request_stop();
  const std::stop_source running;
  struct Case {
    const char* name;
    std::vector<const std::stop_source*> scopes;  // outermost first
    bool stop;
  };
  const Case cases[] = {
      {"a running token", {&running}, false},
      {"a stopped token", {&stopped}, true},
      {"a running token inside a stopped one", {&stopped, &running}, false},
      {"a stopped token inside a running one", {&running, &stopped}, true},
  };
  for (const Case& c : cases) {
    std::vector<std::stop_token> tokens;
    tokens.reserve(c.scopes.size());
    for (const std::stop_source* s : c.scopes) tokens.push_back(s->get_token());
    std::vector<std::unique_ptr<StopTokenScope>> scopes;
    for (const std::stop_token& t : tokens) scopes.push_back(std::make_unique<StopTokenScope>(t));
    EXPECT_EQ(cancel_requested_now(), c.stop) << c.name;
    EXPECT_EQ(g_polls.load(), 0) << c.name;
    while (!scopes.empty()) scopes.pop_back();  // innermost first, as scopes nest
  }
  // Without a scope the registered poll is asked again.
  EXPECT_TRUE(cancel_requested_now());
  EXPECT_EQ(g_polls.load(), 1);
}

TEST_F(StopToken, WorkersStopWhenTheCallersTokenIsStopped) {
  set_cancel_poll(nullptr);
  std::stop_source source;
  const std::stop_token token = source.get_token();
  const StopTokenScope scope(token);
  std::vector<int> stopped(4, 0);
  for_each_chunk(4, 4, [&](std::size_t c, std::size_t, std::size_t) {
    // The caller's chunk asks for the stop and ends; the others run until the
    // caller, polling its token while it waits for them, raises their flag.
    if (c == 0) {
      source.request_stop();
      return;
    }
    CancelCheck check;
    while (!check.requested(CancelCheck::kStepsPerClockRead)) {
    }
    stopped[c] = 1;
  });
  EXPECT_EQ(stopped, (std::vector<int>{0, 1, 1, 1}));
}

}  // namespace
}  // namespace korvane
