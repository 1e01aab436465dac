# Sourced by the build scripts. Every build directory of the checkout shares
# a compiler cache where the machine has ccache: paths are hashed relative to
# the checkout, so the same source compiled with the same flags in build/,
# build-py3.12/ or the install test's build-pip/ is compiled once.
# LIBFC_CCACHE=0 builds without it.
if [ "${LIBFC_CCACHE:-1}" != 0 ] && command -v ccache >/dev/null 2>&1; then
  export CMAKE_C_COMPILER_LAUNCHER="${CMAKE_C_COMPILER_LAUNCHER:-ccache}"
  export CMAKE_CXX_COMPILER_LAUNCHER="${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}"
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
fi
