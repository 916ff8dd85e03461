// Writing the data of one zip entry when an archive is saved: the insert handlers
// that the zip component installs on every zip archive. They decide the entry's
// method (stored, deflated, or the smaller of the two), fill its header values and
// write the compressed (optionally encrypted) data.
#pragma once

#include "archive/abziptyp.h"
#include "platform/streams.h"

namespace pelvar {

// The insert-from-file handler: compresses the item's disk file into OutStream and
// fills the item's header (attributes, size, DOS date and time of the file).
void AbZipFromFile(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream);

// The insert-from-stream handler: the whole of InStream (from its start) becomes the
// entry. A null InStream raises EAbZipNoInsertion; an input beyond the 4 GB that the
// format's sizes hold raises EAbZipException before anything is written.
void AbZipFromStream(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream, TStream* InStream);

// The two ways of writing an entry's data from InStream's position to its end. Both
// set the method and the CRC-32; deflating also ors the deflation option's flag bits
// into the item's flag. With the archive's password the data is encrypted (the
// 12-byte header first). A user abort from a progress handler raises EAbUserAbort.
void AbDeflateItem(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream, TStream& InStream);
void AbStoreItem(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream, TStream& InStream);

// Done * 100 / Whole rounded half to even (0 for an empty whole).
uint8_t AbRoundedPercent(int64_t Done, int64_t Whole);

}  // namespace pelvar
