#include "records/WorkUnit.h"

const char* StatusName(EUnitStatus s) {
    switch (s) {
        case EUnitStatus::Sequenced: return "sequenced";
        case EUnitStatus::NoCandidate: return "no_candidate";
        case EUnitStatus::NoPeaks: return "no_peaks_after_cleaning";
        case EUnitStatus::OutsideWindow: return "outside_mass_window";
        case EUnitStatus::BadPrecursor: return "impossible_precursor";
        case EUnitStatus::Stopped: break;
    }
    return "stopped";
}
