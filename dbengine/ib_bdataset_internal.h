// Helpers shared by the buffered dataset's source files: the node row format and key
// copies.
#pragma once

#include <cstdint>
#include <vector>

#include "dbengine/IB_Components_rows.h"

namespace pelvar::bdataset_detail {

int16_t ReadShort(const char* P);
void WriteShort(char* P, int16_t V);
// The row's columns in the order of their buffers (the node format's order).
std::vector<TIB_Column*> BufferOrderColumns(const TIB_Row& Row);
// Packs the columns' current values in the node row format.
void PackColumns(const std::vector<TIB_Column*>& Cols, std::vector<char>& Out);
// Key := Source's value (or its value before the edit); unused bytes are zero.
void CopyKeyValue(TIB_Column* Key, const TIB_Column* Source, bool Old);

}  // namespace pelvar::bdataset_detail
