# Sourced by test-sanitizers.sh and test-fuzz.sh: one clang tree, build-asan/, serves both. The
# client, every suite and every fuzz target are built there with AddressSanitizer and
# UndefinedBehaviorSanitizer, so the library is compiled once for both runs (libFuzzer needs
# clang; the fuzz targets add its coverage to the sources they compile themselves).
configure_asan_tree() {
  # libFuzzer's runtime is not in clang's own package; llvm's llvm-symbolizer puts names and
  # lines into a report.
  bash scripts/install-deps.sh clang libclang-rt-14-dev llvm
  # A tree an earlier version of this script built with another compiler starts again.
  if [ -f build-asan/CMakeCache.txt ] && ! grep -q '^CMAKE_CXX_COMPILER:.*clang' build-asan/CMakeCache.txt; then
    rm -rf build-asan
  fi
  cmake -S . -B build-asan -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DVELQUIST_WERROR=ON \
    -DVELQUIST_SANITIZE=ON -DVELQUIST_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" ${VELQUIST_CMAKE_ARGS:-} >/dev/null
}
