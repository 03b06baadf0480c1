#include "graph/KlongestPathDP.h"
// stub
void CKlongestPathDP::DPKlongestPath(const int& n, const int& k, const std::vector<std::vector<unsigned int>>& s,
                                     const std::vector<std::vector<int>>& w, std::vector<std::vector<unsigned int>>& out) { InvDP(n, k, s, w, out); }
void CKlongestPathDP::InvDP(const int&, const int&, const std::vector<std::vector<unsigned int>>&,
                            const std::vector<std::vector<int>>&, std::vector<std::vector<unsigned int>>&) {}
std::optional<int> CKlongestPathDP::Query(int, int) { return std::nullopt; }
void CKlongestPathDP::ShowPath(int, int, char, std::vector<unsigned int>&) {}
void CKlongestPathDP::insert(std::vector<AdjLinkDP>&, int&, int, int, int) {}
