// volumes.cpp - display texts of volumes and names.
#include "platform/qt/volumes.h"

#include "platform/text.h"

namespace vantrel::platform {

QString ToDisplay(std::string_view bytes) {
  const std::string shown = DisplayName(bytes);
  return QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size()));
}

QString VolumeDisplayText(const Volume& volume) {
  QString text = ToDisplay(volume.mountPoint);
  if (!volume.label.empty()) text += QStringLiteral(" [") + ToDisplay(volume.label) + QLatin1Char(']');
  return text;
}

}  // namespace vantrel::platform
