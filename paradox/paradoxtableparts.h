#pragma once

#include "paradox/paradoxfile.h"

#include <functional>

// What the parts of ParadoxTable (paradoxtable*.cpp) share and nobody else needs.
namespace ParadoxTableParts {

// The fault injection seam: the hook set by ParadoxTable::setCommitHook(), called with `number`.
std::function<void(int)> &commitHook();
void step(int number);

bool isKeyedType(quint8 type);
bool isCompositeType(quint8 type);

// Index entries hold their block number and record count as Paradox short integers: big-endian with
// the sign bit flipped.
int readShort(const char *bytes);
void writeShort(char *bytes, int value);

} // namespace ParadoxTableParts
