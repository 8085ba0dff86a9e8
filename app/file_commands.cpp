#include "app/features.h"
#include "app/mainform.h"

namespace vantrel::app {

void InstallFileCommands(TMainForm& form) { (void)form; }

}  // namespace vantrel::app
