# Every build links ICU statically, so the extension module needs nothing of ICU at run time and
# the tests run against the same ICU data the module carries: only the items listed in
# data_items.txt, not ICU's 31 MB of locale data. Included from the top-level CMakeLists.txt after
# find_package(ICU), whose imported targets keep their names and point at the archives instead.

function(quarn_static_archive var name)
  find_library(${var} NAMES lib${name}.a HINTS ${ARGN} NO_CACHE REQUIRED)
  set(${var} ${${var}} PARENT_SCOPE)
endfunction()
get_filename_component(QUARN_ICU_LIBDIR ${ICU_UC_LIBRARY_RELEASE} DIRECTORY)
quarn_static_archive(QUARN_ICUUC_ARCHIVE icuuc ${QUARN_ICU_LIBDIR})
quarn_static_archive(QUARN_ICUI18N_ARCHIVE icui18n ${QUARN_ICU_LIBDIR})
quarn_static_archive(QUARN_ICUDATA_ARCHIVE icudata ${QUARN_ICU_LIBDIR})
string(REGEX MATCH "^[0-9]+" QUARN_ICU_MAJOR ${ICU_VERSION})
set(QUARN_ICU_DIR ${CMAKE_CURRENT_LIST_DIR})
set(QUARN_ICU_OUT ${CMAKE_BINARY_DIR}/icu)

# The common library with its two direct reads of glibc's time zone variables sent to
# host_zone.cpp (see there).
set(QUARN_ICUUC_COPY ${QUARN_ICU_OUT}/libicuuc.a)
add_custom_command(
  OUTPUT ${QUARN_ICUUC_COPY}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QUARN_ICU_OUT}
  COMMAND ${CMAKE_OBJCOPY} --redefine-sym __timezone=quarn_icu_host_timezone
          --redefine-sym tzname=quarn_icu_host_tzname ${QUARN_ICUUC_ARCHIVE} ${QUARN_ICUUC_COPY}
  DEPENDS ${QUARN_ICUUC_ARCHIVE}
  COMMENT "Copying ICU's common library")
add_custom_target(quarn_icuuc_copy DEPENDS ${QUARN_ICUUC_COPY})

# Debian's icu-devtools cut the data.
find_program(QUARN_ICUPKG icupkg PATHS /usr/sbin REQUIRED)
find_program(QUARN_GENCCODE genccode PATHS /usr/sbin REQUIRED)
set(QUARN_ICU_DATA_OBJECT ${QUARN_ICU_OUT}/icudt${QUARN_ICU_MAJOR}l_dat.o)
add_custom_command(
  OUTPUT ${QUARN_ICU_DATA_OBJECT}
  COMMAND ${CMAKE_COMMAND} -DARCHIVE=${QUARN_ICUDATA_ARCHIVE}
          -DITEMS=${QUARN_ICU_DIR}/data_items.txt -DMAJOR=${QUARN_ICU_MAJOR}
          -DOUTPUT=${QUARN_ICU_DATA_OBJECT} -DAR=${CMAKE_AR} -DOBJCOPY=${CMAKE_OBJCOPY}
          -DICUPKG=${QUARN_ICUPKG} -DGENCCODE=${QUARN_GENCCODE} -DWORK=${QUARN_ICU_OUT}/work
          -P ${QUARN_ICU_DIR}/cut_data.cmake
  DEPENDS ${QUARN_ICUDATA_ARCHIVE} ${QUARN_ICU_DIR}/data_items.txt ${QUARN_ICU_DIR}/cut_data.cmake
  COMMENT "Cutting ICU's data to the items the project reads")
add_library(quarn_icu_support STATIC ${QUARN_ICU_DIR}/host_zone.cpp ${QUARN_ICU_DATA_OBJECT})
add_dependencies(quarn_icu_support quarn_icuuc_copy)

foreach(config IN ITEMS "" _RELEASE _DEBUG)
  set_target_properties(ICU::uc PROPERTIES IMPORTED_LOCATION${config} ${QUARN_ICUUC_COPY})
  set_target_properties(ICU::i18n PROPERTIES IMPORTED_LOCATION${config} ${QUARN_ICUI18N_ARCHIVE})
endforeach()
# Archives in link order: i18n needs uc after it, uc its data and the time zone stand-ins.
set_target_properties(ICU::uc PROPERTIES
  INTERFACE_LINK_LIBRARIES "quarn_icu_support;${CMAKE_DL_LIBS};Threads::Threads")
set_target_properties(ICU::i18n PROPERTIES INTERFACE_LINK_LIBRARIES "ICU::uc")
