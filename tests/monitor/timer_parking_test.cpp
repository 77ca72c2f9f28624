// A parked timer keeps its state and its moments but does not wake the process.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <vector>

#include "platform/manual_clock.h"
#include "platform/qt_timer.h"

namespace qelta {
namespace {

TEST(TimerParking, ParkedTicksAreSkippedAndUnparkingKeepsTheMoments) {
  ManualClock clock;
  auto timer = clock.CreateTimer(100, true);
  std::vector<int64_t> fired;
  timer->SetHandler([&] { fired.push_back(clock.Now()); });
  clock.Advance(250);
  timer->SetParked(true);
  EXPECT_TRUE(timer->Enabled());
  EXPECT_TRUE(timer->Running());
  EXPECT_FALSE(timer->Waking());
  EXPECT_EQ(clock.NextWake(), std::nullopt);
  clock.Advance(480);  // to 730
  timer->SetParked(false);
  EXPECT_EQ(clock.NextWake(), 800);
  clock.Advance(170);
  EXPECT_EQ(fired, (std::vector<int64_t>{100, 200, 800, 900}));

  // Unparked exactly on a moment that has already fired: the next one follows.
  timer->SetParked(true);
  timer->SetParked(false);
  EXPECT_EQ(clock.NextWake(), 1000);
}

TEST(TimerParking, ChangesWhileParkedStartNewMomentsFromThatInstant) {
  ManualClock clock;
  auto timer = clock.CreateTimer(100, false);
  std::vector<int64_t> fired;
  timer->SetHandler([&] { fired.push_back(clock.Now()); });
  timer->SetParked(true);
  clock.Advance(30);
  timer->SetEnabled(true);  // moments from 30
  EXPECT_EQ(clock.NextWake(), std::nullopt);
  clock.Advance(100);
  timer->SetInterval(50);  // moments from 130
  clock.Advance(45);
  timer->SetParked(false);
  clock.Advance(60);
  EXPECT_EQ(fired, (std::vector<int64_t>{180, 230}));

  // Stopped while parked, it stays stopped when unparked.
  timer->SetParked(true);
  timer->SetEnabled(false);
  timer->SetParked(false);
  EXPECT_EQ(clock.NextWake(), std::nullopt);
}

TEST(TimerParking, AParkedQtTimerDoesNotFireAndWakesAgainWhenUnparked) {
  int argc = 1;
  char name[] = "timer_parking_test";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  QtTimerFactory factory;
  auto parked = factory.CreateTimer(10, true);
  auto running = factory.CreateTimer(10, true);
  int parked_ticks = 0;
  int running_ticks = 0;
  parked->SetHandler([&] { ++parked_ticks; });
  running->SetHandler([&] { ++running_ticks; });
  parked->SetParked(true);
  QElapsedTimer elapsed;
  elapsed.start();
  while (running_ticks < 5 && elapsed.elapsed() < 10000)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  EXPECT_GE(running_ticks, 5);
  EXPECT_EQ(parked_ticks, 0);

  parked->SetParked(false);
  while (parked_ticks < 3 && elapsed.elapsed() < 20000)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  EXPECT_GE(parked_ticks, 3);
  EXPECT_TRUE(parked->Enabled());
}

TEST(TimerParking, AQtTimerThatStopsItselfInItsHandlerStaysStopped) {
  int argc = 1;
  char name[] = "timer_parking_test";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  QtTimerFactory factory;
  auto one_shot = factory.CreateTimer(5, true);
  auto witness = factory.CreateTimer(5, true);
  int shots = 0;
  int witness_ticks = 0;
  one_shot->SetHandler([&] {
    ++shots;
    one_shot->SetEnabled(false);
  });
  witness->SetHandler([&] { ++witness_ticks; });
  QElapsedTimer elapsed;
  elapsed.start();
  while (witness_ticks < 10 && elapsed.elapsed() < 10000)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  EXPECT_EQ(shots, 1);
}

}  // namespace
}  // namespace qelta
