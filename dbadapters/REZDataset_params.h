// Keeping the framework's parameter collection of an adapter dataset in step with the
// statement engine's parameter row, and writing single values into engine columns.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/db.h"
#include "platform/types.h"

namespace pelvar {

class TIB_Column;

// Rebuilds Params for the parameter names of the SQL text (in order, repeats included).
// StatementParamCount is the prepared statement's number of parameter columns: repeated
// names are dropped (from the last) until the count agrees. Names beginning "RBEG_",
// "REND_" or "OLNK_" (range and link parameters the dataset binds itself) never become
// parameters. With WithOutputs (an executing statement or a stored-procedure call) each
// of OutputNames adds an output parameter, or turns the input of its name into an
// input-output parameter. Parameters that stay keep their values and bound state;
// output parameters not named any more stay at the end. Returns whether Params holds
// output parameters.
bool REZMergeParams(TParams& Params, const std::vector<AnsiString>& Names,
                    int32_t StatementParamCount, bool WithOutputs,
                    const std::vector<AnsiString>& OutputNames);

// The parameter names of an SQL text with ":" parameters, in order.
std::vector<AnsiString> REZParseParamNames(const AnsiString& SQL);

// One value into one engine column, written only when it differs.
void REZAssignParamToColumn(const TParam* Param, TIB_Column* Column);
void REZAssignFieldToColumn(const TField* Field, TIB_Column* Column);

}  // namespace pelvar
