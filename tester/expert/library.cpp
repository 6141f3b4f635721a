#include "tester/expert/library.h"

namespace torvik::tester {

const Library& Exports()
{
    static const Library exports{&::Rft,        &::IniAll, &::LOT, &::OpenSignal, &::CloseSignal,
                                 &::rews,       &::ErrorDescription, &::PoTP, &::PoSL, &::Dpp,
                                 &::DSP,        &::DCloseSP, &::HHH_1, &::HHH_2};
    return exports;
}

}  // namespace torvik::tester
