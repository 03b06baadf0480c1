#pragma once
// Reader of MGF files ("BEGIN IONS" ... "END IONS" blocks).
//
// Lines are whole lines as CLineReader::NextLine gives them (a line longer
// than 1 MiB is cut, with a warning), after a byte-order mark. A block opens
// with a line "BEGIN IONS" and closes with a line "END IONS" (compared
// without regard to case; blanks and the line end after them ignored). A
// BEGIN IONS line inside a block ends that block (with a warning; the block
// is delivered with what it holds) and opens the next, so every BEGIN IONS
// line is one spectrum: Count and Browse agree, and record numbers never
// shift.
//
// Inside a block, lines that start with a digit are peaks "m/z intensity",
// kept in file order (peaks with a non-finite value are dropped); lines
// KEY=value are read by their whole key name, compared without regard to
// case (blanks around it ignored):
//   TITLE        the title; trailing control characters are dropped, and
//                vertical tabs and form feeds become blanks
//   PEPMASS      precursor m/z (its first number; an intensity after it is ignored)
//   CHARGE       precursor charge, default 2 ("2+" is 2; the first of "2+ and 3+")
//   SCANS        m_nScan, its first number
//   RTINSECONDS  m_lfRetentionTime (seconds), its first number
//   ACTIVATION   m_strActivationRead
// Every other key (TOLU, SEQ, COMP, ETAG, INSTRUMENT, ...) and every other
// line is ignored. The precursor is converted to [M+H]+ (Da) with the
// block's charge.
//
// Problems of one block are warnings naming the file and the spectrum, and
// the spectrum is still delivered, so that the sequencer classes it: a block
// without a PEPMASS number gets [M+H]+ NaN; a CHARGE value that is no
// charge, negative ("2-", "-2") or above INT_MAX gets charge 0 (both count as
// an impossible precursor); a SCANS value that is negative or above INT_MAX
// is "not given" (-1).
//
// A block without a title (or with an empty one) is named "BASE.index.N": the
// file name without folders and extension, and the block's 0-based position
// in the file. A file that ends inside a block delivers the spectra before
// that block, reports an "[error]" and marks the reader Failed().

#include <cstdio>
#include <string>
#include <vector>

#include "input/LineFileInput.h"

class CMGFInput : public CLineFileInput {
public:
    unsigned int Browse(std::vector<CSpectrum>& out, unsigned int n) override;
    unsigned int Count(const std::string& path) override;

private:
    enum class EBlockEnd { END_IONS, NEXT_BEGIN, FILE_END };
    // Reads the block whose BEGIN IONS line has been read into s.
    EBlockEnd _ReadBlock(CSpectrum& s);

    std::string m_strBaseName;  // file name without folders and extension
    bool m_bBlockOpen = false;  // the next block's BEGIN IONS line has been read
    std::vector<CPeak> m_vPeaks;  // the block's peaks while it is read
};
