#pragma once
// Draws an annotated spectrum (CAnnotation) as an SVG picture, top to
// bottom: a title (peptide, charge, precursor m/z, spectrum title, matched
// ions and share of the intensity explained); the fragment ladder over the
// sequence (a hook above a cleavage site for each prefix series with an ion
// there, below it for each suffix series); the peaks, m/z against relative
// intensity, unmatched ones grey and matched ones in their series' colour,
// labelled ("b3", "y7++") where a label fits without covering another label
// or a peak; and the mass error of every matched ion on the same m/z axis.
// Every matched peak carries a tooltip with its m/z, intensity and ions.
// Colours stay apart for colour-blind readers and in print.

#include <string>

#include "annotate/Annotator.h"

class CAnnotationSvg {
public:
    static std::string Svg(const CAnnotation& a);
};
