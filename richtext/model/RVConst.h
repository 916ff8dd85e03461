// The family's program-wide constants: the ids of its four clipboard formats, registered
// once at start-up, and the display names of list types and tab alignments.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace pelvar {

// A process-local clipboard-format registry: the same name (compared without case, as
// the platform does) always gets the same id; ids start at 0xC000. An empty name gets 0.
uint16_t RegisterClipboardFormat(const AnsiString& name);
// The name registered under an id; empty when none.
AnsiString GetClipboardFormatName(uint16_t id);

// Ids of "DocView Format", "Rich Text Format", "UniformResourceLocator" and
// "HTML Format" (0 when the registration failed). Registered on first use and at
// start-up of any program that links the family.
uint16_t CFRV_RVF();
uint16_t CFRV_RTF();
uint16_t CFRV_URL();
uint16_t CFRV_HTML();
// Registers the four formats (again); called once at start-up.
void RVRegisterClipboardFormats();

// Display names of the list types, in the order of TRVListType (10 values), and of the
// tab alignments, in the order of TRVTabAlign (3 values).
constexpr int kRVListTypeCount = 10;
extern const char* const RVListTypeStr[kRVListTypeCount];
constexpr int kRVTabAlignCount = 3;
extern const char* const RVAlignStr[kRVTabAlignCount];

}  // namespace pelvar
