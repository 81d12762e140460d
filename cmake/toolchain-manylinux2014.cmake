# The portable build of the release wheels (scripts/dist.sh passes it; development builds
# use the machine's compiler). Zig's clang compiles and links against its stubs of
# glibc 2.17, so the module needs no symbol version newer than manylinux2014 allows, and
# links its C++ runtime (libc++, libc++abi, libunwind) in statically. VELTRANE_ZIG is
# the zig program of the pinned ziglang package.
if(NOT DEFINED ENV{VELTRANE_ZIG})
  message(FATAL_ERROR "Set VELTRANE_ZIG to the zig program of the ziglang package (see scripts/dist.sh)")
endif()
set(zig_target x86_64-linux-gnu.2.17)
set(CMAKE_C_COMPILER "$ENV{VELTRANE_ZIG}" cc -target ${zig_target})
set(CMAKE_CXX_COMPILER "$ENV{VELTRANE_ZIG}" c++ -target ${zig_target})
# The AVX-512 kernels of CRoaring 5.2.2 and simdjson 3.2.1 name their features in target
# attributes without evex512, which clang 18 and later need for 512-bit vectors. On its
# own it enables no instruction: code outside those kernels stays baseline x86-64.
# The only C source is CRoaring. Its loops that write 64-bit positions from 16-bit values
# (the run containers of index_array) are vectorised 8 lanes wide, as GCC's build does in
# effect; clang's own choice, 4 lanes, ran the row "index_array, 1,000,000 in one run" of
# bench/compare_builds.py 1.2 times slower than the GCC build.
set(CMAKE_C_FLAGS_INIT "-mevex512 -mllvm -force-vector-width=8")
set(CMAKE_CXX_FLAGS_INIT -mevex512)
set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES "${CMAKE_CURRENT_LIST_DIR}/manylinux2014")
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES "${CMAKE_CURRENT_LIST_DIR}/manylinux2014")
