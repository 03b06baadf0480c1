#pragma once
// Test-time writer of mzML and mzXML text from spectrum values, with the
// array codings the readers must decode (64/32-bit floats, zlib, numpress),
// encoded with zlib and the numpress library themselves.

#include <libmsnumpress/MSNumpress.hpp>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "input/BinaryDecoder.h"

namespace xmlwriter {

// One spectrum to write. Empty / negative fields are left out of the file.
struct CSpec {
    std::string title;                  // written as the title cv term
    std::string id;                     // mzML id ("" -> "scan=<k+1>")
    int msLevel = 2;
    double precursorMz = 0.0;
    int charge = 0;                     // 0: no charge term
    double rtSeconds = -1.0;
    std::string activation;             // "HCD", "ETD", ...: its cv term
    std::vector<double> mz, intensity;
};

// How one array is coded.
struct CCoding {
    int bits = 64;                      // 32 or 64 (plain floats)
    bool zlib = false;
    CArrayEncoding::ENumpress numpress = CArrayEncoding::NONE;
};

inline std::string Num(double v) {
    char b[40];
    std::snprintf(b, sizeof b, "%.17g", v);
    return b;
}

inline std::vector<unsigned char> Zlib(const std::vector<unsigned char>& in) {
    uLongf n = compressBound(static_cast<uLong>(in.size()));
    std::vector<unsigned char> out(n);
    compress(out.data(), &n, in.data(), static_cast<uLong>(in.size()));
    out.resize(n);
    return out;
}

// Plain little-endian floats (big-endian when `big`).
inline std::vector<unsigned char> Floats(const std::vector<double>& v, int bits, bool big) {
    std::vector<unsigned char> out;
    for (double d : v) {
        unsigned char b[8];
        if (bits == 64) {
            std::memcpy(b, &d, 8);
        } else {
            const float f = static_cast<float>(d);
            std::memcpy(b, &f, 4);
        }
        const int w = bits / 8;
        for (int i = 0; i < w; ++i) out.push_back(b[big ? w - 1 - i : i]);
    }
    return out;
}

inline std::vector<unsigned char> Encode(const std::vector<double>& v, const CCoding& c) {
    using namespace ms::numpress::MSNumpress;
    std::vector<unsigned char> bytes;
    if (c.numpress == CArrayEncoding::LINEAR) encodeLinear(v, bytes, optimalLinearFixedPoint(v.data(), v.size()));
    else if (c.numpress == CArrayEncoding::PIC) encodePic(v, bytes);
    else if (c.numpress == CArrayEncoding::SLOF) encodeSlof(v, bytes, optimalSlofFixedPoint(v.data(), v.size()));
    else bytes = Floats(v, c.bits, false);
    return c.zlib ? Zlib(bytes) : bytes;
}

inline std::string Cv(const char* acc, const std::string& name, const std::string& value = "") {
    return "<cvParam cvRef=\"MS\" accession=\"" + std::string(acc) + "\" name=\"" + name + "\"" +
           (value.empty() ? "" : " value=\"" + value + "\"") + "/>\n";
}

inline std::string CodingTerms(const CCoding& c) {
    if (c.numpress == CArrayEncoding::LINEAR) return c.zlib ? Cv("MS:1002746", "numpress linear zlib") : Cv("MS:1002312", "numpress linear");
    if (c.numpress == CArrayEncoding::PIC) return c.zlib ? Cv("MS:1002747", "numpress pic zlib") : Cv("MS:1002313", "numpress pic");
    if (c.numpress == CArrayEncoding::SLOF) return c.zlib ? Cv("MS:1002748", "numpress slof zlib") : Cv("MS:1002314", "numpress slof");
    return Cv(c.bits == 64 ? "MS:1000523" : "MS:1000521", "float") +
           Cv(c.zlib ? "MS:1000574" : "MS:1000576", c.zlib ? "zlib compression" : "no compression");
}

inline std::string Array(const std::vector<double>& v, const CCoding& c, const char* kind) {
    const std::vector<unsigned char> b = Encode(v, c);
    return "<binaryDataArray encodedLength=\"0\">\n" + Cv(kind, "array") + CodingTerms(c) + "<binary>" +
           CBinaryDecoder::Base64(b.data(), b.size()) + "</binary>\n</binaryDataArray>\n";
}

inline const char* ActivationTerm(const std::string& a) {
    if (a == "CID") return "MS:1000133";
    if (a == "HCD") return "MS:1000422";
    if (a == "ETD") return "MS:1000598";
    if (a == "ECD") return "MS:1000250";
    if (a == "EThcD") return "MS:1002631";
    return "MS:1000044";  // dissociation method, unspecified
}

// mzML text; `indexed` wraps it in indexedmzML with a correct offset index.
inline std::string MzML(const std::vector<CSpec>& v, const CCoding& mzCoding, const CCoding& inCoding,
                        bool indexed = false) {
    std::string s = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
    if (indexed) s += "<indexedmzML xmlns=\"http://psi.hupo.org/ms/mzml\">\n";
    s += "<mzML xmlns=\"http://psi.hupo.org/ms/mzml\" version=\"1.1.0\">\n<run id=\"r\">\n<spectrumList count=\"" +
         std::to_string(v.size()) + "\" defaultDataProcessingRef=\"dp\">\n";
    std::vector<std::pair<std::string, size_t>> offsets;
    for (size_t k = 0; k < v.size(); ++k) {
        const CSpec& x = v[k];
        const std::string id = x.id.empty() ? "scan=" + std::to_string(k + 1) : x.id;
        offsets.emplace_back(id, s.size());
        s += "<spectrum index=\"" + std::to_string(k) + "\" id=\"" + id + "\" defaultArrayLength=\"" +
             std::to_string(x.mz.size()) + "\">\n" + Cv("MS:1000511", "ms level", std::to_string(x.msLevel));
        if (!x.title.empty()) s += Cv("MS:1000796", "spectrum title", x.title);
        s += "<scanList count=\"1\"><scan>\n";
        if (x.rtSeconds >= 0)
            s += "<cvParam cvRef=\"MS\" accession=\"MS:1000016\" name=\"scan start time\" value=\"" +
                 Num(x.rtSeconds) + "\" unitCvRef=\"UO\" unitAccession=\"UO:0000010\" unitName=\"second\"/>\n";
        s += "</scan></scanList>\n";
        if (x.msLevel > 1) {
            s += "<precursorList count=\"1\"><precursor><selectedIonList count=\"1\"><selectedIon>\n" +
                 Cv("MS:1000744", "selected ion m/z", Num(x.precursorMz));
            if (x.charge != 0) s += Cv("MS:1000041", "charge state", std::to_string(x.charge));
            s += "</selectedIon></selectedIonList><activation>" + Cv(ActivationTerm(x.activation), "activation") +
                 "</activation></precursor></precursorList>\n";
        }
        s += "<binaryDataArrayList count=\"2\">\n" + Array(x.mz, mzCoding, "MS:1000514") +
             Array(x.intensity, inCoding, "MS:1000515") + "</binaryDataArrayList>\n</spectrum>\n";
    }
    s += "</spectrumList>\n</run>\n</mzML>\n";
    if (indexed) {
        const size_t listAt = s.size();
        s += "<indexList count=\"1\">\n<index name=\"spectrum\">\n";
        for (const auto& [id, at] : offsets) s += "<offset idRef=\"" + id + "\">" + std::to_string(at) + "</offset>\n";
        s += "</index>\n</indexList>\n<indexListOffset>" + std::to_string(listAt) +
             "</indexListOffset>\n</indexedmzML>\n";
    }
    return s;
}

// mzXML text, peaks in network byte order, scan numbers from 1.
inline std::string MzXML(const std::vector<CSpec>& v, int bits, bool zlib) {
    std::string s = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<mzXML>\n<msRun scanCount=\"" +
                    std::to_string(v.size()) + "\">\n";
    for (size_t k = 0; k < v.size(); ++k) {
        const CSpec& x = v[k];
        std::vector<double> pairs;
        for (size_t i = 0; i < x.mz.size(); ++i) {
            pairs.push_back(x.mz[i]);
            pairs.push_back(x.intensity[i]);
        }
        std::vector<unsigned char> b = Floats(pairs, bits, true);
        if (zlib) b = Zlib(b);
        s += "<scan num=\"" + std::to_string(k + 1) + "\" msLevel=\"" + std::to_string(x.msLevel) +
             "\" peaksCount=\"" + std::to_string(x.mz.size()) + "\"";
        if (x.rtSeconds >= 0) s += " retentionTime=\"PT" + Num(x.rtSeconds) + "S\"";
        s += ">\n";
        if (x.msLevel > 1) {
            s += "<precursorMz precursorIntensity=\"0\"";
            if (x.charge != 0) s += " precursorCharge=\"" + std::to_string(x.charge) + "\"";
            if (!x.activation.empty()) s += " activationMethod=\"" + x.activation + "\"";
            s += ">" + Num(x.precursorMz) + "</precursorMz>\n";
        }
        s += "<peaks precision=\"" + std::to_string(bits) + "\" byteOrder=\"network\" contentType=\"m/z-int\" " +
             "compressionType=\"" + (zlib ? "zlib" : "none") + "\" compressedLen=\"" + std::to_string(b.size()) +
             "\">" + CBinaryDecoder::Base64(b.data(), b.size()) + "</peaks>\n";
        if (!x.title.empty()) s += "<nameValue name=\"TITLE\" value=\"" + x.title + "\"/>\n";
        s += "</scan>\n";
    }
    return s + "</msRun>\n</mzXML>\n";
}

// gzip of text (as a .gz file holds it).
inline std::string Gzip(const std::string& text) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(text.size())) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

}  // namespace xmlwriter
