#include "richtext/view/RVClipboardQt.h"

#include <QClipboard>
#include <QCursor>
#include <QDrag>
#include <QGuiApplication>
#include <QImage>
#include <QStyleHints>
#include <QUrl>
#include <algorithm>

#include "platform/codepage.h"
#include "richtext/model/RVConst.h"
#include "richtext/view/RVClipboard.h"
#include "richtext/view/RVDragDrop.h"

namespace pelvar {

namespace {
const char kWindowsMime[] = "application/x-qt-windows-mime;value=\"";

std::string Utf16Block(const QString& text) {
  std::string r;
  for (QChar c : text) {
    const char16_t u = c.unicode();
    r += static_cast<char>(u & 0xFF);
    r += static_cast<char>(u >> 8);
  }
  r.append(2, '\0');
  return r;
}

QString FromUtf16Block(const std::string& data) {
  QString r;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    const char16_t u = static_cast<char16_t>(static_cast<uint8_t>(data[i]) | (static_cast<uint8_t>(data[i + 1]) << 8));
    if (u == 0) break;
    r += QChar(u);
  }
  return r;
}

QImage ImageFromDIB(const std::string& dib) {
  TDIBPixels p;
  if (!ReadPackedDIB(dib, p)) return QImage();
  QImage image(p.Width, p.Height, QImage::Format_ARGB32);
  for (int32_t y = 0; y < p.Height; ++y)
    for (int32_t x = 0; x < p.Width; ++x)
      image.setPixel(x, y, p.Pixels[static_cast<size_t>(y) * static_cast<size_t>(p.Width) + static_cast<size_t>(x)]);
  return image;
}

std::string DIBFromImage(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_ARGB32);
  TDIBPixels p;
  p.Width = image.width();
  p.Height = image.height();
  p.Pixels.resize(static_cast<size_t>(p.Width) * static_cast<size_t>(p.Height));
  for (int32_t y = 0; y < p.Height; ++y)
    for (int32_t x = 0; x < p.Width; ++x)
      p.Pixels[static_cast<size_t>(y) * static_cast<size_t>(p.Width) + static_cast<size_t>(x)] = image.pixel(x, y);
  return MakePackedDIB(p);
}

std::vector<QUrl> FileUrls(const QMimeData& mime) {
  std::vector<QUrl> r;
  if (!mime.hasUrls()) return r;
  for (const QUrl& u : mime.urls())
    if (u.isLocalFile()) r.push_back(u);
  return r;
}
}  // namespace

QString RVFormatMimeType(uint16_t format) {
  if (format == CF_TEXT || format == CF_UNICODETEXT || format == CF_BITMAP || format == CF_DIB ||
      format == CF_HDROP || format == 0)
    return QString();
  if (format == CFRV_RTF()) return QStringLiteral("text/rtf");
  if (format == CFRV_URL()) return QString();
  if (format == CFRV_PNG()) return QStringLiteral("image/png");
  if (format == CFRV_JFIF()) return QStringLiteral("image/jpeg");
  const AnsiString name = GetClipboardFormatName(format);
  if (!name.empty()) return QString::fromUtf8(kWindowsMime) + QString::fromStdString(AnsiToUtf8(name)) + "\"";
  return QStringLiteral("application/x-pelvar-clipboard-format;value=%1").arg(format);
}

uint16_t RVMimeTypeFormat(const QString& mime) {
  if (mime == "text/rtf" || mime == "application/rtf") return CFRV_RTF();
  if (mime == "image/png") return CFRV_PNG();
  if (mime == "image/jpeg") return CFRV_JFIF();
  const QString prefix = QString::fromUtf8(kWindowsMime);
  if (mime.startsWith(prefix) && mime.endsWith('"')) {
    const QString name = mime.mid(prefix.size(), mime.size() - prefix.size() - 1);
    return RegisterClipboardFormat(Utf8ToAnsi(name.toStdString()));
  }
  const QString own = QStringLiteral("application/x-pelvar-clipboard-format;value=");
  if (mime.startsWith(own)) {
    bool ok = false;
    const uint32_t id = mime.mid(own.size()).toUInt(&ok);
    return ok && id <= 0xFFFF ? static_cast<uint16_t>(id) : 0;
  }
  return 0;
}

std::vector<uint16_t> RVMimeDataFormats(const QMimeData& mime) {
  std::vector<uint16_t> r;
  auto add = [&](uint16_t f) {
    if (f && std::find(r.begin(), r.end(), f) == r.end()) r.push_back(f);
  };
  for (const QString& m : mime.formats()) add(RVMimeTypeFormat(m));
  if (mime.hasUrls()) {
    if (!FileUrls(mime).empty())
      add(CF_HDROP);
    else
      add(CFRV_URL());
  }
  if (mime.hasText()) {
    add(CF_UNICODETEXT);
    add(CF_TEXT);
  }
  if (mime.hasImage()) {
    add(CF_DIB);
    add(CF_BITMAP);
  }
  return r;
}

