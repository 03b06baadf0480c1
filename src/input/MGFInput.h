#pragma once
// Reader of MGF files ("BEGIN IONS" ... "END IONS" blocks).
//
// Spectra come out in file order with their peaks in file order; the
// precursor is converted to [M+H]+ (Da) with the block's charge (default 2).
// Lines are read as fgets with an 81,960-byte buffer would see them: a longer
// line is taken as several lines. Within one Browse call a block without
// PEPMASS line takes the precursor field of the block before. A block without
// a title (or with an empty one) is named "BASE.index.N": the file name
// without folders and extension, and the block's 0-based position in the
// file. SCANS= (first number), RTINSECONDS= (first number, seconds) and
// ACTIVATION= fill m_nScan, m_lfRetentionTime and m_strActivationRead.
// Peaks whose m/z or intensity is not finite are dropped. A file that ends
// inside a block delivers the spectra before that block.

#include <cstdio>
#include <string>

#include "input/LineFileInput.h"

class CMGFInput : public CLineFileInput {
public:
    unsigned int Browse(std::vector<CSpectrum>& out, unsigned int n) override;
    unsigned int Count(const std::string& path) override;

private:
    std::string m_strBaseName;  // file name without folders and extension
};
