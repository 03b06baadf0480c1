// Known answers: pairs of lines of the answer file, accepted when both lines
// carry the same pair number and peptide and the verdict "YES".

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "common/Console.h"
#include "conditions/Condition.h"

namespace {

// Lines of 1000 characters or more end the reading.
constexpr int kAnswerLineBufferSize = 1000;

// Ten white-space separated fields: integer, word, three reals, three words, real, word.
bool ParseAnswerLine(const char* line, TRUESQ& rec) {
    std::istringstream in(line);
    in >> rec.nID >> rec.strTitle >> rec.lfValue1 >> rec.lfValue2 >> rec.lfValue3 >> rec.strText1 >>
        rec.strSequence >> rec.strText2 >> rec.lfValue4 >> rec.strVerdict;
    return !in.fail();
}

}  // namespace

void CCondition::GetCorrectSQ() {
    std::ifstream file(m_strAnsPath);
    if (!file) return;
    // A byte-order mark would spoil the first line's pair number.
    char bom[3] = {};
    if (!file.read(bom, 3) || std::string(bom, 3) != "\xEF\xBB\xBF") {
        file.clear();
        file.seekg(0);
    }
    char first[kAnswerLineBufferSize];
    char second[kAnswerLineBufferSize];
    while (file.getline(first, kAnswerLineBufferSize)) {
        // A last line without partner is dropped.
        if (!file.getline(second, kAnswerLineBufferSize)) return;
        TRUESQ a, b;
        if (!ParseAnswerLine(first, a) || !ParseAnswerLine(second, b)) continue;
        if (a.nID != b.nID) {
            console::Error() << "answer file " << m_strAnsPath << ": a pair of lines has two pair numbers, " << a.nID
                             << " and " << b.nID << "; it is skipped";
            // Wait for the user only when there is one: a batch run must never block.
            if (isatty(STDIN_FILENO)) std::getchar();
            continue;
        }
        if (a.strSequence != b.strSequence || a.strVerdict != "YES" || b.strVerdict != "YES") continue;
        m_mapAnswers.emplace(a.strTitle, a);
        m_mapAnswers.emplace(b.strTitle, b);
    }
}