bool RVMimeDataRead(const QMimeData& mime, uint16_t format, std::string& data) {
  if (format == CF_UNICODETEXT || format == CF_TEXT) {
    if (!mime.hasText()) return false;
    const QString text = mime.text();
    if (format == CF_UNICODETEXT) {
      data = Utf16Block(text);
    } else {
      data = FromWide(text.toStdU16String());
      data += '\0';
    }
    return true;
  }
  if (format == CF_BITMAP || format == CF_DIB) {
    if (!mime.hasImage()) return false;
    const QImage image = qvariant_cast<QImage>(mime.imageData());
    if (image.isNull()) return false;
    data = DIBFromImage(image);
    return true;
  }
  if (format == CF_HDROP) {
    const std::vector<QUrl> urls = FileUrls(mime);
    if (urls.empty()) return false;
    std::vector<AnsiString> names;
    for (const QUrl& u : urls) names.push_back(Utf8ToAnsi(u.toLocalFile().toStdString()));
    data = RVMakeDropFiles(names, true);
    return true;
  }
  if (format == CFRV_URL()) {
    if (!mime.hasUrls() || mime.urls().isEmpty()) return false;
    data = Utf8ToAnsi(mime.urls().first().toString().toStdString());
    data += '\0';
    return true;
  }
  const QString type = RVFormatMimeType(format);
  if (type.isEmpty() || !mime.hasFormat(type)) return false;
  const QByteArray bytes = mime.data(type);
  data.assign(bytes.constData(), static_cast<size_t>(bytes.size()));
  return true;
}

void RVMimeDataWrite(QMimeData& mime, uint16_t format, const std::string& data) {
  if (format == CF_UNICODETEXT) {
    mime.setText(FromUtf16Block(data));
  } else if (format == CF_TEXT) {
    mime.setText(QString::fromStdU16String(ToWide(data.substr(0, data.find('\0')))));
  } else if (format == CF_BITMAP || format == CF_DIB) {
    const QImage image = ImageFromDIB(data);
    if (!image.isNull()) mime.setImageData(image);
  } else if (format == CFRV_URL()) {
    mime.setUrls({QUrl(QString::fromStdString(AnsiToUtf8(data.substr(0, data.find('\0')))))});
  } else if (format == CF_HDROP) {
    std::vector<AnsiString> names;
    if (RVReadDropFiles(data, names)) {
      QList<QUrl> urls;
      for (const AnsiString& n : names) urls.push_back(QUrl::fromLocalFile(QString::fromStdString(AnsiToUtf8(n))));
      mime.setUrls(urls);
    }
  } else {
    const QString type = RVFormatMimeType(format);
    if (!type.isEmpty()) mime.setData(type, QByteArray(data.data(), static_cast<qsizetype>(data.size())));
  }
}

// ---- Clipboard -------------------------------------------------------------------------------------

TQtClipboard::TQtClipboard(QClipboard* clipboard)
    : clipboard_(clipboard ? clipboard : QGuiApplication::clipboard()) {}

std::vector<uint16_t> TQtClipboard::ReadFormats() {
  const QMimeData* mime = clipboard_->mimeData();
  if (!mime) return {};
  std::vector<uint16_t> r = RVMimeDataFormats(*mime);
  // The platform lists the synthesised twins itself.
  r.erase(std::remove_if(r.begin(), r.end(), [](uint16_t f) { return f == CF_TEXT || f == CF_DIB; }), r.end());
  return r;
}

bool TQtClipboard::ReadData(uint16_t format, std::string& data) {
  const QMimeData* mime = clipboard_->mimeData();
  return mime && RVMimeDataRead(*mime, format, data);
}

void TQtClipboard::Publish(const std::vector<std::pair<uint16_t, std::string>>& content) {
  auto* mime = new QMimeData();
  // Unicode text wins over the narrow form when both were put.
  for (const auto& c : content)
    if (c.first != CF_UNICODETEXT) RVMimeDataWrite(*mime, c.first, c.second);
  for (const auto& c : content)
    if (c.first == CF_UNICODETEXT) RVMimeDataWrite(*mime, c.first, c.second);
  clipboard_->setMimeData(mime);  // the clipboard owns it
}

// ---- Dropped data ------------------------------------------------------------------------------------

TQtMimeDataObject::TQtMimeDataObject(const QMimeData& mime) {
  for (uint16_t f : RVMimeDataFormats(mime)) {
    std::string data;
    if (RVMimeDataRead(mime, f, data)) Set(f, std::move(data), RVFormatEtc(f).tymed);
  }
}

// ---- Dragged data --------------------------------------------------------------------------------------

TRVMimeData::TRVMimeData(IDataObject* data_object) : data_object_(data_object) {
  std::shared_ptr<IEnumFORMATETC> e;
  if (data_object_ && data_object_->EnumFormatEtc(DATADIR_GET, e) == S_OK && e) {
    std::vector<FORMATETC> one;
    while (e->Next(1, one, nullptr) == S_OK) formats_.push_back(one[0].cfFormat);
  }
}

