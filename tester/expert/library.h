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

// The same exports with OpenSignal and CloseSignal answered by the
// straightforward form of the two decisions, on the same engine record. The
// library's fast form must trade exactly alike; this table lets a replay show
// it. Slow: without a profile every entry decision rebuilds the lines 22 times.
const Library& ReferenceExports();

}  // namespace torvik::tester
