#pragma once
// What every spectrum goes through right after it is read, before any stage
// looks at it: the record-breaking characters of its title replaced, its
// peaks normalised and labelled with the activation it is sequenced as.

#include <string>

#include "input/Spectrum.h"

// Drops peaks whose intensity is not a positive number (their logarithm is
// undefined), then sets each peak's relative intensity (the strongest is
// 1), log intensity (of the raw intensity), key m/z, order and the
// spectrum's activation label ("HCD" or "ETD").
void NormaliseSpectrum(CSpectrum& s, const char* label);

// Replaces the characters that would break a result file's layout (tab, CR,
// LF) in a title by spaces.
void CleanTitle(std::string& title);
