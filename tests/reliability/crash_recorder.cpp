// Records the clip of crashclip.h into NAME.arv until it is killed:
//   ekvision_crash_recorder NAME MAXFRAMES
// Each record is flushed to the file as soon as it is written, and the recorder pauses
// after each one, so that a kill lands between the two records of a frame about as often
// as between frames. It never closes the recording; after MAXFRAMES frames it exits with
// status 3, which the test takes as "not killed in time"; when another writer holds the
// recording it exits with status 4 at once.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <ekerror/ekerror.h>
#include <ekvision/ekvideo.h>

#include "crashclip.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s NAME MAXFRAMES\n", argv[0]);
    return 2;
  }
  EK::EKVideo video;
  try {
    video.recordVideo(argv[1], 0, ekcrash::streams());
  } catch (const EK::EKError&) {
    return 4;  // another writer holds the recording
  }
  const unsigned int frames = static_cast<unsigned int>(std::atoi(argv[2]));
  for (unsigned int frame = 0; frame < frames; ++frame) {
    for (unsigned int stream = 0; stream < 2; ++stream) {
      std::vector<char> record(ekcrash::recordBytes(stream));
      for (std::size_t i = 0; i < record.size(); ++i) {
        record[i] = static_cast<char>(ekcrash::pixel(frame, stream, i));
      }
      if (!video.write(record.data(), static_cast<int>(record.size()),
                       ekcrash::stamp(frame, stream), static_cast<char>(stream), 0.1f, 0.2f, -0.1f,
                       -0.2f)) {
        return 1;
      }
      video.outputFile.flush();
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
  }
  return 3;
}
