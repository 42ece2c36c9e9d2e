// The text nkitool shows for a result code.
#ifndef KCARLIB_TOOLS_NKITOOL_TEXT_H
#define KCARLIB_TOOLS_NKITOOL_TEXT_H

#include <cstdint>
#include <string>

namespace nkitool {

inline std::string ResultText(uint32_t rc) { return rc == 0 ? "no error" : "failed"; }

}  // namespace nkitool

#endif
