#include <cmath>
#include <string>

#include "FuzzCommon.h"
#include "conditions/Condition.h"
#include "input/MGFInput.h"
#include "output/NativeWriter.h"
#include "report/SequenceUnit.h"

// The input is an MGF file; every spectrum goes through the whole per-spectrum
// pipeline (preprocessing, nodes, edges, paths, candidates, scoring, record)
// in HCD, ETD and paired mode.
namespace {
CCondition& Conditions() {
    static CCondition* c = [] {
        const std::string p = FuzzDir() + "/run.param";
        const std::string text =
            "[meta]\nC=160.03065\nenzyme=trypsin KR C\nthread=1\nmass_lower_bound=0\nmass_upper_bound=100000\n"
            "HCDIONTYPE=2\nHCDIONTYPE1=b 1 1 0 0\nHCDIONTYPE2=y 2 0 0 18.0105647\n"
            "ETDIONTYPE=2\nETDIONTYPE1=c 1 1 0 17.026549105\nETDIONTYPE2=z 1 0 0 1.9929378\n"
            "n-term=42.010565 ST\nc-term=0.984 K\n[file]\nreport_path=50\nreport_temp=50\n";
        WriteFile(p, reinterpret_cast<const uint8_t*>(text.data()), text.size());
        auto* cond = new CCondition;
        cond->Read(p);
        return cond;
    }();
    return *c;
}

void Normalise(CSpectrum& s, const char* label) {
    std::vector<CPeak> kept;
    double max = 0;
    for (const CPeak& p : s.m_vPeaks)
        if (p.lfIntensity > 0 && p.lfMz <= 1e6) kept.push_back(p), max = std::max(max, p.lfIntensity);
    s.m_vPeaks = kept;
    for (size_t i = 0; i < kept.size(); ++i) {
        CPeak& p = s.m_vPeaks[i];
        s.m_strActivation = label;
        p.nOrder = static_cast<int>(i);
        p.lfKeyMz = p.lfMz;
        p.lfLogIntensity = std::log(p.lfIntensity);
        p.lfIntensity /= max;
    }
    if (s.m_nCharge > 8) s.m_nCharge = 8;  // keeps each input's work bounded
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CCondition& c = Conditions();
    const std::string path = FuzzDir() + "/in.mgf";
    WriteFile(path, data, size);
    CMGFInput in;
    in.SetQuiet(true);
    in.Count(path);
    std::vector<CSpectrum> specs;
    in.Browse(specs, CInput::ALL);
    in.Close();
    if (specs.size() > 4) specs.resize(4);
    std::vector<CSpectrum> etd = specs;
    for (auto& s : specs) Normalise(s, "HCD");
    for (auto& s : etd) Normalise(s, "ETD");
    CWorkerBuffers buffers(c);
    const CNativeWriter writer(c);
    std::string record;
    for (const EMode mode : {EMode::HCD, EMode::ETD, EMode::Paired}) {
        for (size_t i = 0; i < specs.size(); ++i) {
            const CWorkUnit unit{mode == EMode::ETD ? &etd[i] : &specs[i], mode == EMode::Paired ? &etd[i] : nullptr,
                                 static_cast<long long>(i), mode, 1, 2};
            record.clear();
            writer.Record(SequenceUnit(c, unit, buffers), record);
        }
    }
    return 0;
}
