# Translation tables: tools/gen_i18n turns the files in i18n/ into
# generated/i18n_data.{h,cpp}. It fails the build when a translation file
# holds a wrong key, an empty text or conversions that differ from English.
add_executable(gen_i18n ${CMAKE_SOURCE_DIR}/tools/gen_i18n.cpp)

file(GLOB QX_I18N_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/i18n/*.tsv)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/generated)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/generated/i18n_data.cpp ${CMAKE_BINARY_DIR}/generated/i18n_data.h
  COMMAND gen_i18n ${CMAKE_SOURCE_DIR}/i18n ${CMAKE_BINARY_DIR}/generated
  DEPENDS gen_i18n ${QX_I18N_FILES}
  COMMENT "Generating the translation tables"
  VERBATIM)

list(APPEND QX_GENERATED_SOURCES
  ${CMAKE_BINARY_DIR}/generated/i18n_data.cpp
  ${CMAKE_BINARY_DIR}/generated/i18n_data.h)

# The About dialog's component table: tools/gen_licenses turns
# licenses/components.tsv into generated/licenses_data.{h,cpp}, with a copy
# of each licence text read from the files Debian installs.
add_executable(gen_licenses ${CMAKE_SOURCE_DIR}/tools/gen_licenses.cpp)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/generated/licenses_data.cpp ${CMAKE_BINARY_DIR}/generated/licenses_data.h
  COMMAND gen_licenses ${CMAKE_SOURCE_DIR}/licenses/components.tsv ${CMAKE_BINARY_DIR}/generated
  DEPENDS gen_licenses ${CMAKE_SOURCE_DIR}/licenses/components.tsv
  COMMENT "Generating the component and licence table"
  VERBATIM)

list(APPEND QX_GENERATED_SOURCES
  ${CMAKE_BINARY_DIR}/generated/licenses_data.cpp
  ${CMAKE_BINARY_DIR}/generated/licenses_data.h)
