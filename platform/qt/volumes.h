// volumes.h - how a mounted volume appears in a drive box.
#pragma once

#include <QString>

#include "platform/fs.h"

namespace vantrel::platform {

// "/media/usb [STICK]" for a labelled volume, the bare mount point otherwise.
// Bytes that are not UTF-8 show as replacement characters.
QString VolumeDisplayText(const Volume& volume);

// Text of a byte string for display (invalid UTF-8 shown as U+FFFD).
QString ToDisplay(std::string_view bytes);

}  // namespace vantrel::platform
