#include "token/nki_abs.h"

namespace kcar {

void TNkiAbs::Disconnect() noexcept {
    if (Card != 0) {
        SCardDisconnect(Card, SCARD_LEAVE_CARD);
        Card = 0;
    }
    if (Context != 0) {
        SCardReleaseContext(Context);
        Context = 0;
    }
    Connected = 0;
}

}  // namespace kcar
