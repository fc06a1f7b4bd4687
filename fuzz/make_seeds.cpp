// Writes seed corpora for the fuzz targets with the project's own writers:
//   ekvision_fuzz_seeds OUTDIR   ->  OUTDIR/fuzz_ari_reader/*.ari ...
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include <ekvision/ekimage.h>

namespace {

void makeDirectory(const std::string& path) {
  mkdir(path.c_str(), 0755);
}

void ariSeeds(const std::string& dir) {
  makeDirectory(dir);
  const int shapes[][3] = {{2, 2, 0}, {4, 4, 9}, {3, 1, 13}, {8, 8, 9}, {0, 0, 0}, {5, 3, 18}};
  int n = 0;
  for (const auto& shape : shapes) {
    EK::EKImage image(shape[0], shape[1], shape[2], false, 0.1f, 0.2f, -0.1f, -0.2f);
    for (int i = 0; i < image.allocatedSize; ++i) {
      image.frame[i] = static_cast<unsigned char>(i * 7);
    }
    image.timeStamp = 1500000 + n;
    image.writeFile((dir + "/seed" + std::to_string(n++) + ".ari").c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
    return 2;
  }
  const std::string out = argv[1];
  makeDirectory(out);
  ariSeeds(out + "/fuzz_ari_reader");
  makeDirectory(out + "/fuzz_image_value");
  return 0;
}
