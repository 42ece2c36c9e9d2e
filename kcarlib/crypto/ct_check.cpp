#include "crypto/ct_check.h"

namespace kcar {

bool CtHooksPresent() noexcept {
#ifdef KCAR_CT_HOOKS
    return true;
#else
    return false;
#endif
}

}  // namespace kcar
