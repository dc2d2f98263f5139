// Run at configure time, compiled for the compiler's baseline target: exit status 0 when this
// CPU (and its operating system) supports every instruction set named on the command line, so
// that the compiler probes are run only with flags the machine can execute.
#include <string_view>

int main(int argc, char** argv) {
  __builtin_cpu_init();
  for (int i = 1; i < argc; ++i) {
    const std::string_view feature = argv[i];
    const bool supported = feature == "avx512" ? __builtin_cpu_supports("avx512f") &&
                                                     __builtin_cpu_supports("avx512dq") &&
                                                     __builtin_cpu_supports("avx512bw") &&
                                                     __builtin_cpu_supports("avx512vl") &&
                                                     __builtin_cpu_supports("avx512cd")
                           : feature == "avx2" ? __builtin_cpu_supports("avx2") &&
                                                     __builtin_cpu_supports("fma")
                           : feature == "avx"  ? __builtin_cpu_supports("avx")
                                               : feature == "sse2";
    if (!supported) return 1;
  }
  return 0;
}
