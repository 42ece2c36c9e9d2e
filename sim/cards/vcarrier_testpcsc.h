// The simulated cards as cards of the in-process test PC/SC layer.
#pragma once

#include "test_pcsc.h"
#include "vcarrier.h"

namespace vcards {

// A card whose ATR and answers are the simulated card's; the card must outlive
// the test card's use. Its card session starts afresh.
testpcsc::Card TestCard(Card &card);

}  // namespace vcards
