#include "app/features.h"
#include "app/mainform.h"

namespace vantrel::app {

void InstallNavigation(TMainForm& form) { (void)form; }

}  // namespace vantrel::app
