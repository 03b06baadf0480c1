#include "driver/denovo.h"
// stub
std::mutex mutex;
std::condition_variable cond;
std::ostringstream runLog;
void WriteRunLog(const std::string&) {}
void* _CallBack(void*) { return nullptr; }
bool CDeNovo::DenovoRun(const std::string&, const std::string&) { return true; }
void CDeNovo::_ReadData(CCondition&, const std::string&, const std::string&) {}
void CDeNovo::_ReadSpectra(CCondition&, const std::string&, const unsigned int&) {}
