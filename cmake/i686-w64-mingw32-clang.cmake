# Cross-compiling for 32-bit Windows with Debian's clang and lld against the
# same mingw-w64 headers, import libraries and GCC runtime (libstdc++, libgcc,
# libssp) that the GCC toolchain uses; binutils' windres, dlltool and ar
# handle the resources, the msi import library and the archives.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TOOLCHAIN_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_DLLTOOL ${TOOLCHAIN_PREFIX}-dlltool)
set(CMAKE_AR ${TOOLCHAIN_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${TOOLCHAIN_PREFIX}-ranlib CACHE FILEPATH "")

# The sysroot keeps the host's /usr/include and /usr/lib out of the search.
set(CMAKE_SYSROOT /usr/${TOOLCHAIN_PREFIX})

# clang 14 does not recognise Debian's versioned GCC folder ("12-posix"), so
# the GCC runtime is named explicitly: libstdc++'s headers ahead of the C
# headers, the runtime archives on the library path. The posix thread model,
# as in the GCC toolchain, whose driver always links winpthread (-pthread does
# that here); links are static, so no threading DLL is imported.
execute_process(
  COMMAND ${TOOLCHAIN_PREFIX}-gcc-posix -print-libgcc-file-name
  OUTPUT_VARIABLE _vireo_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE _vireo_libgcc_result)
if(NOT _vireo_libgcc_result EQUAL 0 OR NOT EXISTS "${_vireo_libgcc}")
  message(FATAL_ERROR "${TOOLCHAIN_PREFIX}-gcc-posix is needed for the GCC runtime")
endif()
get_filename_component(VIREO_GCC_RUNTIME_DIR "${_vireo_libgcc}" DIRECTORY)
set(_vireo_cxx_headers ${VIREO_GCC_RUNTIME_DIR}/include/c++)

set(CMAKE_CXX_FLAGS_INIT
  "-isystem ${_vireo_cxx_headers} -isystem ${_vireo_cxx_headers}/${TOOLCHAIN_PREFIX} -isystem ${_vireo_cxx_headers}/backward")
set(_vireo_link_flags "-fuse-ld=lld -rtlib=libgcc -pthread -L${VIREO_GCC_RUNTIME_DIR}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_vireo_link_flags}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_vireo_link_flags}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_vireo_link_flags}")

# windres preprocesses the resource scripts with clang instead of GCC.
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_RC_FLAGS_INIT "--preprocessor=clang")
foreach(_vireo_arg --target=${TOOLCHAIN_PREFIX} --sysroot=${CMAKE_SYSROOT} -E -xc -DRC_INVOKED)
  string(APPEND CMAKE_RC_FLAGS_INIT " --preprocessor-arg=${_vireo_arg}")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Target programs run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
