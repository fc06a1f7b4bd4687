// No output may overwrite an input: the files a command reads and writes, compared before
// anything is opened for writing.
#ifndef EKVISION_TOOLS_HOST_PATHGUARD_H
#define EKVISION_TOOLS_HOST_PATHGUARD_H

#include <string>
#include <vector>

namespace ekhost {

/// A file that a command reads or writes, and the words that name it in a refusal.
struct GuardedFile {
  std::string path;  ///< as the user gave it
  std::string role;  ///< e.g. "the recording that --camera plays", "--detections"
};

/// @brief Refuses an output that is the same file as an input or as another output: the
/// same device and inode (symbolic and hard links followed), or, for files not there yet,
/// the same absolute path once the links of its folders are resolved.
///
/// Called before anything is opened for writing, so that a typo never truncates a
/// recording or a plugin. Inputs that do not exist are not compared.
/// @throws HostError (EKCause::kInvalidArgument) "<output's role> would overwrite <the other's
///   role> (<its path>)"; for two outputs, "<role> and <role> name the same file (<path>)"
void refuseOverwrites(const std::vector<GuardedFile>& inputs,
                      const std::vector<GuardedFile>& outputs);

}  // namespace ekhost

#endif  // EKVISION_TOOLS_HOST_PATHGUARD_H
