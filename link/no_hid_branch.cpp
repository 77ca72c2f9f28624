#include "link/no_hid_branch.h"

namespace qelta {

bool NoHidBranch::OpenHIDPort(std::string& message) {
  message = "USB-подключение не обнаружено.";
  return false;
}

}  // namespace qelta
