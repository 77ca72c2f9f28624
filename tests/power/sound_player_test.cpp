#include "platform/sound_player.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cstdint>

#include "test_environment.h"

namespace qelta {
namespace {

constexpr int kWaitMs = 15000;

// A mono 16-bit PCM WAV file whose samples repeat the given value pattern.
QByteArray Wav(const QList<int16_t>& pattern, int repeats) {
  QByteArray samples;
  for (int r = 0; r < repeats; ++r) {
    for (int16_t value : pattern) {
      samples.append(static_cast<char>(value & 0xff));
      samples.append(static_cast<char>((value >> 8) & 0xff));
    }
  }
  auto u32 = [](uint32_t v) {
    QByteArray b;
    for (int i = 0; i < 4; ++i) b.append(static_cast<char>((v >> (8 * i)) & 0xff));
    return b;
  };
  auto u16 = [](uint16_t v) {
    QByteArray b;
    b.append(static_cast<char>(v & 0xff));
    b.append(static_cast<char>(v >> 8));
    return b;
  };
  const uint32_t rate = 8000;
  QByteArray wav = "RIFF" + u32(36 + samples.size()) + "WAVE";
  wav += "fmt " + u32(16) + u16(1) + u16(1) + u32(rate) + u32(rate * 2) + u16(2) + u16(16);
  wav += "data" + u32(samples.size()) + samples;
  return wav;
}

QByteArray PatternBytes(const QList<int16_t>& pattern, int repeats) {
  return Wav(pattern, repeats).mid(44);
}

QByteArray Played() {
  QFile file(testing::AlsaOutputPath());
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

class CanberraSoundPlayerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  QTemporaryDir dir_;
  CanberraSoundPlayer player_;
};

TEST_F(CanberraSoundPlayerTest, PlaysTheWavFileOnTheAudioDevice) {
  const QList<int16_t> pattern{1234, -1234, 4321, -4321, 0, 7777};
  const QString path = dir_.filePath("alarm.wav");
  ASSERT_TRUE(WriteFile(path, Wav(pattern, 400)));

  player_.PlayFileAsync(path);
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return Played().contains(PatternBytes(pattern, 50)); }, kWaitMs));
}

// Files that cannot be played are ignored, and the player keeps working after them; a later
// sound still plays (the earlier ones are stopped if they are still playing).
TEST_F(CanberraSoundPlayerTest, UnplayableFilesAreIgnored) {
  const QString garbage = dir_.filePath("not-a-sound.wav");
  ASSERT_TRUE(WriteFile(garbage, QByteArray(4096, 'x')));
  const QString long_sound = dir_.filePath("long.wav");
  ASSERT_TRUE(WriteFile(long_sound, Wav({300, 300, -300, -300}, 40000)));
  const QList<int16_t> last{2468, -1357, 2468, -1357, 99};
  const QString last_sound = dir_.filePath("last sound «кириллица».wav");
  ASSERT_TRUE(WriteFile(last_sound, Wav(last, 400)));

  player_.PlayFileAsync(QString());
  player_.PlayFileAsync(dir_.filePath("missing.wav"));
  player_.PlayFileAsync(garbage);
  player_.PlayFileAsync(dir_.path());
  player_.PlayFileAsync(long_sound);
  player_.PlayFileAsync(last_sound);

  ASSERT_TRUE(QTest::qWaitFor([&] { return Played().contains(PatternBytes(last, 50)); }, kWaitMs));
  EXPECT_FALSE(Played().contains(QByteArray(64, 'x')));
}

}  // namespace
}  // namespace qelta
