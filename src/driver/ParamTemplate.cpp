#include "driver/ParamTemplate.h"

#include <cctype>

std::string ParamTemplate(const std::string& modeName, const CTemplateFiles* given) {
    std::string mode;
    for (const char ch : modeName) mode += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (mode != "hcd" && mode != "etd" && mode != "paired") return std::string();
    const bool paired = mode == "paired";

    CTemplateFiles files;
    if (given != nullptr) {
        files = *given;
    } else {
        files.strRun = "vemra THIS_FILE";
        files.vSpecPaths = paired ? std::vector<std::string>{"spectra_hcd.mgf", "spectra_etd.mgf"}
                                  : std::vector<std::string>{"spectra.mgf"};
        files.strResults = paired ? "out/vemra+/spectra_hcd.txt" : "out/vemra+/spectra.txt";
    }

    std::string t;
    auto line = [&t](const std::string& s) { t += s + "\n"; };
    line(std::string("# Vemra+ parameter file: ") +
         (mode == "hcd"   ? "HCD spectra alone."
          : mode == "etd" ? "ETD spectra alone."
                          : "pairs of one HCD and one ETD spectrum of the same precursor."));
    line("# Run:     " + files.strRun);
    line("# Results: " + files.strResults + (paired ? " (named after the HCD file)" : ""));
    line("#");
    line("# Syntax: a section header ([meta] or [file]) in column 1, then lines key=value.");
    line("# The value is everything after '=' up to the line end, so never put a remark on a");
    line("# key's own line; blanks around '=' are ignored. Lines starting with '#' are comments.");
    line("# A key missing from the file takes its default (given below for each key); an");
    line("# unknown key, a key outside its section and a value out of range are reported.");
    line("");
    line("[meta]");
    line("# ---- Residue masses (Da) ----");
    line("# One capital letter per key overrides that residue's built-in monoisotopic");
    line("# mass. Cysteine is carbamidomethylated here (103.00919 + 57.02146).");
    line("# I is never a residue of its own (it has the mass of L and is reported as L).");
    line("C=160.03065");
    line("");
    line("# ---- Terminal modifications ----");
    line("# A list of \"mass RESIDUES\" pairs, e.g. \"42.010565 STY\"; a mass with no");
    line("# residue word applies to every residue. NULL (the default) means none.");
    line("n-term=NULL");
    line("c-term=NULL");
    line("");
    line("# ---- Ion types used to score candidates ----");
    line("# One line per ion type: name, charge, prefix flag (1 = N-terminal ion,");
    line("# 0 = C-terminal ion), a second flag (kept, unused), mass offset in Da added");
    line("# to the fragment's residue masses and protons. b = residues + H+,");
    line("# y = residues + H2O + H+, c = residues + NH3 + H+, z = residues + 1.9929378 + H+.");
    line("# HCD spectra are scored with the HCD list and ETD spectra with the ETD list;");
    line("# paired runs use both. A mode run without its list uses exactly these.");
    line("HCDIONTYPE=4");
    line("HCDIONTYPE1=b 1 1 0 0");
    line("HCDIONTYPE2=y 1 0 0 18.0105647");
    line("HCDIONTYPE3=b 2 1 0 0");
    line("HCDIONTYPE4=y 2 0 0 18.0105647");
    line("ETDIONTYPE=4");
    line("ETDIONTYPE1=c 1 1 0 17.026549105");
    line("ETDIONTYPE2=z 1 0 0 1.9929378");
    line("ETDIONTYPE3=c 2 1 0 17.026549105");
    line("ETDIONTYPE4=z 2 0 0 1.9929378");
    line("");
    line("# ---- Enzyme ----");
    line("# Three words: name, cleavage residues, terminus. Terminus N cuts before the");
    line("# residues; any other word cuts after them (trypsin: after K and R).");
    line("enzyme=trypsin KR C");
    line("");
    line("# ---- Run ----");
    line("# Worker threads: 0 (or below) uses every core; up to 8, or up to the core");
    line("# count where that is more (default 1).");
    line("thread=0");
    line("# Spectra read and sequenced at a time; memory grows with it, results do not");
    line("# change (default 10000). A paired dataset reads its files again for every");
    line("# batch, so its batches are larger.");
    line(std::string("batch_size=") + (mode == "paired" ? "10000" : "1000"));
    line("# Precursor [M+H]+ window in Da; spectra outside it are not sequenced");
    line("# (defaults 400 and 2500; peptides up to 5000 Da are common).");
    line("mass_lower_bound=400");
    line("mass_upper_bound=5000");
    line("# HCD or ETD (CID is taken as HCD): the fragmentation of a single spectrum");
    line("# file (default HCD). Two spectrum files are always a HCD + ETD pair, HCD file first.");
    line(std::string("activation_type=") + (mode == "etd" ? "ETD" : "HCD"));
    line("# Fragment and precursor tolerances (default 20 each, above 0); the *_ppm flags");
    line("# choose ppm (1, default) or Da (0).");
    line("frag_tol=20");
    line("frag_tol_type_ppm=1");
    line("pep_tol=20");
    line("pep_tol_type_ppm=1");
    line("");
    line("# ---- Accuracy on real spectra (keys added to the design) ----");
    line("# Without these keys the engine runs exactly as designed; the values below");
    line("# are the recommended ones (measured figures in README.md, \"Accuracy\").");
    line("# Node weights from the peaks' intensity ranks, ln(1 + peaks / rank), instead");
    line("# of ln(intensity): independent of the intensities' unit (log_intensity, the");
    line("# default, is the design).");
    line("node_weight=rank");
    line("# Equal scores ordered by evidence: fewer cleavage sites without a matched");
    line("# fragment ion, fewer such sites before a proline, the heavier path, then the");
    line("# sequence (none, the default: order of equal scores not fixed).");
    line("tie_break=evidence");
    line("# Score taken off for each cleavage site without any matched fragment ion");
    line("# (default 0).");
    line("missing_fragment_penalty=0.5");
    line("# 1: a candidate's residues must add up to the precursor within pep_tol");
    line("# (default 0: within 0.01 Da).");
    line("completion_with_pep_tol=1");
    line("# 1: fragment match errors, edge mass deviations and isotope clusters are");
    line("# judged relative to frag_tol; needed for low-resolution (Da) tolerances, no");
    line("# change at 20 ppm (default 0).");
    line("scale_to_frag_tol=1");
    line("# Variable modifications: RESIDUES:delta items (Da), separated by blanks or");
    line("# commas; * means every residue. var_nterm_mods apply to the first residue");
    line("# only. Results write them as M[+15.995] and [+42.011]-A. Add *:43.005814");
    line("# (carbamyl) for samples prepared in urea. Default: none.");
    line("var_mods=M:15.994915");
    line("var_nterm_mods=*:42.010565,Q:-17.026549");
    line("# Score taken off for each variable modification in a peptide (default 0).");
    line("var_mod_penalty=2");
    line("# 1: each result line also carries a confidence (0..1, comparable between");
    line("# spectra: keep the best half, or set a threshold) and, comma-separated, one");
    line("# per residue (1: fragment ions on both its sides, 0.5: one, 0: none)");
    line("# (default 0: the design's three fields).");
    line("confidence=1");
    if (mode == "hcd") {
        line("# Re-ranking: candidates ordered by a learned model of their fragment evidence,");
        line("# and the confidence is the model's calibrated probability that the first");
        line("# peptide is right. builtin:hcd-boosted: boosted trees fitted on real spectra of");
        line("# many labs (models/hcd_boosted.model), the linear builtin:hcd where a spectrum's");
        line("# intensities do not follow real fragmentation; a file path is relative to this");
        line("# file's folder. A model that cannot be read stops the run (default: none, the");
        line("# score ranks).");
        line("rerank_model=builtin:hcd-boosted");
    }
    line("# support: when max_node cuts nodes, it keeps first the nodes seen by both ion");
    line("# series or lying one residue from another node, then the rest by weight");
    line("# (weight, the default: by weight alone, isolated intense peaks included).");
    line("node_select=support");
    line("# Gap edges: where no chain of one- and two-residue steps joins two nodes, an");
    line("# edge of any three residues of that mass, its gap_orders likeliest orders");
    line("# spelled (default 0: none).");
    line("gap_edges=3");
    if (mode != "etd") {
        line("# 1: a spectrum whose complementary b/y ion pairs add up to a precursor one");
        line("# 13C lighter at least as often as to the one measured (the instrument may");
        line("# have picked the 13C peak) is sequenced for both, candidates pooled");
        line("# (isotope_pairs=0: every spectrum twice). Default 0: the precursor as measured.");
        line("isotope_error=1");
        line("isotope_pairs=1");
    }
    line("# 1 with an answer file: NAME.trace.tsv beside the results names for each");
    line("# spectrum with a known peptide the first stage that lost it, and the summary");
    line("# counts them (default 0). Results do not change.");
    line("trace=0");
    line("");
    line("[file]");
    line("# ---- Spectra ----");
    line("# Number of spectrum files, then spec_path1, spec_path2, ... (paths relative");
    if (paired) {
        line("# to the folder the program is started from). With two files the first holds");
        line("# the HCD and the second the ETD spectra; both are sorted by title and the");
        line("# k-th spectrum of one is paired with the k-th of the other.");
    } else {
        line("# to the folder the program is started from).");
    }
    line("spec_path=" + std::to_string(files.vSpecPaths.size()));
    for (size_t k = 0; k < files.vSpecPaths.size(); ++k)
        line("spec_path" + std::to_string(k + 1) + "=" + files.vSpecPaths[k]);
    line("# MGF, MS2, mzML, mzXML or DTA (a folder of .dta files); any case (default DTA).");
    line("spec_type=MGF");
    line("# yes: spec_path1 is a folder and each of its MGF (or MS2) files is a dataset");
    line("# of its own (default no).");
    line("folder=no");
    line("");
    line("# ---- Output ----");
    line("# Results go to out_path/OUTPUT_NAME/ (OUTPUT_NAME is the program's second");
    line("# argument, default vemra+): one result file per dataset, named after the");
    line("# first spectrum file, its summary (.summary.json), and time.txt.");
    line("out_path=" + files.strOutPath);
    line("# Known answers (optional): the known peptide is shown next to each spectrum");
    line("# that has one. Empty: no answer file.");
    line("ans_path=" + files.strAnsPath);
    line("");
    line("# ---- Search sizes ----");
    line("# report_path: heaviest graph paths searched per spectrum (default 200, at most 10000).");
    line("# report_temp: candidate texts kept from those paths (default 200, at most 10000).");
    line("# report_pep: peptides written per spectrum (default 10).");
    line("# max_node: most nodes kept in a spectrum graph (default 300; negative: no limit).");
    line("# max_spelled: most peptides spelled and scored per spectrum from its candidate");
    line("# texts, the strongest texts first (default 100000); a few long spectra spell");
    line("# tens of thousands, which no answer needed on the shared sets.");
    line("report_path=200");
    line("report_temp=200");
    line("report_pep=50");
    line("max_node=500");
    line("max_spelled=3000");
    return t;
}
