// The archive kit's message table: every failure the kit reports carries a numeric
// code whose text comes from this one table.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/types.h"

namespace pelvar {

struct AbStrRec {
  int32_t Code;
  AnsiString Str;
};

// Codes of the table that the kit looks up by number.
constexpr int32_t AbZipVersionNeeded = 1;
constexpr int32_t AbUnknownCompressionMethod = 2;
constexpr int32_t AbNoExtractionMethod = 3;
constexpr int32_t AbInvalidPassword = 4;
constexpr int32_t AbNoInsertionMethod = 5;
constexpr int32_t AbInvalidFactor = 6;
constexpr int32_t AbDuplicateName = 7;
constexpr int32_t AbUnsupportedCompressionMethod = 8;
constexpr int32_t AbUserAbort = 9;
constexpr int32_t AbArchiveBusy = 10;
constexpr int32_t AbDiskRequest = 11;
constexpr int32_t AbLastDiskRequest = 12;
constexpr int32_t AbBadSpanStream = 13;
constexpr int32_t AbDiskNumRequest = 14;
constexpr int32_t AbNoOverwriteSpanStream = 15;
constexpr int32_t AbNoSpannedSelfExtract = 16;
constexpr int32_t AbBlankDisk = 17;
constexpr int32_t AbStreamFull = 18;
constexpr int32_t AbNoSuchDirectory = 19;
constexpr int32_t AbInflateBlockError = 20;
constexpr int32_t AbBadStreamType = 21;
constexpr int32_t AbTruncateError = 22;
constexpr int32_t AbZipBadCRC = 23;
constexpr int32_t AbZipBadStub = 24;
constexpr int32_t AbFileNotFound = 25;
constexpr int32_t AbInvalidLFH = 26;
constexpr int32_t AbNoArchive = 27;
constexpr int32_t AbErrZipInvalid = 28;
constexpr int32_t AbReadError = 29;
constexpr int32_t AbInvalidIndex = 30;
constexpr int32_t AbInvalidThreshold = 31;
constexpr int32_t AbImageRequest = 32;
constexpr int32_t AbLastImageRequest = 33;
constexpr int32_t AbImageNumRequest = 34;
constexpr int32_t AbUnhandledFileType = 35;
constexpr int32_t AbSpanningNotSupported = 36;
constexpr int32_t AbImageSpanNumRequest = 37;
constexpr int32_t AbLogCreateError = 38;
constexpr int32_t AbBBSReadTooManyBytes = 40;
constexpr int32_t AbBBSSeekOutsideBuffer = 41;
constexpr int32_t AbBBSInvalidOrigin = 42;
constexpr int32_t AbBBSWriteTooManyBytes = 43;
constexpr int32_t AbNoCabinetDll = 50;
constexpr int32_t AbFCIFileOpenError = 51;
constexpr int32_t AbFCIFileReadError = 52;
constexpr int32_t AbFCIFileWriteError = 53;
constexpr int32_t AbFCIFileCloseError = 54;
constexpr int32_t AbFCIFileSeekError = 55;
constexpr int32_t AbFCIFileDeleteError = 56;
constexpr int32_t AbFCIAddFileError = 57;
constexpr int32_t AbFCICreateError = 58;
constexpr int32_t AbFCIFlushCabinetError = 59;
constexpr int32_t AbFCIFlushFolderError = 60;
constexpr int32_t AbFDICopyError = 61;
constexpr int32_t AbFDICreateError = 62;
constexpr int32_t AbInvalidCabTemplate = 63;
constexpr int32_t AbInvalidCabFile = 64;
constexpr int32_t AbSWSNotEndofStream = 80;
constexpr int32_t AbSWSSeekFailed = 81;
constexpr int32_t AbSWSWriteFailed = 82;
constexpr int32_t AbSWSInvalidOrigin = 83;
constexpr int32_t AbSWSInvalidNewOrigin = 84;
constexpr int32_t AbQorReadTooManyBytes = 200;
constexpr int32_t AbQorInvalidOrigin = 201;
constexpr int32_t AbQorErrorOpenSwap = 202;
constexpr int32_t AbQorSeekFail = 203;
constexpr int32_t AbQorReadFail = 204;
constexpr int32_t AbQorWriteFail = 205;
constexpr int32_t AbQorWriteTooManyBytes = 206;
constexpr int32_t AbLogAdded = 310;
constexpr int32_t AbLogDeleted = 311;
constexpr int32_t AbLogExtracted = 312;
constexpr int32_t AbLogFreshened = 313;
constexpr int32_t AbLogMoved = 314;
constexpr int32_t AbLogReplaced = 315;
constexpr int32_t AbLogLogging = 316;
constexpr int32_t AbGzipInvalid = 400;
constexpr int32_t AbGzipBadCRC = 401;
constexpr int32_t AbGzipBadFileSize = 402;
constexpr int32_t AbUnhandledEntity = 513;

// The kit's own codes beyond the table above: failures that name what is wrong,
// so that an item-failure report tells a damaged archive from bad data, an unsafe
// name or a format feature that the kit does not read. Their texts take one detail.
constexpr int32_t AbDamagedArchive = 600;
constexpr int32_t AbBadData = 601;
constexpr int32_t AbUnsafeName = 602;
constexpr int32_t AbUnsupportedFeature = 603;

// The whole table, in code order (146 records).
const std::vector<AbStrRec>& AbStrRes();

// The kit's own records (codes 600 and up), in code order.
const std::vector<AbStrRec>& AbKitStrRes();

// The text of Code (from either table), or the empty string when no record has
// that code.
AnsiString AbErrorText(int32_t Code);

}  // namespace pelvar
