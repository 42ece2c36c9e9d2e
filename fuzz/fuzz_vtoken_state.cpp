// The simulated token's state file parser: hostile text is refused or read into a
// state that writes back to text that reads the same.
#include <string>

#include "fuzz_input.h"
#include "token_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    vtoken::State s;
    std::string error;
    if (!vtoken::Parse(text, s, error)) return 0;
    const std::string written = vtoken::Serialize(s);
    vtoken::State back;
    fuzz::Check(vtoken::Parse(written, back, error) && vtoken::Serialize(back) == written);
    return 0;
}
