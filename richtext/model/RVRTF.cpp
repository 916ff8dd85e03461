#include "richtext/model/RVRTF.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <type_traits>

#include "platform/canvas.h"
#include "platform/exceptions.h"
#include "platform/iconv_cache.h"
#include "platform/streams.h"
#include "richtext/model/RVFuncs.h"
#include "richtext/model/RVGraphics.h"

namespace pelvar {

namespace {

// ---- Property codes of the keyword table --------------------------------------------

enum TRVRTFProp : uint8_t {
  // character formatting
  ipropBold, ipropItalic, ipropUnderline, ipropStrike, ipropCharScaleX, ipropExpndTw,
  ipropVShift, ipropCaps, ipropFontSize, ipropTextColor, ipropTextBackColor, ipropHighlight,
  ipropLanguage, ipropPlain, ipropFontNum, ipropFontCharset, ipropHidden,
  // paragraph formatting
  ipropLineSpacing, ipropLineSpacingMulti, ipropLeftInd, ipropRightInd, ipropFirstInd,
  ipropSpaceBefore, ipropSpaceAfter, ipropJust, ipropParD, ipropParaColor, ipropParaFColor,
  ipropShading, ipropKeep, ipropKeepN, ipropTX, ipropTabKind, ipropTabLeader, ipropListTab,
  ipropListOverride, ipropListLevel, ipropNoOverlap, ipropBrdrSide, ipropTrBrdrSide,
  ipropClBrdrSide, ipropBrdrWidth, ipropBrdrColor, ipropBrdrSpace, ipropBrdrStyle,
  // document, section, code page
  ipropDefLang, ipropDefFont, ipropAnsiCodePage, ipropUnicode, ipropUnicodeSkip, ipropPage,
  ipropSectD, ipropCols, ipropPgnX, ipropPgnY, ipropHeaderY, ipropFooterY, ipropPaperW,
  ipropPaperH, ipropMargL, ipropMargR, ipropMargT, ipropMargB, ipropPgnStart, ipropFacingP,
  ipropLandscape, ipropSBK, ipropPGN,
  // tables
  ipropFontFamily, ipropRed, ipropGreen, ipropBlue, ipropStyleNo, ipropCharStyleNo,
  ipropSectStyleNo, ipropBasedOn, ipropNext, ipropAdditive, ipropSHidden,
  // pictures and objects
  ipropPicW, ipropPicH, ipropPicScaleX, ipropPicScaleY, ipropPicWGoal, ipropPicHGoal,
  ipropWBMWidthBytes, ipropWBMBitsPixel, ipropWBMPlanes, ipropPicType, ipropWMetafile,
  ipropPicBmp, ipropObjType, ipropObjW, ipropObjH,
  // old-style numbering
  ipropPNLevel, ipropPNHang, ipropPNType, ipropPNBold, ipropPNItalic, ipropPNUnderline,
  ipropPNStrike, ipropPNColor, ipropPNFont, ipropPNFontSize, ipropPNIndent, ipropPNSp,
  ipropPNAlign, ipropPNStart, ipropPNSecLvl,
  // lists
  ipropListId, ipropListSimple, ipropLevelStartAt, ipropLevelNfc, ipropLevelJc, ipropLevelOld,
  ipropLevelIndent, ipropLevelSpace, ipropLevelFollow, ipropLevelLegal, ipropLevelNoRestart,
  ipropLOCount, ipropLOStart,
  // table rows and cells
  ipropRowD, ipropRowEnd, ipropCellEnd, ipropInTbl, ipropItap, ipropRowAlign, ipropTrGaph,
  ipropTrLeft, ipropTrRH, ipropTrHdr, ipropTrPaddL, ipropTrPaddR, ipropTrPaddT, ipropTrPaddB,
  ipropTrPaddFL, ipropTrPaddFR, ipropTrPaddFT, ipropTrPaddFB, ipropTrSpdL, ipropTrSpdR,
  ipropTrSpdT, ipropTrSpdB, ipropTrSpdFL, ipropTrSpdFR, ipropTrSpdFT, ipropTrSpdFB,
  ipropTrWWidth, ipropTrFtsWidth, ipropCLVMerge, ipropCLHMerge, ipropCLVAlign, ipropCLWWidth,
  ipropCLFtsWidth, ipropCLColor, ipropCLFColor, ipropCLShading, ipropCellX, ipropOwnCBW,
  ipropOwnCBH, ipropOwnTBW,
  ipropMax
};
static_assert(ipropMax < 256, "property codes are bytes");

enum TRVRTFSpecial : uint8_t { ipfnBin, ipfnHex, ipfnSkipDest };

constexpr int32_t kAffectNone = 0, kAffectChar = 1, kAffectPara = 2;

#define CH(w, c) {w, 0, false, rtf_kwd_Char, c, kAffectNone}
#define WC(w, u, a) {w, u, false, rtf_kwd_WideChar, a, kAffectNone}
#define DS(w, d) {w, 0, false, rtf_kwd_Dest, d, kAffectNone}
#define PC(w, def, fixed, p) {w, def, fixed, rtf_kwd_Prop, p, kAffectChar}
#define PP(w, def, fixed, p) {w, def, fixed, rtf_kwd_Prop, p, kAffectPara}
#define PN(w, def, fixed, p) {w, def, fixed, rtf_kwd_Prop, p, kAffectNone}
#define SP(w, s) {w, 0, false, rtf_kwd_Spec, s, kAffectNone}

std::vector<TRVRTFsymbol> MakeKeywordTable() {
  return {
      // characters
      CH("par", 10), CH("\n", 10), CH("\r", 10), CH("line", 13), CH("tab", 9), CH("~", 160),
      CH("bullet", 149), CH("{", 123), CH("}", 125), CH("\\", 92),
      // Unicode characters: UTF-16 value and ANSI fallback
      WC("emspace", 8195, 32), WC("enspace", 8194, 32), WC("qmspace", 8197, 32),
      WC("lquote", 8216, 145), WC("rquote", 8217, 146), WC("ldblquote", 8220, 147),
      WC("rdblquote", 8221, 148), WC("endash", 8211, 150), WC("emdash", 8212, 151),
      WC("-", 173, 173),
      // destinations
      DS("fonttbl", rdsFontTable), DS("colortbl", rdsColorTable),
      DS("stylesheet", rdsStyleSheet), DS("pict", rdsPict), DS("shppict", rdsShpPict),
      DS("nonshppict", rdsNonShpPict), DS("object", rdsObject), DS("objdata", rdsObjData),
      DS("result", rdsResult), DS("field", rdsField), DS("fldinst", rdsFldInst),
      DS("fldrslt", rdsFldRslt), DS("nesttableprops", rdsNestTableProps),
      DS("header", rdsHeader), DS("footer", rdsFooter), DS("pn", rdsPN),
      DS("pntxta", rdsPNTextAfter), DS("pntxtb", rdsPNTextBefore),
      DS("listtable", rdsListTable), DS("list", rdsList), DS("listname", rdsListName),
      DS("listlevel", rdsListLevel), DS("leveltext", rdsLevelText),
      DS("levelnumbers", rdsLevelNumbers), DS("listoverridetable", rdsLOTable),
      DS("listoverride", rdsLO), DS("lfolevel", rdsLOLevel),
      DS("nonesttables", rdsSkip), DS("author", rdsSkip), DS("buptim", rdsSkip),
      DS("comment", rdsSkip), DS("creatim", rdsSkip), DS("doccomm", rdsSkip),
      DS("footerf", rdsSkip), DS("footerl", rdsSkip), DS("footerr", rdsSkip),
      DS("footnote", rdsSkip), DS("ftncn", rdsSkip), DS("ftnsep", rdsSkip),
      DS("ftnsepc", rdsSkip), DS("headerf", rdsSkip), DS("headerl", rdsSkip),
      DS("headerr", rdsSkip), DS("info", rdsSkip), DS("keywords", rdsSkip),
      DS("operator", rdsSkip), DS("printim", rdsSkip), DS("private1", rdsSkip),
      DS("revtim", rdsSkip), DS("rxe", rdsSkip), DS("subject", rdsSkip), DS("tc", rdsSkip),
      DS("title", rdsSkip), DS("txe", rdsSkip), DS("xe", rdsSkip), DS("pntext", rdsSkip),
      DS("listtext", rdsSkip),
      // character formatting
      PC("b", 1, false, ipropBold), PC("i", 1, false, ipropItalic),
      PC("ul", 1, false, ipropUnderline), PC("ulnone", 0, true, ipropUnderline),
      PC("strike", 1, false, ipropStrike), PC("charscalex", 100, false, ipropCharScaleX),
      PC("expndtw", 0, false, ipropExpndTw), PC("sub", 1, true, ipropVShift),
      PC("super", 2, true, ipropVShift), PC("nosupersub", 0, true, ipropVShift),
      PC("caps", 1, false, ipropCaps), PC("fs", 24, false, ipropFontSize),
      PC("cf", 0, false, ipropTextColor), PC("chcbpat", 0, false, ipropTextBackColor),
      PC("highlight", 0, false, ipropHighlight), PC("lang", 0, false, ipropLanguage),
      PC("plain", 0, false, ipropPlain), PC("f", 0, false, ipropFontNum),
      PC("fcharset", 0, false, ipropFontCharset), PC("v", 1, false, ipropHidden),
      // paragraph formatting
      PP("sl", 240, false, ipropLineSpacing), PP("slmult", 1, false, ipropLineSpacingMulti),
      PP("li", 0, false, ipropLeftInd), PP("ri", 0, false, ipropRightInd),
      PP("fi", 0, false, ipropFirstInd), PP("sb", 0, false, ipropSpaceBefore),
      PP("sa", 0, false, ipropSpaceAfter), PP("qc", 2, true, ipropJust),
      PP("ql", 0, true, ipropJust), PP("qr", 1, true, ipropJust), PP("qj", 3, true, ipropJust),
      PP("pard", 0, false, ipropParD), PP("cbpat", 0, false, ipropParaColor),
      PP("cfpat", 0, false, ipropParaFColor), PP("shading", 0, false, ipropShading),
      PP("keep", 1, true, ipropKeep), PP("keepn", 1, true, ipropKeepN),
      PP("tx", 0, false, ipropTX), PP("tqr", 1, true, ipropTabKind),
      PP("tqc", 2, true, ipropTabKind), PP("tqdec", 3, true, ipropTabKind),
      PP("tldot", 1, true, ipropTabLeader), PP("tlmdot", 2, true, ipropTabLeader),
      PP("tlhyph", 3, true, ipropTabLeader), PP("tlul", 4, true, ipropTabLeader),
      PP("tlth", 4, true, ipropTabLeader), PP("tleq", 5, true, ipropTabLeader),
      PP("jclisttab", 0, false, ipropListTab), PP("ls", 1, false, ipropListOverride),
      PP("ilvl", 1, false, ipropListLevel), PP("absnoovrlp", 0, false, ipropNoOverlap),
      PP("brdrl", 0, true, ipropBrdrSide), PP("brdrt", 1, true, ipropBrdrSide),
      PP("brdrr", 2, true, ipropBrdrSide), PP("brdrb", 3, true, ipropBrdrSide),
      PP("trbrdrl", 0, true, ipropTrBrdrSide), PP("trbrdrt", 1, true, ipropTrBrdrSide),
      PP("trbrdrr", 2, true, ipropTrBrdrSide), PP("trbrdrb", 3, true, ipropTrBrdrSide),
      PP("clbrdrl", 0, true, ipropClBrdrSide), PP("clbrdrt", 1, true, ipropClBrdrSide),
      PP("clbrdrr", 2, true, ipropClBrdrSide), PP("clbrdrb", 3, true, ipropClBrdrSide),
      PP("brdrw", 1, false, ipropBrdrWidth), PP("brdrcf", 0, false, ipropBrdrColor),
      PP("brsp", 0, false, ipropBrdrSpace),
      PP("brdrnone", 0, true, ipropBrdrStyle), PP("brdrs", 1, true, ipropBrdrStyle),
      PP("brdrth", 2, true, ipropBrdrStyle), PP("brdrsh", 3, true, ipropBrdrStyle),
      PP("brdrdb", 4, true, ipropBrdrStyle), PP("brdrdot", 5, true, ipropBrdrStyle),
      PP("brdrdash", 6, true, ipropBrdrStyle), PP("brdrhair", 7, true, ipropBrdrStyle),
      PP("brdrdashsm", 8, true, ipropBrdrStyle), PP("brdrdashd", 9, true, ipropBrdrStyle),
      PP("brdrdashdd", 10, true, ipropBrdrStyle), PP("brdrtriple", 11, true, ipropBrdrStyle),
      PP("brdrtnthsg", 12, true, ipropBrdrStyle), PP("brdrthtnsg", 13, true, ipropBrdrStyle),
      PP("brdrtnthtnsg", 14, true, ipropBrdrStyle), PP("brdrtnthmg", 15, true, ipropBrdrStyle),
      PP("brdrthtnmg", 16, true, ipropBrdrStyle), PP("brdrtnthtnmg", 17, true, ipropBrdrStyle),
      PP("brdrtnthlg", 18, true, ipropBrdrStyle), PP("brdrthtnlg", 19, true, ipropBrdrStyle),
      PP("brdrtnthtnlg", 20, true, ipropBrdrStyle), PP("brdrwavy", 21, true, ipropBrdrStyle),
      PP("brdrwavydb", 22, true, ipropBrdrStyle), PP("brdrdashdotstr", 23, true, ipropBrdrStyle),
      PP("brdremboss", 24, true, ipropBrdrStyle), PP("brdrengrave", 24, true, ipropBrdrStyle),
      PP("brdrinset", 26, true, ipropBrdrStyle), PP("brdroutset", 27, true, ipropBrdrStyle),
      // document, section and code page
      PN("deflang", 0, false, ipropDefLang), PN("deff", 0, false, ipropDefFont),
      PN("ansicpg", 0, false, ipropAnsiCodePage), PN("u", 0, false, ipropUnicode),
      PN("uc", 1, false, ipropUnicodeSkip), PN("page", 0, false, ipropPage),
      PN("sectd", 0, false, ipropSectD), PN("cols", 1, false, ipropCols),
      PN("pgnx", 0, false, ipropPgnX), PN("pgny", 0, false, ipropPgnY),
      PN("headery", 720, false, ipropHeaderY), PN("footery", 720, false, ipropFooterY),
      PN("paperw", 12240, false, ipropPaperW), PN("paperh", 15480, false, ipropPaperH),
      PN("margl", 1800, false, ipropMargL), PN("margr", 1800, false, ipropMargR),
      PN("margt", 1440, false, ipropMargT), PN("margb", 1440, false, ipropMargB),
      PN("pgnstart", 1, false, ipropPgnStart), PN("facingp", 1, true, ipropFacingP),
      PN("landscape", 1, true, ipropLandscape),
      PN("sbknone", 0, true, ipropSBK), PN("sbkcol", 1, true, ipropSBK),
      PN("sbkeven", 2, true, ipropSBK), PN("sbkodd", 3, true, ipropSBK),
      PN("sbkpage", 4, true, ipropSBK), PN("pgndec", 0, true, ipropPGN),
      PN("pgnucrm", 1, true, ipropPGN), PN("pgnlcrm", 2, true, ipropPGN),
      PN("pgnucltr", 3, true, ipropPGN), PN("pgnlcltr", 4, true, ipropPGN),
      // tables
      PN("fnil", 0, true, ipropFontFamily), PN("froman", 1, true, ipropFontFamily),
      PN("fswiss", 2, true, ipropFontFamily), PN("fmodern", 3, true, ipropFontFamily),
      PN("fscript", 4, true, ipropFontFamily), PN("fdecor", 5, true, ipropFontFamily),
      PN("ftech", 6, true, ipropFontFamily), PN("fbidi", 7, true, ipropFontFamily),
      PN("red", 0, false, ipropRed), PN("green", 0, false, ipropGreen),
      PN("blue", 0, false, ipropBlue), PN("s", 0, false, ipropStyleNo),
      PN("cs", 0, false, ipropCharStyleNo), PN("ds", 0, false, ipropSectStyleNo),
      PN("sbasedon", 0, false, ipropBasedOn), PN("snext", 0, false, ipropNext),
      PN("additive", 0, false, ipropAdditive), PN("shidden", 0, false, ipropSHidden),
      // pictures and objects
      PN("picw", 0, false, ipropPicW), PN("pich", 0, false, ipropPicH),
      PN("picscalex", 100, false, ipropPicScaleX), PN("picscaley", 100, false, ipropPicScaleY),
      PN("picwgoal", 0, false, ipropPicWGoal), PN("pichgoal", 0, false, ipropPicHGoal),
      PN("wbmwidthbytes", 0, false, ipropWBMWidthBytes),
      PN("wbmbitspixel", 1, false, ipropWBMBitsPixel), PN("wbmplanes", 1, false, ipropWBMPlanes),
      PN("emfblip", 0, true, ipropPicType), PN("pngblip", 1, true, ipropPicType),
      PN("jpegblip", 2, true, ipropPicType), PN("macpict", 3, true, ipropPicType),
      PN("pmmetafile", 4, true, ipropPicType), PN("dibitmap", 6, true, ipropPicType),
      PN("wbitmap", 7, true, ipropPicType), PN("wmetafile", 1, false, ipropWMetafile),
      PN("picbmp", 1, false, ipropPicBmp),
      PN("objemb", 0, true, ipropObjType), PN("objlink", 1, true, ipropObjType),
      PN("objautlink", 2, true, ipropObjType), PN("objsub", 3, true, ipropObjType),
      PN("objpub", 4, true, ipropObjType), PN("objicemb", 5, true, ipropObjType),
      PN("objhtml", 6, true, ipropObjType), PN("objocx", 7, true, ipropObjType),
      PN("objw", 0, false, ipropObjW), PN("objh", 0, false, ipropObjH),
      // old-style numbering
      PN("pnlvl", 1, false, ipropPNLevel), PN("pnlvlblt", 11, true, ipropPNLevel),
      PN("pnlvlbody", 10, true, ipropPNLevel), PN("pnhang", 1, false, ipropPNHang),
      PN("pndec", 1, true, ipropPNType), PN("pnlcltr", 2, true, ipropPNType),
      PN("pnucltr", 3, true, ipropPNType), PN("pnlcrm", 4, true, ipropPNType),
      PN("pnucrm", 5, true, ipropPNType), PN("pnb", 1, false, ipropPNBold),
      PN("pni", 1, false, ipropPNItalic), PN("pnul", 1, false, ipropPNUnderline),
      PN("pnuld", 1, false, ipropPNUnderline), PN("pnuldash", 1, false, ipropPNUnderline),
      PN("pnuldashd", 1, false, ipropPNUnderline), PN("pnuldashdd", 1, false, ipropPNUnderline),
      PN("pnuldb", 1, false, ipropPNUnderline), PN("pnulhair", 1, false, ipropPNUnderline),
      PN("pnulth", 1, false, ipropPNUnderline), PN("pnulwave", 1, false, ipropPNUnderline),
      PN("pnulw", 1, false, ipropPNUnderline), PN("pnulnone", 0, true, ipropPNUnderline),
      PN("pnstrike", 1, false, ipropPNStrike), PN("pncf", 0, false, ipropPNColor),
      PN("pnf", 0, false, ipropPNFont), PN("pnfs", 0, false, ipropPNFontSize),
      PN("pnindent", 0, false, ipropPNIndent), PN("pnsp", 0, false, ipropPNSp),
      PN("pnql", 0, true, ipropPNAlign), PN("pnqr", 1, true, ipropPNAlign),
      PN("pnqc", 2, true, ipropPNAlign), PN("pnstart", 1, false, ipropPNStart),
      PN("pnseclvl", 1, false, ipropPNSecLvl),
      // lists
      PN("listid", 0, false, ipropListId), PN("listsimple", 1, false, ipropListSimple),
      PN("levelstartat", 1, false, ipropLevelStartAt), PN("levelnfc", 0, false, ipropLevelNfc),
      PN("leveljc", 0, false, ipropLevelJc), PN("levelold", 1, false, ipropLevelOld),
      PN("levelindent", 0, false, ipropLevelIndent), PN("levelspace", 0, false, ipropLevelSpace),
      PN("levelfollow", 0, false, ipropLevelFollow), PN("levellegal", 1, false, ipropLevelLegal),
      PN("levelnorestart", 1, false, ipropLevelNoRestart),
      PN("listoverridecount", 0, false, ipropLOCount),
      PN("listoverridestartat", 1, false, ipropLOStart),
      // table rows and cells
      PN("trowd", 0, false, ipropRowD), PN("row", 0, true, ipropRowEnd),
      PN("nestrow", 1, true, ipropRowEnd), PN("cell", 0, true, ipropCellEnd),
      PN("nestcell", 1, true, ipropCellEnd), PN("intbl", 0, false, ipropInTbl),
      PN("itap", 1, false, ipropItap), PN("trql", 0, true, ipropRowAlign),
      PN("trqr", 1, true, ipropRowAlign), PN("trqc", 2, true, ipropRowAlign),
      PN("trgaph", 0, false, ipropTrGaph), PN("trleft", 0, false, ipropTrLeft),
      PN("trrh", 0, false, ipropTrRH), PN("trhdr", 1, false, ipropTrHdr),
      PN("trpaddl", 0, false, ipropTrPaddL), PN("trpaddr", 0, false, ipropTrPaddR),
      PN("trpaddt", 0, false, ipropTrPaddT), PN("trpaddb", 0, false, ipropTrPaddB),
      PN("trpaddfl", 0, false, ipropTrPaddFL), PN("trpaddfr", 0, false, ipropTrPaddFR),
      PN("trpaddft", 0, false, ipropTrPaddFT), PN("trpaddfb", 0, false, ipropTrPaddFB),
      PN("trspdl", 0, false, ipropTrSpdL), PN("trspdr", 0, false, ipropTrSpdR),
      PN("trspdt", 0, false, ipropTrSpdT), PN("trspdb", 0, false, ipropTrSpdB),
      PN("trspdfl", 0, false, ipropTrSpdFL), PN("trspdfr", 0, false, ipropTrSpdFR),
      PN("trspdft", 0, false, ipropTrSpdFT), PN("trspdfb", 0, false, ipropTrSpdFB),
      PN("trwWidth", 0, false, ipropTrWWidth), PN("trftsWidth", 0, false, ipropTrFtsWidth),
      PN("clvmgf", 1, true, ipropCLVMerge), PN("clvmrg", 2, true, ipropCLVMerge),
      PN("clmgf", 1, true, ipropCLHMerge), PN("clmrg", 2, true, ipropCLHMerge),
      PN("clvertalt", 0, true, ipropCLVAlign), PN("clvertalb", 1, true, ipropCLVAlign),
      PN("clvertalc", 2, true, ipropCLVAlign), PN("clwWidth", 0, false, ipropCLWWidth),
      PN("clftsWidth", 0, false, ipropCLFtsWidth), PN("clcbpat", 0, false, ipropCLColor),
      PN("clcbpatraw", 0, false, ipropCLColor), PN("clcfpat", 0, false, ipropCLFColor),
      PN("clshdng", 0, false, ipropCLShading), PN("cellx", 0, false, ipropCellX),
      PN("docviewcbw", 0, false, ipropOwnCBW), PN("docviewcbh", 0, false, ipropOwnCBH),
      PN("docviewtbw", 0, false, ipropOwnTBW),
      // specials
      SP("bin", ipfnBin), SP("'", ipfnHex), SP("*", ipfnSkipDest),
  };
}

#undef CH
#undef WC
#undef DS
#undef PC
#undef PP
#undef PN
#undef SP

bool KeywordLess(const TRVRTFsymbol& a, const TRVRTFsymbol& b) {
  return std::strcmp(a.Keyword, b.Keyword) < 0;  // strcmp compares as unsigned char
}

std::vector<TRVRTFsymbol>& KeywordTableStorage() {
  static std::vector<TRVRTFsymbol> table = MakeKeywordTable();
  return table;
}

std::once_flag g_keywordsSorted;

void SortKeywordTable() {
  std::call_once(g_keywordsSorted, [] {
    auto& t = KeywordTableStorage();
    std::sort(t.begin(), t.end(), KeywordLess);
  });
}

bool IsHexDigit(uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

uint8_t HexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
  return static_cast<uint8_t>(c - 'A' + 10);
}

bool IsLetter(uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// V/2 rounded to the nearest integer, halves to even.
int32_t HalfRounded(int32_t v) { return static_cast<int32_t>(std::nearbyint(v / 2.0)); }

// The RGB value used when blending shading: "no colour" counts as white.
TColor BlendBase(TColor c) {
  if (c == clNone || c == clDefault) return clWhite;
  return ColorToRGB(c);
}

TColor BlendShading(TColor back, TColor pattern, int32_t shading) {
  const TColor b = BlendBase(back);
  const TColor p = ColorToRGB(pattern == clNone ? clWindowText : pattern);
  const int64_t s = std::clamp(shading, 0, 10000);
  auto mix = [&](int shift) {
    const int64_t bc = (static_cast<uint32_t>(b) >> shift) & 0xFF;
    const int64_t pc = (static_cast<uint32_t>(p) >> shift) & 0xFF;
    return static_cast<uint32_t>((bc * (10000 - s) + pc * s) / 10000) << shift;
  };
  return static_cast<TColor>(mix(0) | mix(8) | mix(16));
}

// ---- Code pages through iconv ---------------------------------------------------------

std::string IconvName(uint32_t cp) {
  switch (cp) {
    case 0: return "CP1250";  // the process's ANSI code page
    case 1: return "CP852";   // OEM code page
    case 2: return "MACINTOSH";
    case 1200: return "UTF-16LE";
    case 1201: return "UTF-16BE";
    case 20127: return "ASCII";
    case 20866: return "KOI8-R";
    case 65001: return "UTF-8";
    default: break;
  }
  if (cp >= 28591 && cp <= 28599) return "ISO-8859-" + std::to_string(cp - 28590);
  if (cp == 28605) return "ISO-8859-15";
  return "CP" + std::to_string(cp);
}

// The thread's cached converter between two encodings (opened once, see iconv_cache.h).
class TIconv {
 public:
  TIconv(const std::string& to, const std::string& from) : cd_(CachedIconv(to, from)) {}
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Converts bytes of one encoding into UTF-16LE bytes; an invalid or incomplete sequence
// becomes '?' for its first byte. Returns false when the code page is unknown.
bool MultiToWide(const AnsiString& text, uint32_t cp, WideString& out) {
  TIconv cv("UTF-16LE", IconvName(cp));
  if (!cv.ok()) return false;
  out.clear();
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  std::string buf(text.size() * 4 + 16, '\0');
  while (inLeft > 0) {
    char* outp = buf.data();
    size_t outLeft = buf.size();
    const size_t rc = iconv(cv.get(), &in, &inLeft, &outp, &outLeft);
    const size_t produced = buf.size() - outLeft;
    for (size_t i = 0; i + 1 < produced; i += 2)
      out.push_back(static_cast<char16_t>(static_cast<uint8_t>(buf[i]) |
                                          (static_cast<uint8_t>(buf[i + 1]) << 8)));
    if (rc == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      out.push_back(u'?');  // EILSEQ or EINVAL: skip one byte
      ++in;
      --inLeft;
      iconv(cv.get(), nullptr, nullptr, nullptr, nullptr);
    }
  }
  return true;
}

// Converts UTF-16 into a code page; characters it lacks become '?'.
bool WideToMulti(const WideString& text, uint32_t cp, AnsiString& out) {
  TIconv cv(IconvName(cp), "UTF-16LE");
  if (!cv.ok()) return false;
  out.clear();
  std::string src;
  src.reserve(text.size() * 2);
  for (char16_t c : text) {
    src.push_back(static_cast<char>(c & 0xFF));
    src.push_back(static_cast<char>(c >> 8));
  }
  char* in = src.data();
  size_t inLeft = src.size();
  std::string buf(text.size() * 8 + 16, '\0');
  while (inLeft > 0) {
    char* outp = buf.data();
    size_t outLeft = buf.size();
    const size_t rc = iconv(cv.get(), &in, &inLeft, &outp, &outLeft);
    out.append(buf.data(), buf.size() - outLeft);
    if (rc == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      out.push_back('?');
      // skip one UTF-16 unit, or a whole surrogate pair
      size_t skip = 2;
      if (inLeft >= 4) {
        const uint16_t u = static_cast<uint8_t>(in[0]) | (static_cast<uint8_t>(in[1]) << 8);
        const uint16_t v = static_cast<uint8_t>(in[2]) | (static_cast<uint8_t>(in[3]) << 8);
        if (u >= 0xD800 && u < 0xDC00 && v >= 0xDC00 && v < 0xE000) skip = 4;
      }
      skip = std::min(skip, inLeft);
      in += skip;
      inLeft -= skip;
      iconv(cv.get(), nullptr, nullptr, nullptr, nullptr);
    }
  }
  // finish a stateful encoding
  char* outp = buf.data();
  size_t outLeft = buf.size();
  iconv(cv.get(), nullptr, nullptr, &outp, &outLeft);
  out.append(buf.data(), buf.size() - outLeft);
  return true;
}

}  // namespace

const std::vector<TRVRTFsymbol>& RTFKeywordTable() {
  SortKeywordTable();
  return KeywordTableStorage();
}

const TRVRTFsymbol* RTFFindKeyword(const std::string& word) {
  const auto& t = RTFKeywordTable();
  TRVRTFsymbol key{word.c_str(), 0, false, rtf_kwd_Char, 0, 0};
  auto it = std::lower_bound(t.begin(), t.end(), key, KeywordLess);
  if (it == t.end() || word != it->Keyword) return nullptr;
  return &*it;
}

// ---- Property objects --------------------------------------------------------------

TRVRTFBorderSide& TRVRTFParaBorder::Side(int32_t i) {
  auto& s = sides_[std::clamp(i, 0, 3)];
  if (!s) s = std::make_unique<TRVRTFBorderSide>();
  return *s;
}

const TRVRTFBorderSide* TRVRTFParaBorder::SideOrNull(int32_t i) const {
  return (i < 0 || i > 3) ? nullptr : sides_[i].get();
}

void TRVRTFParaBorder::Reset() {
  for (auto& s : sides_)
    if (s) s->Reset();
}

void TRVRTFParaBorder::Assign(const TRVRTFParaBorder& src) {
  for (int i = 0; i < 4; ++i) {
    if (src.sides_[i])
      Side(i) = *src.sides_[i];
    else
      sides_[i].reset();
  }
}

bool TRVRTFParaBorder::HasVisibleSide() const {
  for (const auto& s : sides_)
    if (s && s->Style != 0) return true;
  return false;
}

void TRVRTFCharProperties::Reset(int32_t language, int32_t fontIndex) {
  *this = TRVRTFCharProperties();
  Language = language;
  FontIndex = fontIndex;
}

void TRVRTFCharProperties::Assign(const TRVRTFCharProperties& src) {
  const int32_t language = Language;
  AnsiString override = std::move(FontNameOverride);
  *this = src;
  Language = language;
  FontNameOverride = std::move(override);
}

void TRVRTFCustomMarkerProperties::Reset() {
  ListType = 0;
  FontIndex = -1;
  Indent = Space = Start = 0;
  FontStyle = 0;
  Color = clWindowText;
  Alignment = 0;
  FixedProperties = 0;
  FontSize = 12;
}

void TRVRTFCustomMarkerProperties::TakeCharFormatting(const TRVRTFCharProperties& cp) {
  if (!(FixedProperties & rtf_mf_Color)) Color = cp.Color;
  if (!(FixedProperties & rtf_mf_Font)) FontIndex = cp.FontIndex;
  if (!(FixedProperties & rtf_mf_Size)) FontSize = cp.Size;
  const uint8_t taken = rtf_fs_Bold | rtf_fs_Italic | rtf_fs_StrikeOut;
  FontStyle = static_cast<uint8_t>((FontStyle & ~taken) | (cp.FontStyle & taken));
}

void TRVRTFMarkerProperties::Reset() {
  TRVRTFCustomMarkerProperties::Reset();
  Level = 0;
  Hanging = false;
  TextAfter.clear();
  TextBefore.clear();
}

void TRVRTFMarkerProperties::CopyFrom(const TRVRTFMarkerProperties& src, bool keepFixed) {
  ListType = src.ListType;
  Alignment = src.Alignment;
  Indent = src.Indent;
  Space = src.Space;
  Start = src.Start;
  FixedProperties = src.FixedProperties;
  if (!keepFixed) {
    FontIndex = src.FontIndex;
    FontStyle = src.FontStyle;
    Color = src.Color;
    FontSize = src.FontSize;
    Level = src.Level;
  } else {
    if (!(FixedProperties & rtf_mf_Color)) Color = src.Color;
    if (!(FixedProperties & rtf_mf_Font)) FontIndex = src.FontIndex;
    if (!(FixedProperties & rtf_mf_Size)) FontSize = src.FontSize;
    FontStyle = src.FontStyle;
  }
  TextBefore = src.TextBefore;
  TextAfter = src.TextAfter;
  Hanging = src.Hanging;
}

TRVRTFParaBorder& TRVRTFParaProperties::Border() {
  if (!border_) border_ = std::make_unique<TRVRTFParaBorder>();
  return *border_;
}

TRVRTFMarkerProperties& TRVRTFParaProperties::Marker() {
  if (!marker_) marker_ = std::make_unique<TRVRTFMarkerProperties>();
  return *marker_;
}

TRVRTFTabList& TRVRTFParaProperties::Tabs() {
  if (!tabs_) tabs_ = std::make_unique<TRVRTFTabList>();
  return *tabs_;
}

void TRVRTFParaProperties::Reset() {
  LeftIndent = RightIndent = FirstIndent = SpaceBefore = SpaceAfter = 0;
  Alignment = 0;
  CurBorderSide = 0;
  LineSpacing = 240;
  LineSpacingMulti = 1;
  Color = clNone;
  NestingLevel = 1;
  InTable = false;
  Shading = 0;
  ForeColor = 0;
  ListOverrideIndex = -1;
  ListLevel = 0;
  KeepLinesTogether = KeepWithNext = NoOverlap = false;
  TabsFinalized = false;
  border_.reset();
  marker_.reset();
  tabs_.reset();
}

void TRVRTFParaProperties::Assign(const TRVRTFParaProperties& src) {
  LeftIndent = src.LeftIndent;
  RightIndent = src.RightIndent;
  FirstIndent = src.FirstIndent;
  SpaceBefore = src.SpaceBefore;
  SpaceAfter = src.SpaceAfter;
  Alignment = src.Alignment;
  CurBorderSide = src.CurBorderSide;
  LineSpacing = src.LineSpacing;
  LineSpacingMulti = src.LineSpacingMulti;
  Color = src.Color;
  NestingLevel = src.NestingLevel;
  InTable = src.InTable;
  Shading = src.Shading;
  ForeColor = src.ForeColor;
  ListOverrideIndex = src.ListOverrideIndex;
  ListLevel = src.ListLevel;
  KeepLinesTogether = src.KeepLinesTogether;
  KeepWithNext = src.KeepWithNext;
  NoOverlap = src.NoOverlap;
  TabsFinalized = src.TabsFinalized;
  if (src.border_)
    Border().Assign(*src.border_);
  else
    border_.reset();
  if (src.marker_)
    Marker().CopyFrom(*src.marker_, false);
  else
    marker_.reset();
  if (src.tabs_ && src.tabs_->Count() > 0) {
    auto& t = Tabs();
    t.Clear();
    for (int32_t i = 0; i < src.tabs_->Count(); ++i) *t.Add() = *src.tabs_->Items(i);
  } else {
    tabs_.reset();
  }
}

void TRVRTFParaProperties::Finalize() {
  if (Shading != 0) {
    Color = BlendShading(Color, ForeColor, Shading);
    Shading = 0;
  }
  if (tabs_ && !TabsFinalized) {
    if (tabs_->Count() > 0) tabs_->Delete(tabs_->Count() - 1);  // the open tab
    for (int32_t i = tabs_->Count() - 1; i >= 0; --i)
      if (tabs_->Items(i)->IsListTab) tabs_->Delete(i);
    TabsFinalized = true;
  }
}

TRVRTFMarkerProperties& TRVRTFSectionProperties::NumberingDefault(int32_t level) {
  if (level < 1 || level > 11)
    throw EListError("Invalid numbering level " + std::to_string(level));
  if (defaults_.empty())
    for (int i = 0; i < 11; ++i) defaults_.push_back(std::make_unique<TRVRTFMarkerProperties>());
  return *defaults_[static_cast<size_t>(level - 1)];
}

void TRVRTFSectionProperties::Reset() {
  ColumnCount = 1;
  SectionBreak = 4;
  PageNumberX = PageNumberY = 720;
  PageNumberFormat = 0;
  HeaderY = FooterY = 720;
  defaults_.clear();
}

void TRVRTFSectionProperties::Assign(const TRVRTFSectionProperties& src) {
  ColumnCount = src.ColumnCount;
  PageNumberX = src.PageNumberX;
  PageNumberY = src.PageNumberY;
  PageNumberFormat = src.PageNumberFormat;
  SectionBreak = src.SectionBreak;
  defaults_.clear();
  for (const auto& d : src.defaults_) {
    defaults_.push_back(std::make_unique<TRVRTFMarkerProperties>());
    defaults_.back()->CopyFrom(*d, false);
  }
}

void TRVRTFCellProperties::Assign(const TRVRTFCellProperties& src) {
  HMerge = src.HMerge;
  VMerge = src.VMerge;
  BestWidth = src.BestWidth;
  Color = src.Color;
  VAlign = src.VAlign;
  Border.Assign(src.Border);
  CurBorderSide = src.CurBorderSide;
  RightBoundary = src.RightBoundary;
  ForeColor = src.ForeColor;
  Shading = src.Shading;
  BestHeight = src.BestHeight;
}

TRVRTFCellProperties& TRVRTFRowProperties::OpenCell() {
  if (Cells.Count() == 0) Cells.Add();
  return *Cells.Last();
}

void TRVRTFRowProperties::Reset() {
  GapH = Left = Height = BestWidth = 0;
  for (int i = 0; i < 4; ++i) {
    Padding[i] = Spacing[i] = 0;
    PaddingGiven[i] = SpacingGiven[i] = false;
  }
  BestWidthInPercent = false;
  Heading = false;
  CurBorderSide = 0;
  Border.Reset();
  Cells.Clear();
  Cells.Add();
  CellsNeedFinalizing = true;
  LastCellOpen = true;
  UseOwnExtensions = false;
}

void TRVRTFRowProperties::Assign(const TRVRTFRowProperties& src) {
  GapH = src.GapH;
  Left = src.Left;
  Height = src.Height;
  BestWidth = src.BestWidth;
  Border.Assign(src.Border);
  CurBorderSide = src.CurBorderSide;
  Cells.Clear();
  for (int32_t i = 0; i < src.Cells.Count(); ++i) {
    TRVRTFCellProperties* c = Cells.Add();
    c->Assign(*src.Cells.Items(i));
    c->BestWidthInPercent = src.Cells.Items(i)->BestWidthInPercent;
  }
  CellsNeedFinalizing = src.CellsNeedFinalizing;
  LastCellOpen = src.LastCellOpen;
  UseOwnExtensions = src.UseOwnExtensions;
  for (int i = 0; i < 4; ++i) {
    Padding[i] = src.Padding[i];
    Spacing[i] = src.Spacing[i];
    PaddingGiven[i] = src.PaddingGiven[i];
    SpacingGiven[i] = src.SpacingGiven[i];
  }
}

void TRVRTFRowProperties::Finalize() {
  if (LastCellOpen && Cells.Count() > 0) Cells.Delete(Cells.Count() - 1);
  LastCellOpen = false;
  if (CellsNeedFinalizing) {
    for (int32_t i = 0; i < Cells.Count(); ++i) {
      TRVRTFCellProperties* c = Cells.Items(i);
      if (c->Shading > 0) {
        c->Color = BlendShading(c->Color, c->ForeColor, c->Shading);
        c->Shading = 0;
      }
    }
    CellsNeedFinalizing = false;
  }
}

void TRVRTFListLevel97::Reset() {
  TRVRTFCustomMarkerProperties::Reset();
  Start = 1;  // numbering starts at 1 unless "levelstartat" says otherwise
  Old = Legal = NoRestart = false;
  Text.clear();
  Numbers.clear();
  TextW.clear();
  Follow = 0;
}

TRVRTFReaderState::TRVRTFReaderState() { Reset(); }

TRVRTFRowProperties& TRVRTFReaderState::RowProps() {
  if (!row_) row_ = std::make_unique<TRVRTFRowProperties>();
  return *row_;
}

void TRVRTFReaderState::Reset() {
  DefLanguage = 0;
  CharProps.Reset(0, 0);
  ParaProps.Reset();
  SectProps.Reset();
  DocProps.Reset();
  row_.reset();
  FieldCode.clear();
  FieldPictureIncluded = false;
  BorderType = rtf_bt_Para;
  Destination = rdsNorm;
  InputState = rtf_is_Normal;
  DefFontNumber = 0;
  DefFontIndex = -1;
  HFType = rtf_hf_MainText;
  UnicodeSkipWidth = 1;
}

void TRVRTFReaderState::Assign(const TRVRTFReaderState& src) {
  CharProps.Assign(src.CharProps);
  ParaProps.Assign(src.ParaProps);
  SectProps.Assign(src.SectProps);
  DocProps = src.DocProps;
  if (src.row_)
    RowProps().Assign(*src.row_);
  else
    row_.reset();
  DefLanguage = src.DefLanguage;
  Destination = src.Destination;
  InputState = src.InputState;
  BorderType = src.BorderType;
  HFType = src.HFType;
  UnicodeSkipWidth = src.UnicodeSkipWidth;
}

// ---- The reader --------------------------------------------------------------------

TRVRTFReader::TRVRTFReader(TComponent* owner)
    : TComponent(owner), state_(std::make_unique<TRVRTFReaderState>()) {}

TRVRTFReader::~TRVRTFReader() { Reset(); }

void TRVRTFReader::Reset() {
  SortKeywordTable();
  fontTable_.Clear();
  colorTable_.Clear();
  colorPending_ = false;
  styleSheet_.Clear();
  listTable_.Clear();
  listOverrideTable_.Clear();
  stack_.clear();
  state_->Reset();
  invalidFieldPicture_.reset();
  pendingText_.clear();
  pendingTextW_.clear();
  position_ = rtf_ts_NewPara;
  pushedBack_ = false;
  picture_.reset();
  object_.reset();
  pendingMarker_.reset();
  codePage_ = defCodePage_;
  skipCount_ = 0;
  depth_ = 0;
  tableLevel_ = 0;
  forceFlush_ = false;
  if (pixelsPerInch_ == 0) pixelsPerInch_ = 96;  // the family works at 96 DPI
  skipNonShpPict_ = false;
  skipResult_ = false;
  skipDestIfUnknown_ = false;
  binRemaining_ = 0;
  lastParam_ = 0;
  hexCount_ = 0;
  rowAlign_ = 0;
  rowAlignGiven_ = false;
  pnSecLevel_ = 0;
}

int32_t TRVRTFReader::FontIndexOf(int32_t number, int32_t defNumber) const {
  int32_t defIndex = -1;
  for (int32_t i = 0; i < fontTable_.Count(); ++i) {
    if (fontTable_.Items(i)->Number == number) return i;
    if (defIndex < 0 && fontTable_.Items(i)->Number == defNumber) defIndex = i;
  }
  if (number == defNumber) return 0;
  return defIndex >= 0 ? defIndex : 0;
}

int32_t TRVRTFReader::DefFontIndex() {
  if (state_->DefFontIndex < 0)
    state_->DefFontIndex = FontIndexOf(state_->DefFontNumber, state_->DefFontNumber);
  return state_->DefFontIndex;
}

WideString TRVRTFReader::AnsiToWide(const AnsiString& text, uint32_t codePage) {
  if (text.empty()) return {};
  WideString out;
  if (MultiToWide(text, codePage, out) && !out.empty()) return out;
  if (codePage != 0 && MultiToWide(text, 0, out) && !out.empty()) return out;
  return WideString(text.size(), u'?');
}

AnsiString TRVRTFReader::WideToAnsi(const WideString& text, uint32_t codePage) {
  if (text.empty()) return {};
  AnsiString out;
  if (WideToMulti(text, codePage, out) && !out.empty()) return out;
  if (codePage != 0 && WideToMulti(text, 0, out) && !out.empty()) return out;
  return AnsiString(text.size(), '?');
}

// ---- Input -------------------------------------------------------------------------

bool TRVRTFReader::GetByte(uint8_t& b) {
  if (pushedBack_) {
    pushedBack_ = false;
    b = lastByte_;
    return true;
  }
  if (bufPos_ >= bufLen_) {
    const int64_t pos = stream_->Position();
    if (pos >= streamSize_) return false;
    if (progress_ && OnProgress && streamSize_ > 0)
      OnProgress(this, rvprtfprRunning, static_cast<uint8_t>((pos * 100 + streamSize_ / 2) / streamSize_));
    const int32_t want = static_cast<int32_t>(std::min<int64_t>(4096, streamSize_ - pos));
    const int32_t got = stream_->Read(buffer_.data(), want);
    if (got <= 0) return false;
    bufLen_ = static_cast<size_t>(got);
    bufPos_ = 0;
  }
  b = lastByte_ = static_cast<uint8_t>(buffer_[bufPos_++]);
  return true;
}

uint8_t TRVRTFReader::Parse(TStream& stream) {
  Reset();
  stream_ = &stream;
  streamSize_ = stream.Size();
  buffer_.assign(4096, '\0');
  bufLen_ = bufPos_ = 0;
  progress_ = streamSize_ > 20480 && static_cast<bool>(OnProgress);
  uint8_t result;
  try {
    if (progress_) OnProgress(this, rvprtfprStarting, 0);
    result = ParseLoop();
  } catch (...) {
    result = rtf_ec_Exception;
  }
  buffer_.clear();
  buffer_.shrink_to_fit();
  if (progress_) {
    try {
      OnProgress(this, rvprtfprEnding, 0);
    } catch (...) {
      if (result == rtf_ec_OK) result = rtf_ec_Exception;
    }
  }
  progress_ = false;
  stream_ = nullptr;
  return result;
}

uint8_t TRVRTFReader::ParseLoop() {
  uint8_t c;
  uint8_t r;
  while (GetByte(c)) {
    if (state_->InputState == rtf_is_Binary) {
      if ((r = ParseChar(c)) != rtf_ec_OK) return r;
      continue;
    }
    if (c == 13 || c == 10) continue;
    if (c == '\\') {
      if ((r = ParseKeyword()) != rtf_ec_OK) return r;
      continue;
    }
    if (c == '{') {
      skipCount_ = 0;
      if ((r = PushState()) != rtf_ec_OK) return r;
      continue;
    }
    if (c == '}') {
      skipCount_ = 0;
      if ((r = PopState()) != rtf_ec_OK) return r;
      if (depth_ == 0) break;
      continue;
    }
    switch (state_->InputState) {
      case rtf_is_Normal:
        if (skipCount_ > 0) {
          --skipCount_;
          continue;
        }
        if ((r = ParseChar(c)) != rtf_ec_OK) return r;
        break;
      case rtf_is_Hex:
        if (!IsHexDigit(c)) return rtf_ec_InvalidHex;
        hexValue_ = static_cast<uint8_t>((hexValue_ << 4) | HexValue(c));
        if (++hexCount_ == 2) {
          state_->InputState = rtf_is_Normal;
          hexCount_ = 0;
          if (skipCount_ > 0) {
            --skipCount_;
            continue;
          }
          if ((r = ParseChar(hexValue_)) != rtf_ec_OK) return r;
        }
        break;
      default:
        return rtf_ec_Assertion;
    }
  }
  UpdateMarker();
  while (tableLevel_ > 0) {
    FireTable(rvf_tbl_TableEnd);
    --tableLevel_;
  }
  // The entry opened after the last ';' belongs to no colour: only that one goes.
  if (colorPending_) colorTable_.DeleteLast();
  colorPending_ = false;
  if (depth_ < 0) return rtf_ec_StackUnderflow;
  if (depth_ > 0) return rtf_ec_UnmatchedBrace;
  return FlushText(0, false, false);
}

uint8_t TRVRTFReader::ParseKeyword() {
  uint8_t c;
  if (!GetByte(c)) return rtf_ec_EndOfFile;
  if (!IsLetter(c)) return TranslateKeyword(std::string(1, static_cast<char>(c)), 0, false);
  std::string word(1, static_cast<char>(c));
  bool more = GetByte(c);
  while (more && IsLetter(c)) {
    word.push_back(static_cast<char>(c));
    more = GetByte(c);
  }
  bool negative = false;
  if (more && c == '-') {
    negative = true;
    more = GetByte(c);
  }
  bool fParam = false;
  int64_t value = 0;
  while (more && c >= '0' && c <= '9') {
    fParam = true;
    value = value * 10 + (c - '0');
    if (value > 2147483648LL) throw EConvertError("RTF parameter out of range");
    more = GetByte(c);
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) throw EConvertError("RTF parameter out of range");
  if (more && c != ' ') UngetByte();
  lastParam_ = static_cast<int32_t>(value);
  return TranslateKeyword(word, lastParam_, fParam);
}

uint8_t TRVRTFReader::TranslateKeyword(const std::string& word, int32_t param, bool fParam) {
  if (OnTranslateKeyword) {
    AnsiString text;
    bool doDefault = true;
    OnTranslateKeyword(this, word, param, fParam, text, doDefault);
    for (char ch : text) {
      const uint8_t r = ParseChar(static_cast<uint8_t>(ch));
      if (r != rtf_ec_OK) return r;
    }
    if (!doDefault) return rtf_ec_OK;
  }
  const TRVRTFsymbol* sym = RTFFindKeyword(word);
  if (!sym) {
    if (skipDestIfUnknown_) state_->Destination = rdsSkip;
    skipDestIfUnknown_ = false;
    return rtf_ec_OK;
  }
  // Any known word ends the "\*" look-ahead too, so that an unknown word later in a
  // group that began with "\*\knownword" does not skip that group.
  if (!(sym->Kind == rtf_kwd_Spec && sym->Index == ipfnSkipDest)) skipDestIfUnknown_ = false;
  switch (sym->Kind) {
    case rtf_kwd_Char:
      if (skipCount_ > 0) {
        --skipCount_;
        return rtf_ec_OK;
      }
      return ParseChar(static_cast<uint8_t>(sym->Index));
    case rtf_kwd_WideChar:
      if (skipCount_ > 0) {
        --skipCount_;
        return rtf_ec_OK;
      }
      if (state_->Destination == rdsNorm && OnNewUnicodeText)
        return AppendWide(static_cast<char16_t>(sym->DefValue));
      return ParseChar(static_cast<uint8_t>(sym->Index));
    case rtf_kwd_Dest:
      return ChangeDest(static_cast<TRVRTFDestination>(sym->Index));
    case rtf_kwd_Prop: {
      const int32_t v = (sym->UseDef || !fParam) ? sym->DefValue : param;
      if (sym->Affect == kAffectChar && state_->Destination == rdsNorm) {
        const uint8_t r = FlushText(0, true, false);
        if (r != rtf_ec_OK) return r;
      }
      return ApplyProperty(sym->Index, v, fParam, param);
    }
    case rtf_kwd_Spec:
      if (state_->Destination == rdsSkip && sym->Index != ipfnBin) return rtf_ec_OK;
      switch (sym->Index) {
        case ipfnBin:
          state_->InputState = rtf_is_Binary;
          binRemaining_ = lastParam_;
          return rtf_ec_OK;
        case ipfnHex:
          state_->InputState = rtf_is_Hex;
          hexCount_ = 0;
          hexValue_ = 0;
          return rtf_ec_OK;
        case ipfnSkipDest:
          skipDestIfUnknown_ = true;
          return rtf_ec_OK;
        default:
          return rtf_ec_BadTable;
      }
  }
  return rtf_ec_BadTable;
}

// A byte from text, a hex escape, a character keyword or binary data.
uint8_t TRVRTFReader::ParseChar(uint8_t b) {
  const uint8_t r = PassCharToDest(b);
  if (state_->InputState == rtf_is_Binary) {
    if (binRemaining_ < 2) {  // the count drops below 1 (also for a negative "bin")
      binRemaining_ = 0;
      state_->InputState = rtf_is_Normal;
    } else {
      --binRemaining_;
    }
  }
  return r;
}

uint8_t TRVRTFReader::PassCharToDest(uint8_t b) {
  switch (state_->Destination) {
    case rdsNorm: {
      if ((b == 10 || b == 13) && OnUpdateMarker) {
        UpdateMarker();
        const uint8_t r = AppendAnsi(b);
        UpdateMarker();
        return r;
      }
      return AppendAnsi(b);
    }
    case rdsFontTable:
      // Bytes before the first font (blanks between the groups) have no font to go to.
      if (b != ';' && fontTable_.Count() > 0) fontTable_.Last()->Name.push_back(static_cast<char>(b));
      return rtf_ec_OK;
    case rdsColorTable:
      if (b == ';') {
        colorTable_.Add(clWindowText);
        colorPending_ = true;
      }
      return rtf_ec_OK;
    case rdsStyleSheetEntry:
      if (b != ';' && styleSheet_.Count() > 0) styleSheet_.Last()->Name.push_back(static_cast<char>(b));
      return rtf_ec_OK;
    case rdsPict:
      if (state_->InputState == rtf_is_Binary) {
        if (picture_) picture_->Data.WriteBuffer(&b, 1);
        return rtf_ec_OK;
      }
      return ReadPictureHex(b);
    case rdsObjData:
      if (state_->InputState == rtf_is_Binary) {
        if (object_) object_->Data.WriteBuffer(&b, 1);
        return rtf_ec_OK;
      }
      if (!IsHexDigit(b)) return rtf_ec_InvalidPicture;
      if (dataHighPhase_) {
        dataNibble_ = HexValue(b);
        dataHighPhase_ = false;
      } else {
        const uint8_t v = static_cast<uint8_t>((dataNibble_ << 4) | HexValue(b));
        if (object_) object_->Data.WriteBuffer(&v, 1);
        dataHighPhase_ = true;
      }
      return rtf_ec_OK;
    case rdsFldInst:
      state_->FieldCode.push_back(static_cast<char>(b));
      return rtf_ec_OK;
    case rdsPNTextAfter:
      if (pendingMarker_) pendingMarker_->TextAfter.push_back(static_cast<char>(b));
      return rtf_ec_OK;
    case rdsPNTextBefore:
      if (pendingMarker_) pendingMarker_->TextBefore.push_back(static_cast<char>(b));
      return rtf_ec_OK;
    case rdsListName:
      // ";" ends the name, as in the font table and the style sheet
      if (b != ';' && listTable_.Count() > 0) listTable_.Last()->Name.push_back(static_cast<char>(b));
      return rtf_ec_OK;
    case rdsLevelText:
      if (listTable_.Count() > 0 && listTable_.Last()->Count() > 0) {
        TRVRTFListLevel97* level = listTable_.Last()->Last();
        level->Text.push_back(static_cast<char>(b));
        if (!level->TextW.empty())
          level->TextW += AnsiToWide(AnsiString(1, static_cast<char>(b)), codePage_);
      }
      return rtf_ec_OK;
    case rdsLevelNumbers:
      if (listTable_.Count() > 0 && listTable_.Last()->Count() > 0)
        listTable_.Last()->Last()->Numbers.push_back(static_cast<char>(b));
      return rtf_ec_OK;
    default:
      return rtf_ec_OK;
  }
}

// Hex picture data: read on from the input directly, pairing digits into bytes; the
// first byte that is not a hex digit ends the run and goes back to the main loop.
uint8_t TRVRTFReader::ReadPictureHex(uint8_t first) {
  if (!IsHexDigit(first)) return rtf_ec_OK;  // a stray byte between data runs
  std::string out;
  out.reserve(65536);
  auto write = [&] {
    if (picture_ && !out.empty()) picture_->Data.WriteBuffer(out.data(), static_cast<int64_t>(out.size()));
    out.clear();
  };
  uint8_t nibble = HexValue(first);
  bool high = false;  // "first" was the high nibble
  uint8_t c;
  while (GetByte(c)) {
    if (c == 10 || c == 13) continue;
    if (!IsHexDigit(c)) {
      UngetByte();
      break;
    }
    if (high) {
      nibble = HexValue(c);
      high = false;
    } else {
      out.push_back(static_cast<char>((nibble << 4) | HexValue(c)));
      high = true;
      if (out.size() == 65536) write();
    }
  }
  write();
  return rtf_ec_OK;
}

// ---- Groups ----------------------------------------------------------------------------

uint8_t TRVRTFReader::PushState() {
  if (depth_ >= RTF_MAX_GROUP_DEPTH) return rtf_ec_StackOverflow;
  auto saved = std::make_unique<TRVRTFReaderState>();
  saved->Assign(*state_);
  stack_.push_back(std::move(saved));
  state_->InputState = rtf_is_Normal;
  ++depth_;
  if (state_->Destination == rdsStyleSheet) {
    styleSheet_.Add();
    state_->Destination = rdsStyleSheetEntry;
  }
  return rtf_ec_OK;
}

uint8_t TRVRTFReader::PopState() {
  if (stack_.empty()) return rtf_ec_StackUnderflow;
  if (stack_.size() == 1) {
    UpdateMarker();
    if (OnEndParsing) OnEndParsing(this);
  }
  TRVRTFReaderState& saved = *stack_.back();
  const TRVRTFDestination ended = state_->Destination;
  if (ended == rdsStyleSheetEntry && saved.Destination == rdsStyleSheet && styleSheet_.Count() > 0) {
    TRVRTFStyleSheetEntry* e = styleSheet_.Last();
    e->ParaProps.Assign(state_->ParaProps);
    e->CharProps.Assign(state_->CharProps);
    e->CharProps.Language = state_->CharProps.Language;
  }
  if (ended == rdsNorm) {
    const uint8_t r = FlushText(0, false, false);
    if (r != rtf_ec_OK) return r;
  }
  if (ended != saved.Destination) {
    const uint8_t r = EndGroupAction(ended);
    if (r != rtf_ec_OK) return r;
  }
  if (state_->HFType != saved.HFType &&
      (state_->HFType == rtf_hf_Header || state_->HFType == rtf_hf_Footer) && OnHeaderFooter) {
    bool supported = false;
    OnHeaderFooter(this, state_->HFType, false, supported);
  }
  state_->Assign(saved);
  if (ended == rdsPN && state_->Destination != rdsPN && pendingMarker_) {
    state_->ParaProps.Marker().CopyFrom(*pendingMarker_, false);
    pendingMarker_.reset();
  }
  stack_.pop_back();
  --depth_;
  return rtf_ec_OK;
}

uint8_t TRVRTFReader::ChangeDest(TRVRTFDestination dest) {
  TRVRTFReaderState& s = *state_;
  if (s.Destination == rdsSkip) return rtf_ec_OK;
  switch (dest) {
    case rdsFontTable:
      fontTable_.Clear();
      s.Destination = rdsFontTable;
      break;
    case rdsStyleSheet:
      styleSheet_.Clear();
      s.Destination = rdsStyleSheet;
      break;
    case rdsColorTable:
      colorTable_.Clear();
      colorTable_.Add(clWindowText);
      colorPending_ = true;
      s.Destination = rdsColorTable;
      break;
    case rdsPict:
      if (picture_) return rtf_ec_InvalidPicture;
      if (OnNewPicture) {
        picture_ = std::make_unique<TRVRTFPicture>();
        picture_->ShpPict = s.Destination == rdsShpPict;
      }
      s.Destination = rdsPict;
      dataHighPhase_ = true;
      break;
    case rdsShpPict:
      s.Destination = rdsShpPict;
      break;
    case rdsNonShpPict:
      s.Destination = skipNonShpPict_ ? rdsSkip : rdsNorm;
      break;
    case rdsObject:
      if (OnNewObject) {
        object_ = std::make_unique<TRVRTFObject>();
        s.Destination = rdsObject;
      } else {
        s.Destination = rdsNorm;
      }
      break;
    case rdsObjData:
      if (s.Destination == rdsObject) {
        skipResult_ = false;
        dataHighPhase_ = true;
        s.Destination = rdsObjData;
      } else {
        s.Destination = rdsSkip;
      }
      break;
    case rdsResult:
      s.Destination = skipResult_ ? rdsSkip : rdsNorm;
      break;
    case rdsField: {
      const uint8_t r = FlushText(0, true, true);
      if (r != rtf_ec_OK) return r;
      s.Destination = rdsField;
      break;
    }
    case rdsFldInst:
      if (s.Destination == rdsField) {
        s.FieldCode.clear();
        s.FieldPictureIncluded = false;
        invalidFieldPicture_.reset();
        s.Destination = rdsFldInst;
      }
      break;
    case rdsFldRslt:
    case rdsNestTableProps:
      s.Destination = rdsNorm;
      break;
    case rdsHeader:
    case rdsFooter: {
      s.HFType = dest == rdsHeader ? rtf_hf_Header : rtf_hf_Footer;
      bool supported = false;
      if (OnHeaderFooter) OnHeaderFooter(this, s.HFType, true, supported);
      if (!supported) s.Destination = rdsSkip;
      break;
    }
    case rdsPN:
      s.Destination = rdsPN;
      pendingMarker_ = std::make_unique<TRVRTFMarkerProperties>();
      break;
    case rdsPNTextAfter:
    case rdsPNTextBefore:
      s.Destination = s.Destination == rdsPN ? dest : rdsSkip;
      break;
    case rdsPNSecLvl:
      s.Destination = rdsPNSecLvl;
      break;
    case rdsListTable:
      listTable_.Clear();
      s.Destination = rdsListTable;
      break;
    case rdsList:
      if (s.Destination == rdsListTable) {
        listTable_.Add();
        s.Destination = rdsList;
      } else {
        s.Destination = rdsSkip;
      }
      break;
    case rdsListName:
      if (s.Destination == rdsList) s.Destination = rdsListName;
      break;
    case rdsListLevel:
      if (s.Destination == rdsList && listTable_.Count() > 0) {
        listTable_.Last()->Add()->Reset();
        s.Destination = rdsListLevel;
      } else {
        s.Destination = rdsSkip;
      }
      break;
    case rdsLevelText:
    case rdsLevelNumbers:
      s.Destination = s.Destination == rdsListLevel ? dest : rdsSkip;
      break;
    case rdsLOTable:
      listOverrideTable_.Clear();
      s.Destination = rdsLOTable;
      break;
    case rdsLO:
      if (s.Destination == rdsLOTable) {
        listOverrideTable_.Add();
        s.Destination = rdsLO;
      } else {
        s.Destination = rdsSkip;
      }
      break;
    case rdsLOLevel:
      if (s.Destination == rdsLO && listOverrideTable_.Count() > 0) {
        listOverrideTable_.Last()->Add();
        s.Destination = rdsLOLevel;
      } else {
        s.Destination = rdsSkip;
      }
      break;
    case rdsStyleSheetEntry:
      s.Destination = rdsStyleSheetEntry;
      break;
    default:
      s.Destination = rdsSkip;
      break;
  }
  return rtf_ec_OK;
}

namespace {

// Cuts a list level's text to its length character plus that many characters.
template <class S>
void CutToLength(S& text) {
  if (text.empty()) return;
  const size_t len = 1 + static_cast<size_t>(static_cast<std::make_unsigned_t<typename S::value_type>>(text[0]));
  if (text.size() > len) text.resize(len);
}

void RemoveCharsetSuffix(TRVRTFFont& font) {
  const char* suffix = nullptr;
  switch (font.Charset) {
    case 161: suffix = "greek"; break;
    case 162: suffix = "tur"; break;
    case 186: suffix = "baltic"; break;
    case 204: suffix = "cyr"; break;
    case 238: suffix = "ce"; break;
    default: return;
  }
  const size_t n = std::strlen(suffix) + 1;  // a blank and the suffix
  if (font.Name.size() < n) return;
  std::string tail = font.Name.substr(font.Name.size() - n);
  for (auto& ch : tail) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  if (tail == std::string(" ") + suffix) font.Name.resize(font.Name.size() - n);
}

}  // namespace

uint8_t TRVRTFReader::EndGroupAction(TRVRTFDestination dest) {
  switch (dest) {
    case rdsFontTable:
      for (int32_t i = 0; i < fontTable_.Count(); ++i) RemoveCharsetSuffix(*fontTable_.Items(i));
      return rtf_ec_OK;
    case rdsPict:
      return EndPicture();
    case rdsObjData:
      return EndObjectData();
    case rdsObject:
      object_.reset();
      return rtf_ec_OK;
    case rdsFldInst:
      return EndFieldInstruction();
    case rdsField: {
      const uint8_t r = OfferInvalidFieldPicture();
      state_->FieldCode.clear();
      state_->FieldPictureIncluded = false;
      return r;
    }
    case rdsLevelText:
      if (listTable_.Count() > 0 && listTable_.Last()->Count() > 0) {
        TRVRTFListLevel97* level = listTable_.Last()->Last();
        CutToLength(level->Text);
        CutToLength(level->TextW);
      }
      return rtf_ec_OK;
    case rdsLevelNumbers:
      if (listTable_.Count() > 0 && listTable_.Last()->Count() > 0)
        CutToLength(listTable_.Last()->Last()->Numbers);
      return rtf_ec_OK;
    default:
      return rtf_ec_OK;
  }
}

namespace {

void PutLe(std::string& s, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
uint32_t GetLe(const std::string& s, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes && at + i < s.size(); ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(s[at + i])) << (8 * i);
  return v;
}

std::string StreamBytes(TMemoryStream& m) {
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

}  // namespace

namespace {

// The one bitmap a Windows metafile draws (records of the metafile header on), as a bitmap
// file; empty when the metafile draws anything else, more than one bitmap, or a bitmap
// record that does not parse. The records that only set up the drawing are passed over.
std::string WmfSingleBitmap(const std::string& wmf) {
  if (wmf.size() < 18 || GetLe(wmf, 2, 2) != 9) return std::string();
  std::string found;
  size_t at = 18;
  while (at + 6 <= wmf.size()) {
    const uint64_t words = GetLe(wmf, at, 4);
    const uint32_t function = GetLe(wmf, at + 4, 2);
    if (words < 3 || at + words * 2 > wmf.size()) return std::string();
    const size_t params = at + 6, end = at + static_cast<size_t>(words) * 2;
    switch (function) {
      case 0x0000:  // end of file
        return found;
      case 0x020C: case 0x020B: case 0x020E: case 0x020D:  // window and viewport extent and origin
      case 0x0103: case 0x0107:                            // map mode, stretch mode
      case 0x0209: case 0x0201: case 0x0102:               // text and background colour, background mode
      case 0x001E: case 0x0127:                            // save and restore the context
      case 0x012D: case 0x0234: case 0x0035:               // select an object or palette, realize it
      case 0x0626: case 0x012C:                            // escape (comments), clip region
      case 0x01F0: case 0x02FA: case 0x02FB: case 0x01F9:  // objects made and deleted
        break;
      case 0x0F43: case 0x0B41: case 0x0D33: case 0x0940: {
        // StretchDIB, DIBStretchBlt, SetDIBitsToDevice, DIBBitBlt: the bitmap after the
        // record's own parameters.
        if (!found.empty()) return std::string();
        const size_t fixed = function == 0x0F43 ? 22 : function == 0x0B41 ? 20 : function == 0x0D33 ? 18 : 16;
        const size_t dib = params + fixed;
        if (dib + 40 > end) return std::string();
        const uint32_t header = GetLe(wmf, dib, 4), bpp = GetLe(wmf, dib + 14, 2);
        const uint32_t compression = GetLe(wmf, dib + 16, 4), used = GetLe(wmf, dib + 32, 4);
        if (header < 40 || dib + header > end) return std::string();
        uint64_t offset = 14 + uint64_t{header};
        if (header == 40 && compression == 3) offset += 12;
        if (bpp <= 8) offset += 4 * uint64_t{used ? used : (1u << bpp)};
        const size_t dib_size = end - dib;
        found = "BM";
        PutLe(found, static_cast<uint32_t>(14 + dib_size), 4);
        PutLe(found, 0, 4);
        PutLe(found, static_cast<uint32_t>(std::min<uint64_t>(offset, UINT32_MAX)), 4);
        found.append(wmf, dib, dib_size);
        break;
      }
      default:
        return std::string();
    }
    at = end;
  }
  return std::string();
}

// The 16 colours of a 4-bit and the 20 fixed colours of an 8-bit device bitmap (the others
// of 8 bits are black), as 0xRRGGBB.
constexpr uint32_t kDeviceColours16[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                           0x008080, 0x808080, 0xC0C0C0, 0xFF0000, 0x00FF00, 0xFFFF00,
                                           0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
constexpr uint32_t kDeviceColours256Low[10] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080,
                                               0x800080, 0x008080, 0xC0C0C0, 0xC0DCC0, 0xA6CAF0};
constexpr uint32_t kDeviceColours256High[10] = {0xFFFBF0, 0xA0A0A4, 0x808080, 0xFF0000, 0x00FF00,
                                                0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

// A device-dependent bitmap ("wbitmap": rows top-down, each padded to a 16-bit word, in
// the device's colours) as a bitmap file; raises when the data is shorter than the rows
// its size asks for or the depth is none a device has.
std::string DeviceBitmapFile(const TRVRTFPicture& pic, const std::string& bits) {
  const int64_t w = pic.PicW, h = pic.PicH;
  const int64_t bpp = int64_t{pic.WBMBitsPixel} * pic.WBMPlanes;
  if (w <= 0 || h <= 0 || w > 65535 || h > 65535 || pic.WBMPlanes != 1 ||
      (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32))
    throw EInvalidGraphic("Bitmap image is not valid");
  const int64_t in_line = (w * bpp + 15) / 16 * 2, out_line = (w * bpp + 31) / 32 * 4;
  if (in_line * h > static_cast<int64_t>(bits.size())) throw EInvalidGraphic("Bitmap image is not valid");
  std::string colours;
  if (bpp <= 8) {
    for (int32_t i = 0; i < (1 << bpp); ++i) {
      uint32_t c = 0;
      if (bpp == 1)
        c = i ? 0xFFFFFF : 0;
      else if (bpp == 4)
        c = kDeviceColours16[i];
      else if (i < 10)
        c = kDeviceColours256Low[i];
      else if (i >= 246)
        c = kDeviceColours256High[i - 246];
      PutLe(colours, c, 4);
    }
  }
  std::string f = "BM";
  const uint64_t data = static_cast<uint64_t>(out_line * h), offset = 14 + 40 + colours.size();
  PutLe(f, static_cast<uint32_t>(std::min<uint64_t>(offset + data, UINT32_MAX)), 4);
  PutLe(f, 0, 4);
  PutLe(f, static_cast<uint32_t>(offset), 4);
  PutLe(f, 40, 4);
  PutLe(f, static_cast<uint32_t>(w), 4);
  PutLe(f, static_cast<uint32_t>(-h), 4);  // top-down
  PutLe(f, 1, 2);
  PutLe(f, static_cast<uint32_t>(bpp), 2);
  PutLe(f, 0, 4);
  PutLe(f, static_cast<uint32_t>(data), 4);
  PutLe(f, 0, 4);
  PutLe(f, 0, 4);
  PutLe(f, 0, 4);
  PutLe(f, 0, 4);
  f += colours;
  for (int64_t row = 0; row < h; ++row) {
    f.append(bits, static_cast<size_t>(row * in_line), static_cast<size_t>(in_line));
    f.append(static_cast<size_t>(out_line - in_line), '\0');
  }
  return f;
}

}  // namespace

// The picture of a picture group in the class of its data: PNG and JPEG pictures and
// enhanced metafiles keep their bytes, a device-independent bitmap gets its file header, a
// device-dependent one becomes a bitmap in the device's colours, a Windows metafile gets its
// placeable header (from the source size); other kinds have no class here (nullptr).
std::unique_ptr<TGraphic> TRVRTFReader::MakePictureGraphic(TRVRTFPicture& pic) {
  std::unique_ptr<TGraphic> g;
  std::string bytes = StreamBytes(pic.Data);
  switch (pic.PicType) {
    case 1: g = RVCreateGraphic("TPNGImage"); break;
    case 2: g = RVCreateGraphic("TJPEGImage"); break;
    case 6: {
      // The file header before the bitmap's own header, colour masks and palette.
      // The old 12-byte header has 3-byte colour entries and a colour for every value.
      if (bytes.size() < 14 + 12) throw EInvalidGraphic("Bitmap image is not valid");
      const uint32_t header = GetLe(bytes, 14, 4);
      const bool core = header == 12;
      if (!core && bytes.size() < 14 + 40) throw EInvalidGraphic("Bitmap image is not valid");
      const uint32_t bpp = GetLe(bytes, core ? 14 + 10 : 14 + 14, 2);
      const uint32_t compression = core ? 0 : GetLe(bytes, 14 + 16, 4), used = core ? 0 : GetLe(bytes, 14 + 32, 4);
      uint64_t offset = 14 + uint64_t{header};
      if (header == 40 && compression == 3) offset += 12;
      if (bpp <= 8) offset += (core ? 3 : 4) * uint64_t{used ? std::min(used, 256u) : (1u << bpp)};
      std::string h = "BM";
      PutLe(h, static_cast<uint32_t>(bytes.size()), 4);
      PutLe(h, 0, 4);
      PutLe(h, static_cast<uint32_t>(std::min<uint64_t>(offset, UINT32_MAX)), 4);
      bytes.replace(0, 14, h);
      g = RVCreateGraphic("TBitmap");
      break;
    }
    case 5: {
      // The placeable header: bounding box in twips from the source size (0.01 mm for the
      // scalable mapping modes, else pixels), 1440 units per inch.
      const bool scalable = pic.MetafileMapMode == 7 || pic.MetafileMapMode == 8;
      auto twips = [&](int32_t v, int32_t goal) -> uint32_t {
        double t = scalable ? v * 1440.0 / 2540 : v * 1440.0 / std::max(pixelsPerInch_, 1);
        if (v <= 0) t = goal;
        return static_cast<uint32_t>(std::clamp(std::nearbyint(t), 0.0, 32767.0));
      };
      std::string h;
      PutLe(h, 0x9AC6CDD7u, 4);
      PutLe(h, 0, 2);
      PutLe(h, 0, 4);
      PutLe(h, twips(pic.PicW, pic.PicWGoal), 2);
      PutLe(h, twips(pic.PicH, pic.PicHGoal), 2);
      PutLe(h, 1440, 2);
      PutLe(h, 0, 4);
      uint16_t check = 0;
      for (size_t i = 0; i < 20; i += 2) check ^= static_cast<uint16_t>(GetLe(h, i, 2));
      PutLe(h, check, 2);
      if (extractMetafileBitmaps_) {
        // A metafile that only draws one bitmap arrives as that bitmap (when it loads).
        const std::string bmp = WmfSingleBitmap(bytes);
        if (!bmp.empty()) {
          std::unique_ptr<TGraphic> bitmap = RVCreateGraphic("TBitmap");
          TStringStream bin(bmp);
          try {
            bitmap->LoadFromStream(bin);
            return bitmap;
          } catch (const Exception&) {
            // Kept as the metafile.
          }
        }
      }
      bytes.insert(0, h);
      g = RVCreateGraphic("TMetafile");
      break;
    }
    case 0: g = RVCreateGraphic("TMetafile"); break;
    case 7:
      bytes = DeviceBitmapFile(pic, bytes);
      g = RVCreateGraphic("TBitmap");
      break;
    default: return nullptr;
  }
  if (!g) return nullptr;
  TStringStream in(bytes);
  if (pic.PicType == 1) {
    // A PNG picture that does not load is delivered as its raw data, without a graphic, as
    // kinds without a class here are; reading goes on.
    try {
      g->LoadFromStream(in);
    } catch (const Exception&) {
      return nullptr;
    }
    return g;
  }
  g->LoadFromStream(in);
  return g;
}

uint8_t TRVRTFReader::EndPicture() {
  uint8_t r = FlushText(0, true, false);
  if (r != rtf_ec_OK) return r;
  if (state_->FieldPictureIncluded) {
    picture_.reset();
    invalidFieldPicture_.reset();
    return rtf_ec_OK;
  }
  if (!OnNewPicture) return rtf_ec_OK;
  if (!picture_) return rtf_ec_InvalidPicture;
  std::unique_ptr<TRVRTFPicture> pic = std::move(picture_);
  // Display sizes come from the input: they are bounded, so that no size taken from a
  // hostile file overflows or makes a handler allocate without limit.
  auto bounded = [](double v) {
    return static_cast<int32_t>(std::clamp(std::nearbyint(v), 0.0, static_cast<double>(RTF_MAX_PICTURE_SIZE)));
  };
  if ((pic->MetafileMapMode == 7 || pic->MetafileMapMode == 8) && pic->PicW > 0 && pic->PicH > 0) {
    pic->SuggestedWidth = bounded(pic->PicW * static_cast<double>(pixelsPerInch_) / 2540);
    pic->SuggestedHeight = bounded(pic->PicH * static_cast<double>(pixelsPerInch_) / 2540);
  }
  if (pic->PicWGoal != 0 && pic->PicHGoal != 0) {
    pic->SuggestedWidth = bounded(pic->PicWGoal * static_cast<double>(pixelsPerInch_) / 1440);
    pic->SuggestedHeight = bounded(pic->PicHGoal * static_cast<double>(pixelsPerInch_) / 1440);
  }
  std::unique_ptr<TGraphic> graphic;
  try {
    graphic = MakePictureGraphic(*pic);
  } catch (...) {
    return rtf_ec_InvalidPicture;
  }
  if (graphic && RVPictureReadHook) RVPictureReadHook(graphic.get());
  state_->ParaProps.Finalize();
  pic->Data.SetPosition(0);
  bool inserted = false;
  try {
    OnNewPicture(this, pic.get(), graphic.get(), position_, AnsiString(), inserted);
  } catch (...) {
    if (inserted) graphic.release();  // the handler took it before it failed
    return rtf_ec_Aborted;
  }
  if (inserted) graphic.release();
  if (pic->ShpPict) skipNonShpPict_ = inserted;
  if (inserted) position_ = rtf_ts_ContinuePara;
  // A field's linked picture that was invalid stands in for a result picture not taken.
  r = inserted ? rtf_ec_OK : OfferInvalidFieldPicture();
  invalidFieldPicture_.reset();
  return r;
}

namespace {

// The first argument of a field instruction, after the field name and its switches.
AnsiString FieldArgument(const AnsiString& instr) {
  size_t i = 0;
  while (i < instr.size() && instr[i] != ' ') ++i;
  while (i < instr.size()) {
    while (i < instr.size() && instr[i] == ' ') ++i;
    if (i < instr.size() && instr[i] == '\\') {
      while (i < instr.size() && instr[i] != ' ') ++i;
      continue;
    }
    break;
  }
  const size_t start = i;
  if (i < instr.size() && instr[i] == '"') {
    ++i;
    while (i < instr.size() && !(instr[i] == '"' && (i + 1 >= instr.size() || instr[i + 1] == ' '))) ++i;
    if (i < instr.size()) ++i;
  } else {
    while (i < instr.size() && instr[i] != ' ') ++i;
  }
  AnsiString arg = instr.substr(start, i - start);
  if (arg.size() > 1 && arg.front() == '"') {
    arg = arg.substr(1);
    if (!arg.empty() && arg.back() == '"') arg.pop_back();
  }
  return arg;
}

AnsiString TrimSpaces(const AnsiString& s) {
  size_t a = 0, b = s.size();
  while (a < b && static_cast<unsigned char>(s[a]) <= ' ') ++a;
  while (b > a && static_cast<unsigned char>(s[b - 1]) <= ' ') --b;
  return s.substr(a, b - a);
}

AnsiString Upper(AnsiString s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The path with "." and ".." resolved lexically (the file need not exist).
std::string Normalize(const std::string& path) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    std::string part = path.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  std::string out;
  for (const auto& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

}  // namespace

bool TRVRTFReader::LinkedPictureAllowed(const AnsiString& location) const {
  if (pictureAllowedFolder_.empty() || location.empty()) return false;
  std::string loc = location;
  for (char& c : loc)
    if (c == '\\') c = '/';
  std::string root = pictureAllowedFolder_;
  for (char& c : root)
    if (c == '\\') c = '/';
  if (loc.front() != '/' || root.front() != '/') return false;
  // Symbolic links are followed where the files exist, so that no link leads outside.
  char buf[PATH_MAX];
  std::string real_root = realpath(root.c_str(), buf) ? std::string(buf) : Normalize(root);
  std::string real_loc = realpath(loc.c_str(), buf) ? std::string(buf) : Normalize(loc);
  if (real_root.back() != '/') real_root += '/';
  return real_loc.compare(0, real_root.size(), real_root) == 0;
}

namespace {

// Largest picture file read for a linked picture.
constexpr int64_t kMaxLinkedPictureFile = int64_t{64} << 20;

// A picture file read here when no handler gives one: its class from its first bytes.
std::unique_ptr<TGraphic> ReadPictureFile(const std::string& path) {
  std::unique_ptr<TFileStream> file;
  try {
    file = std::make_unique<TFileStream>(path, fmOpenRead);
  } catch (const Exception&) {
    return nullptr;
  }
  const int64_t size = file->Size();
  if (size < 8 || size > kMaxLinkedPictureFile) return nullptr;
  std::string bytes(static_cast<size_t>(size), '\0');
  file->ReadBuffer(bytes.data(), size);
  const auto starts = [&](const char* sig, size_t n) { return bytes.compare(0, n, sig, n) == 0; };
  std::unique_ptr<TGraphic> g;
  if (starts("\x89PNG\r\n\x1a\n", 8))
    g = RVCreateGraphic("TPNGImage");
  else if (starts("\xFF\xD8", 2))
    g = RVCreateGraphic("TJPEGImage");
  else if (starts("BM", 2))
    g = RVCreateGraphic("TBitmap");
  else if (starts("\xD7\xCD\xC6\x9A", 4))
    g = RVCreateGraphic("TMetafile");
  if (!g) return nullptr;
  TStringStream in(bytes);
  try {
    g->LoadFromStream(in);
  } catch (const Exception&) {
    return nullptr;
  }
  return g;
}

}  // namespace

std::unique_ptr<TGraphic> TRVRTFReader::LoadLinkedPicture(const AnsiString& location, bool& invalid) {
  invalid = false;
  if (!LinkedPictureAllowed(location)) return nullptr;
  if (OnImportPicture) {
    TGraphic* graphic = nullptr;
    OnImportPicture(this, location, graphic, invalid);
    if (graphic) return std::unique_ptr<TGraphic>(graphic);
  }
  std::string path = location;
  for (char& c : path)
    if (c == '\\') c = '/';
  return ReadPictureFile(path);
}

uint8_t TRVRTFReader::OfferInvalidFieldPicture() {
  std::unique_ptr<TGraphic> graphic = std::move(invalidFieldPicture_);
  if (!graphic || !OnNewPicture) return rtf_ec_OK;
  state_->ParaProps.Finalize();
  if (RVPictureReadHook) RVPictureReadHook(graphic.get());
  bool inserted = false;
  try {
    OnNewPicture(this, nullptr, graphic.get(), position_, AnsiString(), inserted);
  } catch (...) {
    if (inserted) graphic.release();
    return rtf_ec_Aborted;
  }
  if (inserted) graphic.release();
  position_ = rtf_ts_ContinuePara;
  return rtf_ec_OK;
}

uint8_t TRVRTFReader::EndFieldInstruction() {
  AnsiString instr = TrimSpaces(state_->FieldCode);
  if (!instr.empty() && instr[0] == '\\') instr = instr.substr(1);
  const AnsiString head = Upper(instr.substr(0, 14));
  if (OnNewPicture && (head == "INCLUDEPICTURE" || head.compare(0, 6, "IMPORT") == 0)) {
    AnsiString name = FieldArgument(instr);
    for (size_t at = name.find("\\\\"); at != AnsiString::npos; at = name.find("\\\\", at + 1)) name.erase(at, 1);
    const AnsiString& base = pictureBasePath_;
    if (!base.empty() && (base.back() == '/' || base.back() == '\\') && !name.empty() &&
        (name.front() == '/' || name.front() == '\\'))
      name.erase(0, 1);
    if (name.find(':') == AnsiString::npos) name = base + name;
    // A linked picture is loaded only from inside the folder the caller allows (none unless
    // one is set): a document cannot make the program read files elsewhere. A name that
    // gives no valid picture is tried again with its URL escapes decoded.
    try {
      bool invalid = false;
      std::unique_ptr<TGraphic> owned = LoadLinkedPicture(name, invalid);
      if (!owned || invalid) {
        const AnsiString decoded = RV_DecodeURL(name);
        if (decoded != name) {
          bool invalid2 = false;
          if (std::unique_ptr<TGraphic> second = LoadLinkedPicture(decoded, invalid2)) {
            owned = std::move(second);
            invalid = invalid2;
            name = decoded;
          }
        }
      }
      if (owned && !invalid) {
        state_->ParaProps.Finalize();
        if (RVPictureReadHook) RVPictureReadHook(owned.get());
        bool inserted = false;
        try {
          OnNewPicture(this, nullptr, owned.get(), position_, name, inserted);
        } catch (...) {
          if (inserted) owned.release();
          throw;
        }
        if (inserted) owned.release();
        position_ = rtf_ts_ContinuePara;
        state_->FieldPictureIncluded = true;
      } else if (owned) {
        invalidFieldPicture_ = std::move(owned);
      }
    } catch (...) {
      // Failures of linked pictures are not failures of the document.
    }
    return rtf_ec_OK;
  }
  if (Upper(instr.substr(0, 6)) == "SYMBOL" && instr.size() > 7) {
    // SYMBOL code \f "font" \s size: one character of that font at that size.
    const AnsiString rest = instr.substr(7);
    const size_t sp = rest.find(' ');
    const AnsiString code_text = rest.substr(0, sp);
    char* end = nullptr;
    errno = 0;
    const long code = std::strtol(code_text.c_str(), &end, 10);
    // The character code must be a number: anything else fails the document as a
    // malformed parameter does.
    if (code_text.empty() || *end != 0 || errno == ERANGE || code < INT32_MIN || code > INT32_MAX)
      return rtf_ec_Exception;
    const size_t f = rest.find("\\f \"");
    const size_t s = rest.find("\\s ");
    if (f == AnsiString::npos || s == AnsiString::npos) return rtf_ec_OK;
    const size_t fe = rest.find('"', f + 4);
    if (fe == AnsiString::npos) return rtf_ec_OK;
    const AnsiString font = rest.substr(f + 4, fe - f - 4);
    const AnsiString size_text = rest.substr(s + 3, rest.find(' ', s + 3) - (s + 3));
    const double size = std::strtod(size_text.c_str(), &end);
    if (size_text.empty() || *end != 0 || !(size > 0 && size < 1639)) return rtf_ec_OK;
    TRVRTFCharProperties& cp = state_->CharProps;
    const int32_t old_size = cp.Size;
    const AnsiString old_override = cp.FontNameOverride;
    uint8_t r = FlushText(0, false, false);
    if (r != rtf_ec_OK) return r;
    cp.FontNameOverride = font;
    cp.Size = static_cast<int32_t>(std::nearbyint(size));
    pendingText_.push_back(static_cast<char>(code & 0xFF));
    r = FlushText(0, false, false);
    cp.Size = old_size;
    cp.FontNameOverride = old_override;
    return r;
  }
  return rtf_ec_OK;
}

uint8_t TRVRTFReader::EndObjectData() {
  const uint8_t r = FlushText(0, true, false);
  if (r != rtf_ec_OK) return r;
  if (!object_ || !OnNewObject) return rtf_ec_OK;
  state_->ParaProps.Finalize();
  object_->Data.SetPosition(0);
  bool inserted = false;
  try {
    OnNewObject(this, object_.get(), position_, inserted);
  } catch (...) {
    return rtf_ec_Aborted;
  }
  skipResult_ = inserted;
  position_ = rtf_ts_ContinuePara;
  return rtf_ec_OK;
}

// ---- Text delivery -------------------------------------------------------------------

void TRVRTFReader::UpdateMarker() {
  if (!OnUpdateMarker) return;
  if (TRVRTFMarkerProperties* m = state_->ParaProps.MarkerOrNull())
    m->TakeCharFormatting(state_->CharProps);
  OnUpdateMarker(this);
}

void TRVRTFReader::FireTable(TRVRTFTableEventKind kind) {
  UpdateMarker();
  if (kind == rvf_tbl_TableStart) rowAlignGiven_ = false;
  if (OnTable) OnTable(this, kind);
}

void TRVRTFReader::UpdateTableLevel(bool allowClose) {
  const TRVRTFParaProperties& p = state_->ParaProps;
  const int32_t wanted = p.InTable ? std::clamp(p.NestingLevel, 0, RTF_MAX_TABLE_NESTING) : 0;
  while (tableLevel_ < wanted) {
    FireTable(rvf_tbl_TableStart);
    ++tableLevel_;
  }
  if (allowClose && !p.NoOverlap) {
    while (tableLevel_ > wanted) {
      FireTable(rvf_tbl_TableEnd);
      --tableLevel_;
    }
  }
}

uint8_t TRVRTFReader::FlushText(int32_t nextPos, bool tableUpdate, bool allowClose) {
  if (tableUpdate) UpdateTableLevel(allowClose);
  if (!forceFlush_ && pendingText_.empty() && pendingTextW_.empty()) {
    if (position_ == rtf_ts_ContinuePara) {
      position_ = static_cast<TRVRTFPosition>(nextPos);
      return rtf_ec_OK;
    }
    if (nextPos == 0) return rtf_ec_OK;  // keeps the pending position
  }
  state_->ParaProps.Finalize();
  try {
    if (OnNewUnicodeText && !pendingTextW_.empty())
      OnNewUnicodeText(this, pendingTextW_, position_);
    else if (OnNewText)
      OnNewText(this, pendingText_, position_);
  } catch (...) {
    pendingText_.clear();
    pendingTextW_.clear();
    forceFlush_ = false;
    return rtf_ec_Aborted;
  }
  pendingText_.clear();
  pendingTextW_.clear();
  forceFlush_ = false;
  position_ = static_cast<TRVRTFPosition>(nextPos);
  return rtf_ec_OK;
}

uint8_t TRVRTFReader::AppendAnsi(uint8_t b) {
  UpdateTableLevel(true);
  if (!pendingTextW_.empty()) {
    const uint8_t r = FlushText(0, false, false);
    if (r != rtf_ec_OK) return r;
  }
  switch (b) {
    case 10:
      return FlushText(rtf_ts_NewPara, false, false);
    case 13:
      return FlushText(rtf_ts_NewLine, false, false);
    case 9:
      if (tabAsSeparateChar_) {
        uint8_t r = FlushText(0, false, false);
        if (r != rtf_ec_OK) return r;
        pendingText_.push_back('\t');
        return FlushText(0, false, false);
      }
      break;
    default:
      break;
  }
  pendingText_.push_back(static_cast<char>(b));
  return rtf_ec_OK;
}

uint8_t TRVRTFReader::AppendWide(char16_t c) {
  UpdateTableLevel(true);
  if (!pendingText_.empty()) {
    const uint8_t r = FlushText(0, false, false);
    if (r != rtf_ec_OK) return r;
  }
  pendingTextW_.push_back(c);
  return rtf_ec_OK;
}

// ---- Properties ------------------------------------------------------------------------

TRVRTFBorderSide* TRVRTFReader::BorderTargetSide() {
  TRVRTFReaderState& s = *state_;
  switch (s.BorderType) {
    case rtf_bt_Row: {
      TRVRTFRowProperties& row = s.RowProps();
      return &row.Border.Side(row.CurBorderSide);
    }
    case rtf_bt_Cell: {
      TRVRTFCellProperties& cell = s.RowProps().OpenCell();
      return &cell.Border.Side(cell.CurBorderSide);
    }
    default:
      return &s.ParaProps.Border().Side(s.ParaProps.CurBorderSide);
  }
}

uint8_t TRVRTFReader::ApplyUnicode(int32_t value) {
  const char16_t unit = static_cast<char16_t>(static_cast<uint32_t>(value) & 0xFFFF);
  TRVRTFReaderState& s = *state_;
  const int32_t width = s.UnicodeSkipWidth;
  auto passAnsi = [&](const AnsiString& text) -> uint8_t {
    for (char ch : text) {
      const uint8_t r = ParseChar(static_cast<uint8_t>(ch));
      if (r != rtf_ec_OK) return r;
    }
    return rtf_ec_OK;
  };
  switch (s.Destination) {
    case rdsNorm:
      if (!OnNewUnicodeText) return rtf_ec_OK;
      skipCount_ = width;
      return AppendWide(unit);
    case rdsPNTextAfter:
    case rdsPNTextBefore: {
      bool symbol = false;
      if (pendingMarker_ && pendingMarker_->FontIndex >= 0 && pendingMarker_->FontIndex < fontTable_.Count()) {
        std::string name = fontTable_.Items(pendingMarker_->FontIndex)->Name;
        for (auto& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        symbol = name == "symbol";
      }
      if (symbol && unit >= 0xF000 && unit <= 0xF0FF) {
        skipCount_ = width;
        return ParseChar(static_cast<uint8_t>(unit & 0xFF));
      }
      if (width <= 0) return rtf_ec_OK;
      skipCount_ = width;
      return passAnsi(WideToAnsi(WideString(1, unit), codePage_));
    }
    case rdsLevelText: {
      skipCount_ = width;
      if (listTable_.Count() > 0 && listTable_.Last()->Count() > 0) {
        TRVRTFListLevel97* level = listTable_.Last()->Last();
        if (level->TextW.empty()) level->TextW = AnsiToWide(level->Text, codePage_);
        level->TextW.push_back(unit);
        level->Text += WideToAnsi(WideString(1, unit), codePage_);
      }
      return rtf_ec_OK;
    }
    default:
      if (width <= 0) return rtf_ec_OK;
      skipCount_ = width;
      return passAnsi(WideToAnsi(WideString(1, unit), codePage_));
  }
}

uint8_t TRVRTFReader::ApplyPNProperty(TRVRTFMarkerProperties& m, int32_t code, int32_t v) {
  auto setBit = [&](uint8_t bit) {
    if (v != 0)
      m.FontStyle |= bit;
    else
      m.FontStyle = static_cast<uint8_t>(m.FontStyle & ~bit);
  };
  switch (code) {
    case ipropPNLevel:
      if (state_->SectProps.HasNumberingDefaults()) {
        TRVRTFMarkerProperties& d = state_->SectProps.NumberingDefault(v);  // raises outside 1..11
        if (&d != &m) m.CopyFrom(d, true);
      }
      m.Level = v;
      break;
    case ipropPNHang: m.Hanging = true; break;
    case ipropPNType: m.ListType = static_cast<uint8_t>(v); break;
    case ipropPNBold: setBit(rtf_fs_Bold); break;
    case ipropPNItalic: setBit(rtf_fs_Italic); break;
    case ipropPNUnderline: setBit(rtf_fs_Underline); break;
    case ipropPNStrike: setBit(rtf_fs_StrikeOut); break;
    case ipropPNColor:
      if (colorTable_.ValidIndex(v)) {
        m.Color = colorTable_.Items(v);
        m.FixedProperties |= rtf_mf_Color;
      }
      break;
    case ipropPNFont:
      m.FontIndex = FontIndexOf(v, state_->DefFontNumber);
      m.FixedProperties |= rtf_mf_Font;
      break;
    case ipropPNFontSize:
      m.FontSize = HalfRounded(v);
      m.FixedProperties |= rtf_mf_Size;
      break;
    case ipropPNIndent: m.Indent = v; break;
    case ipropPNSp: m.Space = v; break;
    case ipropPNStart: m.Start = v; break;
    case ipropPNAlign: m.Alignment = static_cast<uint8_t>(v); break;
    default: break;
  }
  return rtf_ec_OK;
}

uint8_t TRVRTFReader::ApplyListLevelProperty(int32_t code, int32_t v) {
  if (listTable_.Count() == 0 || listTable_.Last()->Count() == 0) return rtf_ec_OK;
  TRVRTFListLevel97& l = *listTable_.Last()->Last();
  auto setBit = [&](uint8_t bit) {
    if (v != 0)
      l.FontStyle |= bit;
    else
      l.FontStyle = static_cast<uint8_t>(l.FontStyle & ~bit);
  };
  switch (code) {
    case ipropBold: setBit(rtf_fs_Bold); break;
    case ipropItalic: setBit(rtf_fs_Italic); break;
    case ipropUnderline: setBit(rtf_fs_Underline); break;
    case ipropStrike: setBit(rtf_fs_StrikeOut); break;
    case ipropFontSize:
      l.FontSize = HalfRounded(v);
      l.FontSizeDefined = true;
      break;
    case ipropTextColor:
      if (colorTable_.ValidIndex(v)) l.Color = colorTable_.Items(v);
      break;
    case ipropFontNum: l.FontIndex = FontIndexOf(v, state_->DefFontNumber); break;
    case ipropLeftInd: l.LeftIndent = v; break;
    case ipropFirstInd: l.FirstIndent = v; break;
    case ipropTX: l.TabPos = v; break;
    case ipropLevelStartAt: l.Start = v; break;
    case ipropLevelNfc:
      switch (v) {
        case 1: l.ListType = 5; break;
        case 2: l.ListType = 4; break;
        case 3: l.ListType = 3; break;
        case 4: l.ListType = 2; break;
        case 23: l.ListType = 6; break;
        default: l.ListType = 1; break;
      }
      break;
    case ipropLevelJc:
      if (v == 0) l.Alignment = 0;
      else if (v == 1) l.Alignment = 2;
      else if (v == 2) l.Alignment = 1;
      break;
    case ipropLevelOld: l.Old = v != 0; break;
    case ipropLevelLegal: l.Legal = v != 0; break;
    case ipropLevelNoRestart: l.NoRestart = v != 0; break;
    case ipropLevelIndent: l.Indent = v; break;
    case ipropLevelSpace: l.Space = v; break;
    case ipropLevelFollow: l.Follow = static_cast<uint8_t>(v); break;
    default: break;
  }
  return rtf_ec_OK;
}

namespace {

// Property words whose parameter is a length, a size or a scale: a document takes them into
// sums and products (pixels, percentages, half-points doubled again on export), so values
// no document needs are clamped here, where they enter, and no later arithmetic overflows.
constexpr std::array<bool, ipropMax> MeasureProperties() {
  std::array<bool, ipropMax> m{};
  for (uint8_t p : {ipropCharScaleX, ipropExpndTw, ipropLineSpacing, ipropLeftInd, ipropRightInd, ipropFirstInd,
                    ipropSpaceBefore, ipropSpaceAfter, ipropTX, ipropBrdrWidth, ipropBrdrSpace, ipropPgnX,
                    ipropPgnY, ipropHeaderY, ipropFooterY, ipropPaperW, ipropPaperH, ipropMargL, ipropMargR,
                    ipropMargT, ipropMargB, ipropPicW, ipropPicH, ipropPicScaleX, ipropPicScaleY, ipropPicWGoal,
                    ipropPicHGoal, ipropObjW, ipropObjH, ipropPNIndent, ipropPNSp, ipropLevelIndent,
                    ipropLevelSpace, ipropTrGaph, ipropTrLeft, ipropTrRH, ipropTrPaddL, ipropTrPaddR,
                    ipropTrPaddT, ipropTrPaddB, ipropTrSpdL, ipropTrSpdR, ipropTrSpdT, ipropTrSpdB,
                    ipropTrWWidth, ipropCLWWidth, ipropCellX, ipropOwnCBW, ipropOwnCBH, ipropOwnTBW})
    m[p] = true;
  return m;
}
constexpr std::array<bool, ipropMax> kMeasureProperty = MeasureProperties();

int32_t BoundedParameter(int32_t code, int32_t v) {
  if (code == ipropFontSize || code == ipropPNFontSize) return std::clamp(v, -RTF_MAX_FONT_HALF_POINTS, RTF_MAX_FONT_HALF_POINTS);
  if (code >= 0 && code < ipropMax && kMeasureProperty[static_cast<size_t>(code)])
    return std::clamp(v, -RTF_MAX_MEASURE, RTF_MAX_MEASURE);
  return v;
}

}  // namespace

uint8_t TRVRTFReader::ApplyProperty(int32_t code, int32_t v, bool /*fParam*/, int32_t /*param*/) {
  v = BoundedParameter(code, v);
  TRVRTFReaderState& s = *state_;
  switch (s.Destination) {
    case rdsSkip:
      return rtf_ec_OK;
    case rdsColorTable: {
      if (code != ipropRed && code != ipropGreen && code != ipropBlue) return rtf_ec_OK;
      if (colorTable_.Count() == 0) colorTable_.Add(clWindowText);
      colorPending_ = false;
      TColor& c = colorTable_[colorTable_.Count() - 1];
      if (c == clWindowText) c = 0;
      const int shift = code == ipropRed ? 0 : code == ipropGreen ? 8 : 16;
      c = static_cast<TColor>(static_cast<uint32_t>(c) | (static_cast<uint32_t>(std::clamp(v, 0, 255)) << shift));
      return rtf_ec_OK;
    }
    case rdsStyleSheetEntry: {
      if (styleSheet_.Count() == 0) return rtf_ec_OK;
      TRVRTFStyleSheetEntry* e = styleSheet_.Last();
      auto find = [&](int32_t n) -> TRVRTFStyleSheetEntry* {
        for (int32_t i = 0; i < styleSheet_.Count(); ++i)
          if (styleSheet_.Items(i)->Number == n) return styleSheet_.Items(i);
        return nullptr;
      };
      switch (code) {
        case ipropStyleNo: e->Number = v; e->StyleType = 1; break;
        case ipropCharStyleNo: e->Number = v; e->StyleType = 0; break;
        case ipropSectStyleNo: e->Number = v; e->StyleType = 2; break;
        case ipropBasedOn: e->BasedOn = find(v); break;
        case ipropNext: e->Next = find(v); break;
        case ipropAdditive: e->Additive = true; break;
        case ipropSHidden: e->Hidden = true; break;
        default: break;
      }
      return rtf_ec_OK;
    }
    case rdsPict: {
      if (!picture_) return rtf_ec_OK;
      TRVRTFPicture& p = *picture_;
      switch (code) {
        case ipropPicW: p.PicW = v; break;
        case ipropPicH: p.PicH = v; break;
        case ipropPicScaleX: p.PicScaleX = v; break;
        case ipropPicScaleY: p.PicScaleY = v; break;
        case ipropPicWGoal: p.PicWGoal = v; break;
        case ipropPicHGoal: p.PicHGoal = v; break;
        case ipropWBMWidthBytes: p.WBMWidthBytes = v; break;
        case ipropWBMBitsPixel: p.WBMBitsPixel = v; break;
        case ipropWBMPlanes: p.WBMPlanes = v; break;
        case ipropPicType:
          p.PicType = static_cast<uint8_t>(v);
          if (v == 6) p.Data.SetPosition(14);  // room for the bitmap file header
          break;
        case ipropWMetafile:
          p.PicType = 5;
          p.MetafileMapMode = (v >= 2 && v <= 8) ? v : 1;
          break;
        case ipropPicBmp: p.MetafileWithBitmap = true; break;
        default: break;
      }
      return rtf_ec_OK;
    }
    case rdsObject: {
      if (!object_) return rtf_ec_OK;
      switch (code) {
        case ipropObjType: object_->ObjType = static_cast<uint8_t>(v); break;
        case ipropObjW: object_->Width = v; break;
        case ipropObjH: object_->Height = v; break;
        default: break;
      }
      return rtf_ec_OK;
    }
    case rdsPN:
      if (pendingMarker_) return ApplyPNProperty(*pendingMarker_, code, v);
      return rtf_ec_OK;
    case rdsPNSecLvl:
      return ApplyPNProperty(s.SectProps.NumberingDefault(pnSecLevel_), code, v);
    case rdsList:
      if (listTable_.Count() > 0) {
        if (code == ipropListId) listTable_.Last()->Id = v;
        else if (code == ipropListSimple) listTable_.Last()->Simple = v != 0;
      }
      return rtf_ec_OK;
    case rdsListLevel:
      return ApplyListLevelProperty(code, v);
    case rdsLO:
      if (listOverrideTable_.Count() > 0) {
        TRVRTFListOverride97* o = listOverrideTable_.Last();
        if (code == ipropListId) {
          o->ListIndex = -1;
          for (int32_t i = 0; i < listTable_.Count(); ++i)
            if (listTable_.Items(i)->Id == v) {
              o->ListIndex = i;
              break;
            }
        } else if (code == ipropLOCount) {
          o->OverrideCount = v;
        } else if (code == ipropListOverride) {
          o->Number = v;
        }
      }
      return rtf_ec_OK;
    case rdsLOLevel:
      if (listOverrideTable_.Count() > 0 && listOverrideTable_.Last()->Count() > 0) {
        TRVRTFListOverrideLevel97* l = listOverrideTable_.Last()->Last();
        if (code == ipropLevelStartAt) l->Start = v;
        else if (code == ipropLOStart) l->UseStart = true;
      }
      return rtf_ec_OK;
    default:
      return ApplyGeneralProperty(code, v);
  }
}

uint8_t TRVRTFReader::ApplyGeneralProperty(int32_t code, int32_t v) {
  TRVRTFReaderState& s = *state_;
  TRVRTFCharProperties& cp = s.CharProps;
  TRVRTFParaProperties& pp = s.ParaProps;
  auto setBit = [&](uint8_t& set, uint8_t bit) {
    if (v != 0)
      set |= bit;
    else
      set = static_cast<uint8_t>(set & ~bit);
  };
  auto openTab = [&]() -> TRVRTFTab& {
    TRVRTFTabList& tabs = pp.Tabs();
    if (tabs.Count() == 0 || pp.TabsFinalized) {
      // after finalising, the list holds real tabs only: open a new one
      tabs.Add();
      pp.TabsFinalized = false;
    }
    return *tabs.Last();
  };
  auto cellWidth = [](bool& percent, int32_t& width, int32_t fts) {
    if (fts == 2) {
      if (!percent) {
        percent = true;
        width = -width;
      }
    } else if (fts != 3) {
      width = 0;
    }
  };
  switch (code) {
    // character formatting
    case ipropBold: setBit(cp.FontStyle, rtf_fs_Bold); break;
    case ipropItalic: setBit(cp.FontStyle, rtf_fs_Italic); break;
    case ipropUnderline: setBit(cp.FontStyle, rtf_fs_Underline); break;
    case ipropStrike: setBit(cp.FontStyle, rtf_fs_StrikeOut); break;
    case ipropCaps: setBit(cp.FontStyleEx, 1); break;
    case ipropCharScaleX: cp.HScale = v; break;
    case ipropExpndTw: cp.CharSpacing = v; break;
    case ipropVShift: cp.VShift = static_cast<uint8_t>(v); break;
    case ipropFontSize: cp.Size = HalfRounded(v); break;
    case ipropTextColor:
      if (colorTable_.ValidIndex(v)) cp.Color = colorTable_.Items(v);
      break;
    case ipropTextBackColor:
      if (colorTable_.ValidIndex(v)) {
        cp.BackColor = colorTable_.Items(v);
        if (cp.BackColor == clWindowText) cp.BackColor = clNone;
      }
      break;
    case ipropHighlight:
      switch (convertHighlight_) {
        case rtf_hl_Ignore: break;
        case rtf_hl_ColorTable:
          if (colorTable_.ValidIndex(v)) {
            cp.BackColor = colorTable_.Items(v);
            if (cp.BackColor == clWindowText) cp.BackColor = clNone;
          }
          break;
        case rtf_hl_FixedColors: {
          static constexpr TColor kHighlight[16] = {
              0x000000, 0xFF0000, 0xFFFF00, 0x00FF00, 0xFF00FF, 0x0000FF, 0x00FFFF, 0xFFFFFF,
              0x800000, 0x808000, 0x008000, 0x800080, 0x000080, 0x008080, 0x808080, 0xC0C0C0};
          cp.BackColor = (v >= 1 && v <= 16) ? kHighlight[v - 1] : clNone;
          break;
        }
      }
      break;
    case ipropLanguage: cp.Language = v; break;
    case ipropHidden:
      if (v != 0 && !cp.Hidden) {
        forceFlush_ = true;
        cp.Hidden = true;
      } else if (v == 0 && cp.Hidden) {
        cp.Hidden = false;
      }
      break;
    case ipropPlain: cp.Reset(s.DefLanguage, DefFontIndex()); break;
    case ipropFontNum:
      if (s.Destination == rdsNorm) {
        cp.FontIndex = FontIndexOf(v, s.DefFontNumber);
      } else if (s.Destination == rdsFontTable) {
        fontTable_.Add()->Number = v;
      } else if (s.Destination == rdsStyleSheet && styleSheet_.Count() > 0) {
        styleSheet_.Last()->CharProps.FontIndex = FontIndexOf(v, s.DefFontNumber);
      }
      break;
    case ipropFontCharset:
      if (s.Destination == rdsFontTable && fontTable_.Count() > 0)
        fontTable_.Last()->Charset = (v >= 0 && v < 256) ? static_cast<uint8_t>(v) : 77;
      break;
    case ipropFontFamily:
      if (s.Destination == rdsFontTable && fontTable_.Count() > 0)
        fontTable_.Last()->Family = static_cast<uint8_t>(v);
      break;
    // paragraph formatting
    case ipropLineSpacing: pp.LineSpacing = v; break;
    case ipropLineSpacingMulti: pp.LineSpacingMulti = static_cast<uint8_t>(v & 0xFF); break;
    case ipropLeftInd: pp.LeftIndent = v; break;
    case ipropRightInd: pp.RightIndent = v; break;
    case ipropFirstInd: pp.FirstIndent = v; break;
    case ipropSpaceBefore: pp.SpaceBefore = v; break;
    case ipropSpaceAfter: pp.SpaceAfter = v; break;
    case ipropJust: pp.Alignment = static_cast<uint8_t>(v); break;
    case ipropParD: pp.Reset(); break;
    case ipropParaColor:
      if (colorTable_.ValidIndex(v)) pp.Color = colorTable_.Items(v);
      break;
    case ipropParaFColor:
      if (colorTable_.ValidIndex(v)) pp.ForeColor = colorTable_.Items(v);
      break;
    case ipropShading: pp.Shading = v; break;
    case ipropKeep: pp.KeepLinesTogether = true; break;
    case ipropKeepN: pp.KeepWithNext = true; break;
    case ipropInTbl: pp.InTable = true; break;
    case ipropItap:
      pp.NestingLevel = v;
      if (v > 0) pp.InTable = true;
      break;
    case ipropNoOverlap: pp.NoOverlap = true; break;
    case ipropListOverride:
      pp.ListOverrideIndex = -1;
      for (int32_t i = 0; i < listOverrideTable_.Count(); ++i)
        if (listOverrideTable_.Items(i)->Number == v) {
          pp.ListOverrideIndex = i;
          break;
        }
      break;
    case ipropListLevel: pp.ListLevel = v; break;
    case ipropTX: {
      if (pp.TabsOrNull() && pp.TabsOrNull()->Count() > RTF_MAX_TABS) break;
      openTab().Position = v;
      pp.Tabs().Add();
      break;
    }
    case ipropTabKind: openTab().Kind = static_cast<uint8_t>(v); break;
    case ipropTabLeader: openTab().Leader = static_cast<uint8_t>(v); break;
    case ipropListTab: openTab().IsListTab = true; break;
    case ipropBrdrSide:
      s.BorderType = rtf_bt_Para;
      pp.CurBorderSide = static_cast<uint8_t>(v);
      break;
    case ipropTrBrdrSide:
      s.BorderType = rtf_bt_Row;
      s.RowProps().CurBorderSide = static_cast<uint8_t>(v);
      break;
    case ipropClBrdrSide:
      s.BorderType = rtf_bt_Cell;
      s.RowProps().OpenCell().CurBorderSide = static_cast<uint8_t>(v);
      break;
    case ipropBrdrStyle: {
      TRVRTFBorderSide* side = BorderTargetSide();
      if (side->Style == 0) side->Style = static_cast<uint8_t>(v);
      break;
    }
    case ipropBrdrWidth: BorderTargetSide()->Width = v; break;
    case ipropBrdrColor:
      if (colorTable_.ValidIndex(v)) BorderTargetSide()->Color = colorTable_.Items(v);
      break;
    case ipropBrdrSpace: pp.Border().Side(pp.CurBorderSide).Spacing = v; break;
    // document, section, code page
    case ipropDefLang: s.DefLanguage = v; break;
    case ipropDefFont:
      if (s.Destination == rdsNorm) s.DefFontNumber = v;
      break;
    case ipropAnsiCodePage: codePage_ = static_cast<uint32_t>(v); break;
    case ipropUnicode: return ApplyUnicode(v);
    case ipropUnicodeSkip: s.UnicodeSkipWidth = std::max(v, 0); break;
    case ipropPage:
      if (OnRequiredPageBreak) {
        const uint8_t r = FlushText(0, true, true);
        if (r != rtf_ec_OK) return r;
        OnRequiredPageBreak(this);
      }
      break;
    case ipropSectD: s.SectProps.Reset(); break;
    case ipropCols: s.SectProps.ColumnCount = v; break;
    case ipropPgnX: s.SectProps.PageNumberX = v; break;
    case ipropPgnY: s.SectProps.PageNumberY = v; break;
    case ipropHeaderY: s.SectProps.HeaderY = v; break;
    case ipropFooterY: s.SectProps.FooterY = v; break;
    case ipropSBK: s.SectProps.SectionBreak = static_cast<uint8_t>(v); break;
    case ipropPGN: s.SectProps.PageNumberFormat = static_cast<uint8_t>(v); break;
    case ipropPaperW: s.DocProps.PaperWidth = v; break;
    case ipropPaperH: s.DocProps.PaperHeight = v; break;
    case ipropMargL: s.DocProps.LeftMargin = v; break;
    case ipropMargR: s.DocProps.RightMargin = v; break;
    case ipropMargT: s.DocProps.TopMargin = v; break;
    case ipropMargB: s.DocProps.BottomMargin = v; break;
    case ipropPgnStart: s.DocProps.PageNumberStart = v; break;
    case ipropFacingP: s.DocProps.FacingPages = true; break;
    case ipropLandscape: s.DocProps.Landscape = true; break;
    // style sheet words outside an entry
    case ipropStyleNo:
    case ipropCharStyleNo:
    case ipropSectStyleNo:
      if (s.Destination == rdsStyleSheet) {
        if (styleSheet_.Count() == 0) styleSheet_.Add();
        TRVRTFStyleSheetEntry* e = styleSheet_.Last();
        e->Number = v;
        e->StyleType = code == ipropStyleNo ? 1 : code == ipropCharStyleNo ? 0 : 2;
        return ChangeDest(rdsStyleSheetEntry);
      }
      break;
    // old-style numbering level of the section
    case ipropPNSecLvl:
      pnSecLevel_ = v;
      return ChangeDest(rdsPNSecLvl);
    // table rows and cells
    case ipropRowD: s.RowProps().Reset(); break;
    case ipropRowEnd: {
      s.RowProps().Finalize();
      UpdateTableLevel(true);
      FireTable(rvf_tbl_RowEnd);
      break;
    }
    case ipropCellEnd: {
      UpdateTableLevel(true);
      const uint8_t r = FlushText(0, true, true);
      position_ = rtf_ts_NewPara;
      FireTable(rvf_tbl_CellEnd);
      return r;
    }
    case ipropRowAlign:
      rowAlign_ = static_cast<uint8_t>(v);
      rowAlignGiven_ = true;
      break;
    case ipropTrGaph: s.RowProps().GapH = v; break;
    case ipropTrLeft: s.RowProps().Left = v; break;
    case ipropTrRH: s.RowProps().Height = v == INT32_MIN ? INT32_MAX : std::abs(v); break;
    case ipropTrHdr: s.RowProps().Heading = true; break;
    case ipropTrPaddL: s.RowProps().Padding[0] = v; break;
    case ipropTrPaddT: s.RowProps().Padding[1] = v; break;
    case ipropTrPaddR: s.RowProps().Padding[2] = v; break;
    case ipropTrPaddB: s.RowProps().Padding[3] = v; break;
    case ipropTrPaddFL: s.RowProps().PaddingGiven[0] = v == 3; break;
    case ipropTrPaddFT: s.RowProps().PaddingGiven[1] = v == 3; break;
    case ipropTrPaddFR: s.RowProps().PaddingGiven[2] = v == 3; break;
    case ipropTrPaddFB: s.RowProps().PaddingGiven[3] = v == 3; break;
    case ipropTrSpdL: s.RowProps().Spacing[0] = v; break;
    case ipropTrSpdT: s.RowProps().Spacing[1] = v; break;
    case ipropTrSpdR: s.RowProps().Spacing[2] = v; break;
    case ipropTrSpdB: s.RowProps().Spacing[3] = v; break;
    case ipropTrSpdFL: s.RowProps().SpacingGiven[0] = v == 3; break;
    case ipropTrSpdFT: s.RowProps().SpacingGiven[1] = v == 3; break;
    case ipropTrSpdFR: s.RowProps().SpacingGiven[2] = v == 3; break;
    case ipropTrSpdFB: s.RowProps().SpacingGiven[3] = v == 3; break;
    case ipropTrWWidth: {
      TRVRTFRowProperties& row = s.RowProps();
      row.BestWidth = row.BestWidthInPercent ? -v : v;
      break;
    }
    case ipropTrFtsWidth: {
      TRVRTFRowProperties& row = s.RowProps();
      cellWidth(row.BestWidthInPercent, row.BestWidth, v);
      break;
    }
    case ipropOwnTBW: {
      TRVRTFRowProperties& row = s.RowProps();
      row.BestWidth = v;
      row.UseOwnExtensions = true;
      break;
    }
    case ipropCellX: {
      TRVRTFRowProperties& row = s.RowProps();
      if (row.Cells.Count() > RTF_MAX_ROW_CELLS) break;
      row.OpenCell().RightBoundary = v;
      row.Cells.Add();
      row.LastCellOpen = true;
      break;
    }
    case ipropCLVMerge: {
      TRVRTFCellProperties& c = s.RowProps().OpenCell();
      if (c.VMerge != 1) c.VMerge = static_cast<uint8_t>(v);
      break;
    }
    case ipropCLHMerge: {
      TRVRTFCellProperties& c = s.RowProps().OpenCell();
      if (c.HMerge != 1) c.HMerge = static_cast<uint8_t>(v);
      break;
    }
    case ipropCLVAlign: s.RowProps().OpenCell().VAlign = static_cast<uint8_t>(v); break;
    case ipropCLWWidth: {
      TRVRTFCellProperties& c = s.RowProps().OpenCell();
      c.BestWidth = c.BestWidthInPercent ? -v : v;
      break;
    }
    case ipropCLFtsWidth: {
      TRVRTFCellProperties& c = s.RowProps().OpenCell();
      cellWidth(c.BestWidthInPercent, c.BestWidth, v);
      break;
    }
    case ipropCLColor:
      if (colorTable_.ValidIndex(v)) {
        TRVRTFCellProperties& c = s.RowProps().OpenCell();
        c.Color = colorTable_.Items(v);
        if (c.Color == clWindowText) c.Color = clNone;
      }
      break;
    case ipropCLFColor:
      if (colorTable_.ValidIndex(v)) s.RowProps().OpenCell().ForeColor = colorTable_.Items(v);
      break;
    case ipropCLShading: s.RowProps().OpenCell().Shading = v; break;
    case ipropOwnCBW: {
      TRVRTFRowProperties& row = s.RowProps();
      row.OpenCell().BestWidth = v;
      row.UseOwnExtensions = true;
      break;
    }
    case ipropOwnCBH: {
      TRVRTFRowProperties& row = s.RowProps();
      row.OpenCell().BestHeight = v;
      row.UseOwnExtensions = true;
      break;
    }
    default:
      break;  // words of other destinations are ignored here
  }
  return rtf_ec_OK;
}

}  // namespace pelvar
