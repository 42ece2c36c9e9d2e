#include "vcarrier_testpcsc.h"

namespace vcards {

testpcsc::Card TestCard(Card &card) {
    card.PowerOn();
    testpcsc::Card c;
    c.atr = card.Atr();
    c.handler = [&card](const testpcsc::Bytes &command) { return card.Transmit(command); };
    c.protocols = SCARD_PROTOCOL_T1;
    return c;
}

}  // namespace vcards
