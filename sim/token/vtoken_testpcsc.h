// The simulated token as a card of the in-process test PC/SC layer.
#pragma once

#include "test_pcsc.h"
#include "vtoken.h"

namespace vtoken {

// A card whose ATR and answers are the token's; the token must outlive the card's
// use. The token's card session (PIN state, current file) starts afresh.
testpcsc::Card TestCard(Token &token);

}  // namespace vtoken
