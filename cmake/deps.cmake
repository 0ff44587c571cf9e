# Static libraries and headers of the dependencies: first under
# SONDREL_DEPS_PREFIX (scripts/setup cross-builds them into build/deps/<arch>;
# on MSYS2 it is /mingw32 or /mingw64), then wherever CMake's own search finds
# them (for the cross-build, the toolchain's root path, which holds MinGW's zlib).
set(SONDREL_DEPS_PREFIX ${CMAKE_SOURCE_DIR}/build/deps/${SONDREL_ARCH} CACHE PATH "dependency prefix")

# sondrel_import(NAME LIBRARIES file... HEADER file [SUFFIX dir] [DEPENDS target...])
function(sondrel_import name)
  cmake_parse_arguments(A "" "HEADER;SUFFIX" "LIBRARIES;DEPENDS" ${ARGN})
  # The .a names come first: MSYS2 puts DLL import libraries beside them, and
  # the program must need no DLL of its own.
  find_library(SONDREL_${name}_LIBRARY NAMES ${A_LIBRARIES} PATHS ${SONDREL_DEPS_PREFIX}/lib NO_DEFAULT_PATH
               NO_CMAKE_FIND_ROOT_PATH)
  find_library(SONDREL_${name}_LIBRARY NAMES ${A_LIBRARIES} REQUIRED)
  find_path(SONDREL_${name}_INCLUDE_DIR ${A_HEADER} PATHS ${SONDREL_DEPS_PREFIX}/include PATH_SUFFIXES ${A_SUFFIX}
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  find_path(SONDREL_${name}_INCLUDE_DIR ${A_HEADER} PATH_SUFFIXES ${A_SUFFIX} REQUIRED)
  add_library(dep::${name} STATIC IMPORTED GLOBAL)
  set_target_properties(dep::${name} PROPERTIES IMPORTED_LOCATION ${SONDREL_${name}_LIBRARY}
                                                INTERFACE_INCLUDE_DIRECTORIES ${SONDREL_${name}_INCLUDE_DIR})
  if(A_DEPENDS)
    set_target_properties(dep::${name} PROPERTIES INTERFACE_LINK_LIBRARIES "${A_DEPENDS}")
  endif()
endfunction()

sondrel_import(ogg LIBRARIES libogg.a ogg HEADER ogg/ogg.h)
sondrel_import(vorbis LIBRARIES libvorbis.a vorbis HEADER vorbis/codec.h DEPENDS dep::ogg)
sondrel_import(vorbisfile LIBRARIES libvorbisfile.a vorbisfile HEADER vorbis/vorbisfile.h DEPENDS dep::vorbis)
sondrel_import(vorbisenc LIBRARIES libvorbisenc.a vorbisenc HEADER vorbis/vorbisenc.h DEPENDS dep::vorbis)
sondrel_import(zlib LIBRARIES libz.a z HEADER zlib.h)
sondrel_import(png LIBRARIES libpng16.a libpng.a png16 png HEADER png.h DEPENDS dep::zlib)
sondrel_import(kissfft LIBRARIES libkissfft-float.a kissfft-float HEADER kiss_fftr.h SUFFIX kissfft)
