// Writes seed files for fuzz_mzml: the first HCD example spectra as mzML in
// several array codings, as gzip, and as mzXML.   seed_xml EXAMPLE.mgf OUTDIR
#include <cstdio>
#include <string>

#include "XmlTestUtil.h"

int main(int argc, char** argv) {
    if (argc != 3) return 1;
    std::vector<xmlwriter::CSpec> specs;
    xmltest::ReadMgf(argv[1], &specs);
    specs.resize(2);
    for (auto& s : specs) {
        s.mz.resize(6);
        s.intensity.resize(6);
    }
    using NP = CArrayEncoding;
    const std::string out = argv[2];
    auto write = [&out](const std::string& name, char first, const std::string& text) {
        // The first byte steers the harness; a leading space keeps the XML.
        FILE* f = std::fopen((out + "/" + name).c_str(), "wb");
        std::fputc(first, f);
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    };
    write("plain", ' ', xmlwriter::MzML(specs, {64}, {32}));
    write("zlib", ' ', xmlwriter::MzML(specs, {64, true}, {32, true}, true));
    write("numpress", ' ', xmlwriter::MzML(specs, {64, false, NP::LINEAR}, {64, true, NP::SLOF}));
    write("pic", ' ', xmlwriter::MzML(specs, {64, true, NP::LINEAR}, {64, false, NP::PIC}));
    write("mzxml", '$', xmlwriter::MzXML(specs, 32, true));
    write("mzxml64", '$', xmlwriter::MzXML(specs, 64, false));
    // A gzip file's first byte (0x1f) picks the mzXML reader.
    const std::string gz = xmlwriter::Gzip(xmlwriter::MzXML(specs, 32, false));
    write("gzip", gz[0], gz.substr(1));
    return 0;
}