bool TRVMimeData::Fetch(uint16_t format, std::string& data) const {
  STGMEDIUM medium;
  if (!data_object_ || data_object_->GetData(RVFormatEtc(format), medium) != S_OK || !medium.hGlobal) return false;
  data = medium.hGlobal->Data;
  ReleaseStgMedium(medium);
  return true;
}

QStringList TRVMimeData::formats() const {
  QStringList r;
  for (uint16_t f : formats_) {
    if (f == CF_TEXT || f == CF_UNICODETEXT) {
      if (!r.contains("text/plain")) r << "text/plain";
    } else if (f == CF_BITMAP || f == CF_DIB) {
      if (!r.contains("application/x-qt-image")) r << "application/x-qt-image";
    } else {
      const QString t = RVFormatMimeType(f);
      if (!t.isEmpty()) r << t;
    }
  }
  return r;
}

bool TRVMimeData::hasFormat(const QString& mime) const { return formats().contains(mime); }

QVariant TRVMimeData::retrieveData(const QString& mime, QMetaType type) const {
  std::string data;
  if (mime == "text/plain") {
    const bool unicode = std::find(formats_.begin(), formats_.end(), CF_UNICODETEXT) != formats_.end();
    if (!Fetch(unicode ? CF_UNICODETEXT : CF_TEXT, data)) return QVariant();
    return unicode ? FromUtf16Block(data) : QString::fromStdU16String(ToWide(data.substr(0, data.find('\0'))));
  }
  if (mime == "application/x-qt-image") {
    if (!Fetch(CF_BITMAP, data)) return QVariant();
    return ImageFromDIB(data);
  }
  const uint16_t f = RVMimeTypeFormat(mime);
  if (!f || std::find(formats_.begin(), formats_.end(), f) == formats_.end() || !Fetch(f, data))
    return QMimeData::retrieveData(mime, type);
  return QByteArray(data.data(), static_cast<qsizetype>(data.size()));
}

// ---- Drag service -----------------------------------------------------------------------------------------

HRESULT TQtDragDropService::DoDragDrop(IDataObject* data_object, IDropSource* source, uint32_t ok_effects,
                                       uint32_t& effect) {
  effect = DROPEFFECT_NONE;
  if (!data_object || !source) return E_INVALIDARG;
  QObject* owner = QGuiApplication::instance();
  if (!owner) return E_FAIL;
  // Without a display there is nothing to drag over: the drag is cancelled at once, as the
  // headless service does.
  if (QGuiApplication::platformName() == "offscreen" || QGuiApplication::platformName() == "minimal")
    return TDragDropService::DoDragDrop(data_object, source, ok_effects, effect);
  // The drag starts from a posted message: when the button was already released by then,
  // the press was a click and no drag runs.
  if (!(QGuiApplication::mouseButtons() & Qt::LeftButton)) {
    source->QueryContinueDrag(false, 0);
    return DRAGDROP_S_CANCEL;
  }
  const QPoint start = QCursor::pos();
  auto* drag = new QDrag(owner);
  drag->setMimeData(new TRVMimeData(data_object));
  const Qt::DropActions actions = Qt::DropActions(static_cast<int>(ok_effects & 7));
  const Qt::DropAction action = drag->exec(actions, (ok_effects & DROPEFFECT_MOVE) ? Qt::MoveAction : Qt::CopyAction);
  drag->deleteLater();
  // Qt runs the whole drag itself: the source learns that the drag moved when the
  // pointer travelled the drag distance.
  if ((QCursor::pos() - start).manhattanLength() >= QGuiApplication::styleHints()->startDragDistance())
    source->QueryContinueDrag(false, MK_LBUTTON);
  effect = static_cast<uint32_t>(action) & 7;
  return effect == DROPEFFECT_NONE ? DRAGDROP_S_CANCEL : DRAGDROP_S_DROP;
}

void RVInstallQtServices() {
  static bool done = false;
  if (done || !QGuiApplication::instance()) return;
  done = true;
  static TQtClipboard clipboard;
  static TQtDragDropService drags;
  if (TClipboard* previous = SetClipboard(&clipboard)) SetClipboard(previous);
  if (TDragDropService* previous = SetDragDropService(&drags)) SetDragDropService(previous);
}

uint32_t RVQtKeyState(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons) {
  uint32_t k = 0;
  if (buttons & Qt::LeftButton) k |= MK_LBUTTON;
  if (buttons & Qt::RightButton) k |= MK_RBUTTON;
  if (buttons & Qt::MiddleButton) k |= MK_MBUTTON;
  if (modifiers & Qt::ShiftModifier) k |= MK_SHIFT;
  if (modifiers & Qt::ControlModifier) k |= MK_CONTROL;
  if (modifiers & Qt::AltModifier) k |= MK_ALT;
  return k;
}

}  // namespace pelvar
