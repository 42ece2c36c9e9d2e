// Result texts of the multi-carrier build's nkiErrorMsgLang. The English texts are
// nkiResultText of the public result-code header, shared with the tools.
#pragma once

#include <cstdint>

#include "kcarlib/nki_result.h"

namespace kcar {

// The Russian text of a result code in code page 1251, NUL-terminated, into text
// (at most 69 bytes with the NUL).
void RussianResultText(uint32_t code, char *text) noexcept;

}  // namespace kcar
