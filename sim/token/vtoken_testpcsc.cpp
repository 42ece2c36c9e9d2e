#include "vtoken_testpcsc.h"

namespace vtoken {

testpcsc::Card TestCard(Token &token) {
    token.PowerOn();
    testpcsc::Card card;
    card.atr = token.Atr();
    card.handler = [&token](const testpcsc::Bytes &command) { return token.Transmit(command); };
    card.protocols = SCARD_PROTOCOL_T1;
    return card;
}

}  // namespace vtoken
