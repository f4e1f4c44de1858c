# Generated sources of the SQL front end. Included by src/CMakeLists.txt after
# molvane_objects is defined; the outputs go to the build tree only.

set(MOLVANE_SQL_FRONT_GEN ${CMAKE_CURRENT_BINARY_DIR}/sql/front)
file(MAKE_DIRECTORY ${MOLVANE_SQL_FRONT_GEN})

# The SQL scanner (flex). The generated file is compiled as C++ so that the
# scanner can throw the SQL exceptions through its own code.
flex_target(molvane_sql_scanner
  ${CMAKE_CURRENT_SOURCE_DIR}/sql/front/sql_scanner.l
  ${MOLVANE_SQL_FRONT_GEN}/sql_scanner.cc)
target_sources(molvane_objects PRIVATE ${FLEX_molvane_sql_scanner_OUTPUTS})
# The generated file keeps flex's default fatal-error routine, which the
# scanner replaces by its own (YY_FATAL_ERROR), and flex's skeleton for the
# reject buffer is indented in a way clang calls misleading.
set_source_files_properties(${FLEX_molvane_sql_scanner_OUTPUTS}
  PROPERTIES COMPILE_OPTIONS "-Wno-unused-function;-Wno-misleading-indentation")

# The SQL grammar (bison, LALR(1), no conflicts allowed: the grammar says
# %expect 0). Compiled as C++ like the scanner.
bison_target(molvane_sql_grammar
  ${CMAKE_CURRENT_SOURCE_DIR}/sql/front/sql_grammar.y
  ${MOLVANE_SQL_FRONT_GEN}/sql_grammar.cc
  COMPILE_FLAGS "-Wall -Werror")
target_sources(molvane_objects PRIVATE ${BISON_molvane_sql_grammar_OUTPUTS})
# The skeleton keeps a label that the own stack growth leaves unused.
set_source_files_properties(${BISON_molvane_sql_grammar_OUTPUTS}
  PROPERTIES COMPILE_OPTIONS -Wno-unused-label)
