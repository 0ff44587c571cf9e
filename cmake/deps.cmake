# The cross-built dependencies in build/deps/<arch> (scripts/setup makes them).
set(SONDREL_DEPS_PREFIX ${CMAKE_SOURCE_DIR}/build/deps/${SONDREL_ARCH} CACHE PATH "dependency prefix")
set(SONDREL_SYSROOT /usr/${SONDREL_ARCH}-w64-mingw32)

function(sondrel_import name)
  cmake_parse_arguments(A "" "" "NAMES;INCLUDE;DEPENDS" ${ARGN})
  find_library(${name}_LIBRARY NAMES ${A_NAMES} PATHS ${SONDREL_DEPS_PREFIX}/lib ${SONDREL_SYSROOT}/lib
               NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  add_library(dep::${name} STATIC IMPORTED GLOBAL)
  set_target_properties(dep::${name} PROPERTIES IMPORTED_LOCATION ${${name}_LIBRARY})
  if(A_INCLUDE)
    set_target_properties(dep::${name} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${A_INCLUDE}")
  endif()
  if(A_DEPENDS)
    set_target_properties(dep::${name} PROPERTIES INTERFACE_LINK_LIBRARIES "${A_DEPENDS}")
  endif()
endfunction()

sondrel_import(ogg NAMES libogg.a ogg INCLUDE ${SONDREL_DEPS_PREFIX}/include)
sondrel_import(vorbis NAMES libvorbis.a vorbis INCLUDE ${SONDREL_DEPS_PREFIX}/include DEPENDS dep::ogg)
sondrel_import(vorbisfile NAMES libvorbisfile.a vorbisfile INCLUDE ${SONDREL_DEPS_PREFIX}/include DEPENDS dep::vorbis)
sondrel_import(vorbisenc NAMES libvorbisenc.a vorbisenc INCLUDE ${SONDREL_DEPS_PREFIX}/include DEPENDS dep::vorbis)
sondrel_import(zlib NAMES libz.a z INCLUDE ${SONDREL_SYSROOT}/include)
sondrel_import(png NAMES libpng16.a libpng.a png16 png INCLUDE ${SONDREL_DEPS_PREFIX}/include DEPENDS dep::zlib)
sondrel_import(kissfft NAMES libkissfft-float.a kissfft-float
               INCLUDE "${SONDREL_DEPS_PREFIX}/include/kissfft;${SONDREL_DEPS_PREFIX}/include")
