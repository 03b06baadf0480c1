#pragma once
// The reader that serves a "spec_type", and the file names that folder mode
// takes as datasets of that type.

#include <memory>
#include <string>

#include "input/Input.h"

// The spectrum types, "|"-separated, as the parameter file may name them
// (in any case).
inline constexpr const char* kReaderTypes = "DTA|MGF|MS2|mzML|mzXML";

// A new reader for the type (compared without regard to case); null when the
// type names no reader.
std::unique_ptr<CInput> MakeReader(const std::string& type);

// True when a file called `name` (no folder part) found in a folder-mode
// folder is a dataset of the type.
bool IsDatasetFileName(const std::string& name, const std::string& type);

// The spectrum type a path's name says ("MGF", "mzML", "mzXML", "MS2"; "DTA"
// for a folder), any case, also ".gz" for the XML formats; "" when the name
// says none.
std::string SpectrumTypeOfName(const std::string& path);

// What the first bytes of a file hold, as far as they tell: a spectrum type
// as above, "gzip", "binary", or "" (text that is no spectrum format, such as
// a parameter file). A file that cannot be read gives "".
std::string SpectrumTypeOfContent(const std::string& path);
