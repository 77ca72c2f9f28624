#pragma once

namespace qelta {

// The program's own version; an installation of any other version runs the installer.
inline constexpr char kProgramVersion[] = "0.99.6";

}  // namespace qelta
