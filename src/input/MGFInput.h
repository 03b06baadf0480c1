#pragma once
// Reader of MGF files ("BEGIN IONS" ... "END IONS" blocks).
//
// Spectra come out in file order with their peaks in file order; the
// precursor is converted to [M+H]+ (Da) with the block's charge (default 2).
// Lines are read as fgets with an 81,960-byte buffer would see them: a longer
// line is taken as several lines. Within one Browse call a block without
// TITLE or PEPMASS line takes the title / precursor field of the block before.
// Peaks whose m/z or intensity is not finite are dropped. A file that ends
// inside a block delivers the spectra before that block.

#include <cstdio>
#include <string>

#include "input/LineFileInput.h"

class CMGFInput : public CLineFileInput {
public:
    unsigned int Browse(std::vector<CSpectrum>& out, unsigned int n) override;
    unsigned int Count(const std::string& path) override;
};
