// The extra line of the "UPS not found" box for a UPS that this user may not open.
#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <sstream>

#include "install/ups_access.h"
#include "install_fixture.h"
#include "platform/access_notice.h"

namespace qelta::testing {
namespace {

TEST(UpsAccessHintTest, NamesOnlyTheUpsThatCannotBeOpened) {
  const std::set<std::string> openable = {"/dev/hidraw0", "/dev/hidraw2"};
  const auto can_open = [&](const std::string& path) { return openable.count(path) > 0; };
  const HidDeviceInfo keyboard{"/dev/hidraw1", 0x046d, 0xc31c};
  const HidDeviceInfo open_ups{"/dev/hidraw2", 0x0665, 0x5161};
  const HidDeviceInfo closed_ups{"/dev/hidraw3", 0x0665, 0x5161};
  const HidDeviceInfo same_vendor{"/dev/hidraw4", 0x0665, 0x5162};

  EXPECT_EQ(UpsAccessHint({}, can_open), "");
  // Another device that cannot be opened, and a UPS that can: nothing to say.
  EXPECT_EQ(UpsAccessHint({keyboard, same_vendor, open_ups}, can_open), "");
  EXPECT_EQ(UpsAccessHint({keyboard, closed_ups}, can_open),
            "Нет доступа к USB-устройству UPS /dev/hidraw3: установите пакет qelta-monitor "
            "(правило udev для UPS) и подключите UPS заново.");
}

TEST(AccessNoticeTest, SaysOncePerKindAndOnlyForARefusedPermission) {
  std::ostringstream out;
  AccessNotice notice(out);
  using Kind = AccessNotice::Kind;
  // A device that is not there, or busy, is not a matter of permission.
  EXPECT_FALSE(notice.OpenFailed(Kind::UsbUps, "/dev/hidraw3", ENOENT));
  EXPECT_FALSE(notice.OpenFailed(Kind::SerialPort, "/dev/ttyS0", EBUSY));
  EXPECT_EQ(out.str(), "");

  EXPECT_TRUE(notice.OpenFailed(Kind::UsbUps, "/dev/hidraw3", EACCES));
  // Every later poll that fails the same way stays silent, whatever the device.
  EXPECT_FALSE(notice.OpenFailed(Kind::UsbUps, "/dev/hidraw3", EACCES));
  EXPECT_FALSE(notice.OpenFailed(Kind::UsbUps, "/dev/hidraw4", EPERM));
  EXPECT_TRUE(notice.OpenFailed(Kind::SerialPort, "/dev/ttyUSB0", EACCES));
  EXPECT_FALSE(notice.OpenFailed(Kind::SerialPort, "/dev/ttyUSB0", EACCES));
  EXPECT_EQ(out.str(),
            "qelta-monitor: нет доступа к USB-устройству UPS /dev/hidraw3: установите пакет "
            "qelta-monitor (правило udev для UPS) и подключите UPS заново.\n"
            "qelta-monitor: нет доступа к порту /dev/ttyUSB0: добавьте пользователя в группу "
            "dialout (sudo adduser $USER dialout) и войдите в систему заново.\n");
}

using InstallerAccessTest = InstallFixture;

TEST_F(InstallerAccessTest, NotFoundBoxAddsTheAccessLineWhenThereIsOne) {
  access_hint = "Нет доступа к /dev/hidraw3.";
  ASSERT_EQ(Installer().InstallButtonClick(), InstallerLogic::Outcome::Installed);
  const std::vector<std::string> errors = journal.Only({"box error"});
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_TRUE(
      errors[0].starts_with("box error [QELTA MONITOR] UPS не обнаружен ни на одном "
                            "порту.\n"))
      << errors[0];
  EXPECT_TRUE(errors[0].ends_with("в разделе \"Конфигурация\".\n\nНет доступа к /dev/hidraw3."))
      << errors[0];
}

}  // namespace
}  // namespace qelta::testing
