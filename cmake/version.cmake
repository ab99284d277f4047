# Writes OUTPUT from INPUT with the version text: VERSION, followed by the git description
# of SOURCE_DIR where it is a git checkout. Run as a script at every build; configure_file
# leaves OUTPUT untouched while the text stays the same, so only a new description
# recompiles that one file and relinks the programs.
set(IMPORTDLG_VERSION_TEXT "${VERSION}")
find_program(GIT_PROGRAM git)
if(GIT_PROGRAM)
  execute_process(COMMAND ${GIT_PROGRAM} -C ${SOURCE_DIR} describe --tags --always --dirty
                  OUTPUT_VARIABLE description OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE failed ERROR_QUIET)
  if(NOT failed AND description)
    set(IMPORTDLG_VERSION_TEXT "${VERSION} (git ${description})")
  endif()
endif()
configure_file(${INPUT} ${OUTPUT} @ONLY)
