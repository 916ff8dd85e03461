#include "platform/qt/qt_strings.h"

#include "platform/codepage.h"

namespace pelvar {

QString AnsiToQString(const AnsiString& s) {
  const std::u16string wide = ToWide(s, TCodePage::cp1250);
  return QString::fromUtf16(wide.data(), static_cast<qsizetype>(wide.size()));
}

AnsiString QStringToAnsi(const QString& s) {
  return FromWide(std::u16string_view(reinterpret_cast<const char16_t*>(s.utf16()),
                                      static_cast<size_t>(s.size())),
                  TCodePage::cp1250);
}

}  // namespace pelvar
