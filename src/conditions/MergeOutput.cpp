#include "conditions/Condition.h"
// stub
bool CCondition::MergeOutput() { return true; }
