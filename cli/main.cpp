#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("paperwright %s\n", PW_VERSION);
    return 0;
  }
  std::fprintf(stderr, "usage: paperwright --info FILE.pdf [--password PW]\n");
  return 1;
}
