# The static ICU libraries of libicu-dev, which the lean Xerces-C's transcoder
# and the reader's Shift_JIS decoder are linked with: the imported target
# morv_conv::icu_static. Used by the build and by the installed package alike.
# Sets morv_conv_STATIC_ICU_FOUND.
if(NOT TARGET morv_conv::icu_static)
  find_library(MORV_ICU_UC_STATIC NAMES libicuuc.a)
  find_library(MORV_ICU_DATA_STATIC NAMES libicudata.a)
  if(MORV_ICU_UC_STATIC AND MORV_ICU_DATA_STATIC)
    add_library(morv_conv::icu_static INTERFACE IMPORTED)
    set_target_properties(morv_conv::icu_static PROPERTIES
      INTERFACE_LINK_LIBRARIES "${MORV_ICU_UC_STATIC};${MORV_ICU_DATA_STATIC};${CMAKE_DL_LIBS}")
  endif()
endif()
if(TARGET morv_conv::icu_static)
  set(morv_conv_STATIC_ICU_FOUND TRUE)
else()
  set(morv_conv_STATIC_ICU_FOUND FALSE)
endif()
