#include "app/job_claims.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Two runs of one job, each on its own thread, as PAPPL 1.3.1 may start
// them: exactly one claims it, and the other returns the owner's result
// only once the owner has settled.
TEST(JobClaims, OneRunOwnsAJobAndTheOtherWaitsForItsResult) {
  for (const bool result : {true, false}) {
    PrinterState state;
    std::atomic<int> owners{0};
    std::atomic<bool> settled{false};
    bool second_result = !result;
    bool settled_first = false;
    auto run = [&] {
      if (claim_job(state, 7)) {
        ++owners;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        settled = true;
        settle_claim(state, 7, result);
        return;
      }
      second_result = wait_for_claim(state, 7);
      settled_first = settled;
      end_second_run(state, 7);
    };
    std::thread first(run);
    std::thread second(run);
    first.join();
    second.join();
    EXPECT_EQ(owners, 1);
    EXPECT_TRUE(settled_first) << "the second run went on before the owner settled";
    EXPECT_EQ(second_result, result);
  }
}

TEST(JobClaims, DifferentJobsAreClaimedAlike) {
  PrinterState state;
  EXPECT_TRUE(claim_job(state, 1));
  EXPECT_TRUE(claim_job(state, 2));
  EXPECT_FALSE(claim_job(state, 1));
  settle_claim(state, 1, true);
  EXPECT_FALSE(claim_job(state, 1)) << "a settled job was claimed again";
}

// Whether another job's second run is near, at times on a clock of the
// test's own.
TEST(JobClaims, ASecondRunKeepsOtherJobsOffTheHandedDeviceUntilItsReachHasPassed) {
  PrinterState state;
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(near_second_run(state, 1, start + SECOND_RUN_REACH * 10));
  ASSERT_TRUE(claim_job(state, 5));
  settle_claim(state, 5, true);
  EXPECT_TRUE(wait_for_claim(state, 5));
  // Under way: near for every job but its own.
  EXPECT_TRUE(near_second_run(state, 1, start + SECOND_RUN_REACH * 10));
  EXPECT_FALSE(near_second_run(state, 5, start + SECOND_RUN_REACH * 10));
  end_second_run(state, 5);
  const Clock::time_point ended = Clock::now();
  EXPECT_TRUE(near_second_run(state, 1, ended));
  EXPECT_FALSE(near_second_run(state, 1, ended + SECOND_RUN_REACH));
  // Ending a run that was never a second run changes nothing.
  end_second_run(state, 9);
  EXPECT_FALSE(near_second_run(state, 1, ended + SECOND_RUN_REACH));
}

bool always_processing(void* /*context*/, int /*id*/) { return true; }
bool never_processing(void* /*context*/, int /*id*/) { return false; }

// Two jobs on two threads take the device in turn: the second gets it only
// once the first has given it up, and knows it waited.
TEST(DeviceTurns, ASecondJobWaitsUntilTheFirstGivesTheDeviceUp) {
  PrinterState state;
  EXPECT_FALSE(take_device(state, 1, always_processing, nullptr));
  std::atomic<bool> given_up{false};
  bool waited = false;
  bool after = false;
  std::thread second([&] {
    waited = take_device(state, 2, always_processing, nullptr);
    after = given_up;
    give_up_device(state, 2);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  given_up = true;
  give_up_device(state, 1);
  second.join();
  EXPECT_TRUE(after) << "the second job took the device while the first held it";
  EXPECT_TRUE(waited);
  EXPECT_EQ(state.device_holder, 0);
}

TEST(DeviceTurns, AHolderThatNoLongerProcessesLosesTheDevice) {
  PrinterState state;
  EXPECT_FALSE(take_device(state, 1, never_processing, nullptr));
  EXPECT_TRUE(take_device(state, 2, never_processing, nullptr));
  EXPECT_EQ(state.device_holder, 2);
  give_up_device(state, 1);  // too late: no longer its own
  EXPECT_EQ(state.device_holder, 2);
}

}  // namespace
