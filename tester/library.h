// The library as the expert advisor sees it: fourteen functions bound by
// name. The tester calls nothing of the engine but these.
#pragma once

#include "engine/exports.h"

namespace torvik::tester {

struct Library {
    decltype(&::Rft) rft;
    decltype(&::IniAll) iniAll;
    decltype(&::LOT) lot;
    decltype(&::OpenSignal) openSignal;
    decltype(&::CloseSignal) closeSignal;
    decltype(&::rews) reset;
    decltype(&::ErrorDescription) errorDescription;
    decltype(&::PoTP) takeProfit;
    decltype(&::PoSL) stopLoss;
    decltype(&::Dpp) pipSize;
    decltype(&::DSP) dsp;
    decltype(&::DCloseSP) dcloseSp;
    decltype(&::HHH_1) hhh1;
    decltype(&::HHH_2) hhh2;
};

// The exports of the English build, linked in exactly as the deliverable is
// built from them.
const Library& Exports();

}  // namespace torvik::tester
