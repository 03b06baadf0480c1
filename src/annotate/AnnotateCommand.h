#pragma once
// `vemra annotate`: one spectrum of a spectrum file with a peptide's fragment
// ions marked, as an SVG picture. The peptide comes from the command line or
// from a result file (any format CResultReader reads: the record of the
// spectrum's title, the candidate of the given rank). Residue masses, ion
// types and the fragment tolerance come from a parameter file, or from the
// recommended HCD settings when none is given. The command line is parsed
// in main.cpp; this is what runs.

#include <string>

struct CAnnotateOptions {
    std::string strSpectra;      // spectrum file (MGF, MS2, mzML, mzXML, also .gz) or a folder of DTA files
    std::string strTitle;        // the spectrum's title, as the results write it
    std::string strPeptide;      // the peptide; empty: from strResults
    std::string strResults;      // result file to take the peptide from
    int nRank = 1;               // which candidate of the record
    int nCharge = 0;             // precursor charge instead of the file's; 0: the file's
    std::string strParam;        // parameter file; empty: the recommended HCD settings
    std::string strActivation;   // HCD, CID, ETD, ECD or EThcD instead of the spectrum's; empty: the spectrum's
    bool bLosses = false;        // also mark water and ammonia losses
    std::string strOutput;       // the SVG file
};

// The reader type ("MGF", "MS2", "mzML", "mzXML", "DTA") for a spectrum path,
// from its extension (any case, ".gz" allowed for the XML formats); a folder
// is a DTA folder. "" when none fits.
std::string SpectrumTypeOf(const std::string& path);

// defaultParams: the text of the recommended HCD parameter file, used when
// options.strParam is empty. Exit status: 0; 1 when an input cannot be
// read, the spectrum or the record is not found, the peptide is not one of
// the run's, or the picture cannot be written.
int RunAnnotate(const CAnnotateOptions& options, const std::string& defaultParams);
