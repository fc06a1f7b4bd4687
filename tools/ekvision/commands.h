// The commands of the ekvision tool, one maker each.
#ifndef EKVISION_TOOLS_COMMANDS_H
#define EKVISION_TOOLS_COMMANDS_H

#include <memory>

#include "tool.h"

namespace ektool {

std::unique_ptr<Command> makeInfoCommand();
std::unique_ptr<Command> makeExportCommand();
std::unique_ptr<Command> makeImportCommand();
std::unique_ptr<Command> makeRecoverCommand();
std::unique_ptr<Command> makeConvertCommand();
std::unique_ptr<Command> makeRunCommand();
std::unique_ptr<Command> makeRecordCommand();
std::unique_ptr<Command> makeCamerasCommand();
std::unique_ptr<Command> makeServeCommand();
std::unique_ptr<Command> makeKeysCommand();
std::unique_ptr<Command> makeCallCommand();
std::unique_ptr<Command> makeViewCommand();

}  // namespace ektool

#endif  // EKVISION_TOOLS_COMMANDS_H
