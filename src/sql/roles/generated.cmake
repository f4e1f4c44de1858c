# Generated sources of the role-condition language. Included by
# src/CMakeLists.txt after molvane_objects is defined; the outputs go to the
# build tree only and are compiled as C++, so that errors travel as SQL
# exceptions through the generated code.

set(MOLVANE_SQL_ROLES_GEN ${CMAKE_CURRENT_BINARY_DIR}/sql/roles)
file(MAKE_DIRECTORY ${MOLVANE_SQL_ROLES_GEN})

bison_target(molvane_role_cond_parser
  ${CMAKE_CURRENT_SOURCE_DIR}/sql/roles/role_cond_parser.y
  ${MOLVANE_SQL_ROLES_GEN}/role_cond_parser.cc)
flex_target(molvane_role_cond_scanner
  ${CMAKE_CURRENT_SOURCE_DIR}/sql/roles/role_cond_scanner.l
  ${MOLVANE_SQL_ROLES_GEN}/role_cond_scanner.cc)
target_sources(molvane_objects PRIVATE
  ${BISON_molvane_role_cond_parser_OUTPUTS}
  ${FLEX_molvane_role_cond_scanner_OUTPUTS})
# The generated scanner keeps flex's default fatal-error routine, which the
# scanner replaces by its own (YY_FATAL_ERROR).
set_source_files_properties(${FLEX_molvane_role_cond_scanner_OUTPUTS}
  PROPERTIES COMPILE_OPTIONS -Wno-unused-function)
