#include "pathguard.h"

#include <sys/stat.h>

#include <filesystem>

#include "host.h"

namespace ekhost {
namespace {

// Where a path leads: its inode when it exists, else its absolute path with the links of
// its folders resolved.
struct Identity {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  std::string absolute;
};

Identity identify(const std::string& path) {
  Identity identity;
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0) {
    identity.exists = true;
    identity.device = status.st_dev;
    identity.inode = status.st_ino;
  }
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (!error) {
    identity.absolute = std::filesystem::weakly_canonical(absolute, error).string();
    if (error) {
      identity.absolute = absolute.lexically_normal().string();
    }
  }
  return identity;
}

bool sameFile(const Identity& a, const Identity& b) {
  if (a.exists && b.exists) {
    return a.device == b.device && a.inode == b.inode;
  }
  return !a.absolute.empty() && a.absolute == b.absolute;
}

}  // namespace

void refuseOverwrites(const std::vector<GuardedFile>& inputs,
                      const std::vector<GuardedFile>& outputs) {
  std::vector<Identity> inputIdentities;
  for (const GuardedFile& input : inputs) {
    inputIdentities.push_back(identify(input.path));
  }
  std::vector<Identity> outputIdentities;
  for (std::size_t o = 0; o < outputs.size(); ++o) {
    const Identity output = identify(outputs[o].path);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      if (inputIdentities[i].exists && sameFile(output, inputIdentities[i])) {
        fail(EK::EKCause::kInvalidArgument,
             outputs[o].role + " would overwrite " + inputs[i].role + " (" + inputs[i].path + ")");
      }
    }
    for (std::size_t earlier = 0; earlier < o; ++earlier) {
      if (sameFile(output, outputIdentities[earlier])) {
        fail(EK::EKCause::kInvalidArgument, outputs[earlier].role + " and " + outputs[o].role +
                                                " name the same file (" + outputs[o].path + ")");
      }
    }
    outputIdentities.push_back(output);
  }
}

}  // namespace ekhost
