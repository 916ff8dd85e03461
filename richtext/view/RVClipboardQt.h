// Thin Qt adapters over the clipboard and drag-and-drop model: the system clipboard as a
// TClipboard, dropped QMimeData as a data object, a data object offered to a QDrag as
// QMimeData (rendered when a target asks), and the drag-and-drop service that runs a drag
// with QDrag.
//
// Formats and MIME types: CF_UNICODETEXT and CF_TEXT are "text/plain" (the platform's text
// conversions apply), CF_BITMAP and CF_DIB an image, "Rich Text Format" "text/rtf",
// "UniformResourceLocator" the first line of "text/uri-list", CF_HDROP the file URLs of
// "text/uri-list", "PNG" "image/png", "JFIF" "image/jpeg"; every other registered format
// travels under "application/x-qt-windows-mime;value=\"<name>\"".
#pragma once

#include <QMimeData>
#include <QString>
#include <memory>

#include "platform/clipboard.h"
#include "platform/dataobject.h"

class QClipboard;

namespace pelvar {

// The MIME type of a format that travels as raw bytes (empty for formats converted to
// Qt's own text, image and URL forms, and for unknown ids), and the format of such a type
// (0 when none).
QString RVFormatMimeType(uint16_t format);
uint16_t RVMimeTypeFormat(const QString& mime);

// The formats a QMimeData offers (text, image and URL forms included).
std::vector<uint16_t> RVMimeDataFormats(const QMimeData& mime);
// The bytes of a format read from a QMimeData as the clipboard has them (text
// zero-terminated, a bitmap as a packed DIB, files as a DROPFILES block); false when the
// format is not there.
bool RVMimeDataRead(const QMimeData& mime, uint16_t format, std::string& data);
// Puts a format's bytes into a QMimeData.
void RVMimeDataWrite(QMimeData& mime, uint16_t format, const std::string& data);

// The system clipboard (QGuiApplication::clipboard() unless another one is given).
class TQtClipboard : public TClipboard {
 public:
  explicit TQtClipboard(QClipboard* clipboard = nullptr);

 protected:
  std::vector<uint16_t> ReadFormats() override;
  bool ReadData(uint16_t format, std::string& data) override;
  void Publish(const std::vector<std::pair<uint16_t, std::string>>& content) override;

 private:
  QClipboard* clipboard_;
};

// Dropped data as a data object (the QMimeData lives while the drop event runs).
class TQtMimeDataObject : public TMemoryDataObject {
 public:
  explicit TQtMimeDataObject(const QMimeData& mime);
};

// A data object offered to a drag: every format it enumerates, rendered on demand.
class TRVMimeData : public QMimeData {
 public:
  explicit TRVMimeData(IDataObject* data_object);
  QStringList formats() const override;
  bool hasFormat(const QString& mime) const override;

 protected:
  QVariant retrieveData(const QString& mime, QMetaType type) const override;

 private:
  bool Fetch(uint16_t format, std::string& data) const;
  IDataObject* data_object_;
  std::vector<uint16_t> formats_;
};

// Runs drags with QDrag; drop targets are bound to their controls by TRVDropTarget.
class TQtDragDropService : public TDragDropService {
 public:
  HRESULT DoDragDrop(IDataObject* data_object, IDropSource* source, uint32_t ok_effects, uint32_t& effect) override;
};

// Makes the system clipboard and Qt's drags the process's clipboard and drag-and-drop
// service, unless others were installed; once per process (a viewer control calls it).
void RVInstallQtServices();

// The platform's key state of Qt's modifiers and buttons.
uint32_t RVQtKeyState(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons);

}  // namespace pelvar
