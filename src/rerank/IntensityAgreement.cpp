#include "rerank/IntensityAgreement.h"

#include <cmath>

CIntensityAgreement CIntensityAgreement::Of(const float* predicted, const double* observed, int n) {
    CIntensityAgreement a;
    if (n <= 0) return a;
    double sp = 0.0, so = 0.0, spp = 0.0, soo = 0.0, spo = 0.0, missed = 0.0;
    for (int i = 0; i < n; ++i) {
        const double p = predicted[i];
        const double o = observed[i] > 0.0 ? std::sqrt(observed[i]) : 0.0;
        sp += p;
        so += o;
        spp += p * p;
        soo += o * o;
        spo += p * o;
        if (o > 0.0)
            ++a.nMatched;
        else
            missed += p;
    }
    if (spp > 0.0 && soo > 0.0) a.lfCosine = spo / std::sqrt(spp * soo);
    if (sp > 0.0) a.lfMissedShare = missed / sp;
    const double dn = n;
    const double cov = spo - sp * so / dn, vp = spp - sp * sp / dn, vo = soo - so * so / dn;
    // Relative floors: a constant vector leaves rounding residue, not variance.
    if (vp > 1e-12 * spp && vo > 1e-12 * soo) a.lfPearson = cov / std::sqrt(vp * vo);
    return a;
}
