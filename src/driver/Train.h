#pragma once
// `vemra train PARAM TRUTH [PARAM TRUTH ...] -o MODEL`: fits a re-ranking
// model on labelled spectra. Each parameter file's datasets (single spectrum
// files; its own re-ranking model left out, so the candidates come in score
// order) are sequenced by the run's own pipeline, and every spectrum's
// leading candidates hand their feature rows straight to the fit; the truth
// file (title<TAB>peptide, as vemra evaluate reads it) labels them.

// The subcommand; argv[1] is "train". Returns the exit status.
int RunTrain(int argc, char** argv);
